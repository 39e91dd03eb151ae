#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/PaletteFile.h"
#include "platform/Files.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::TempFolder;

// A palette file's bytes built by hand: lookup cell c -> colour c % (n + 1).
std::vector<uint8_t> PaletteBytes(uint8_t n, uint8_t m, int badMapEntry = -1) {
  std::vector<uint8_t> f = {2, n};
  for (int c = 0; c < 65536; ++c) f.push_back(static_cast<uint8_t>(c % (n + 1)));
  for (int i = 0; i <= n; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
  f.push_back(m);
  for (int i = 0; i <= n; ++i)
    f.push_back(i == badMapEntry ? static_cast<uint8_t>(m + 1) : static_cast<uint8_t>(i % (m + 1)));
  for (int i = 0; i <= m; ++i) f.insert(f.end(), {uint8_t(10 + i), uint8_t(20 + i), uint8_t(30 + i)});
  return f;
}

class PaletteFiles : public ::testing::Test {
 protected:
  std::string Put(const std::vector<uint8_t>& bytes) {
    std::string p = dir_ / "p.apt";
    EXPECT_TRUE(orb::WriteFileAtomically(p, bytes));
    return p;
  }
  TempFolder dir_;
  std::unique_ptr<PaletteFile> rec_ = std::make_unique<PaletteFile>();
};

TEST_F(PaletteFiles, OneColourMapsEveryCellToOutputZero) {
  std::memset(ColourLookupTable, 0xEE, sizeof ColourLookupTable);
  PaletteEntry out[256];
  ASSERT_TRUE(LoadPaletteFile(Put(PaletteBytes(0, 0)), *rec_, out));
  for (int c = 0; c < 65536; ++c) ASSERT_EQ(rec_->Lookup[c], 0) << c;
  for (int c = 0; c < 65536; ++c) ASSERT_EQ(ColourLookupTable[c], 0) << c;
  EXPECT_EQ(out[0].red, 10);
  EXPECT_EQ(out[0].green, 20);
  EXPECT_EQ(out[0].blue, 30);
}

TEST_F(PaletteFiles, LookupIsRemappedToOutputColours) {
  PaletteEntry out[256];
  ASSERT_TRUE(LoadPaletteFile(Put(PaletteBytes(15, 3)), *rec_, out));
  EXPECT_EQ(rec_->N, 15);
  EXPECT_EQ(rec_->M, 3);
  for (int c = 0; c < 65536; ++c) ASSERT_EQ(rec_->Lookup[c], (c % 16) % 4) << c;
  EXPECT_EQ(out[3].red, 13);
  EXPECT_EQ(rec_->Palette[3 * 5 + 2], 15);
  EXPECT_EQ(orb::PaletteCell(255, 255, 255), 65535u);
  EXPECT_EQ(orb::PaletteCell(8, 4, 8), 2048u + 32u + 1u);
}

TEST_F(PaletteFiles, WithoutOutputPaletteStillRemaps) {
  ASSERT_TRUE(LoadPaletteFile(Put(PaletteBytes(7, 1)), *rec_));
  EXPECT_EQ(rec_->Lookup[7], 1);
  EXPECT_EQ(rec_->Lookup[6], 0);
  EXPECT_EQ(ColourLookupTable[7], 1);
}

TEST_F(PaletteFiles, BadFilesFailAndLeaveTheGlobalTable) {
  std::memset(ColourLookupTable, 0x5A, sizeof ColourLookupTable);
  EXPECT_FALSE(LoadPaletteFile(Put(PaletteBytes(3, 4)), *rec_)) << "more outputs than colours";
  EXPECT_FALSE(LoadPaletteFile(Put(PaletteBytes(3, 1, 2)), *rec_)) << "map entry M + 1";
  EXPECT_FALSE(LoadPaletteFile(dir_ / "missing.apt", *rec_));
  auto good = PaletteBytes(9, 2);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{40000}, size_t{65538},
                     size_t{65538 + 29}, size_t{65538 + 30}, size_t{65538 + 31 + 9},
                     good.size() - 1}) {
    std::vector<uint8_t> shortFile(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_FALSE(LoadPaletteFile(Put(shortFile), *rec_)) << "cut at " << cut;
  }
  EXPECT_EQ(ColourLookupTable[0], 0x5A);
  EXPECT_TRUE(LoadPaletteFile(Put(good), *rec_));
}

TEST_F(PaletteFiles, SaveWritesOnlyTheUsedEntries) {
  auto bytes = PaletteBytes(15, 3);
  PaletteEntry out[256];
  ASSERT_TRUE(LoadPaletteFile(Put(bytes), *rec_, out));
  // Loading remapped the table; put the file's table back to compare the whole file.
  std::memcpy(rec_->Lookup, bytes.data() + 2, 65536);
  std::string saved = dir_ / "saved.apt";
  ASSERT_TRUE(SavePaletteFile(saved, *rec_));
  EXPECT_EQ(orb::ReadFileBytes(saved).value(), bytes);
  EXPECT_EQ(orb::ReadPaletteOutputCount(saved), 4);
  EXPECT_EQ(orb::ReadPaletteOutputCount(dir_ / "none.apt"), 0);
  EXPECT_FALSE(SavePaletteFile(dir_ / "no/such/x.apt", *rec_));
}

TEST_F(PaletteFiles, LookupEntriesBeyondTheColoursGoToOutputZero) {
  auto bytes = PaletteBytes(3, 1);
  bytes[2 + 100] = 200;  // a damaged cell: colour 200 of a 4-colour palette
  ASSERT_TRUE(LoadPaletteFile(Put(bytes), *rec_));
  EXPECT_EQ(rec_->Lookup[100], 0);
}

}  // namespace
