// The format of a file comes from its first bytes, never from its name; what is no image,
// missing or not a regular file is none, found without waiting.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Document.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/TestUtil.h"

namespace {

doctest::Pattern Small(int bits, bool palette = false) {
  return doctest::Pattern{17, 9, bits, palette,
                          [](int32_t x, int32_t y, int) { return static_cast<uint8_t>((x * 15 + y * 7) & 255); }};
}

TEST(FormatByContent, EachFormatWhateverItsName) {
  orbtest::TempDir dir;
  struct Case {
    const char* name;
    uint32_t format;
    int bits;
    bool palette;
  } cases[] = {
      {"c.bmp", OF_BMP, 24, false},      {"p.bmp", OF_BMP, 8, true},        {"b.bmp", OF_BMP, 1, false},
      {"png.tif", OF_PNG, 24, false},    {"jpeg.dat", OF_JPEG, 8, false},   {"tiff.png", OF_TIFF, 1, false},
      {"j2k.jpg", OF_JPEG2000, 24, false}, {"bmp.pdf", OF_BMP, 24, false}, {"pdf", OF_PDF_JPEG, 24, false},
      {"g4.tif.bak", OF_TIFF_G4, 1, false},
  };
  for (const Case& c : cases) {
    const std::string path = (dir.path() / c.name).string();
    ASSERT_TRUE(doctest::WritePattern(path, c.format, Small(c.bits, c.palette))) << c.name;
    // The container is the low half of the format code.
    EXPECT_EQ(orb::ImageFormatByContent(path), c.format & 0xFFFF) << c.name;
  }
}

TEST(FormatByContent, NothingForWhatIsNoImage) {
  orbtest::TempDir dir;
  const std::string text = (dir.path() / "words.bmp").string();
  orbtest::WriteFile(text, "these are words, not pixels");
  const std::string tiny = (dir.path() / "tiny.tif").string();
  orbtest::WriteFile(tiny, "II");
  const std::string empty = (dir.path() / "empty.png").string();
  orbtest::WriteFile(empty, "");
  EXPECT_EQ(orb::ImageFormatByContent(text), 0u);
  EXPECT_EQ(orb::ImageFormatByContent(tiny), 0u);
  EXPECT_EQ(orb::ImageFormatByContent(empty), 0u);
  EXPECT_EQ(orb::ImageFormatByContent((dir.path() / "missing.tif").string()), 0u);
  EXPECT_EQ(orb::ImageFormatByContent(dir.path().string()), 0u);  // a folder
  // A pipe nobody writes to: refused at once, never waited on.
  const std::string fifo = (dir.path() / "pipe.tif").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(orb::ImageFormatByContent(fifo), 0u);
}

}  // namespace
