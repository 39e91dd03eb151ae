#include "tools/gui/transform/TransformPages.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ThresholdPages.h"
#include "tools/gui/ToolStrings.h"
#include "tools/transform/PaletteConvert.h"
#include "tools/transform/ReduceRes.h"
#include "tools/transform/Rotate90.h"

using namespace orb::tools;

namespace {

constexpr int kStrTurnLeft = 35703, kStrResolution = 35706, kStrColour24 = 35707;
constexpr int kStrSave16 = 35712, kStrSave256 = 35713, kStrAngle = 35714, kStrClockwise = 35715;
constexpr int kStrMeasure = 35717, kStrHorizontal = 35718, kStrCropHelp = 35720, kStrDeskewHelp = 35721;
constexpr int kMsgPaletteCopyFailed = 35722;

constexpr int kTurnRadios[3] = {1109, 1111, 1112};
constexpr int kResEdit = 1422;
// The mode radios in mode order: colour, 256, 16, grey, black and white.
constexpr int kModeRadios[5] = {1100, 1101, 1106, 1102, 1104};
constexpr int kModeLabels[5] = {35707, 35708, 35709, 35710, 35711};
constexpr int kSave16 = 1232, kSave256 = 1234;
constexpr int kAngleEdit = 1075, kSenseRadios[2] = {1076, 1077}, kMeasure = 1079;
constexpr int kSplitRadios[2] = {1426, 1427};

template <typename T>
T* Find(wxWindow* page, int id) {
  return dynamic_cast<T*>(page->FindWindow(id));
}

// A column of radio buttons, the first starting their group.
void AddRadios(wxWindow* page, wxSizer* sizer, const int* ids, const int* labels, int count,
               const std::function<void(int)>& chosen) {
  for (int i = 0; i < count; ++i) {
    auto* r = new wxRadioButton(page, ids[i], ToolStr(labels[i]), wxDefaultPosition, wxDefaultSize,
                                i == 0 ? wxRB_GROUP : 0);
    r->Bind(wxEVT_RADIOBUTTON, [chosen, i](wxCommandEvent&) { chosen(i); });
    sizer->Add(r, 0, wxALL, 3);
  }
}

void Check(wxWindow* page, int id) {
  if (auto* r = Find<wxRadioButton>(page, id)) r->SetValue(true);
}

void Redraw() {
  if (ToolDocumentHost* host = GetToolDocumentHost()) host->UpdateView(kViewHintRedraw);
}

void RefreshHosts() {
  if (CToolPage::s_refreshHosts) CToolPage::s_refreshHosts();
}

}  // namespace

// ----- rotate by 90 ----------------------------------------------------------------------

CRotate90Tools::CRotate90Tools() : CToolPage(kToolRotate90) {}

uint8_t* CRotate90Tools::EnabledByte() { return &Rotate90Settings.enabled; }

void CRotate90Tools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  const int labels[3] = {kStrTurnLeft, kStrTurnLeft + 1, kStrTurnLeft + 2};
  AddRadios(this, sizer, kTurnRadios, labels, 3, [](int i) { Rotate90Settings.Direction = i; });
  AddApply(sizer);
}

void CRotate90Tools::UpdateControls() {
  const int d = Rotate90Settings.Direction;
  Check(this, kTurnRadios[d >= 0 && d <= 2 ? d : 1]);
  SetToggle(Rotate90Settings.enabled != 0);
  OnEnable();
}

void CRotate90Tools::OnOK() {
  TurnActiveImage(Rotate90Settings.Direction);
  RefreshHosts();
}

// ----- reduce resolution -------------------------------------------------------------------

CReduceResTools::CReduceResTools() : CToolPage(kToolReduceRes), m_value(LoadReduceResSetting(DataFolder())) {}

CReduceResTools::~CReduceResTools() { SaveReduceResSetting(DataFolder(), m_value); }

void CReduceResTools::BuildControls(wxSizer* sizer) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrResolution)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  auto* edit = new wxTextCtrl(this, kResEdit, wxEmptyString, wxDefaultPosition, wxSize(80, -1));
  edit->SetMaxLength(16);
  edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    CommitValue();
    e.Skip();
  });
  row->Add(edit, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(row, 0, wxALL, 4);
  AddApply(sizer);
}

