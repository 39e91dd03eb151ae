// The colour-classification tool page of the other tools tab: it hosts the classification
// control (libtintwell.so), builds palettes from the image (or from marked areas), shows
// the view through the palette while the control's dialog is open, saves palette files,
// makes one the scanner's default palette and applies a palette to the image (a palette
// image, or one black-and-white image per colour). The logic is tools/ColorClassModel.h;
// this is the window over it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "color_control/TintwellHost.h"
#include "color_control/TintwellInterface.h"
#include "tools/ColorClassModel.h"
#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolPage.h"

class wxTextCtrl;
class wxSpinCtrl;
class wxCheckBox;

class CColorClassTools : public CToolPage,
                         public _DTintwellEvents,
                         public orb::IToolViewHooks,
                         public orb::IColourPicking {
 public:
  static constexpr int kTemplate = 129;
  // Control ids.
  static constexpr int kPath = 1327, kBrowse = 1332, kInfo = 1351, kEdit = 1352, kColours = 1343;
  static constexpr int kClassify = 1347, kAddArea = 1339, kDefault = 1334, kSeparate = 1330, kApply = 1350;

  CColorClassTools();
  ~CColorClassTools() override;

  // Whether the classification control could be loaded (without it the host drops the page).
  bool HasControl() const { return m_control != nullptr; }

  void UpdateControls() override;
  void EnableChildren(bool enable) override;
  void OnOK() override { OnApply(); }

  // The page's commands.
  void OnLoadPalette();
  void OnDefaultPalette();
  void OnBuildHistogram();
  void OnClassify();
  void OnApply();
  void OnAddArea();
  // The path typed into the edit is taken (the edit lost the focus); false when refused.
  bool TakeTypedPath();
  // The number of colours typed into the edit.
  void TakeNumberOfColours(const std::string& text);

  const orb::tools::ReportedPalette& Reported() const { return m_reported; }
  const orb::tools::ClassAreas& Areas() const { return m_areas; }

  // ----- the control's events
  void PaletteModified(const uint8_t* pal, uint32_t colours, const uint8_t* lut) override;
  void HueflockDlgClosed(uint32_t state) override;
  void DisplayUsingRGB() override;
  void DisplayUsingPalette() override;
  void RequestCurrentColor() override;
  void CancelRequestCurrentColor() override;
  void RequestMergeArea() override;
  void CancelRequestMergeArea() override;

  // ----- the view's hooks
  bool IsShowing(const orb::ViewContext& view) const override;
  uint16_t HitTest(const orb::ViewContext& view, orb::Point p) override;
  uint16_t OnButtonDown(const orb::ViewContext& view, orb::Point p) override;
  void OnDrag(const orb::ViewContext& view, uint16_t mode, orb::Point p) override;
  void Paint(const orb::ViewContext& view, orb::ViewCanvas& canvas) override;
  bool OnViewCommand(const orb::ViewContext& view, int id) override;
  IColourPicking* ColourPicking() override { return m_control ? this : nullptr; }

  // ----- what the view asks of the control
  void SetCursorToSelectCurrentColor() override;
  void SetCurrentColor(uint8_t classIndex) override;
  void SetCursorToAreaMerge() override;
  void MergeAreaToCurrentColor(const std::array<uint32_t, 256>& flags) override;
  orb::Rect CurrentArea() const override;

 protected:
  void BuildControls(wxSizer* sizer) override;
  // The file dialogs and the question before a file is replaced (tests answer them).
  virtual std::optional<std::string> ChooseOpenPath(const std::string& initial);
  virtual std::optional<std::string> ChooseSavePath(const std::string& initial);
  virtual bool AskReplace(const std::string& target);

 private:
  void StartControl();
  void RefreshEnabling();
  void ShowPath();
  void ShowPaletteInfo();
  void RedrawView(int hint);
  void SetPath(const std::string& path);
  std::string Path() const;

  TintwellLibrary m_library;
  _DTintwell* m_control = nullptr;
  orb::tools::ReportedPalette m_reported;
  orb::tools::ClassAreas m_areas;
  bool m_copying = false;      // a palette report is being shown
  bool m_enabled = true;       // the host's enabling (off while scanning)
  uint16_t m_grip = 0;         // the area's part a drag holds
  orb::Point m_dragFrom{};     // image point of the drag's last step
  wxTextCtrl* m_path = nullptr;
  wxSpinCtrl* m_colours = nullptr;
  wxCheckBox* m_separate = nullptr;
  orb::ScopedViewTool m_registration{orb::ViewToolRole::ColourClass, this};
};
