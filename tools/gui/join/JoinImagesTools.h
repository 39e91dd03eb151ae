// The join tool's page of the other tools tab: makes the join canvas (a document of its
// own), adds items to it, sets the mode and joins. The canvas view calls the page's view
// hooks; the geometry, drawing and writing are the display-free JoinModel, JoinPainter and
// JoinOutput.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolPage.h"
#include "tools/join/JoinModel.h"
#include "tools/join/JoinOutput.h"
#include "tools/join/JoinPainter.h"

class wxCheckBox;
class wxDocument;
class wxRadioButton;
class wxTextCtrl;

class CJoinImagesTools : public CToolPage, public orb::IToolViewHooks {
 public:
  static constexpr int kTemplate = 274;
  // Controls.
  static constexpr int kMakeCanvas = 1349;
  static constexpr int kAdd = 1019;
  static constexpr int kJoin = 1360;
  static constexpr int kWidth = 1356;
  static constexpr int kHeight = 1357;
  static constexpr int kShowEdges = 1364;
  static constexpr int kDeleteSources = 1363;
  static constexpr int kCropToItems = 1417;
  static constexpr int kAlpha = 1369;
  static constexpr int kModeAlign = 1414;
  static constexpr int kModeFree = 1415;
  static constexpr int kModeSeam = 1416;
  // View context commands.
  static constexpr int kCmdRemove = 40017;
  static constexpr int kCmdSelect = 40018;
  static constexpr int kCmdClearSelection = 40019;
  static constexpr int kCmdFirstPoint = 157;
  static constexpr int kCmdSecondPoint = 158;
  static constexpr int kCmdNudgeRight = 159;
  static constexpr int kCmdNudgeLeft = 160;
  static constexpr int kCmdNudgeUp = 161;
  static constexpr int kCmdNudgeDown = 162;

  CJoinImagesTools();
  ~CJoinImagesTools() override;

  void UpdateControls() override;
  void OnOK() override {}
  void OnHScroll(int code, int position, int sliderId) override;

  // Button 1349: makes the canvas, or brings the existing one forward at the new size.
  void MakeCanvas();
  // Button 1019 after its dialog: adds the file (message 33150 when it cannot join).
  bool AddImage(const std::string& path);
  // Button 1360 after its dialog: joins into `path`; the canvas becomes that image.
  orb::join::JoinResult JoinAndSave(const std::string& path);
  // The mode radios: false (message 34006, previous mode kept) when refused.
  bool SetMode(uint32_t mode);

  orb::join::JoinModel& Model() { return m_model; }
  // Asks for the output's name (the proposed one given); empty for cancel. Unset: the
  // save dialog.
  std::function<std::string(const std::string&)> chooseOutput;
  ImageState* CanvasImage();

  // View hooks.
  bool IsShowing(const orb::ViewContext& view) const override;
  uint16_t HitTest(const orb::ViewContext& view, orb::Point p) override;
  uint16_t OnButtonDown(const orb::ViewContext& view, orb::Point p) override;
  void OnDrag(const orb::ViewContext& view, uint16_t mode, orb::Point p) override;
  void Paint(const orb::ViewContext& view, orb::ViewCanvas& canvas) override;
  bool PaintsPicture(const orb::ViewContext& view) const override { return IsShowing(view); }
  void OnViewUpdated(const orb::ViewContext& view) override;
  bool OnViewCommand(const orb::ViewContext& view, int id) override;

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  bool CanvasAlive() const;
  void ForgetCanvas();
  void SyncCanvasRecord();
  void BuildPictures(int32_t zoom);
  void UpdateButtons();
  void ShowModeControls();
  void Repaint();
  void OnAddButton();
  void OnJoinButton();
  void OnSizeEdit(wxTextCtrl* edit, int32_t& value);
  orb::join::HitContext Hits(const orb::ViewContext& view) const;

  orb::join::JoinModel m_model;
  std::vector<orb::join::ItemPicture> m_pictures;
  wxDocument* m_canvasDoc = nullptr;  // compared with the open documents, never followed blindly
  ImageState* m_canvas = nullptr;
  orb::ScopedViewTool m_registration{orb::ViewToolRole::Join, this};

  wxTextCtrl* m_width = nullptr;
  wxTextCtrl* m_height = nullptr;
  wxCheckBox* m_showEdges = nullptr;
  wxCheckBox* m_deleteSources = nullptr;
  wxCheckBox* m_crop = nullptr;
  wxSlider* m_alpha = nullptr;
  wxRadioButton* m_modes[3] = {};
  std::vector<wxWindow*> m_freeOnly;
  std::vector<wxWindow*> m_withCanvas;
};
