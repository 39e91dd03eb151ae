#include "engine/ToolSettings.h"
#include "engine/RecordFields.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace {

using namespace orb;

std::string MakeTempDir() {
  std::string t = ::testing::TempDir() + "toolsettingsXXXXXX";
  char* d = ::mkdtemp(t.data());
  EXPECT_NE(d, nullptr);
  return t;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Every byte of a record's image survives decode and encode, unused bytes included.
template <class R>
void ExpectByteRoundTrip() {
  RecordBytes<R> in{};
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + 11);
  R r = DecodeRecord<R>(in);
  EXPECT_EQ(EncodeRecord(r), in) << "record of " << R::kSize << " bytes";
}

TEST(ToolSettings, EveryRecordRoundTripsByteForByte) {
  ExpectByteRoundTrip<BrightContRecord>();
  ExpectByteRoundTrip<BWPointRecord>();
  ExpectByteRoundTrip<BWThresholdRecord>();
  ExpectByteRoundTrip<DescreenRecord>();
  ExpectByteRoundTrip<DespeckleRecord>();
  ExpectByteRoundTrip<GammaRecord>();
  ExpectByteRoundTrip<EnabledByteRecord>();
  ExpectByteRoundTrip<SharpenRecord>();
  ExpectByteRoundTrip<PaletteRecord>();
  ExpectByteRoundTrip<Rotate90Record>();
  ExpectByteRoundTrip<AcceptAs2ImagesRecord>();
  ExpectByteRoundTrip<EditorRecord>();
  ExpectByteRoundTrip<IndexRecord>();
  ExpectByteRoundTrip<ColorClassRecord>();
  ExpectByteRoundTrip<JoinImagesRecord>();
}

