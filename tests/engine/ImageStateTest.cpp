#include "engine/ImageState.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

std::unique_ptr<uint8_t[]> MakeLut() { return std::make_unique<uint8_t[]>(kLookupTableSize); }

bool Exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

TEST(ImageState, NewRecordHoldsGreyRampAndNoLinks) {
  ImageState* s = orb::NewImageState();
  EXPECT_EQ(s->palette[0].red, 0);
  EXPECT_EQ(s->palette[200].green, 200);
  EXPECT_EQ(s->palette2[255].blue, 255);
  EXPECT_EQ(s->next, nullptr);
  EXPECT_EQ(s->prev, nullptr);
  EXPECT_EQ(s->fileHandle, kNoFile);
  EXPECT_EQ(FreeImageState(s), nullptr);
}

TEST(ImageState, NullRecordsGiveNull) {
  EXPECT_EQ(GetLastImageState(nullptr), nullptr);
  EXPECT_EQ(PushImageState(nullptr), nullptr);
  EXPECT_EQ(FreeImageState(nullptr), nullptr);
}

TEST(ImageState, PushMovesLookupTableAndCopiesFields) {
  ImageState* a = orb::NewImageState();
  a->lookupTable = MakeLut();
  a->lookupTable[7] = 42;
  a->width = 1234;
  a->kind = IK_PALETTE256;
  a->sourcePath = "/tmp/x.tif";
  a->bitmaps[0] = std::make_shared<orb::DisplayBitmap>();
  a->bitmaps[1] = std::make_shared<orb::DisplayBitmap>();
  a->bitmaps[2] = std::make_shared<orb::DisplayBitmap>();
  ImageState* b = PushImageState(a);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->prev, a);
  EXPECT_EQ(b->next, nullptr);
  EXPECT_EQ(a->lookupTable, nullptr);
  ASSERT_NE(b->lookupTable, nullptr);
  EXPECT_EQ(b->lookupTable[7], 42);
  EXPECT_EQ(b->width, 1234);
  EXPECT_EQ(b->kind, IK_PALETTE256);
  EXPECT_EQ(b->sourcePath, "/tmp/x.tif");
  EXPECT_EQ(b->bitmaps[0], nullptr);
  EXPECT_EQ(b->bitmaps[2], nullptr);
  EXPECT_EQ(b->bitmaps[1], a->bitmaps[1]);
  orb::FreeImageChain(b);
}

TEST(ImageState, PushOnOlderRecordAppendsAfterLast) {
  ImageState* a = orb::NewImageState();
  ImageState* b = PushImageState(a);
  ImageState* c = PushImageState(a);
  EXPECT_EQ(b->next, c);
  EXPECT_EQ(c->prev, b);
  EXPECT_EQ(GetLastImageState(a), c);
  EXPECT_EQ(GetLastImageState(b), c);
  orb::FreeImageChain(a);
}

TEST(ImageState, FreeReturnsReplacementAndJoinsNeighbours) {
  ImageState* a = orb::NewImageState();
  ImageState* b = PushImageState(a);
  ImageState* c = PushImageState(a);
  // Middle: neighbours joined, next returned.
  EXPECT_EQ(FreeImageState(b), c);
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);
  // Last of several: previous returned with a null next link.
  EXPECT_EQ(FreeImageState(c), a);
  EXPECT_EQ(a->next, nullptr);
  // Only record.
  EXPECT_EQ(FreeImageState(a), nullptr);
}

TEST(ImageState, SharedBitmapIsReleasedOnceByItsLastHolder) {
  std::weak_ptr<orb::DisplayBitmap> watch;
  ImageState* a = orb::NewImageState();
  {
    auto bmp = std::make_shared<orb::DisplayBitmap>();
    watch = bmp;
    a->bitmaps[0] = bmp;
    a->bitmaps[2] = bmp;  // first and third the same bitmap
    a->bitmaps[3] = std::make_shared<orb::DisplayBitmap>();
  }
  ImageState* b = PushImageState(a);
  std::weak_ptr<orb::DisplayBitmap> fourth = b->bitmaps[3];
  EXPECT_EQ(FreeImageState(b), a);
  EXPECT_FALSE(fourth.expired());  // still held by the older version
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(FreeImageState(a), nullptr);
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(fourth.expired());
}

