#include <gtest/gtest.h>

#include "engine/ReadWrite/BmpOutput.h"
#include "platform/Bytes.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

struct Bmp {
  uint32_t fileSize, dataOffset;
  int32_t width, height;
  uint16_t bits;
  int32_t xppm;
  std::vector<uint8_t> bytes;
  const uint8_t* Row(int i, uint32_t rowBytes) const {
    return bytes.data() + dataOffset + static_cast<size_t>(i) * rowBytes;
  }
};

Bmp Parse(const std::vector<uint8_t>& b) {
  Bmp m{};
  EXPECT_GE(b.size(), 54u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  m.fileSize = orb::GetU32LE(&b[2]);
  m.dataOffset = orb::GetU32LE(&b[10]);
  EXPECT_EQ(orb::GetU32LE(&b[14]), 40u);
  m.width = orb::GetI32LE(&b[18]);
  m.height = orb::GetI32LE(&b[22]);
  EXPECT_EQ(orb::GetU16LE(&b[26]), 1);
  m.bits = orb::GetU16LE(&b[28]);
  EXPECT_EQ(orb::GetU32LE(&b[30]), 0u);
  m.xppm = orb::GetI32LE(&b[38]);
  m.bytes = b;
  EXPECT_EQ(m.fileSize, b.size());
  return m;
}

}  // namespace

TEST(BmpOutput, BilevelWidth10HasPaddedRowsThresholdAt175AndBottomRowFirst) {
  TempDir dir;
  ImageState* img = MakeImage(IK_BW, 10, 3);
  img->sourcePath = dir.File("out.bmp");
  // Line 0: 176 then 175 alternating; line 1 all 0; line 2 all 255.
  std::vector<uint8_t> staged;
  for (int x = 0; x < 10; ++x) staged.push_back(x % 2 == 0 ? 176 : 175);
  staged.insert(staged.end(), 10, 0);
  staged.insert(staged.end(), 10, 255);
  WriteAllBytes(dir.File("stage.raw"), staged);

  ASSERT_EQ(SaveScanAsBmp(*img, dir.File("stage.raw")), kBmpOk);
  Bmp m = Parse(ReadAll(img->sourcePath));
  EXPECT_EQ(m.bits, 1);
  EXPECT_EQ(m.dataOffset, 62u);
  EXPECT_EQ(m.height, 3);
  EXPECT_EQ(m.fileSize, 62u + 3 * 4);
  EXPECT_EQ(m.xppm, static_cast<int32_t>(300 * 39.37));
  // Colour table: black, then white.
  EXPECT_EQ(m.bytes[54], 0);
  EXPECT_EQ(m.bytes[58], 255);
  // File row 0 is scan line 2 (white), row 2 is scan line 0.
  EXPECT_EQ(m.Row(0, 4)[0], 0xFF);
  EXPECT_EQ(m.Row(0, 4)[1], 0xC0);  // pixels 8, 9 white; padding bits clear
  EXPECT_EQ(m.Row(1, 4)[0], 0x00);
  EXPECT_EQ(m.Row(2, 4)[0], 0xAA);  // 176 white, 175 black
  EXPECT_EQ(m.Row(2, 4)[1], 0x80);
  EXPECT_EQ(m.Row(2, 4)[2], 0);  // padding
  EXPECT_EQ(m.Row(2, 4)[3], 0);
  orb::FreeImageChain(img);
}

TEST(BmpOutput, RgbWidth5Has16ByteRowsInBlueGreenRedOrder) {
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 5, 2);
  img->sourcePath = dir.File("rgb.bmp");
  std::vector<uint8_t> staged;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) {
      staged.push_back(static_cast<uint8_t>(10 * x + y));        // R
      staged.push_back(static_cast<uint8_t>(100 + x));           // G
      staged.push_back(static_cast<uint8_t>(200 + x + 10 * y));  // B
    }
  WriteAllBytes(dir.File("stage.raw"), staged);
  ASSERT_EQ(SaveScanAsBmp(*img, dir.File("stage.raw")), kBmpOk);
  Bmp m = Parse(ReadAll(img->sourcePath));
  EXPECT_EQ(m.bits, 24);
  EXPECT_EQ(m.dataOffset, 54u);
  EXPECT_EQ(m.fileSize, 54u + 2 * 16);
  const uint8_t* last = m.Row(0, 16);  // scan line 1
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(last[3 * x], 200 + x + 10);
    EXPECT_EQ(last[3 * x + 1], 100 + x);
    EXPECT_EQ(last[3 * x + 2], 10 * x + 1);
  }
  EXPECT_EQ(last[15], 0);
  orb::FreeImageChain(img);
}