TEST(ToolSettings, DefaultsAsGolden) {
  using B = std::vector<uint8_t>;
  auto v = [](const auto& arr) { return B(arr.begin(), arr.end()); };
  EXPECT_EQ(v(EncodeRecord(BrightContRecord{})), B(12, 0));
  EXPECT_EQ(v(EncodeRecord(BWPointRecord{})), (B{255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Fixed thresholding at 32, software thresholding on.
  EXPECT_EQ(v(EncodeRecord(BWThresholdRecord{})),
            (B{0, 0, 0, 0, 32, 0, 0, 0, 20, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0,
               32, 0, 0, 0, 20, 0, 0, 0, 9, 0, 0, 0, 9, 0, 0, 0}));
  EXPECT_EQ(v(EncodeRecord(DescreenRecord{})), (B{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(v(EncodeRecord(DespeckleRecord{})), (B{5, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(v(EncodeRecord(SharpenRecord{})), B(8, 0));
  EXPECT_EQ(v(EncodeRecord(PaletteRecord{})), B(8, 0));
  EXPECT_EQ(v(EncodeRecord(Rotate90Record{})), B(8, 0));
  EXPECT_EQ(v(EncodeRecord(EnabledByteRecord{})), B(1, 0));
  EXPECT_EQ(v(EncodeRecord(AcceptAs2ImagesRecord{})), (B{1, 0}));
  EXPECT_EQ(v(EncodeRecord(EditorRecord{})), B(261, 0));
  EXPECT_EQ(v(EncodeRecord(IndexRecord{})), B(521, 0));
  EXPECT_EQ(v(EncodeRecord(JoinImagesRecord{})),
            (B{0x10, 0x0E, 0, 0, 0x10, 0x0E, 0, 0, 255, 0, 0, 0, 1, 0, 0, 0,
               1, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(ToolSettings, NegativeAndFieldOffsets) {
  BrightContRecord b;
  b.Brightness = -100;
  b.Contrast = 50;
  b.enabled = 1;
  auto bytes = EncodeRecord(b);
  EXPECT_EQ(bytes, (RecordBytes<BrightContRecord>{0x9C, 0xFF, 0xFF, 0xFF, 50, 0, 0, 0, 1, 0, 0, 0}));

  BWThresholdRecord t;
  t.ThresholdingType = 2;
  t.DiffusionSerpentine = 1;
  t.DiffusionHybrid = 1;
  t.DiffusionLevel = 0x01020304;
  t.HybridDecisionWindow = 7;
  auto tb = EncodeRecord(t);
  EXPECT_EQ(tb[0], 2);
  EXPECT_EQ(tb[17], 1);
  EXPECT_EQ(tb[18], 1);
  EXPECT_EQ(tb[20], 4);
  EXPECT_EQ(tb[23], 1);
  EXPECT_EQ(tb[32], 7);
}

TEST(ToolSettings, ToneCurveDefaults) {
  const GammaRecord& g = ToneCurveDefaults;
  EXPECT_EQ(g.Channel, 0u);
  EXPECT_EQ(g.enabled, 0);
  for (const auto& curve : g.curves) {
    EXPECT_EQ(curve[0], (CurvePoint{0, 0}));
    EXPECT_EQ(curve[1], (CurvePoint{86, 86}));
    EXPECT_EQ(curve[2], (CurvePoint{172, 172}));
    EXPECT_EQ(curve[3], (CurvePoint{255, 255}));
  }
  for (const auto& t : g.tables)
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[static_cast<size_t>(i)], i);
  auto bytes = EncodeRecord(g);
  EXPECT_EQ(bytes[8 + 8], 86);       // master P1.x
  EXPECT_EQ(bytes[136 + 200], 200);  // master table entry 200
  EXPECT_EQ(bytes[904 + 255], 255);  // blue table entry 255
}

TEST(ToolSettings, ProcessWideRecordsStartAtDefaults) {
  EXPECT_EQ(BWThresholdSettings.ThresholdingType, 0);
  EXPECT_EQ(BWThresholdSettings.FixedThreshhold, 32);
  EXPECT_EQ(BWThresholdSettings.SoftwareThreshold, 1);
  EXPECT_EQ(BWPointSettings.White, 255);
  EXPECT_EQ(EncodeRecord(GammaSettings), EncodeRecord(ToneCurveDefaults));
}

TEST(ToolSettings, PathFieldsAreBounded) {
  EditorRecord e;
  SetPathField(e.AppName, std::string(400, 'x'));
  EXPECT_EQ(GetPathField(e.AppName).size(), 259u);
  EXPECT_EQ(e.AppName[259], 0);
  SetPathField(e.AppName, "/usr/bin/editor");
  EXPECT_EQ(GetPathField(e.AppName), "/usr/bin/editor");
}

TEST(ToolSettings, FileLoadEmptyShortFullAndSave) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/BWThreshold.flt";

  BWThresholdRecord r;
  EXPECT_TRUE(LoadRecordFile(path, r));  // missing: defaults stay
  EXPECT_EQ(EncodeRecord(r), EncodeRecord(BWThresholdRecord{}));

  WriteAll(path, {});
  EXPECT_TRUE(LoadRecordFile(path, r));  // empty: defaults stay
  EXPECT_EQ(EncodeRecord(r), EncodeRecord(BWThresholdRecord{}));

  WriteAll(path, {1, 0, 0, 0, 40});  // short: a prefix
  EXPECT_TRUE(LoadRecordFile(path, r));
  EXPECT_EQ(r.ThresholdingType, 1);
  EXPECT_EQ(r.FixedThreshhold, 40);  // low byte replaced, the rest as it was
  EXPECT_EQ(r.AdaptiveWindowSize, 20);

  std::vector<uint8_t> full(36);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(200 - i);
  WriteAll(path, full);
  EXPECT_TRUE(LoadRecordFile(path, r));
  std::string out = dir + "/copy.flt";
  EXPECT_TRUE(SaveRecordFile(out, r));
  EXPECT_EQ(ReadAll(out), full);  // the unused byte 19 included

  // Saving over an existing file replaces it whole.
  EXPECT_TRUE(SaveRecordFile(out, BWThresholdRecord{}));
  auto def = EncodeRecord(BWThresholdRecord{});
  EXPECT_EQ(ReadAll(out), std::vector<uint8_t>(def.begin(), def.end()));

  EXPECT_FALSE(SaveRecordFile(dir + "/no/such/folder/x.flt", r));
  std::remove(path.c_str());
  std::remove(out.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace

namespace {

// The fields a record's visitor lists lie one after another and fill the record exactly,
// and every byte survives a decode followed by an encode.
template <class R>
void ExpectVisitorCoversRecord(const char* name) {
  size_t next = 0;
  for (const orb::FieldSpan& s : orb::RecordLayout<R>()) {
    EXPECT_EQ(s.offset, next) << name << ": gap or overlap before offset " << s.offset;
    next = s.offset + s.width;
  }
  EXPECT_EQ(next, R::kSize) << name;
  orb::RecordBytes<R> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  EXPECT_EQ(orb::EncodeRecord(orb::DecodeRecord<R>(bytes)), bytes) << name;
}

TEST(ToolRecordVisitors, EachListsEveryByteOfItsRecordOnce) {
  ExpectVisitorCoversRecord<orb::BrightContRecord>("BrightCont");
  ExpectVisitorCoversRecord<orb::BWPointRecord>("BWPoint");
  ExpectVisitorCoversRecord<orb::BWThresholdRecord>("BWThreshold");
  ExpectVisitorCoversRecord<orb::DescreenRecord>("Descreen");
  ExpectVisitorCoversRecord<orb::DespeckleRecord>("Despeckle");
  ExpectVisitorCoversRecord<orb::GammaRecord>("Gamma");
  ExpectVisitorCoversRecord<orb::EnabledByteRecord>("Invert/Mirror");
  ExpectVisitorCoversRecord<orb::SharpenRecord>("Sharpen");
  ExpectVisitorCoversRecord<orb::PaletteRecord>("Palette");
  ExpectVisitorCoversRecord<orb::Rotate90Record>("Rotate90");
  ExpectVisitorCoversRecord<orb::AcceptAs2ImagesRecord>("AcceptAs2Images");
  ExpectVisitorCoversRecord<orb::EditorRecord>("Editor");
  ExpectVisitorCoversRecord<orb::IndexRecord>("Index");
  ExpectVisitorCoversRecord<orb::ColorClassRecord>("ColorClass");
  ExpectVisitorCoversRecord<orb::JoinImagesRecord>("JoinImages");
}

}  // namespace
