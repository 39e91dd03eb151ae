// The filter tool pages: brightness and contrast, white and black point (previewed on the
// working image, applied when it is saved), and sharpen/blur, noise removal, despeckle,
// invert and mirror (applied by the apply pipeline as a new, undoable version).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "tools/gui/ToolPage.h"

class wxCheckBox;
class wxShowEvent;
namespace orb::tools {
struct ApplyPlan;
enum class PendingFilter;
}

// The two pages of two sliders whose every change the view previews on the working image
// (brightness and contrast, white and black point); applied when the image is saved. What
// differs between them is data.
class CSliderPairPage : public CToolPage {
 public:
  struct Slider {
    int sliderId, textId, captionId;
    int32_t* value;
    int32_t resetValue;
  };
  struct Pair {
    int toolId;
    std::array<Slider, 2> sliders;
    int low, high;
    uint8_t* enabled;
    int (*position)(int value);  // the slider position showing a value
    int (*valueAt)(int position);
    // The position a slider is moved back to when it would cross the other; null: the two
    // move freely.
    std::optional<int> (*orderRule)(bool first, int firstPosition, int secondPosition);
    orb::tools::PendingFilter filter;
  };
  explicit CSliderPairPage(const Pair& pair) : CToolPage(pair.toolId), m_pair(pair) {}
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override { PostApply(); }

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override { return m_pair.enabled; }

 private:
  const Pair m_pair;
};

class CBrightContTools : public CSliderPairPage {
 public:
  static constexpr int kTemplate = 195;
  CBrightContTools();
};

class CBWPointTools : public CSliderPairPage {
 public:
  static constexpr int kTemplate = 196;
  CBWPointTools();
};

// The two pages with one level slider and a preview at actual size (sharpen/blur, noise
// removal): what differs between them is data.
class CPreviewToolPage : public CToolPage {
 public:
  struct Level {
    int toolId;
    int sliderId, low, high, captionId;
    int textId;  // the text showing the level; 0: none
    int32_t* level;
    uint8_t* enabled;
    uint8_t* preview;
    int (*position)(int32_t level);   // the slider position showing a level
    int32_t (*levelAt)(int position);
    int32_t resetLevel;
    std::optional<int32_t> idleLevel;  // a level at which applying changes nothing
    orb::tools::ApplyPlan (*plan)(int32_t level);
  };
  explicit CPreviewToolPage(const Level& level);
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override;
  // The preview check changed.
  void OnPreview();
  // The display cleared the previews (it does not show actual size any more).
  void PreviewCleared();

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override { return m_level.enabled; }
  uint8_t& PreviewByte() { return *m_level.preview; }
  void ClearPreviewCheck();
  // Draws the view at actual size again while the preview is on.
  void RedrawPreview();
  wxCheckBox* m_preview = nullptr;

 private:
  void OnShow(wxShowEvent& e);
  const Level m_level;
};

class CSharpenTools : public CPreviewToolPage {
 public:
  static constexpr int kTemplate = 198;
  CSharpenTools();
};

class CDescreenTools : public CPreviewToolPage {
 public:
  static constexpr int kTemplate = 202;
  CDescreenTools();
};

class CDespeckleTools : public CToolPage {
 public:
  static constexpr int kTemplate = 191;
  CDespeckleTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
};

// A page with the enable toggle and an apply button only (invert, mirror).
class CApplyOnlyTools : public CToolPage {
 public:
  using Plan = orb::tools::ApplyPlan (*)();
  CApplyOnlyTools(int toolId, uint8_t& enabled, Plan plan);
  void UpdateControls() override;
  void OnOK() override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override { return &m_enabled; }

 private:
  uint8_t& m_enabled;
  Plan m_plan;
};

class CInvertTools : public CApplyOnlyTools {
 public:
  static constexpr int kTemplate = 221;
  CInvertTools();
};

class CMirrorTools : public CApplyOnlyTools {
 public:
  static constexpr int kTemplate = 220;
  CMirrorTools();
};
