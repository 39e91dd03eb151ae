// The program's own TIFF reader, the raw image file header and the image-file probe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "platform/Bytes.h"
#include "platform/imagemill/imagemill.h"

namespace {

// ------------------------------------------------------------------ crafted TIFF files

struct Tag {
  uint16_t tag;
  uint16_t type;
  std::vector<uint32_t> values;  // RATIONAL: numerator, denominator pairs
  uint32_t count = 0;            // 0: from values
};

class TiffBuilder {
 public:
  explicit TiffBuilder(bool big = false) : big_(big) {}
  TiffBuilder& Pixels(std::vector<uint8_t> p) {
    pixels_ = std::move(p);
    return *this;
  }
  TiffBuilder& Set(uint16_t tag, uint16_t type, std::vector<uint32_t> values, uint32_t count = 0) {
    Remove(tag);
    tags_.push_back({tag, type, std::move(values), count});
    return *this;
  }
  // An entry whose value field is given as it is (an offset, for example).
  TiffBuilder& SetRaw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    Remove(tag);
    raw_.push_back({tag, type, {field}, count});
    return *this;
  }
  TiffBuilder& Remove(uint16_t tag) {
    std::erase_if(raw_, [tag](const Tag& t) { return t.tag == tag; });
    std::erase_if(tags_, [tag](const Tag& t) { return t.tag == tag; });
    return *this;
  }
  TiffBuilder& DirOffset(uint32_t v) {
    dirOverride_ = v;
    return *this;
  }
  TiffBuilder& EntryCount(uint16_t v) {
    countOverride_ = v;
    return *this;
  }

  // Header, pixels at byte 8, directory, then the values that do not fit.
  std::vector<uint8_t> Build() const {
    std::vector<Tag> tags = tags_;
    tags.insert(tags.end(), raw_.begin(), raw_.end());
    std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
    std::vector<uint8_t> f(8, 0);
    f[0] = f[1] = big_ ? 'M' : 'I';
    Put16(f, 2, 42);
    Append(f, pixels_);
    if (f.size() & 1) f.push_back(0);
    const uint32_t dir = static_cast<uint32_t>(f.size());
    Put32(f, 4, dirOverride_ ? dirOverride_ : dir);
    f.resize(dir + 2 + 12 * tags.size() + 4, 0);
    Put16(f, dir, countOverride_ ? countOverride_ : static_cast<uint16_t>(tags.size()));
    for (size_t i = 0; i < tags.size(); ++i) {
      const Tag& t = tags[i];
      const size_t at = dir + 2 + 12 * i;
      const uint32_t elem = t.type == 3 ? 2 : t.type == 5 ? 8 : 4;
      const uint32_t count = t.count ? t.count : (t.type == 5 ? static_cast<uint32_t>(t.values.size() / 2)
                                                              : static_cast<uint32_t>(t.values.size()));
      Put16(f, at, t.tag);
      Put16(f, at + 2, t.type);
      Put32(f, at + 4, count);
      if (IsRaw(t.tag)) {
        Put32(f, at + 8, t.values[0]);
        continue;
      }
      std::vector<uint8_t> data;
      for (uint32_t v : t.values) {
        const size_t p = data.size();
        data.resize(p + (t.type == 3 ? 2 : 4));
        if (t.type == 3) Put16(data, p, static_cast<uint16_t>(v));
        else Put32(data, p, v);
      }
      if (static_cast<uint64_t>(elem) * count <= 4 && data.size() <= 4) {
        data.resize(4, 0);
        std::memcpy(&f[at + 8], data.data(), 4);
      } else {
        if (f.size() & 1) f.push_back(0);
        Put32(f, at + 8, static_cast<uint32_t>(f.size()));
        Append(f, data);
      }
    }
    return f;
  }

