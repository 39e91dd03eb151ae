// The rules of the general settings and connection pages, without a display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/ConnectionModel.h"
#include "app/GeneralSettingsModel.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::general;
using namespace orb::connection;

// ------------------------------------------------------------------ general settings

TEST(GeneralSettingsRules, RadioButtonsOfStoredValuesAndBack) {
  struct Case {
    int32_t value;
    int tooltipRadio;
    int unitRadio;
  } cases[] = {
      {0, 1113, 1140}, {1, 1114, 1141}, {2, 1115, 0}, {-1, 0, 0}, {3, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TooltipRadioFor(c.value), c.tooltipRadio) << c.value;
    EXPECT_EQ(UnitRadioFor(c.value), c.unitRadio) << c.value;
  }
  EXPECT_EQ(TooltipModeFor(false, false, true), 2);
  EXPECT_EQ(TooltipModeFor(false, true, false), 1);
  EXPECT_EQ(TooltipModeFor(true, false, false), 0);
  EXPECT_EQ(TooltipModeFor(false, false, false), std::nullopt);
  EXPECT_EQ(UnitFor(false, true), 1);
  EXPECT_EQ(UnitFor(true, false), 0);
  EXPECT_EQ(UnitFor(false, false), std::nullopt);
}

TEST(GeneralSettingsRules, WhatATypedWorkingFolderCallsFor) {
  orbtest::TempDir dir;
  const fs::path file = dir.path() / "plain.txt";
  orbtest::WriteFile(file, "x");
  fs::create_directories(dir.path() / "sub");
  struct Case {
    std::string path;
    FolderCheck want;
  } cases[] = {
      {(dir.path() / "sub").string(), FolderCheck::Accept},
      {(dir.path() / "missing").string(), FolderCheck::AskCreate},
      {file.string(), FolderCheck::NotPlain},
      {(file / "below").string(), FolderCheck::NotPlain},  // a path through a file
      {"", FolderCheck::Empty},
      {"/" + std::string(259, 'd'), FolderCheck::TooLong},  // 260 bytes leave no room for the terminator
  };
  for (const Case& c : cases) EXPECT_EQ(CheckWorkFolder(c.path), c.want) << c.path;
  // One level is created; two missing levels are not.
  EXPECT_TRUE(CreateWorkFolder((dir.path() / "missing").string()));
  EXPECT_EQ(CheckWorkFolder((dir.path() / "missing").string()), FolderCheck::Accept);
  EXPECT_FALSE(CreateWorkFolder((dir.path() / "a" / "b").string()));
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
}

TEST(GeneralSettingsRules, LanguageModulesOfferedAreThoseThatNameTheirLanguage) {
  orbtest::TempDir dir;
  for (const char* name : {"Lang9.xrs", "Lang17.xrs", "Lang9_ColorClass.xrs", "Lang7_Named.xrs", "LangXX.xrs",
                           "Lang0.xrs", "Lang99999.xrs", "Lang3.txt", "Other12.xrs"})
    orbtest::WriteFile(dir.path() / name, "module");
  fs::create_directories(dir.path() / "Lang5.xrs");  // a folder, not a module
  // Which modules hold string 33076, and its text.
  auto reader = [](const fs::path& f) -> std::optional<std::string> {
    const std::string n = f.filename().string();
    if (n == "Lang9.xrs") return "English";
    if (n == "Lang17.xrs") return "Nihongo";
    if (n == "Lang7_Named.xrs") return "Deutsch";
    if (n == "Lang9_ColorClass.xrs") return std::nullopt;  // the control's module has no name string
    return "named";
  };
  const auto list = ListLanguages(dir.path(), reader);
  ASSERT_EQ(list.size(), 3u);
  // In the order of the file names.
  EXPECT_EQ(list[0].name, "Nihongo");
  EXPECT_EQ(list[0].id, 17);
  EXPECT_EQ(list[1].name, "Deutsch");  // the number before the rest of the name
  EXPECT_EQ(list[1].id, 7);
  EXPECT_EQ(list[2].name, "English");
  EXPECT_EQ(list[2].id, 9);
  EXPECT_EQ(LanguageIndex(list, 9), 2);
  EXPECT_EQ(LanguageIndex(list, 12), -1);
  EXPECT_TRUE(ListLanguages(dir.path() / "missing", reader).empty());
}

TEST(GeneralSettingsRules, TheEnglishModuleOfTheBuildNamesItsLanguage) {
  const auto list = ListLanguages(orbtest::ProgramFolder());
  const int i = LanguageIndex(list, 9);
  ASSERT_GE(i, 0);
  EXPECT_EQ(list[static_cast<size_t>(i)].name, "English");
  for (const auto& e : list) EXPECT_NE(e.file.filename().string(), "Lang9_ColorClass.xrs");
}

