// The manual stitch dialog without widgets: the camera seam corrections stored in a
// SCSI-family scanner (front/back alignment and left/right stitch of up to five seams),
// shown on sliders, sent to the scanner as they change, a test scan of a sheet at the
// optical resolution, and zooming the view onto each seam of that scan.
//
// While the dialog is open the scan settings are the test scan's; closing restores the
// user's settings. A close asked for while the test scan runs stops the scan first and
// restores the settings only once it has ended, never in the middle of it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "scanning/ScanOutputPageModel.h"
#include "scanning/ScanSettingsPages.h"

class CTrennic;

namespace orb {

namespace stitch_ids {
inline constexpr int kFrontBack[5] = {1206, 1212, 1217, 1222, 1229};
inline constexpr int kFrontBackText[5] = {1208, 1214, 1219, 1224, 1235};
inline constexpr int kStitch[5] = {1207, 1213, 1218, 1223, 1233};
inline constexpr int kStitchText[5] = {1209, 1215, 1220, 1225, 1236};
inline constexpr int kSeamLabel[5] = {1211, 1216, 1221, 1228, 1237};
inline constexpr int kZoom[4] = {1128, 1129, 1130, 1131};
inline constexpr int kTestScan = 1227;
inline constexpr int kStop = 1230;
inline constexpr int kRevert = 1226;
inline constexpr int kOk = 1;
inline constexpr int kTemplateId = 217;
inline constexpr int kFrontBackMax = 14;
inline constexpr int kStitchMax = 200;
}  // namespace stitch_ids

// Byte offsets of the seam values in the scanner's camera data.
inline constexpr int kDramFrontBack[5] = {37, 38, 39, 13, 14};
inline constexpr int kDramStitch[5] = {5, 6, 7, 10, 11};

class ManualStitchHost {
 public:
  virtual ~ManualStitchHost() = default;
  virtual intptr_t SendToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  virtual uint32_t Status();
  // The active document's working image (pixels) and the view's client size; false when
  // there is none.
  virtual bool ActiveImage(int32_t* width, int32_t* height, int32_t* clientWidth, int32_t* clientHeight) {
    (void)width, (void)height, (void)clientWidth, (void)clientHeight;
    return false;
  }
  // Makes `region` the working image's shown region and tells the thumbnail dialog.
  virtual void ShowRegion(const Rect& region) { (void)region; }
  // The scan output page sets itself up again from the settings.
  virtual void RefreshOutputPage() {}
};

// The part of a test scan that zoom to seam `seam` (1 to 4) shows, for an image of
// `width` x `height` pixels in a view of the given client size with `cameraCount` from the
// settings; nullopt when there is no such part (no image, no cameras, or the seam lies
// outside the image). The region is kept inside the image.
std::optional<Rect> SeamZoomRegion(int seam, int32_t width, int32_t height, int32_t clientWidth,
                                   int32_t clientHeight, int32_t cameraCount);

// How many seam groups the dialog shows for a camera count (2, 3 or 5), and how many
// values each command sends (3 or 5).
int VisibleSeamGroups(int32_t cameraCount);
int SeamValuesSent(int32_t cameraCount);

class ManualStitchModel {
 public:
  ManualStitchModel(CTrennic& scanner, ManualStitchHost& host, ScanSettingsRecord& scan = ScanSettings,
                    MiscSettingsRecord& misc = MiscSettings);

  ControlState& Control(int id) { return controls_[id]; }
  const std::map<int, ControlState>& Controls() const { return controls_; }

  void OnInitDialog();
  void Revert();
  // A slider moved; the model reads the positions of the sliders of that kind.
  void OnScroll(int sliderId, SliderCode code);
  // The 250 ms timer. True when a close that waited for the test scan may now be done
  // (the window is then to be destroyed).
  bool OnTimer();
  void OnTestScan();
  void OnStop();
  void OnZoom(int seam);
  // OK or Cancel. True when the window may go now; false when the test scan is being
  // stopped first (OnTimer then says when).
  bool OnClose();

  const std::array<uint8_t, 5>& FrontBack() const { return frontBack_; }
  const std::array<uint8_t, 5>& Stitch() const { return stitch_; }
  bool ClosePending() const { return closePending_; }

 private:
  void SendFrontBack();
  void SendStitch();
  void FinishClose();
  bool Scanning() const;
  bool DecisionPending() const;

  CTrennic& scanner_;
  ManualStitchHost& host_;
  ScanSettingsRecord& s_;
  MiscSettingsRecord& m_;
  ScanSettingsRecord saved_;
  std::map<int, ControlState> controls_;
  std::array<uint8_t, 5> frontBack_{};
  std::array<uint8_t, 5> stitch_{};
  std::array<uint8_t, 5> dramFrontBack_{};
  std::array<uint8_t, 5> dramStitch_{};
  bool open_ = false;
  bool closePending_ = false;
};

}  // namespace orb
