// The magnifier keeps a pointer to the record it enlarges: when a save or an undo frees
// that record first, the lens must forget it rather than touch freed memory.
#include <gtest/gtest.h>

#include "app/LupeView.h"
#include "engine/ImageState.h"

namespace {

TEST(LupeView, ForgetsARecordFreedUnderIt) {
  CLupeView lens;
  ImageState* first = orb::NewImageState();
  lens.SetImage(first);
  ASSERT_EQ(lens.Image(), first);
  EXPECT_EQ(first->magnifierWindow, static_cast<orb::DisplaySurface*>(&lens));

  orb::FreeImageChain(first);
  EXPECT_EQ(lens.Image(), nullptr);

  // The next record comes as before; the lens moves over it without the old one.
  ImageState* second = orb::NewImageState();
  lens.SetImage(second);
  EXPECT_EQ(lens.Image(), second);
  orb::FreeImageChain(second);
  EXPECT_EQ(lens.Image(), nullptr);
  lens.MoveTo(true, 10, 10);
  EXPECT_EQ(lens.Box().Width(), lens.Box().Height());
}

TEST(LupeView, ALensGoneBeforeItsRecordLeavesNoCallBehind) {
  ImageState* record = orb::NewImageState();
  {
    CLupeView lens;
    lens.SetImage(record);
  }
  EXPECT_EQ(record->magnifierWindow, nullptr);
  orb::FreeImageChain(record);  // would call into the destroyed lens if the watch stayed
}

TEST(LupeView, HandingOverARecordReleasesTheOldOne) {
  ImageState* a = orb::NewImageState();
  ImageState* b = orb::NewImageState();
  CLupeView lens;
  lens.SetImage(a);
  lens.SetImage(b);
  EXPECT_EQ(a->magnifierWindow, nullptr);
  orb::FreeImageChain(a);
  EXPECT_EQ(lens.Image(), b);  // freeing the old record does not touch the lens
  orb::FreeImageChain(b);
  EXPECT_EQ(lens.Image(), nullptr);
}

}  // namespace