 private:
  void Put16(std::vector<uint8_t>& f, size_t at, uint16_t v) const {
    big_ ? orb::PutU16BE(&f[at], v) : orb::PutU16LE(&f[at], v);
  }
  void Put32(std::vector<uint8_t>& f, size_t at, uint32_t v) const {
    big_ ? orb::PutU32BE(&f[at], v) : orb::PutU32LE(&f[at], v);
  }
  static void Append(std::vector<uint8_t>& f, const std::vector<uint8_t>& more) {
    const size_t at = f.size();
    f.resize(at + more.size());
    if (!more.empty()) std::memcpy(f.data() + at, more.data(), more.size());
  }
  bool IsRaw(uint16_t tag) const {
    return std::any_of(raw_.begin(), raw_.end(), [tag](const Tag& t) { return t.tag == tag; });
  }
  bool big_;
  std::vector<uint8_t> pixels_;
  std::vector<Tag> tags_;
  std::vector<Tag> raw_;
  uint32_t dirOverride_ = 0;
  uint16_t countOverride_ = 0;
};

// A valid uncompressed 8-bit grey file of 10 x 4 pixels at 300 dpi, one strip.
TiffBuilder Grey(bool big = false) {
  std::vector<uint8_t> px(40);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 5);
  TiffBuilder b(big);
  b.Pixels(px)
      .Set(256, 3, {10})
      .Set(257, 3, {4})
      .Set(258, 3, {8})
      .Set(259, 3, {1})
      .Set(262, 3, {1})
      .Set(273, 4, {8})
      .Set(277, 3, {1})
      .Set(278, 4, {4})
      .Set(279, 4, {40})
      .Set(282, 5, {300, 1})
      .Set(283, 5, {300, 1})
      .Set(296, 3, {2});
  return b;
}

class TiffHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "/thXXXXXX";
    ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    orb::SetEngineHost({});
  }
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "t.tif") {
    const std::string p = dir_ + "/" + name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  // Reads `bytes` with the own reader into `image`.
  int Read(const std::vector<uint8_t>& bytes, ImageState* image, LineReader* reader = nullptr) {
    const std::string p = Write(bytes);
    const int fd = ::open(p.c_str(), O_RDONLY);
    fds_.push_back(fd);
    image->fileHandle = fd;
    LineReader local(image);
    LineReader* r = reader ? reader : &local;
    return ReadTiffHeader(r);
  }
  std::string dir_;
  std::vector<int> fds_;
};

// ------------------------------------------------------------------ IsTiffFile

TEST_F(TiffHeaderTest, RecognisesBothByteOrdersOnly) {
  const struct {
    std::vector<uint8_t> bytes;
    bool tiff;
  } cases[] = {
      {{'I', 'I', 42, 0, 8, 0, 0, 0}, true},
      {{'M', 'M', 0, 42, 0, 0, 0, 8}, true},
      {{'I', 'I', 43, 0, 8, 0, 0, 0}, false},  // BigTIFF: the library's
      {{'M', 'M', 42, 0, 0, 0, 0, 8}, false},
      {{'B', 'M', 0, 0}, false},
      {{'I', 'I'}, false},
  };
  for (const auto& c : cases) {
    ImageState s;
    const std::string p = Write(c.bytes);
    s.fileHandle = ::open(p.c_str(), O_RDONLY);
    fds_.push_back(s.fileHandle);
    LineReader r(&s);
    EXPECT_EQ(IsTiffFile(&r), c.tiff);
  }
}

// ------------------------------------------------------------------ accepted files

TEST_F(TiffHeaderTest, BigEndianGreyIsReadDirectlyWithItsInternalCode) {
  ImageState s;
  ASSERT_EQ(Read(Grey(true).Build(), &s), 0);
  EXPECT_EQ(s.outputFormat, 0x0FF0000Au);
  EXPECT_EQ(s.kind, IK_GREY);
  EXPECT_EQ(s.width, 10);
  EXPECT_EQ(s.height, 4);
  EXPECT_EQ(s.storedLineWidth, 10);
  EXPECT_EQ(s.bitsPerPixel, 8u);
  EXPECT_EQ(s.dataOffset, 8u);
  EXPECT_EQ(s.xDpi, 300);
  EXPECT_EQ(s.yDpi, 300);
  ImageState le;
  ASSERT_EQ(Read(Grey(false).Build(), &le), 0);
  EXPECT_EQ(le.outputFormat, 0x0FF00009u);
}

