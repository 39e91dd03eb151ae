// The pages of the geometry and colour tools: rotate by 90, reduce resolution, palette
// conversion, deskew and crop on the tools page, and the two-page split on the other tools
// page. Each is thin: its controls edit the tool's setting, and the display-free code in
// tools/transform/ does the work (the crop rectangle, the deskew line and the split line
// are view hooks there; the pages register them while they exist).
#pragma once

#include <memory>

#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolPage.h"
#include "tools/transform/Crop.h"
#include "tools/transform/Deskew.h"
#include "tools/transform/Split.h"

class wxTextCtrl;
class wxShowEvent;

class CRotate90Tools : public CToolPage {
 public:
  static constexpr int kTemplate = 203;
  CRotate90Tools();
  void UpdateControls() override;
  void OnOK() override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;
};

class CReduceResTools : public CToolPage {
 public:
  static constexpr int kTemplate = 275;
  CReduceResTools();
  ~CReduceResTools() override;
  void UpdateControls() override;
  void OnOK() override;
  // Edit 1422 lost the focus: the typed value, held in range, becomes the setting.
  void CommitValue();
  int32_t Value() const { return m_value; }

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  int32_t m_value;
};

class CPaletteTools : public CToolPage {
 public:
  static constexpr int kTemplate = 197;
  CPaletteTools();
  void UpdateControls() override;
  void OnOK() override;
  void OnMode(int mode);

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;

  // The threshold dialog before a conversion to black and white; false when cancelled.
  bool ChooseThreshold(ImageState* image);

 private:
  void SavePalette(bool sixteen);
};

class CDeskewTools : public CToolPage {
 public:
  static constexpr int kTemplate = 190;
  CDeskewTools();
  void UpdateControls() override;
  void OnOK() override;
  void OnReset() override;
  // Measures the active image's skew and shows it.
  void OnMeasure();
  orb::tools::DeskewHooks& Hooks() { return m_hooks; }
  void ShowAngle();

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  void CommitAngle();
  void OnShow(wxShowEvent& e);
  orb::tools::DeskewHooks m_hooks;
  orb::ScopedViewTool m_registered{orb::ViewToolRole::Deskew, &m_hooks};
};

class CCropTools : public CToolPage {
 public:
  static constexpr int kTemplate = 192;
  CCropTools();
  void OnOK() override;
  void OnReset() override;
  orb::tools::CropHooks& Hooks() { return m_hooks; }

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  void OnShow(wxShowEvent& e);
  orb::tools::CropHooks m_hooks;
  orb::ScopedViewTool m_registered{orb::ViewToolRole::Crop, &m_hooks};
};

class CAcceptAs2ImagesTools : public CToolPage {
 public:
  static constexpr int kTemplate = 276;
  CAcceptAs2ImagesTools();
  void UpdateControls() override;
  void OnOrientation(int orientation);
  // The accept path's split of the active scan (0 ran, -1 did not).
  int Apply();
  orb::tools::SplitHooks& Hooks() { return m_hooks; }
  // The host attached `image`: a new one gets the line in its middle.
  void FollowImage(const ImageState* image);

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;

 private:
  orb::tools::SplitHooks m_hooks;
  const ImageState* m_centredFor = nullptr;
  orb::Point m_centredSize{};
  orb::ScopedViewTool m_registered{orb::ViewToolRole::Split, &m_hooks};
};