TEST(BmpOutput, GreyGetsGreyTableAndRgbNeverTakesMoreLinesThanItsHeight) {
  TempDir dir;
  ImageState* grey = MakeImage(IK_GREY, 3, 2);
  grey->sourcePath = dir.File("g.bmp");
  WriteAllBytes(dir.File("g.raw"), {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(SaveScanAsBmp(*grey, dir.File("g.raw")), kBmpOk);
  Bmp m = Parse(ReadAll(grey->sourcePath));
  EXPECT_EQ(m.bits, 8);
  EXPECT_EQ(m.dataOffset, 1078u);
  EXPECT_EQ(m.bytes[54 + 4 * 77], 77);
  EXPECT_EQ(m.bytes[54 + 4 * 77 + 3], 0);
  EXPECT_EQ(std::vector<uint8_t>(m.Row(0, 4), m.Row(0, 4) + 4), (std::vector<uint8_t>{4, 5, 6, 0}));

  ImageState* rgb = MakeImage(IK_RGB, 1, 2);
  rgb->sourcePath = dir.File("r.bmp");
  WriteAllBytes(dir.File("r.raw"), std::vector<uint8_t>(3 * 5, 9));  // 5 lines staged
  ASSERT_EQ(SaveScanAsBmp(*rgb, dir.File("r.raw")), kBmpOk);
  EXPECT_EQ(Parse(ReadAll(rgb->sourcePath)).height, 2);
  orb::FreeImageChain(grey);
  orb::FreeImageChain(rgb);
}

TEST(BmpOutput, PaletteImagesKeepTheirOwnPalette) {
  TempDir dir;
  for (uint16_t kind : {uint16_t{IK_PALETTE256}, uint16_t{IK_PALETTE16}}) {
    SCOPED_TRACE(kind);
    ImageState* img = MakeImage(kind, 3, 1);
    img->sourcePath = dir.File("p.bmp");
    const int entries = kind == IK_PALETTE256 ? 256 : 16;
    // Pixels are palette colours 5, 11 and (a near miss of) 14.
    std::vector<uint8_t> staged;
    for (int idx : {5, 11, 14}) {
      staged.push_back(static_cast<uint8_t>(img->palette[idx].red));
      staged.push_back(static_cast<uint8_t>(img->palette[idx].green));
      staged.push_back(static_cast<uint8_t>(img->palette[idx].blue));
    }
    staged[8] = static_cast<uint8_t>(staged[8] ^ 1);
    WriteAllBytes(dir.File("p.raw"), staged);
    ASSERT_EQ(SaveScanAsBmp(*img, dir.File("p.raw")), kBmpOk);
    Bmp m = Parse(ReadAll(img->sourcePath));
    EXPECT_EQ(m.bits, kind == IK_PALETTE256 ? 8 : 4);
    EXPECT_EQ(m.dataOffset, 54u + 4u * static_cast<uint32_t>(entries));
    for (int i = 0; i < entries; ++i) {
      const uint8_t* e = &m.bytes[54 + 4 * i];
      EXPECT_EQ(e[0], img->palette[i].blue & 0xFF);
      EXPECT_EQ(e[1], img->palette[i].green & 0xFF);
      EXPECT_EQ(e[2], img->palette[i].red & 0xFF);
    }
    const uint8_t* row = m.Row(0, 4);
    if (kind == IK_PALETTE256) {
      EXPECT_EQ(row[0], 5);
      EXPECT_EQ(row[1], 11);
      EXPECT_EQ(row[2], 14);
    } else {
      EXPECT_EQ(row[0], 0x5B);
      EXPECT_EQ(row[1], 0xE0);
    }
    orb::FreeImageChain(img);
  }
}

TEST(BmpOutput, FailuresLeaveTheTargetAloneAndNoTemporaryFiles) {
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4, 1);
  img->sourcePath = dir.File("keep.bmp");
  WriteAllBytes(img->sourcePath, {'o', 'l', 'd'});

  std::string error;
  EXPECT_EQ(SaveScanAsBmp(*img, dir.File("missing.raw"), &error), kBmpNoStagingFile);
  EXPECT_FALSE(error.empty());

  img->kind = IK_CMYK32;
  WriteAllBytes(dir.File("s.raw"), std::vector<uint8_t>(16, 1));
  EXPECT_EQ(SaveScanAsBmp(*img, dir.File("s.raw")), kBmpUnsupported);

  img->kind = IK_GREY;
  img->sourcePath = dir.File("no/such/folder/x.bmp");
  EXPECT_EQ(SaveScanAsBmp(*img, dir.File("s.raw")), kBmpWriteFailed);

  EXPECT_EQ(ReadAll(dir.File("keep.bmp")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.CountFiles(), 2u);  // keep.bmp and s.raw
  orb::FreeImageChain(img);
}

TEST(BmpOutput, StagingFilesAreUniqueAndEmpty) {
  TempDir dir;
  std::string a = orb::CreateScanStagingFile(dir.path());
  std::string b = orb::CreateScanStagingFile(dir.path());
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(ReadAll(a).empty());
  EXPECT_TRUE(orb::CreateScanStagingFile(dir.File("absent")).empty());
}