TEST_F(TiffHeaderTest, KindsAndCodesOfTheAcceptedLayouts) {
  struct Case {
    uint32_t spp, bps, photometric;
    int width;
    uint16_t kind;
    int32_t stored;
    uint32_t le;
  } cases[] = {
      {1, 1, 0, 9, IK_BW, 9, 0x0FF0000B},        {1, 1, 1, 9, IK_BW, 9, 0x0FF0000B},
      {1, 4, 3, 9, IK_PALETTE16, 10, 0x0FF00007}, {1, 8, 3, 9, IK_PALETTE256, 9, 0x0FF00005},
      {3, 8, 2, 9, IK_RGB, 27, 0x0FF00001},       {4, 8, 5, 9, IK_CMYK32, 36, 0x0FF00003},
  };
  for (const auto& c : cases) {
    for (bool big : {false, true}) {
      const uint64_t line = c.bps == 1 ? 2 : c.bps == 4 ? 5 : static_cast<uint64_t>(c.stored);
      TiffBuilder b = Grey(big);
      b.Pixels(std::vector<uint8_t>(line * 4, 0x55))
          .Set(256, 3, {static_cast<uint32_t>(c.width)})
          .Set(277, 3, {c.spp})
          .Set(262, 3, {c.photometric});
      if (c.spp == 1) b.Set(258, 3, {c.bps});
      else b.Set(258, 3, std::vector<uint32_t>(c.spp, 8));
      if (c.photometric == 3) b.Set(320, 3, std::vector<uint32_t>(3u << c.bps, 0));
      ImageState s;
      LineReader r(&s);
      r.regionFlag = 1;
      ASSERT_EQ(Read(b.Build(), &s, &r), 0) << c.kind;
      EXPECT_EQ(s.kind, c.kind);
      EXPECT_EQ(s.storedLineWidth, c.stored);
      EXPECT_EQ(s.outputFormat, big ? c.le + 1 : c.le);
      EXPECT_EQ(r.regionFlag, c.kind == IK_CMYK32 ? 0 : 1);
    }
  }
}

TEST_F(TiffHeaderTest, ResolutionRules) {
  struct Case {
    uint32_t xn, xd, yn, yd, unit;
    int32_t dpi;
  } cases[] = {
      {0, 1, 0, 1, 2, 100},     {30, 1, 30, 1, 2, 100},   {300, 1, 300, 1, 2, 300},
      {600, 2, 600, 2, 2, 300}, {200, 1, 400, 1, 2, 400},  // the later entry wins
      {11811, 100, 11811, 100, 3, 299},                    // per centimetre
  };
  for (const auto& c : cases) {
    TiffBuilder b = Grey();
    b.Set(282, 5, {c.xn, c.xd}).Set(283, 5, {c.yn, c.yd}).Set(296, 3, {c.unit});
    ImageState s;
    ASSERT_EQ(Read(b.Build(), &s), 0);
    EXPECT_EQ(s.xDpi, c.dpi) << c.xn << "/" << c.xd;
    EXPECT_EQ(s.yDpi, c.dpi);
  }
}

TEST_F(TiffHeaderTest, ColourMapsKeepHighBytesOrEightBitValues) {
  for (bool big : {false, true}) {
    for (bool sixteen : {true, false}) {
      std::vector<uint32_t> map(48);
      for (uint32_t i = 0; i < 16; ++i) {
        map[i] = sixteen ? (i * 16 + 1) * 257 : i * 16 + 1;  // red
        map[16 + i] = sixteen ? 0xFFFF : 255;               // green
        map[32 + i] = sixteen ? i * 257 : i;                // blue
      }
      TiffBuilder b = Grey(big);
      b.Pixels(std::vector<uint8_t>(20, 0x12)).Set(258, 3, {4}).Set(262, 3, {3}).Set(320, 3, map);
      ImageState s;
      ASSERT_EQ(Read(b.Build(), &s), 0);
      EXPECT_EQ(s.kind, IK_PALETTE16);
      EXPECT_EQ(s.palette[3].red, 49);
      EXPECT_EQ(s.palette[3].green, 255);
      EXPECT_EQ(s.palette[15].blue, 15);
      EXPECT_EQ(s.palette2[3].red, 49);
    }
  }
}

