// The filter tool pages: brightness and contrast, white and black point (previewed on the
// working image, applied when it is saved), and sharpen/blur, noise removal, despeckle,
// invert and mirror (applied by the apply pipeline as a new, undoable version).
#pragma once

#include "tools/gui/ToolPage.h"

class wxCheckBox;
namespace orb::tools {
struct ApplyPlan;
}

class CBrightContTools : public CToolPage {
 public:
  static constexpr int kTemplate = 195;
  CBrightContTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override { PostApply(); }

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
};

class CBWPointTools : public CToolPage {
 public:
  static constexpr int kTemplate = 196;
  CBWPointTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override { PostApply(); }

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
};

// The two pages with a preview at actual size (noise removal, sharpen/blur).
class CPreviewToolPage : public CToolPage {
 public:
  using CToolPage::CToolPage;
  // The preview check changed.
  void OnPreview();
  // The display cleared the previews (it does not show actual size any more).
  void PreviewCleared();

 protected:
  virtual uint8_t& PreviewByte() = 0;
  void AddPreviewCheck(wxSizer* sizer);
  void ClearPreviewCheck();
  // Draws the view at actual size again while the preview is on.
  void RedrawPreview();
  wxCheckBox* m_preview = nullptr;

 private:
  void OnShow(wxShowEvent& e);
};

class CSharpenTools : public CPreviewToolPage {
 public:
  static constexpr int kTemplate = 198;
  CSharpenTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
  uint8_t& PreviewByte() override;
};

class CDescreenTools : public CPreviewToolPage {
 public:
  static constexpr int kTemplate = 202;
  CDescreenTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnReset() override;
  void OnOK() override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
  uint8_t& PreviewByte() override;
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
