#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::TempFolder;

const char* kBatch =
    "; written by hand\r\n"
    "[General]\r\n"
    "HoldForQC=0\r\n"
    "  CreateLog = 1  \r\n"
    "SaveAsLocation=\"/home/u/out dir/\"\r\n"
    "AutoRun=2026/3/7,14:5:0\r\n"
    "Quoted='x'\r\n"
    "Half=\"x\r\n"
    "Negative=-12abc\r\n"
    "Plus=+7\r\n"
    "Word=yes\r\n"
    "Empty=\r\n"
    "Huge=99999999999\r\n"
    "NoEquals\r\n"
    "HoldForQC=1\r\n"
    "\r\n"
    "[Files]\r\n"
    "File0=/a/one.tif\r\n"
    "File2=/a/three.tif\r\n"
    "\r\n"
    "[general]\r\n"
    "Second=1\r\n"
    "[Invert]\r\n"
    "Invert=False\r\n"
    "[Mirror]\r\n";

class IniFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(orb::WriteFileAtomically(path_, std::string_view(kBatch))); }
  std::string Text() { return orb::ReadTextFile(path_).value(); }
  TempFolder dir_;
  std::string path_ = dir_ / "job.bch";
};

TEST_F(IniFiles, StringReads) {
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"General", "HoldForQC", "0"},            // first match wins
      {"GENERAL", "holdforqc", "0"},            // names without regard to case
      {"General", "CreateLog", "1"},            // blanks around name and value go
      {"General", "SaveAsLocation", "/home/u/out dir/"},  // quotes go
      {"General", "Quoted", "x"},
      {"General", "Half", "\"x"},               // an unmatched quote stays
      {"General", "Empty", ""},
      {"General", "NoEquals", ""},
      {"General", "Second", "NotFound"},        // only the first [General] counts
      {"General", "Missing", "NotFound"},
      {"Nowhere", "HoldForQC", "NotFound"},
      {"Files", "File1", "NotFound"},
      {"Files", "File2", "/a/three.tif"},
      {"Invert", "Invert", "False"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(orb::GetPrivateProfileString(c.section, c.key, "NotFound", path_), c.expected)
        << c.section << "/" << c.key;
  EXPECT_EQ(orb::GetPrivateProfileString("General", "SaveAsLocation", "", path_, 6), "/home");
  EXPECT_EQ(orb::GetPrivateProfileString("General", "x", "  dflt ", path_), "dflt");
  EXPECT_EQ(orb::GetPrivateProfileString("General", "x", "d", dir_ / "none.bch"), "d");
}

