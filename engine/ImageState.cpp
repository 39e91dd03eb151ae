#include "engine/ImageState.h"

#include <unistd.h>

namespace orb {

TempFileOwner::~TempFileOwner() {
  if (!keep_ && !path_.empty()) ::unlink(path_.c_str());
}

void SetGreyRamp(ImageState* state) {
  for (size_t i = 0; i < state->palette.size(); ++i) {
    const auto v = static_cast<uint16_t>(i);
    state->palette[i] = PaletteEntry{v, v, v};
  }
  state->palette2 = state->palette;
}

ImageState* NewImageState() {
  auto* s = new ImageState();
  SetGreyRamp(s);
  return s;
}

void FreeImageChain(ImageState* any) {
  if (!any) return;
  while (any->prev) any = any->prev;
  while (any) any = FreeImageState(any);
}

void SetRawImageFile(ImageState* state, const std::string& path) {
  state->rawPath = path;
  state->rawFile = path.empty() ? nullptr : std::make_shared<TempFileOwner>(path);
}

int32_t StoredLineWidthFor(uint16_t kind, int32_t width) {
  switch (kind) {
    case IK_PALETTE16:
      return width + (width & 1);
    case IK_RGB:
      return 3 * width;
    case IK_PALETTE16BIT:
      return 2 * width;
    case IK_CMYK32:
      return 4 * width;
    default:
      return width;
  }
}

}  // namespace orb

ImageState* GetLastImageState(ImageState* any) {
  if (!any) return nullptr;
  while (any->next) any = any->next;
  return any;
}

ImageState* PushImageState(ImageState* any) {
  ImageState* last = GetLastImageState(any);
  if (!last) return nullptr;
  auto* copy = new ImageState(*last);
  last->next = copy;
  copy->prev = last;
  copy->next = nullptr;
  copy->bitmaps[0].reset();
  copy->bitmaps[2].reset();
  // The newest version takes the lookup table over.
  last->lookupTable.reset();
  return copy;
}

ImageState* FreeImageState(ImageState* state) {
  if (!state) return nullptr;
  state->lookupTable.reset();
  // Third, fourth, first, second, fifth; a bitmap shared with another version (or held
  // twice by this one) lives on until its last holder lets it go.
  static constexpr int kOrder[] = {2, 3, 0, 1, 4};
  for (int i : kOrder) state->bitmaps[static_cast<size_t>(i)].reset();
  ImageState* prev = state->prev;
  ImageState* next = state->next;
  if (prev) prev->next = next;
  if (next) next->prev = prev;
  delete state;
  return next ? next : prev;
}
