#include "engine/ImageState.h"

#include <unistd.h>

#include <memory>

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

// ----- the chain ------------------------------------------------------------------------

ImageChain::ImageChain(std::unique_ptr<ImageState> first) {
  if (!first) return;
  versions_.push_back(std::move(first));
  Adopt(versions_.back().get());
  Relink();
}

ImageChain::~ImageChain() {
  // Newest first, each released as FreeImageState releases it.
  while (!versions_.empty()) Free(versions_.back().get());
}

size_t ImageChain::IndexOf(const ImageState* record) const {
  for (size_t i = 0; i < versions_.size(); ++i)
    if (versions_[i].get() == record) return i;
  return versions_.size();
}

void ImageChain::Adopt(ImageState* record) { record->member.chain_ = this; }

void ImageChain::Relink() {
  for (size_t i = 0; i < versions_.size(); ++i) {
    versions_[i]->prev = i > 0 ? versions_[i - 1].get() : nullptr;
    versions_[i]->next = i + 1 < versions_.size() ? versions_[i + 1].get() : nullptr;
  }
}

ImageState* ImageChain::Push() {
  ImageState* last = Last();
  if (!last) return nullptr;
  auto copy = std::make_unique<ImageState>(*last);
  copy->bitmaps[0].reset();
  copy->bitmaps[2].reset();
  // The newest version takes the lookup table over.
  last->lookupTable.reset();
  versions_.push_back(std::move(copy));
  Adopt(versions_.back().get());
  Relink();
  return versions_.back().get();
}

std::unique_ptr<ImageState> ImageChain::Take(ImageState* record) {
  const size_t i = IndexOf(record);
  if (i == versions_.size()) return nullptr;
  std::unique_ptr<ImageState> taken = std::move(versions_[i]);
  versions_.erase(versions_.begin() + static_cast<ptrdiff_t>(i));
  Relink();
  taken->member.chain_ = nullptr;
  taken->next = taken->prev = nullptr;
  return taken;
}

ImageState* ImageChain::Free(ImageState* record) {
  const size_t i = IndexOf(record);
  if (i == versions_.size()) return nullptr;
  ImageState* replacement = i + 1 < versions_.size() ? versions_[i + 1].get()
                            : i > 0                  ? versions_[i - 1].get()
                                                     : nullptr;
  std::unique_ptr<ImageState> gone = Take(record);
  gone->lookupTable.reset();
  // Third, fourth, first, second, fifth; a bitmap shared with another version (or held
  // twice by this one) lives on until its last holder lets it go.
  static constexpr int kOrder[] = {2, 3, 0, 1, 4};
  for (int b : kOrder) gone->bitmaps[static_cast<size_t>(b)].reset();
  return replacement;
}

ImageState* NewImageState() {
  auto first = std::make_unique<ImageState>();
  SetGreyRamp(first.get());
  return StartImageChain(std::move(first));
}

ImageState* StartImageChain(std::unique_ptr<ImageState> first) {
  if (!first) return nullptr;
  // The chain belongs to its records: it goes when the last of them is freed.
  auto* chain = new ImageChain(std::move(first));
  return chain->First();
}

std::unique_ptr<ImageState> TakeImageState(ImageState* record) {
  ImageChain* chain = ImageChain::Of(record);
  if (!chain) return std::unique_ptr<ImageState>(record);
  std::unique_ptr<ImageState> taken = chain->Take(record);
  if (chain->Empty()) delete chain;
  return taken;
}

void FreeImageChain(ImageState* any) {
  if (!any) return;
  if (ImageChain* chain = ImageChain::Of(any)) {
    delete chain;
  } else {
    FreeImageState(any);
  }
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
  if (orb::ImageChain* chain = orb::ImageChain::Of(any)) return chain->Last();
  return any;
}

ImageState* PushImageState(ImageState* any) {
  orb::ImageChain* chain = orb::ImageChain::Of(any);
  if (!chain && any) chain = orb::ImageChain::Of(orb::StartImageChain(orb::TakeImageState(any)));
  return chain ? chain->Push() : nullptr;
}

ImageState* FreeImageState(ImageState* state) {
  if (!state) return nullptr;
  orb::ImageChain* chain = orb::ImageChain::Of(state);
  if (!chain) {
    // A record of no chain (a copy) is simply released.
    std::unique_ptr<ImageState>{state};
    return nullptr;
  }
  ImageState* replacement = chain->Free(state);
  if (chain->Empty()) delete chain;
  return replacement;
}