void CReduceResTools::UpdateControls() {
  int32_t shown = m_value;
  if (ImageState* image = ActiveToolImage()) shown = ReduceResShown(m_value, image->xDpi);
  if (auto* e = Find<wxTextCtrl>(this, kResEdit)) e->ChangeValue(wxString::Format("%d", shown));
}

void CReduceResTools::CommitValue() {
  ImageState* image = ActiveToolImage();
  auto* e = Find<wxTextCtrl>(this, kResEdit);
  if (!image || !e) return;  // without an image the edit keeps what was typed
  const long typed = std::strtol(e->GetValue().Left(16).utf8_str(), nullptr, 10);
  m_value = ReduceResCommitted(static_cast<int32_t>(std::clamp<long>(typed, 0, 1 << 20)), image->xDpi);
  e->ChangeValue(wxString::Format("%d", m_value));
}

void CReduceResTools::OnOK() {
  CommitValue();
  ReduceActiveImage(m_value);
  RefreshHosts();
}

// ----- palette conversion ------------------------------------------------------------------

CPaletteTools::CPaletteTools() : CToolPage(kToolPalette) {}

uint8_t* CPaletteTools::EnabledByte() { return &PaletteSettings.enabled; }

void CPaletteTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddRadios(this, sizer, kModeRadios, kModeLabels, 5, [this](int i) { OnMode(i); });
  auto* save16 = new wxButton(this, kSave16, ToolStr(kStrSave16));
  save16->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SavePalette(true); });
  auto* save256 = new wxButton(this, kSave256, ToolStr(kStrSave256));
  save256->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SavePalette(false); });
  sizer->Add(save16, 0, wxALL, 3);
  sizer->Add(save256, 0, wxALL, 3);
  AddApply(sizer);
}

void CPaletteTools::OnMode(int mode) {
  PaletteSettings.ConvertTo = static_cast<uint32_t>(mode);
  Check(this, kModeRadios[mode]);
  if (auto* ok = Find<wxButton>(this, wxID_OK)) ok->Enable();
  // The after-scan conversion skips black and white: no toggle for it.
  if (auto* t = FindWindow(IDC_TOOL_ENABLE)) t->Enable(mode != kToBilevel);
}

void CPaletteTools::UpdateControls() {
  if (orb::IsScanning()) return;
  const int mode = EffectivePaletteMode(static_cast<int>(PaletteSettings.ConvertTo));
  PaletteSettings.ConvertTo = static_cast<uint32_t>(mode >= kToRgb && mode <= kToBilevel ? mode : kToRgb);
  OnMode(static_cast<int>(PaletteSettings.ConvertTo));
  SetToggle(PaletteSettings.enabled != 0);
  ImageState* image = ActiveToolImage();
  bool checkedOffered = true;
  for (int m = 0; m < 5; ++m) {
    auto* r = Find<wxRadioButton>(this, kModeRadios[m]);
    if (!r) continue;
    const bool offered = !image || image->kind >= IK_BW_SEPARATES || IsOfferedConversion(image->kind, m);
    r->Enable(offered);
    if (!offered && r->GetValue()) checkedOffered = false;
  }
  const bool hasFile = image && !image->paletteFilePath.empty();
  if (auto* b = FindWindow(kSave16)) b->Enable(hasFile && image->kind == IK_PALETTE16);
  if (auto* b = FindWindow(kSave256)) b->Enable(hasFile && image->kind == IK_PALETTE256);
  if (auto* ok = Find<wxButton>(this, wxID_OK)) ok->Enable(image && checkedOffered);
}

void CPaletteTools::OnOK() {
  const int mode = static_cast<int>(PaletteSettings.ConvertTo);
  ImageState* image = ActiveToolImage();
  if (image && EffectivePaletteMode(mode) == kToBilevel && IsOfferedConversion(image->kind, mode) &&
      !ChooseThreshold(image))
    return;  // the threshold dialog was cancelled: nothing changes
  ConvertActiveImage(mode);
  RefreshHosts();
  UpdateControls();
}

