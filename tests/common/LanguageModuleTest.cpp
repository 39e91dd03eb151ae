#include "common/LanguageModule.h"

#include <gtest/gtest.h>


#include "common/ResourceIds.h"
#include "common/ZipReader.h"
#include "tests/common/TestUtil.h"

using orbtest::MakeZip;
using orbtest::TempDir;
using orbtest::WriteFile;

namespace {

const char* kXrc = R"(<resource><object class="wxPanel" name="147"/><object class="wxPanel" name = "238"/>
<object class="wxMenu" name="menu_file"/></resource>)";

std::string Module(const std::string& strings, const std::string& xrc = kXrc) {
  return MakeZip({{orb::kXrcMember, xrc}, {orb::kStringsMember, strings}, {"images/303.png", "PNG"}});
}

TEST(ZipReader, ReadsStoredAndDeflatedMembersOfARealArchive) {
  // The English module is built by the zip tool (deflated members).
  auto zip = orb::ZipReader::Open(orbtest::ProgramFolder() / "Lang9.xrs", nullptr);
  ASSERT_TRUE(zip.has_value());
  auto strings = zip->Read(orb::kStringsMember);
  ASSERT_TRUE(strings.has_value());
  EXPECT_NE(strings->find("33095\tOrbalon"), std::string::npos);

  auto stored = orb::ZipReader::FromBytes(MakeZip({{"a.txt", "alpha"}, {"b/c.txt", ""}}), nullptr);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->Names(), (std::vector<std::string>{"a.txt", "b/c.txt"}));
  EXPECT_EQ(stored->Read("a.txt").value(), "alpha");
  EXPECT_EQ(stored->Read("b/c.txt").value(), "");
  EXPECT_FALSE(stored->Read("missing").has_value());
}

TEST(ZipReader, DamagedArchivesAreRefusedWithoutCrashing) {
  std::string good = MakeZip({{"a.txt", "alpha"}});
  std::string err;
  EXPECT_FALSE(orb::ZipReader::FromBytes("", &err).has_value());
  EXPECT_FALSE(orb::ZipReader::FromBytes("not a zip at all, just text", &err).has_value());
  // Every truncation either fails to open or fails to read; none crashes.
  for (size_t n = 0; n < good.size(); ++n) {
    auto z = orb::ZipReader::FromBytes(good.substr(0, n), nullptr);
    if (z) {
      auto r = z->Read("a.txt");
      EXPECT_TRUE(!r || *r == "alpha");
    }
  }
  // A flipped content byte is caught by the checksum.
  std::string bad = good;
  bad[30 + 5] ^= 0x20;  // first byte of "alpha"
  auto z = orb::ZipReader::FromBytes(bad, nullptr);
  ASSERT_TRUE(z.has_value());
  EXPECT_FALSE(z->Read("a.txt", &err).has_value());
  EXPECT_NE(err.find("checksum"), std::string::npos);
  // A central directory pointing past the archive.
  std::string wild = good;
  wild[wild.size() - 6] = '\x7f';
  EXPECT_FALSE(orb::ZipReader::FromBytes(wild, &err).has_value());
}

TEST(StringTable, ParsesEscapesCommentsAndFirstDefinitionWins) {
  std::map<int, std::string> t;
  std::string err;
  ASSERT_TRUE(orb::ParseStringTable("\xEF\xBB\xBF# comment\n\n1\tone\r\n2\ttwo\\nlines\\tand\\\\\n1\tagain\n3\t\n", &t, &err)) << err;
  EXPECT_EQ(t.at(1), "one");
  EXPECT_EQ(t.at(2), "two\nlines\tand\\");
  EXPECT_EQ(t.at(3), "");
  EXPECT_EQ(t.size(), 3u);
  for (const char* bad : {"12 no tab\n", "x1\ttext\n", "\ttext\n", "99999999999\tbig\n"}) {
    std::map<int, std::string> u;
    EXPECT_FALSE(orb::ParseStringTable(bad, &u, &err)) << bad;
  }
}

TEST(LanguageModule, LooksUpStringsAndObjectIds) {
  TempDir dir;
  WriteFile(dir.path() / "Lang9.xrs", Module("33008\tfallback\n1349\tbutton\\nsecond\n"));
  std::string err;
  auto m = orb::LanguageModule::Load(dir.path() / "Lang9.xrs", &err);
  ASSERT_TRUE(m) << err;
  EXPECT_EQ(m->String(1349), "button\nsecond");
  EXPECT_EQ(m->String(4242), "");
  EXPECT_FALSE(m->HasString(4242));
  EXPECT_EQ(m->XrcIds(), (std::set<int>{147, 238}));
}