TEST_F(IniFiles, IntegerReads) {
  struct Case {
    const char* key;
    int def;
    int expected;
  } cases[] = {
      {"HoldForQC", 5, 0}, {"CreateLog", 5, 1},   {"AutoRun", 0, 2026},
      {"Negative", 5, -12}, {"Plus", 5, 7},       {"Word", 5, 5},
      {"Empty", 5, 5},     {"Missing", 5, 5},     {"Huge", 0, 2147483647},
      {"NoEquals", -1, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(orb::GetPrivateProfileInt("General", c.key, c.def, path_), c.expected) << c.key;
  EXPECT_EQ(orb::LeadingInteger(" -2147483649"), -2147483647 - 1);
  EXPECT_FALSE(orb::LeadingInteger("-").has_value());
  EXPECT_FALSE(orb::LeadingInteger("x1").has_value());
}

TEST_F(IniFiles, Enumeration) {
  EXPECT_EQ(orb::GetPrivateProfileSectionNames(path_),
            (std::vector<std::string>{"General", "Files", "general", "Invert", "Mirror"}));
  EXPECT_EQ(orb::GetPrivateProfileKeyNames("files", path_),
            (std::vector<std::string>{"File0", "File2"}));
  EXPECT_EQ(orb::GetPrivateProfileSection("Files", path_),
            (std::vector<std::string>{"File0=/a/one.tif", "File2=/a/three.tif"}));
  EXPECT_EQ(orb::GetPrivateProfileSection("Invert", path_),
            (std::vector<std::string>{"Invert=False"}));
  EXPECT_TRUE(orb::GetPrivateProfileSection("Mirror", path_).empty()) << "an empty section";
  EXPECT_TRUE(orb::GetPrivateProfileSection("Gamma", path_).empty());
}

TEST_F(IniFiles, WritesChangeOnlyTheirLines) {
  std::string before = Text();
  ASSERT_TRUE(orb::WritePrivateProfileString("general", "createlog", "0", path_));
  std::string expected = before;
  expected.replace(expected.find("  CreateLog = 1  "), 17, "CreateLog=0");
  EXPECT_EQ(Text(), expected) << "the key keeps its spelling; everything else stays";

  ASSERT_TRUE(orb::WritePrivateProfileString("Files", "File1", "/a/two.tif", path_));
  EXPECT_NE(Text().find("File2=/a/three.tif\r\nFile1=/a/two.tif\r\n\r\n[general]"),
            std::string::npos)
      << Text();

  ASSERT_TRUE(orb::WritePrivateProfileString("Rotate90", "Direction", "1", path_));
  const std::string tail = "[Mirror]\r\n\r\n[Rotate90]\r\nDirection=1\r\n";
  EXPECT_EQ(Text().substr(Text().size() - tail.size()), tail);
  EXPECT_EQ(orb::GetPrivateProfileInt("Rotate90", "Direction", 0, path_), 1);
  EXPECT_EQ(Text().rfind("; written by hand\r\n", 0), 0u);
}

TEST_F(IniFiles, NullValueDeletesKeyAndNullKeyDeletesSection) {
  ASSERT_TRUE(orb::WritePrivateProfileString("General", "HoldForQC", nullptr, path_));
  EXPECT_EQ(orb::GetPrivateProfileInt("General", "HoldForQC", 9, path_), 1)
      << "the first HoldForQC went; the second is found now";
  ASSERT_TRUE(orb::WritePrivateProfileString("Files", nullptr, nullptr, path_));
  EXPECT_EQ(orb::GetPrivateProfileString("Files", "File0", "NotFound", path_), "NotFound");
  EXPECT_EQ(orb::GetPrivateProfileSectionNames(path_),
            (std::vector<std::string>{"General", "general", "Invert", "Mirror"}));
  EXPECT_NE(Text().find("[Invert]"), std::string::npos);

  std::string before = Text();
  EXPECT_TRUE(orb::WritePrivateProfileString("Nowhere", nullptr, nullptr, path_));
  EXPECT_TRUE(orb::WritePrivateProfileString("General", "Nothing", nullptr, path_));
  EXPECT_EQ(Text(), before);
}

TEST_F(IniFiles, NewFileIsCreatedAndLineBreaksAreRefused) {
  std::string fresh = dir_ / "new.bch";
  EXPECT_TRUE(orb::WritePrivateProfileString("Files", nullptr, nullptr, fresh));
  EXPECT_FALSE(orb::FileExists(fresh)) << "deleting from nothing creates nothing";
  ASSERT_TRUE(orb::WritePrivateProfileString("General", "HoldForQC", "1", fresh));
  ASSERT_TRUE(orb::WritePrivateProfileString("General", "CreateLog", "0", fresh));
  EXPECT_EQ(orb::ReadTextFile(fresh).value(), "[General]\nHoldForQC=1\nCreateLog=0\n");
  EXPECT_FALSE(orb::WritePrivateProfileString("General", "Evil", "a\n[Files]\nFile0=/etc", fresh));
  EXPECT_FALSE(orb::WritePrivateProfileString("General", "a=b", "1", fresh));
  EXPECT_FALSE(orb::WritePrivateProfileString("Ge]neral", "a", "1", fresh));
  EXPECT_EQ(orb::ReadTextFile(fresh).value(), "[General]\nHoldForQC=1\nCreateLog=0\n");
  EXPECT_FALSE(orb::WritePrivateProfileString("General", "a", "1", dir_ / "no/such/x.bch"));
}

TEST(IniParse, BomSectionsWithoutCloseAndEntriesBeforeAnySection) {
  auto ini = orb::IniFile::Parse("\xEF\xBB\xBFtop=1\n[ A \n k = v \n;k=comment\n");
  EXPECT_EQ(ini.Get("A", "k").value(), "v");
  EXPECT_EQ(ini.KeyNames("a"), (std::vector<std::string>{"k"}));
  EXPECT_FALSE(ini.Get("A", "top").has_value());
  EXPECT_EQ(ini.Text(), "\xEF\xBB\xBFtop=1\n[ A \n k = v \n;k=comment\n");
}

}  // namespace