bool CPaletteTools::ChooseThreshold(ImageState* image) {
  // While the dialog is open the view shows the grey image as the threshold makes it black
  // and white, and follows the dialog's changes; the image itself is left as it was.
  const ImageKind kind = image->kind;
  const uint8_t pending = image->thresholdPending, edited = image->edited;
  image->kind = IK_BW_SAVED_AS_4;
  Redraw();
  int result = -1;
  {
    CBWThreshDlg dlg(wxGetTopLevelParent(this));
    result = dlg.RunModal();
  }
  image->kind = kind;
  image->thresholdPending = pending;
  image->edited = edited;
  Redraw();
  return result == 0;
}

void CPaletteTools::SavePalette(bool sixteen) {
  ImageState* image = ActiveToolImage();
  if (!image || image->paletteFilePath.empty()) return;
  wxFileDialog dlg(this, wxEmptyString, wxString::FromUTF8(DataFolder()), "*.apt", "Palette Files(*.apt)|*.apt",
                   wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dlg.ShowModal() != wxID_OK) return;
  const std::string target = dlg.GetPath().utf8_string();
  std::error_code ec;
  std::filesystem::copy_file(image->paletteFilePath, target, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    orb::Notify(kMsgPaletteCopyFailed, orb::MessageIcon::Error, {orb::MessageArg{target}});
    return;
  }
  char* field = sixteen ? ScanSettings.Palette16File : ScanSettings.Palette256File;
  std::snprintf(field, orb::kPathField, "%s", target.c_str());
}

// ----- deskew ----------------------------------------------------------------------------

CDeskewTools::CDeskewTools() : CToolPage(kToolDeskew) {
  m_hooks.SetOnChange([this] { ShowAngle(); });
}

void CDeskewTools::BuildControls(wxSizer* sizer) {
  sizer->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrDeskewHelp)), 0, wxALL, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrAngle)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  auto* edit = new wxTextCtrl(this, kAngleEdit, wxEmptyString, wxDefaultPosition, wxSize(80, -1));
  edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    CommitAngle();
    e.Skip();
  });
  row->Add(edit, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(row, 0, wxALL, 4);
  const int labels[2] = {kStrClockwise, kStrClockwise + 1};
  AddRadios(this, sizer, kSenseRadios, labels, 2, [this](int i) {
    DeskewAngle a = m_hooks.Angle();
    a.flag = static_cast<uint8_t>(i);
    m_hooks.SetAngle(a);
  });
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  AddReset(buttons);
  auto* measure = new wxButton(this, kMeasure, ToolStr(kStrMeasure));
  measure->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnMeasure(); });
  buttons->Add(measure, 0, wxALL, 3);
  AddApply(buttons);
  sizer->Add(buttons);
  Bind(wxEVT_SHOW, &CDeskewTools::OnShow, this);
}

void CDeskewTools::ShowAngle() {
  if (auto* e = Find<wxTextCtrl>(this, kAngleEdit)) e->ChangeValue(wxString::Format("%02.2f", m_hooks.Angle().angle));
  Check(this, kSenseRadios[m_hooks.Angle().flag ? 1 : 0]);
}

void CDeskewTools::CommitAngle() {
  auto* e = Find<wxTextCtrl>(this, kAngleEdit);
  if (!e) return;
  double v = 0;
  if (!e->GetValue().ToCDouble(&v) || !(v >= 0 && v <= 45)) v = m_hooks.Angle().angle;
  DeskewAngle a = m_hooks.Angle();
  a.angle = v;
  m_hooks.SetAngle(a);
  // Shown to two places; the value typed is the one applied.
  e->ChangeValue(wxString::Format("%02.2f", v));
}

void CDeskewTools::UpdateControls() {
  if (ImageState* image = ActiveToolImage()) {
    if (m_hooks.A().x == 0 && m_hooks.A().y == 0 && m_hooks.B().x == 0 && m_hooks.B().y == 0) {
      m_hooks.ResetLine(image->region);
    }
  }
  ShowAngle();
}