TEST_F(TiffHeaderTest, ContiguousStripsAreAcceptedFromTheFirstStrip) {
  // 10 x 4 grey in strips of 3 rows: 30 bytes, then 10.
  for (bool big : {false, true}) {
    for (uint16_t type : {uint16_t{3}, uint16_t{4}}) {
      TiffBuilder b = Grey(big);
      b.Set(273, type, {8, 38}).Set(278, 4, {3}).Set(279, 4, {30, 10});
      ImageState s;
      ASSERT_EQ(Read(b.Build(), &s), 0);
      EXPECT_EQ(s.dataOffset, 8u);
      EXPECT_EQ(s.blockHeight, 3u);
      EXPECT_EQ(s.stripCount, 2u);
      EXPECT_EQ(s.severalStrips, 1u);
    }
  }
}

// ------------------------------------------------------------------ refusals

TEST_F(TiffHeaderTest, RefusesEveryFileItCannotReadExactly) {
  struct Case {
    const char* why;
    TiffBuilder file;
  };
  auto cases = [](bool big) {
    auto G = [big] { return Grey(big); };
    return std::vector<Case>{
        {"compression", G().Set(259, 3, {32773})},
        {"tiled", G().Set(322, 3, {16}).Set(323, 3, {16})},
        {"tile offsets", G().Remove(273).Set(324, 4, {8})},
        {"planar 2", G().Pixels(std::vector<uint8_t>(120)).Set(277, 3, {3}).Set(258, 3, {8, 8, 8}).Set(262, 3, {2}).Set(284, 3, {2})},
        {"16-bit grey", G().Pixels(std::vector<uint8_t>(80)).Set(258, 3, {16})},
        {"2-bit grey", G().Set(258, 3, {2})},
        {"16-bit rgb", G().Pixels(std::vector<uint8_t>(240)).Set(277, 3, {3}).Set(258, 3, {16, 16, 16}).Set(262, 3, {2})},
        {"bits count 2", G().Set(258, 3, {8, 8})},
        {"two samples", G().Set(277, 3, {2})},
        {"rgba", G().Pixels(std::vector<uint8_t>(160)).Set(277, 3, {4}).Set(258, 3, {8, 8, 8, 8}).Set(262, 3, {2})},
        {"16-bit palette", G().Pixels(std::vector<uint8_t>(80)).Set(258, 3, {16}).Set(262, 3, {3}).Set(320, 3, std::vector<uint32_t>(3 * 65536, 0))},
        {"min-is-white grey", G().Set(262, 3, {0})},
        {"fill order 2", G().Set(266, 3, {2})},
        {"float samples", G().Set(339, 3, {3})},
        {"strip past end", G().Set(273, 4, {100000})},
        {"pixels cut short", G().Set(257, 3, {400})},
        {"colour map past end", G().Set(262, 3, {3}).SetRaw(320, 3, 768, 99999)},
        {"colour map missing", G().Set(262, 3, {3})},
        {"colour map short", G().Set(262, 3, {3}).Set(320, 3, std::vector<uint32_t>(48, 0))},
        {"zero x denominator", G().Set(282, 5, {300, 0}).Remove(283)},
        {"zero y denominator", G().Set(283, 5, {300, 0})},
        {"resolution missing", G().Remove(282).Remove(283)},
        {"resolution past end", G().Remove(283).SetRaw(282, 5, 1, 99999)},
        {"resolution not rational", G().Remove(283).Set(282, 4, {300})},
        {"rows per strip 0", G().Set(273, 4, {8, 38}).Set(278, 4, {0}).Set(279, 4, {30, 10})},
        {"strips with a gap", G().Pixels(std::vector<uint8_t>(60)).Set(273, 4, {8, 48}).Set(278, 4, {3}).Set(279, 4, {30, 10})},
        {"too few strips", G().Pixels(std::vector<uint8_t>(60)).Set(257, 3, {6}).Set(273, 4, {8, 28}).Set(278, 4, {2}).Set(279, 4, {20, 20})},
        {"strip array past end", G().SetRaw(273, 4, 2, 99999).Set(278, 4, {3})},
        {"no strips", G().Remove(273)},
        {"zero width", G().Set(256, 3, {0})},
        {"directory past end", G().DirOffset(1u << 30)},
        {"entries past end", G().EntryCount(500)},
        {"palette bilevel", G().Pixels(std::vector<uint8_t>(8)).Set(258, 3, {1}).Set(262, 3, {3}).Set(320, 3, std::vector<uint32_t>(6, 0))},
    };
  };
  for (bool big : {false, true}) {
    for (auto& c : cases(big)) {
      ImageState s;
      s.kind = IK_RGB;
      s.width = 7;
      s.dataOffset = 5;
      EXPECT_EQ(Read(c.file.Build(), &s), -1) << c.why << (big ? " (MM)" : " (II)");
      // A refused file leaves the record's geometry as it was.
      EXPECT_EQ(s.kind, IK_RGB) << c.why;
      EXPECT_EQ(s.width, 7) << c.why;
      EXPECT_EQ(s.dataOffset, 5u) << c.why;
    }
  }
}

