#include "scanning/ManualStitch.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "scanner_library/trennic.h"

namespace orb {

using namespace stitch_ids;

uint32_t ManualStitchHost::Status() { return AppStatus.load(); }

int VisibleSeamGroups(int32_t cameraCount) {
  if (cameraCount == 2) return 2;
  if (cameraCount == 1) return 3;
  return 5;
}

int SeamValuesSent(int32_t cameraCount) { return cameraCount >= 5 ? 5 : 3; }

std::optional<Rect> SeamZoomRegion(int seam, int32_t width, int32_t height, int32_t clientWidth,
                                   int32_t clientHeight, int32_t cameraCount) {
  if (seam < 1 || seam > 4 || width <= 0 || height <= 0 || cameraCount <= 0) return std::nullopt;
  const double r = clientHeight > 0 && clientWidth > 0 ? static_cast<double>(clientWidth) / clientHeight : 1.0;
  Rect region;
  region.top = height / 2 - 25;
  region.bottom = region.top + 50;
  const int64_t seamX = int64_t{seam} * (width / cameraCount);
  if (seamX >= width) return std::nullopt;  // no such seam in this image
  const auto half = static_cast<int64_t>(std::trunc(25 * r));
  int64_t left = seamX - half;
  int64_t right = left - static_cast<int64_t>(std::trunc(-50 * r));
  // Keep the region inside the image, its size where the image allows.
  if (left < 0) {
    right -= left;
    left = 0;
  }
  if (right > width) {
    left = std::max<int64_t>(0, left - (right - width));
    right = width;
  }
  region.left = static_cast<int32_t>(left);
  region.right = static_cast<int32_t>(right);
  region.top = std::clamp(region.top, 0, height);
  region.bottom = std::clamp(region.bottom, region.top, height);
  if (region.bottom == region.top) region.bottom = std::min(height, region.top + 1);
  return region;
}

ManualStitchModel::ManualStitchModel(CTrennic& scanner, ManualStitchHost& host, ScanSettingsRecord& scan,
                                     MiscSettingsRecord& misc)
    : scanner_(scanner), host_(host), s_(scan), m_(misc) {
  for (int k = 0; k < 5; ++k) {
    for (int id : {kFrontBack[k], kFrontBackText[k], kStitch[k], kStitchText[k], kSeamLabel[k]}) controls_[id];
    controls_[kFrontBack[k]].low = 0;
    controls_[kFrontBack[k]].high = kFrontBackMax;
    controls_[kStitch[k]].low = 0;
    controls_[kStitch[k]].high = kStitchMax;
  }
  for (int id : kZoom) controls_[id];
  for (int id : {kTestScan, kStop, kRevert, kOk}) controls_[id];
}

bool ManualStitchModel::Scanning() const { return (host_.Status() & Bits(ScanState::Scanning)) != 0; }
bool ManualStitchModel::DecisionPending() const {
  return (host_.Status() & Bits(ScanState::DecisionPending)) != 0;
}

void ManualStitchModel::OnInitDialog() {
  saved_ = s_;
  open_ = true;
  closePending_ = false;
  SetTextField(s_.OutputFileName, WorkingFolder() + "/~QelManualStitch.tmp");
  DramDataType d{};
  if (!scanner_.RetrieveDramDiagnostic(&d)) d = DramDataType{};  // a failed read shows zeros
  for (int k = 0; k < 5; ++k) {
    dramFrontBack_[k] = d.Data[kDramFrontBack[k]];
    dramStitch_[k] = d.Data[kDramStitch[k]];
  }
  Revert();
  const int groups = VisibleSeamGroups(s_.CameraCount);
  for (int k = 0; k < 5; ++k) {
    const bool shown = k < groups;
    for (int id : {kFrontBack[k], kFrontBackText[k], kStitch[k], kStitchText[k], kSeamLabel[k]})
      controls_[id].shown = shown;
  }
  // Zoom buttons 2 to 4 go with seam groups 3 to 5.
  for (int z = 1; z < 4; ++z) controls_[kZoom[z]].shown = z + 1 < groups;
  OnTimer();
}

void ManualStitchModel::Revert() {
  for (int k = 0; k < 5; ++k) {
    // A value beyond a slider's range (damaged camera data) is shown and sent at its end.
    frontBack_[k] = std::min<uint8_t>(dramFrontBack_[k], kFrontBackMax);
    stitch_[k] = std::min<uint8_t>(dramStitch_[k], kStitchMax);
    controls_[kFrontBack[k]].position = kFrontBackMax - frontBack_[k];
    controls_[kFrontBackText[k]].text = std::to_string(frontBack_[k]);
    controls_[kStitch[k]].position = stitch_[k];
    controls_[kStitchText[k]].text = std::to_string(stitch_[k]);
  }
  SendFrontBack();
  SendStitch();
}

void ManualStitchModel::SendFrontBack() {
  const auto& v = frontBack_;
  if (SeamValuesSent(s_.CameraCount) == 5)
    (void)scanner_.SetFrontBackAlign(v[0], v[1], v[2], v[3], v[4]);
  else
    (void)scanner_.SetFrontBackAlign(v[0], v[1], v[2]);
}

void ManualStitchModel::SendStitch() {
  const auto& v = stitch_;
  if (SeamValuesSent(s_.CameraCount) == 5)
    (void)scanner_.SetLeftRightStitch(v[0], v[1], v[2], v[3], v[4]);
  else
    (void)scanner_.SetLeftRightStitch(v[0], v[1], v[2]);
}

void ManualStitchModel::OnScroll(int sliderId, SliderCode code) {
  const int* fb = std::find(std::begin(kFrontBack), std::end(kFrontBack), sliderId);
  const int* st = std::find(std::begin(kStitch), std::end(kStitch), sliderId);
  const bool frontBack = fb != std::end(kFrontBack);
  if (!frontBack && st == std::end(kStitch)) return;
  const size_t k = static_cast<size_t>(frontBack ? fb - kFrontBack : st - kStitch);
  auto value = [&](size_t i) {
    const int position = controls_[frontBack ? kFrontBack[i] : kStitch[i]].position;
    return frontBack ? kFrontBackMax - std::clamp(position, 0, kFrontBackMax) : std::clamp(position, 0, kStitchMax);
  };
  controls_[frontBack ? kFrontBackText[k] : kStitchText[k]].text = std::to_string(value(k));
  if (code == SliderCode::ThumbTrack || code == SliderCode::EndScroll) return;
  for (size_t i = 0; i < 5; ++i) {
    const auto v = static_cast<uint8_t>(value(i));
    (frontBack ? frontBack_ : stitch_)[i] = v;
  }
  if (frontBack)
    SendFrontBack();
  else
    SendStitch();
}

bool ManualStitchModel::OnTimer() {
  const bool scanning = Scanning();
  for (int id : {kTestScan, kOk, kRevert}) controls_[id].enabled = !scanning;
  controls_[kStop].enabled = scanning;
  for (int k = 0; k < 5; ++k)
    for (int id : {kFrontBack[k], kFrontBackText[k], kStitch[k], kStitchText[k]}) controls_[id].enabled = !scanning;
  for (int id : kZoom) controls_[id].enabled = !scanning && DecisionPending();
  if (closePending_ && !scanning) {
    FinishClose();
    return true;
  }
  return false;
}

void ManualStitchModel::OnTestScan() {
  if (Scanning() || closePending_) return;
  const std::string name = TextField(s_.OutputFileName);
  if (!name.empty()) ::unlink(name.c_str());
  s_.CustomWidth = s_.MaxWidth;
  s_.CustomLength = 3000;
  s_.AreaLeft = 0;
  s_.AreaTop = 0;
  s_.WindowVendorOption = 1;
  s_.SizeMode = 2;
  s_.ResolutionIndex = 0;
  SetTextField(s_.ResolutionText, std::to_string(s_.OpticalDpi));
  s_.GammaRed = s_.GammaGreen = s_.GammaBlue = 1.0f;
  s_.ColourMode = 3;
  s_.WhiteLevel = 255;
  s_.BlackLevel = 0;
  s_.ScanBrightness = 5;
  s_.ScanSpeed = 3;
  s_.LeftOffsetMode = 0;
  s_.BatchScan = 0;
  s_.OutputIsPlainTiff = 1;
  if (!DecisionPending()) {
    host_.SendToFrame(WM_SCANNER_LOAD, 1);
    host_.SendToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT);
  } else {
    host_.SendToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_DISCARD_RESTART);
  }
}

void ManualStitchModel::OnStop() { host_.SendToFrame(WM_SCAN_STOP); }

void ManualStitchModel::OnZoom(int seam) {
  int32_t w = 0, h = 0, cw = 0, ch = 0;
  if (!host_.ActiveImage(&w, &h, &cw, &ch)) return;
  if (auto region = SeamZoomRegion(seam, w, h, cw, ch, s_.CameraCount)) host_.ShowRegion(*region);
}

bool ManualStitchModel::OnClose() {
  if (!open_) return true;
  if (Scanning()) {
    // The settings the scan reads stay until it has ended.
    closePending_ = true;
    host_.SendToFrame(WM_SCAN_STOP);
    return false;
  }
  FinishClose();
  return true;
}

void ManualStitchModel::FinishClose() {
  closePending_ = false;
  open_ = false;
  if (DecisionPending()) host_.SendToFrame(WM_SCAN_REJECT_PAGE);
  s_ = saved_;
  host_.RefreshOutputPage();
}

}  // namespace orb