void CDeskewTools::OnReset() {
  if (ImageState* image = ActiveToolImage()) m_hooks.ResetLine(image->region);
  ShowAngle();
  Redraw();
}

void CDeskewTools::OnMeasure() {
  DeskewAngle a;
  if (MeasureSkew(ActiveToolImage(), 10.0, &a)) m_hooks.SetAngle(a);
  ShowAngle();
}

void CDeskewTools::OnOK() {
  CommitAngle();
  if (m_hooks.Angle().angle == 0) return;
  if (DeskewActiveImage(m_hooks.Angle()) == 0) {
    if (ImageState* image = ActiveToolImage()) m_hooks.ResetLine(image->region);
    ShowAngle();
    PostApply();
  }
  RefreshHosts();
}

void CDeskewTools::OnShow(wxShowEvent& e) {
  m_hooks.SetShowing(e.IsShown());
  if (e.IsShown()) UpdateControls();
  Redraw();
  e.Skip();
}

// ----- crop --------------------------------------------------------------------------------

CCropTools::CCropTools() : CToolPage(kToolCrop) {}

void CCropTools::BuildControls(wxSizer* sizer) {
  sizer->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrCropHelp)), 0, wxALL, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  AddReset(row);
  AddApply(row);
  sizer->Add(row);
  Bind(wxEVT_SHOW, &CCropTools::OnShow, this);
}

void CCropTools::OnReset() {
  m_hooks.ResetRectangle();
  Redraw();
}

void CCropTools::OnOK() {
  ImageState* image = ActiveToolImage();
  if (!image) return;
  CropActiveImage(m_hooks.Current(*image));
  m_hooks.ResetRectangle();
  PostApply();
  RefreshHosts();
}

void CCropTools::OnShow(wxShowEvent& e) {
  m_hooks.SetShowing(e.IsShown());
  Redraw();
  e.Skip();
}

// ----- two-page split ----------------------------------------------------------------------

CAcceptAs2ImagesTools::CAcceptAs2ImagesTools() : CToolPage(kToolSplit) {
  m_hooks.SetEnabledSource(&AcceptAs2ImagesSettings.enabled);
}

uint8_t* CAcceptAs2ImagesTools::EnabledByte() { return &AcceptAs2ImagesSettings.enabled; }

void CAcceptAs2ImagesTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  const int labels[2] = {kStrHorizontal, kStrHorizontal + 1};
  AddRadios(this, sizer, kSplitRadios, labels, 2, [this](int i) { OnOrientation(i); });
}

void CAcceptAs2ImagesTools::OnOrientation(int orientation) {
  AcceptAs2ImagesSettings.orientation = static_cast<uint8_t>(orientation == kSplitVertical ? 1 : 0);
  Check(this, kSplitRadios[AcceptAs2ImagesSettings.orientation]);
  m_hooks.SetOrientation(AcceptAs2ImagesSettings.orientation);
  if (ImageState* image = ActiveToolImage()) m_hooks.CenterSplitLine(*image);
  Redraw();
}

void CAcceptAs2ImagesTools::UpdateControls() {
  SetToggle(AcceptAs2ImagesSettings.enabled != 0);
  OnEnable();
  OnOrientation(AcceptAs2ImagesSettings.orientation);
}

int CAcceptAs2ImagesTools::Apply() {
  const SplitResult r =
      SplitActiveScan(AcceptAs2ImagesSettings.enabled != 0, m_hooks.Orientation(), m_hooks.Position());
  return r == SplitResult::NoImage || r == SplitResult::NoRoom ? -1 : 0;
}

void CAcceptAs2ImagesTools::FollowImage(const ImageState* image) {
  if (!image) return;
  // A new image (a scan, or a tool's new version of it) gets the line in its middle; the
  // same image keeps where the user dragged it.
  if (image == m_centredFor && image->width == m_centredSize.x && image->height == m_centredSize.y) return;
  m_hooks.SetOrientation(AcceptAs2ImagesSettings.orientation);
  m_hooks.CenterSplitLine(*image);
  m_centredFor = image;
  m_centredSize = orb::Point{image->width, image->height};
}