// ------------------------------------------------------------------ swap routines

TEST(TiffEntrySwap, ValueFieldsByTypeAndCount) {
  struct Case {
    uint16_t type;
    uint32_t count;
    uint32_t in, out;
  } cases[] = {
      {1, 4, 0x04030201, 0x04030201},  // bytes stay
      {2, 3, 0x00434241, 0x00434241},
      {2, 8, 0x10000000, 0x00000010},  // offset
      {1, 8, 0x10000000, 0x00000010},  // offset of a byte array
      {3, 1, 0x00000100, 0x00000001},  // one short in the first two bytes
      {3, 2, 0x02000100, 0x00020001},  // two shorts, each swapped
      {3, 3, 0x40000000, 0x00000040},  // offset
      {4, 1, 0x01020304, 0x04030201},
      {5, 1, 0xA0000000, 0x000000A0},  // rational: offset
      {7, 2, 0x00002211, 0x00002211},  // undefined bytes stay
  };
  for (const auto& c : cases) {
    TiffEntry e;
    e.tag = __builtin_bswap16(0x0111);
    e.type = __builtin_bswap16(c.type);
    e.count = __builtin_bswap32(c.count);
    e.value = c.in;
    SwapTiffEntryToHost(&e);
    EXPECT_EQ(e.tag, 0x0111);
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.count, c.count);
    EXPECT_EQ(e.value, c.out) << c.type << "x" << c.count;
    SwapTiffEntryToBigEndian(&e);
    EXPECT_EQ(e.value, c.in);
    EXPECT_EQ(e.type, __builtin_bswap16(c.type));
  }
}

// ------------------------------------------------------------------ raw image file header

std::vector<uint8_t> RawHeader(ImageState& s, const std::string& path) {
  s.fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  LineReader r(&s);
  const int64_t size = WriteRawImageHeader(&r);
  std::vector<uint8_t> b(static_cast<size_t>(size > 0 ? size : 0));
  if (size > 0) (void)::pread(s.fileHandle, b.data(), b.size(), 0);
  ::close(s.fileHandle);
  s.fileHandle = kNoFile;
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), size);
  return b;
}

