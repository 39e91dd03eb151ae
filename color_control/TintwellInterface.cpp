#include "color_control/TintwellInterface.h"

#include <cstring>

namespace {

template <size_t N>
int32_t Find(const TintwellDispatchEntry (&table)[N], const char* name) {
  if (!name) return -1;
  for (const auto& e : table) {
    if (std::strcmp(e.name, name) == 0) return e.dispid;
  }
  return -1;
}

}  // namespace

int32_t TintwellMethodId(const char* name) { return Find(kTintwellMethods, name); }
int32_t TintwellEventId(const char* name) { return Find(kTintwellEvents, name); }

void FireTintwellEvent(_DTintwellEvents& sink, int32_t dispid) {
  switch (dispid) {
    case kEvClick: sink.Click(); break;
    case kEvDisplayUsingRGB: sink.DisplayUsingRGB(); break;
    case kEvDisplayUsingPalette: sink.DisplayUsingPalette(); break;
    case kEvRequestCurrentColor: sink.RequestCurrentColor(); break;
    case kEvCancelRequestCurrentColor: sink.CancelRequestCurrentColor(); break;
    case kEvRequestMergeArea: sink.RequestMergeArea(); break;
    case kEvCancelRequestMergeArea: sink.CancelRequestMergeArea(); break;
    default: break;
  }
}