TEST(LanguageModule, ModulesWithoutTheirPartsOrWithABadTableAreRefused) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no strings", MakeZip({{orb::kXrcMember, kXrc}})},
      {"no xrc", MakeZip({{orb::kStringsMember, "1\ta\n"}})},
      {"bad table", Module("1 a\n")},
      {"not a zip", "garbage"},
  };
  for (const auto& c : cases) {
    WriteFile(dir.path() / "Lang7.xrs", c.bytes);
    std::string err;
    EXPECT_EQ(orb::LanguageModule::Load(dir.path() / "Lang7.xrs", &err), nullptr) << c.name;
    EXPECT_FALSE(err.empty()) << c.name;
  }
}

TEST(LanguageModule, ChoiceFallsBackToEnglishOnceAndOnlyFromTheProgramFolder) {
  TempDir dir;
  WriteFile(dir.path() / "Lang9.xrs", Module("33095\tEnglish\n"));
  WriteFile(dir.path() / "Lang7.xrs", Module("33095\tSeven\n"));

  auto seven = orb::ChooseLanguageModule(dir.path(), 7);
  ASSERT_TRUE(seven.module);
  EXPECT_FALSE(seven.usedFallback);
  EXPECT_EQ(seven.module->String(33095), "Seven");

  auto missing = orb::ChooseLanguageModule(dir.path(), 12);
  ASSERT_TRUE(missing.module);
  EXPECT_TRUE(missing.usedFallback);
  EXPECT_EQ(missing.requestedName, "Lang12.xrs");
  EXPECT_EQ(missing.module->String(33095), "English");
  EXPECT_EQ(missing.module->File(), dir.path() / "Lang9.xrs");

  // A module in the working folder is never picked up.
  TempDir other;
  auto cwd = std::filesystem::current_path();
  WriteFile(other.path() / "Lang12.xrs", Module("33095\tWorking folder\n"));
  std::filesystem::current_path(other.path());
  auto again = orb::ChooseLanguageModule(dir.path(), 12);
  std::filesystem::current_path(cwd);
  ASSERT_TRUE(again.module);
  EXPECT_TRUE(again.usedFallback);
  EXPECT_EQ(again.module->String(33095), "English");

  std::filesystem::remove(dir.path() / "Lang9.xrs");
  auto none = orb::ChooseLanguageModule(dir.path(), 12);
  EXPECT_EQ(none.module, nullptr);
  EXPECT_FALSE(none.error.empty());
  auto noneEnglish = orb::ChooseLanguageModule(dir.path(), 9);
  EXPECT_EQ(noneEnglish.module, nullptr);
  EXPECT_FALSE(noneEnglish.usedFallback);
}

TEST(LanguageModule, ListsOnlyModuleNamesOfTheProgramFolder) {
  TempDir dir;
  for (const char* n : {"Lang9.xrs", "Lang12.xrs", "Lang7.xrs", "Lang9_ColorClass.xrs", "Langx.xrs",
                        "Lang.xrs", "Lang3.xrs.bak", "lang5.xrs"})
    WriteFile(dir.path() / n, "x");
  std::filesystem::create_directories(dir.path() / "Lang4.xrs");
  EXPECT_EQ(orb::ListLanguageModules(dir.path()), (std::vector<int>{7, 9, 12}));
  EXPECT_TRUE(orb::ListLanguageModules(dir.path() / "missing").empty());
}

// Every resource the program asks for exists in the English module it ships.
TEST(EnglishModule, HoldsEveryResourceTheProgramAsksFor) {
  std::string err;
  auto m = orb::LanguageModule::Load(orbtest::ProgramFolder() / "Lang9.xrs", &err);
  ASSERT_TRUE(m) << err;
  for (const auto& r : orb::res::RequiredResources()) {
    switch (r.kind) {
      case orb::res::Kind::String:
        EXPECT_TRUE(m->HasString(r.id) && !m->String(r.id).empty()) << "string " << r.id;
        break;
      case orb::res::Kind::Object:
        EXPECT_TRUE(m->XrcIds().count(r.id)) << "object " << r.id;
        break;
      case orb::res::Kind::Image:
        EXPECT_TRUE(m->Archive().Contains(std::string(orb::res::kImageFolder) + std::to_string(r.id) + ".png"))
            << "image " << r.id;
        break;
    }
  }
  // Every image the XRC names is in the module.
  const std::string& xrc = m->Xrc();
  int images = 0;
  for (size_t pos = xrc.find("<bitmap>"); pos != std::string::npos; pos = xrc.find("<bitmap>", pos + 1)) {
    size_t start = pos + 8, end = xrc.find("</bitmap>", start);
    ASSERT_NE(end, std::string::npos);
    std::string name = xrc.substr(start, end - start);
    EXPECT_TRUE(m->Archive().Contains(name)) << name;
    ++images;
  }
  EXPECT_GT(images, 0);
}

TEST(LanguageModule, NumericObjectNamesAreAttributesOnly) {
  EXPECT_EQ(orb::NumericObjectNames(R"(<o name="12"/><o  name = '34'/><o name="x5"/><o classname="77"/>)"
                                    R"(<label>name="99"</label><o name="1234567890"/><o name="56"/>)"),
            (std::set<int>{12, 34, 56}));
}

}  // namespace
