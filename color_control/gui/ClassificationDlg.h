// The modeless classification dialog: a thin window over the control and its model.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include "color_control/HueflockSettings.h"
#include "color_control/TintwellCtrl.h"

class PaletteView;
class MergeListBox;
class wxChoice;
class wxSlider;
class wxTextCtrl;
class wxStaticText;
class wxButton;
class wxToggleButton;
class wxCheckBox;
class wxRadioButton;
class wxScrollBar;
class wxScrollEvent;
class wxPanel;

class CClassificationDlg : public wxDialog {
public:
  // Control ids of the dialog, as its help topics know them.
  enum Id {
    kViewFrame = 207, kCountSlider = 215, kCountBox = 216, kClassify = 217, kGrid = 221,
    kHistogram = 222, kCube = 223, kUndo = 224, kScroll = 225, kSortValue = 227, kCountLabel = 228,
    kHelp = 230, kPick = 240, kArea = 241, kReplace = 242, kSortCombo = 252, kSortName = 254,
    kMergeList = 257, kUnmerge = 260, kMergeLabel = 261, kMergedTo = 264, kRed = 2239,
    kGreen = 2240, kBlue = 2241, kRedBox = 2244, kGreenBox = 2245, kBlueBox = 2246,
    kSwatch = 2248, kChooseColor = 3, kRgbDisplay = 203, kPaletteDisplay = 204,
  };

  CClassificationDlg(wxWindow* parent, CTintwellCtrl& ctrl);
  ~CClassificationDlg() override;

  // The control is going away before the dialog: forget it.
  void Detach() { ctrl_ = nullptr; }
  std::function<void()> onGone;

  void RedrawAll();
  void MakeCurrent(int position);
  void SetCountRange(int max, int pos);
  void EnableClassify(bool on);
  void StartRefreshTimer() { refresh_.StartOnce(250); }
  // 1 OK, 2 Cancel.
  void Finish(uint32_t state);

  PaletteView* View() { return view_; }

private:
  void BuildControls();
  void ApplySettings(const HueflockSettings& s);
  void OnSort(wxCommandEvent&);
  void OnViewRadio(wxCommandEvent& e);
  void OnClassify(wxCommandEvent&);
  void OnUndo(wxCommandEvent&);
  void OnUnmerge(wxCommandEvent&);
  void OnColorSlider(wxScrollEvent& e);
  void OnCountSlider(wxScrollEvent& e);
  void OnHistScroll(wxScrollEvent& e);
  void OnToggle(wxCommandEvent& e);
  void OnReplace(wxCommandEvent&);
  void OnChooseColor(wxCommandEvent&);
  void OnMerge(int target);
  void UpdateLabels();
  void UpdateScrollBar();
  void ShowComponents();

  CTintwellCtrl* ctrl_;
  CClassificationModel& model_;
  wxTimer refresh_;
  bool inDrag_ = false;
  int view_kind_ = 0;
  PaletteView* view_ = nullptr;
  MergeListBox* mergeList_ = nullptr;
  wxChoice* sort_ = nullptr;
  wxSlider* count_ = nullptr;
  wxTextCtrl* countBox_ = nullptr;
  wxButton *classify_ = nullptr, *undo_ = nullptr, *unmerge_ = nullptr;
  wxSlider* rgb_[3] = {};
  wxTextCtrl* rgbBox_[3] = {};
  wxStaticText *sortName_ = nullptr, *sortValue_ = nullptr, *countLabel_ = nullptr,
               *mergeLabel_ = nullptr, *mergedTo_ = nullptr;
  wxPanel* swatch_ = nullptr;
  wxToggleButton *pick_ = nullptr, *area_ = nullptr, *rgbDisplay_ = nullptr, *palDisplay_ = nullptr;
  wxCheckBox* replace_ = nullptr;
  wxRadioButton* radios_[3] = {};
  wxScrollBar* scroll_ = nullptr;
};