TEST_F(TiffHeaderTest, RawHeaderGoldenBytesOfGreyLittleEndian) {
  ImageState s;
    orb::SetGreyRamp(&s);
  s.width = 1000;
  s.height = 700;
  s.kind = IK_GREY;
  s.bitsPerSample = 8;
  s.samplesPerPixel = 1;
  s.photometric = PM_WHITE_IS_ZERO;  // the code decides
  s.xDpi = 400;
  s.outputFormat = OF_RAW_GREY_LE;
  s.blockHeight = 77;
  s.stripOffsetsPos = 123;
  s.severalStrips = 1;
  const std::vector<uint8_t> got = RawHeader(s, dir_ + "/g.tif");
  const std::vector<uint8_t> want = {
      'I', 'I', 42, 0, 8, 0, 0, 0, 13, 0,
      0xFE, 0, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0,              // NewSubfileType 0
      0x00, 1, 4, 0, 1, 0, 0, 0, 0xE8, 0x03, 0, 0,        // ImageWidth 1000
      0x01, 1, 4, 0, 1, 0, 0, 0, 0xBC, 0x02, 0, 0,        // ImageLength 700
      0x02, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0,              // BitsPerSample 8
      0x03, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,              // Compression 1
      0x06, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,              // Photometric 1
      0x11, 1, 4, 0, 1, 0, 0, 0, 186, 0, 0, 0,            // StripOffsets 186
      0x12, 1, 3, 0, 1, 0, 0, 0, 0, 0, 0, 0,              // Orientation 0
      0x15, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,              // SamplesPerPixel 1
      0x16, 1, 4, 0, 1, 0, 0, 0, 0xBC, 0x02, 0, 0,        // RowsPerStrip 700
      0x17, 1, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0,              // StripByteCounts 0
      0x1A, 1, 5, 0, 1, 0, 0, 0, 170, 0, 0, 0,            // XResolution at 170
      0x1B, 1, 5, 0, 1, 0, 0, 0, 178, 0, 0, 0,            // YResolution at 178
      0, 0, 0, 0,                                         // no next directory
      0x90, 1, 0, 0, 1, 0, 0, 0,                          // 400 / 1
      0x90, 1, 0, 0, 1, 0, 0, 0,
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(s.dataOffset, 186u);
  EXPECT_EQ(s.blockHeight, 256u);
  EXPECT_EQ(s.lengthValuePos, 42u);
  EXPECT_EQ(s.rowsPerStripValuePos, 126u);
  EXPECT_EQ(s.stripByteCountsPos, 138u);
  EXPECT_EQ(s.stripOffsetsPos, 0u);
  EXPECT_EQ(s.severalStrips, 0u);
  EXPECT_EQ(s.stripCount, 1u);
}

TEST_F(TiffHeaderTest, RawHeaderPerCode) {
  struct Case {
    uint32_t code;
    uint16_t kind;
    uint32_t bps, spp, recordPhotometric;
    char order;
    uint16_t entries, photometric, bitsWritten;
    uint32_t dataOffset;
    bool blockHeight256;
  } cases[] = {
      {OF_RAW_RGB_LE, IK_RGB, 8, 3, 9, 'I', 13, 2, 8, 186, true},
      {OF_RAW_RGB_BE, IK_RGB, 8, 3, 9, 'M', 13, 2, 8, 186, true},
      {OF_RAW_PAL256_LE, IK_PALETTE256, 8, 1, 9, 'I', 14, 3, 8, 1734, true},
      {OF_RAW_PAL256_BE, IK_PALETTE256, 8, 1, 9, 'M', 14, 3, 8, 1734, true},
      {OF_RAW_PAL16_LE, IK_PALETTE16, 8, 1, 9, 'I', 14, 3, 4, 294, true},
      {OF_RAW_PAL16_BE, IK_PALETTE16, 8, 1, 9, 'M', 14, 3, 4, 294, true},
      {OF_RAW_GREY_BE, IK_GREY_FROM_GREEN, 8, 1, 9, 'M', 13, 1, 8, 186, true},
      {OF_RAW_BW_LE, IK_BW, 8, 1, 9, 'I', 13, 1, 1, 186, true},
      {OF_RAW_BW_BE, IK_BW_FROM_GREEN, 8, 1, 9, 'M', 13, 1, 1, 186, true},
      {OF_RAW_CMYK_LE, IK_CMYK32, 8, 4, 5, 'I', 13, 5, 8, 186, false},
      {OF_RAW_CMYK_BE, IK_CMYK32, 8, 4, 5, 'I', 13, 5, 8, 186, false},
      {OF_TIFF, IK_GREY, 8, 1, 0, 'I', 13, 0, 8, 186, false},  // any other code: own photometric
  };
  for (const auto& c : cases) {
    ImageState s;
    orb::SetGreyRamp(&s);
    s.width = 33;
    s.height = 5;
    s.kind = static_cast<ImageKind>(c.kind);
    s.bitsPerSample = c.bps;
    s.samplesPerPixel = c.spp;
    s.photometric = static_cast<Photometric>(c.recordPhotometric);
    s.xDpi = 300;
    s.outputFormat = c.code;
    s.blockHeight = 5;
    for (int i = 0; i < 256; ++i) s.palette[static_cast<size_t>(i)] = PaletteEntry{uint16_t(i), uint16_t(255 - i), uint16_t(i / 2)};
    const std::vector<uint8_t> h = RawHeader(s, dir_ + "/r.tif");
    ASSERT_EQ(h.size(), c.dataOffset) << std::hex << c.code;
    EXPECT_EQ(orb::RawImageHeaderSize(c.code), c.dataOffset);
    EXPECT_EQ(h[0], c.order);
    EXPECT_EQ(h[1], c.order);
    const bool be = c.order == 'M';
    auto u16 = [&](size_t at) { return be ? orb::GetU16BE(&h[at]) : orb::GetU16LE(&h[at]); };
    auto u32 = [&](size_t at) { return be ? orb::GetU32BE(&h[at]) : orb::GetU32LE(&h[at]); };
    EXPECT_EQ(u16(2), 42);
    EXPECT_EQ(u32(4), 8u);
    EXPECT_EQ(u16(8), c.entries);
    const uint16_t tags[] = {254, 256, 257, 258, 259, 262, 273, 274, 277, 278, 279, 282, 283, 320};
    for (uint16_t i = 0; i < c.entries; ++i) EXPECT_EQ(u16(10 + 12u * i), tags[i]);
    EXPECT_EQ(u16(10 + 12 * 3 + 8), c.bitsWritten);
    EXPECT_EQ(u16(10 + 12 * 5 + 8), c.photometric);
    EXPECT_EQ(u32(10 + 12 * 6 + 8), c.dataOffset);
    EXPECT_EQ(u16(10 + 12 * 8 + 8), c.spp);
    EXPECT_EQ(u32(10 + 12 * 2 + 8), 5u);
    EXPECT_EQ(u32(12u * c.entries + 14), 300u);
    EXPECT_EQ(u32(12u * c.entries + 18), 1u);
    if (c.entries == 14) {
      const uint32_t e = c.code == OF_RAW_PAL256_LE || c.code == OF_RAW_PAL256_BE ? 256 : 16;
      EXPECT_EQ(u32(10 + 12 * 13 + 4), 3 * e);
      const size_t map = 12u * c.entries + 30;
      EXPECT_EQ(u32(10 + 12 * 13 + 8), map);
      // The colour map stays little-endian whatever the header.
      EXPECT_EQ(orb::GetU16LE(&h[map + 2 * 5]), 5);
      EXPECT_EQ(orb::GetU16LE(&h[map + 2 * (e + 5)]), 250);
      EXPECT_EQ(orb::GetU16LE(&h[map + 2 * (2 * e + 8)]), 4);
    }
    EXPECT_EQ(s.dataOffset, c.dataOffset);
    EXPECT_EQ(s.blockHeight, c.blockHeight256 ? 256u : 5u);
  }
}

// A raw image file header, once followed by its pixels, is a plain TIFF the own reader
// accepts with the same geometry.
TEST_F(TiffHeaderTest, RawFileWithPixelsReadsBackDirectly) {
  ImageState s;
    orb::SetGreyRamp(&s);
  s.width = 9;
  s.height = 3;
  s.kind = IK_RGB;
  s.bitsPerSample = 8;
  s.samplesPerPixel = 3;
  s.xDpi = 200;
  s.storedLineWidth = 27;
  s.outputFormat = OF_RAW_RGB_LE;
  const std::string path = dir_ + "/raw.tif";
  s.fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  LineReader r(&s);
  ASSERT_EQ(WriteRawImageHeader(&r), 186);
  std::vector<uint8_t> px(81, 0x40);
  ASSERT_EQ(::pwrite(s.fileHandle, px.data(), px.size(), 186), 81);
  ImageState back;
  back.fileHandle = s.fileHandle;
  LineReader rb(&back);
  ASSERT_EQ(ReadTiffHeader(&rb), 0);
  EXPECT_EQ(back.width, 9);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.kind, IK_RGB);
  EXPECT_EQ(back.dataOffset, 186u);
  EXPECT_EQ(back.xDpi, 200);
  ::close(s.fileHandle);
}