TEST(ImageState, RawImageFileRemovedWhenLastVersionNamingItIsFreed) {
  std::string dir = ::testing::TempDir() + "/isXXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string raw = dir + "/Qel1.tif";
  std::ofstream(raw) << "x";
  ImageState* a = orb::NewImageState();
  orb::SetRawImageFile(a, raw);
  ImageState* b = PushImageState(a);
  EXPECT_EQ(b->rawPath, raw);
  // Undo of a copy that still names the older version's file keeps the file.
  EXPECT_EQ(FreeImageState(b), a);
  EXPECT_TRUE(Exists(raw));
  EXPECT_EQ(FreeImageState(a), nullptr);
  EXPECT_FALSE(Exists(raw));
  ::rmdir(dir.c_str());
}

TEST(ImageState, StoredLineWidthByKind) {
  EXPECT_EQ(orb::StoredLineWidthFor(IK_BW, 9), 9);
  EXPECT_EQ(orb::StoredLineWidthFor(IK_PALETTE16, 9), 10);
  EXPECT_EQ(orb::StoredLineWidthFor(IK_GREY, 9), 9);
  EXPECT_EQ(orb::StoredLineWidthFor(IK_RGB, 9), 27);
  EXPECT_EQ(orb::StoredLineWidthFor(IK_PALETTE16BIT, 9), 18);
  EXPECT_EQ(orb::StoredLineWidthFor(IK_CMYK32, 9), 36);
}

// The chain owns its records: a copy belongs to none, a record taken out lives on by
// itself, and freeing the chain releases every record still in it.
TEST(ImageChain, TakenRecordsAndCopiesLiveApartFromTheChain) {
  std::weak_ptr<orb::DisplayBitmap> aWatch, cWatch;
  ImageState* a = orb::NewImageState();
  ImageState* b = PushImageState(a);
  ImageState* c = PushImageState(a);
  a->bitmaps[1] = std::make_shared<orb::DisplayBitmap>();  // held by a alone
  aWatch = a->bitmaps[1];
  c->bitmaps[3] = std::make_shared<orb::DisplayBitmap>();
  cWatch = c->bitmaps[3];
  EXPECT_EQ(orb::ImageChain::Of(a), orb::ImageChain::Of(c));

  // A copy is in no chain: freeing it leaves the chain as it was.
  auto* copy = new ImageState(*b);
  EXPECT_EQ(orb::ImageChain::Of(copy), nullptr);
  EXPECT_EQ(FreeImageState(copy), nullptr);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, c);

  // Taking the middle record joins its neighbours and hands it over unlinked.
  std::unique_ptr<ImageState> taken = orb::TakeImageState(b);
  ASSERT_EQ(taken.get(), b);
  EXPECT_EQ(taken->next, nullptr);
  EXPECT_EQ(taken->prev, nullptr);
  EXPECT_EQ(orb::ImageChain::Of(b), nullptr);
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);

  // It can start a chain of its own, and be pushed on there.
  ImageState* first = orb::StartImageChain(std::move(taken));
  ASSERT_EQ(first, b);
  ImageState* b2 = PushImageState(b);
  EXPECT_EQ(b->next, b2);
  EXPECT_EQ(GetLastImageState(b), b2);
  EXPECT_EQ(GetLastImageState(a), c);

  orb::FreeImageChain(c);  // any record frees its whole chain
  EXPECT_TRUE(aWatch.expired());
  EXPECT_TRUE(cWatch.expired());
  EXPECT_EQ(FreeImageState(b2), b);
  EXPECT_EQ(FreeImageState(b), nullptr);
}

TEST(ImageChain, PushOnARecordOfNoChainStartsOne) {
  auto* lone = new ImageState();
  lone->width = 77;
  ImageState* next = PushImageState(lone);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(lone->next, next);
  EXPECT_EQ(next->prev, lone);
  EXPECT_EQ(next->width, 77);
  orb::FreeImageChain(next);
}

}  // namespace