TEST(GeneralSettingsRules, DisplayOptionIsFrozenWhileScanningOrBusy) {
  using orb::Bits;
  using orb::StatusBit;
  struct Case {
    uint32_t status;
    bool may;
  } cases[] = {
      {0, true},
      {Bits(orb::ScanState::Scanning), false},
      {Bits(orb::ScanState::DecisionPending), true},
      {Bits(StatusBit::Opening), false},
      {Bits(StatusBit::ViewRefresh), false},
      {Bits(StatusBit::FittedDisplay), true},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayOptionMayChange(c.status), c.may) << std::hex << c.status;
}

// ------------------------------------------------------------------ connection

TEST(ConnectionRules, AddressesAndPorts) {
  struct AddressCase {
    const char* text;
    bool valid;
  } addresses[] = {
      {"192.168.0.10", true}, {"0.0.0.0", true},    {"255.255.255.255", true}, {"010.001.002.003", true},
      {"256.1.1.1", false},   {"1.2.3", false},     {"1.2.3.4.5", false},      {"1.2.3.", false},
      {".1.2.3", false},      {"1..2.3", false},    {"a.b.c.d", false},        {" 1.2.3.4", false},
      {"1.2.3.4 ", false},    {"1.2.3.0004", false}, {"", false},              {"-1.2.3.4", false},
  };
  for (const auto& c : addresses) EXPECT_EQ(ParseAddress(c.text).has_value(), c.valid) << c.text;
  EXPECT_EQ(FormatAddress(*ParseAddress("010.001.002.003")), "10.1.2.3");

  struct PortCase {
    const char* text;
    int32_t want;  // 0: refused
  } ports[] = {{"1", 1}, {"702", 702}, {"65535", 65535}, {"0", 0},  {"65536", 0},
               {"", 0},  {"abc", 0},   {"12a", 0},       {"-5", 0}, {"999999", 0}};
  for (const auto& c : ports) EXPECT_EQ(ParsePort(c.text).value_or(0), c.want) << c.text;
}

TEST(ConnectionRules, StoredValuesAsTheyAreShown) {
  orb::ScanSettingsRecord s;
  std::strcpy(s.ScannerAddress, "10.0.0.7");
  s.NetworkOption = 3;  // any non-zero value is the network
  Entered e = FromSettings(s);
  EXPECT_TRUE(e.network);
  EXPECT_EQ(e.address, "10.0.0.7");
  EXPECT_EQ(e.port1, "702");
  EXPECT_EQ(e.port2, "704");
  std::strcpy(s.ScannerAddress, "scanner.local");  // not an address: all octets 255
  EXPECT_EQ(FromSettings(s).address, "255.255.255.255");
}

TEST(ConnectionRules, ANetworkConnectionNeedsAValidAddressAndPorts) {
  struct Case {
    Entered e;
    int wrong;
  } cases[] = {
      {{true, "10.0.0.1", "702", "704"}, 0},
      {{true, "10.0.0.256", "702", "704"}, kAddress},
      {{true, "10.0.0.1", "0", "704"}, kPort1},
      {{true, "10.0.0.1", "702", "letters"}, kPort2},
      {{false, "junk", "x", "y"}, 0},  // local: the disabled fields are not held against it
  };
  for (const Case& c : cases) EXPECT_EQ(Check(c.e).control, c.wrong) << c.e.address << " " << c.e.port1;
}

TEST(ConnectionRules, StoringWritesSixteenBytesOfTextAndKeepsWhatIsNotValid) {
  orb::ScanSettingsRecord s;
  std::memset(s.ScannerAddress, 'Z', sizeof s.ScannerAddress);
  Store({true, "255.255.255.255", "8000", "8001"}, s);
  const char want[16] = {'2', '5', '5', '.', '2', '5', '5', '.', '2', '5', '5', '.', '2', '5', '5', 0};
  EXPECT_EQ(0, std::memcmp(s.ScannerAddress, want, 16));
  EXPECT_EQ(s.NetworkOption, 1);
  EXPECT_EQ(s.NetworkPort1, 8000);
  EXPECT_EQ(s.NetworkPort2, 8001);
  // Local with the disabled fields holding junk: only the option changes.
  Store({false, "junk", "", "70000"}, s);
  EXPECT_EQ(s.NetworkOption, 0);
  EXPECT_EQ(std::string(s.ScannerAddress), "255.255.255.255");
  EXPECT_EQ(s.NetworkPort1, 8000);
  EXPECT_EQ(s.NetworkPort2, 8001);
  // The record's bytes at their offsets: option 1100, text 1101..1116, ports 1120 and 1124.
  Store({true, "1.2.3.4", "513", "65535"}, s);
  uint8_t b[orb::ScanSettingsRecord::kSize];
  s.Encode(b);
  EXPECT_EQ(b[1100], 1);
  EXPECT_EQ(0, std::memcmp(b + 1101, "1.2.3.4\0\0\0\0\0\0\0\0\0", 16));
  const uint8_t p1[4] = {0x01, 0x02, 0, 0}, p2[4] = {0xFF, 0xFF, 0, 0};
  EXPECT_EQ(0, std::memcmp(b + 1120, p1, 4));
  EXPECT_EQ(0, std::memcmp(b + 1124, p2, 4));
}

}  // namespace