// ------------------------------------------------------------------ probe

class CountingNotifier : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon icon, const std::vector<orb::MessageArg>&) override {
    ids.push_back(id);
    last = icon;
  }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  std::vector<int> ids;
  orb::MessageIcon last = orb::MessageIcon::None;
};

// Writes an RGB image through the imaging library.
struct LibImage {
  int w, h;
};
int LibHeader(void* u, IM_BITMAPINFOHEADER* h, IM_RGBQUAD*, int* grey) {
  auto* im = static_cast<LibImage*>(u);
  h->biSize = 40;
  h->biWidth = im->w;
  h->biHeight = im->h;
  h->biPlanes = 1;
  h->biBitCount = 24;
  h->biXPelsPerMeter = h->biYPelsPerMeter = 11811;  // 300 dpi
  *grey = 0;
  return 0;
}
int LibLines(void*, uint8_t* line, int row, int bytes) {
  std::memset(line, row * 10, static_cast<size_t>(bytes));
  return 0;
}

TEST_F(TiffHeaderTest, ProbeFormsOwnReaderLibraryAndUnreadable) {
  CountingNotifier notifier;
  orb::EngineHost host;
  host.notifier = &notifier;
  orb::SetEngineHost(host);

  // Form 0: an uncompressed TIFF the program reads itself.
  {
    ImageState s;
    s.sourcePath = Write(Grey().Build(), "own.tif");
    LineReader r(&s);
    EXPECT_EQ(ProbeImageFile(&r, true), 0);
    EXPECT_EQ(s.sourceForm, 0u);
    EXPECT_EQ(s.region.right, 9);
    EXPECT_EQ(s.region.bottom, 3);
    EXPECT_EQ(s.fileHandle, kNoFile);
  }
  // Form 1: files only the imaging library reads (PackBits TIFF, PNG).
  for (uint32_t format : {0x10001u, 3u}) {
    ImageState s;
    s.sourcePath = dir_ + "/lib.img";
    LibImage im{31, 17};
    const int fd = ::open(s.sourcePath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(IM_WriteByCallback(fd, format, LibLines, LibHeader, &im), IM_OK);
    ::close(fd);
    LineReader r(&s);
    EXPECT_EQ(ProbeImageFile(&r, true), 0) << format;
    EXPECT_EQ(s.sourceForm, 1u);
    EXPECT_EQ(s.width, 31);
    EXPECT_EQ(s.height, 17);
    EXPECT_EQ(s.kind, IK_RGB);
    EXPECT_EQ(s.xDpi, 300);
    EXPECT_EQ(s.region.right, 30);
    EXPECT_EQ(s.region.bottom, 16);
  }
  EXPECT_TRUE(notifier.ids.empty());
  // Not readable: a text file (message when asked), a missing file (never a message).
  {
    ImageState s;
    s.sourcePath = Write({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, "x.txt");
    s.sourceForm = SF_RAW_FILE;
    LineReader r(&s);
    EXPECT_EQ(ProbeImageFile(&r, false), -1);
    EXPECT_TRUE(notifier.ids.empty());
    EXPECT_EQ(ProbeImageFile(&r, true), -1);
    ASSERT_EQ(notifier.ids.size(), 1u);
    EXPECT_EQ(notifier.ids[0], 201);
    EXPECT_EQ(notifier.last, orb::MessageIcon::Exclamation);
    EXPECT_EQ(s.sourceForm, 2u);
  }
  {
    ImageState s;
    s.sourcePath = dir_ + "/missing.tif";
    LineReader r(&s);
    EXPECT_EQ(ProbeImageFile(&r, true), -1);
    EXPECT_EQ(notifier.ids.size(), 1u);
  }
}

TEST(StopAtFirstLine, StopsAtOnce) { EXPECT_EQ(StopAtFirstLine(nullptr, nullptr, 0, 0), -7); }

}  // namespace
