#include "tools/gui/ColorClassTools.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstring>

#include "color_control/TintwellRegistration.h"
#include "common/AppGlobals.h"
#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

using namespace orb::tools;

namespace {

// Status bits 20 to 23: 20 shows the image in RGB while classifying, 21 through the
// classification palette.
constexpr uint32_t kStatusClassRgb = orb::Bits(orb::StatusBit::ClassRgb);
constexpr uint32_t kStatusClassField = orb::Bits(orb::StatusBit::ClassField);
// View commands of the areas' context menu.
constexpr int kCmdRemoveArea = 139;
constexpr int kCmdRemoveAllAreas = 149;
// Texts of the page.
constexpr int kStrPaletteFile = 35380, kStrBrowse = 35381, kStrEditPalette = 35382, kStrNewColours = 35383;
constexpr int kStrClassify = 35384, kStrAddArea = 35385, kStrDefaultPalette = 35386, kStrSeparate = 35387;
constexpr const char* kPaletteFilter = "Palette files(*.apt)|*.apt";

void SetClassStatus(uint32_t bits) {
  AppStatus.fetch_and(~kStatusClassField);
  AppStatus.fetch_or(bits);
}

ImageState* Image() { return ActiveToolImage(); }

// The toolkit may know the chosen folder and name without the whole path.
std::string ChosenPath(const wxFileDialog& dlg) {
  wxString path = dlg.GetPath();
  if (path.empty() && !dlg.GetFilename().empty()) path = wxFileName(dlg.GetDirectory(), dlg.GetFilename()).GetFullPath();
  return path.utf8_string();
}

}  // namespace

CColorClassTools::CColorClassTools() : CToolPage(kToolColorClass) {}

CColorClassTools::~CColorClassTools() {
  if (m_control) {
    m_control->Unadvise(this);
    m_control->Release();
    m_control = nullptr;
    AppStatus.fetch_and(~(kStatusClassField | orb::Bits(orb::StatusBit::ColourPickRequested) |
                          orb::Bits(orb::StatusBit::AreaMergeRequested)));
  }
}

void CColorClassTools::StartControl() {
  std::string error;
  if (!m_library.LoadRegistered(tintwell::ControlsFolder(), &error) &&
      !m_library.Load(g_szProgramFolder + "/libtintwell.so", &error)) {
    return;
  }
  m_control = m_library.CreateControl(this, this);
}

void CColorClassTools::BuildControls(wxSizer* sizer) {
  StartControl();
  sizer->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrPaletteFile)), 0, wxLEFT | wxTOP, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  m_path = new wxTextCtrl(this, kPath, wxString(), wxDefaultPosition, wxSize(130, -1));
  row->Add(m_path, 1, wxRIGHT, 2);
  row->Add(new wxButton(this, kBrowse, ToolStr(kStrBrowse), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT));
  sizer->Add(row, 0, wxALL | wxEXPAND, 4);
  sizer->Add(new wxStaticText(this, kInfo, wxString()), 0, wxLEFT | wxRIGHT, 4);
  sizer->Add(new wxButton(this, kEdit, ToolStr(kStrEditPalette)), 0, wxALL, 4);
  auto* colours = new wxBoxSizer(wxHORIZONTAL);
  colours->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrNewColours)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
  m_colours = new wxSpinCtrl(this, kColours, wxString(), wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS, 1, 256, 16);
  colours->Add(m_colours);
  sizer->Add(colours, 0, wxALL, 4);
  auto* classify = new wxBoxSizer(wxHORIZONTAL);
  classify->Add(new wxButton(this, kClassify, ToolStr(kStrClassify)), 0, wxRIGHT, 4);
  classify->Add(new wxButton(this, kAddArea, ToolStr(kStrAddArea)));
  sizer->Add(classify, 0, wxALL, 4);
  sizer->Add(new wxButton(this, kDefault, ToolStr(kStrDefaultPalette)), 0, wxALL, 4);
  m_separate = new wxCheckBox(this, kSeparate, ToolStr(kStrSeparate));
  sizer->Add(m_separate, 0, wxALL, 4);
  sizer->Add(new wxButton(this, kApply, ToolStr(kStrApply)), 0, wxALL, 4);

  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLoadPalette(); }, kBrowse);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnClassify(); }, kEdit);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBuildHistogram(); }, kClassify);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAddArea(); }, kAddArea);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDefaultPalette(); }, kDefault);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnApply(); }, kApply);
  m_colours->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { TakeNumberOfColours(m_colours->GetTextValue().ToStdString()); });
  m_colours->Bind(wxEVT_TEXT, [this](wxCommandEvent& e) {
    TakeNumberOfColours(e.GetString().ToStdString());
    e.Skip();
  });
  m_path->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    m_path->SetInsertionPointEnd();
    ShowPaletteInfo();
    e.Skip();
  });
  m_path->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    TakeTypedPath();
    e.Skip();
  });
  Bind(wxEVT_SHOW, [this](wxShowEvent& e) {
    RedrawView(kViewHintRepaint);  // the areas' outlines come and go with the page
    e.Skip();
  });
}

// ----- controls ---------------------------------------------------------------------------

std::string CColorClassTools::Path() const { return orb::GetPathField(ColorClassSettings.PaletteFile); }

void CColorClassTools::SetPath(const std::string& path) {
  orb::SetPathField(ColorClassSettings.PaletteFile, path);
  ShowPath();
  ShowPaletteInfo();
  RefreshEnabling();
}

void CColorClassTools::ShowPath() {
  if (m_path) m_path->ChangeValue(wxString::FromUTF8(Path()));
}

void CColorClassTools::ShowPaletteInfo() {
  auto* info = dynamic_cast<wxStaticText*>(FindWindow(kInfo));
  if (!info) return;
  const int colours = PaletteOutputColours(Path());
  info->SetLabel(colours > 0 ? wxString::Format(ToolStr(kStrPaletteColours), colours) : wxString());
}

void CColorClassTools::UpdateControls() {
  ColorClassSettings.NumColors = std::clamp<int32_t>(ColorClassSettings.NumColors, 1, 256);
  if (m_colours) m_colours->SetValue(ColorClassSettings.NumColors);
  ShowPath();
  ShowPaletteInfo();
  RefreshEnabling();
}

void CColorClassTools::EnableChildren(bool enable) {
  m_enabled = enable;
  CToolPage::EnableChildren(enable);
  if (enable) RefreshEnabling();
}

void CColorClassTools::RefreshEnabling() {
  ImageState* image = Image();
  const bool classifying = (AppStatus.load() & kStatusClassField) != 0;
  const ColorClassEnabling e =
      ColorClassEnablingFor(!Path().empty(), orb::IsScanning() || !m_enabled, image ? image->kind : -1);
  const std::pair<int, bool> states[] = {
      {kEdit, e.edit && !classifying && m_control},
      {kClassify, e.classify && !classifying && m_control},
      {kAddArea, e.addArea && !classifying},
      {kApply, e.apply},
      {kDefault, e.defaultPal},
      {kSeparate, e.separate},
  };
  for (const auto& [id, on] : states) {
    if (wxWindow* w = FindWindow(id)) w->Enable(on);
  }
}

void CColorClassTools::TakeNumberOfColours(const std::string& text) {
  ColorClassSettings.NumColors = ParseNumberOfColours(text);
}

bool CColorClassTools::TakeTypedPath() {
  if (!m_path) return false;
  const PathCheck c = CheckPalettePath(m_path->GetValue().utf8_string(), orb::TextField(ScanSettings.OutputFileName));
  switch (c.result) {
    case PathCheck::Cleared: SetPath(""); return true;
    case PathCheck::Stored: SetPath(c.path); return true;
    case PathCheck::FolderMissing: orb::Notify(kMsgFolderMissing, orb::MessageIcon::Exclamation); break;
    case PathCheck::IsFolder: orb::Notify(kMsgPathIsFolder, orb::MessageIcon::Exclamation); break;
  }
  CallAfter([this] {
    if (m_path) m_path->SetFocus();
  });
  return false;
}

std::optional<std::string> CColorClassTools::ChooseOpenPath(const std::string& initial) {
  wxFileDialog dlg(this, wxFileSelectorPromptStr, wxString(), wxString::FromUTF8(initial), kPaletteFilter,
                   wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dlg.ShowModal() != wxID_OK) return std::nullopt;
  std::string path = ChosenPath(dlg);
  if (path.empty()) return std::nullopt;
  return path;
}

std::optional<std::string> CColorClassTools::ChooseSavePath(const std::string& initial) {
  wxFileDialog dlg(this, wxFileSelectorPromptStr, wxString(), wxString::FromUTF8(initial), kPaletteFilter,
                   wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  dlg.SetFilterIndex(0);
  if (dlg.ShowModal() != wxID_OK) return std::nullopt;
  std::string path = ChosenPath(dlg);
  if (path.empty()) return std::nullopt;  // never a bare ".apt" in whatever folder is current
  if (path.size() < 4 || path.compare(path.size() - 4, 4, ".apt") != 0) path += ".apt";
  return path;
}

bool CColorClassTools::AskReplace(const std::string& target) {
  const wxString text = wxString::FromUTF8(target) + " " + ToolStr(kMsgTargetExists);
  return wxMessageBox(text, wxString::FromUTF8(g_szAppTitle), wxYES_NO | wxICON_QUESTION, this) == wxYES;
}

void CColorClassTools::OnLoadPalette() {
  if (auto chosen = ChooseOpenPath(Path())) SetPath(*chosen);
}

void CColorClassTools::OnDefaultPalette() {
  TakeTypedPath();
  if (MakeDefaultScanPalette(Path())) SaveScanData();
}

// ----- classification -------------------------------------------------------------------

void CColorClassTools::OnBuildHistogram() {
  ImageState* image = Image();
  if (!m_control || !image) return;
  if (!image->lookupTable) image->lookupTable = std::shared_ptr<uint8_t[]>(new uint8_t[65536]());
  m_control->SetLanguageAndHelpPath(static_cast<uint16_t>(MiscSettings.LanguageId), g_szProgramFolder.c_str());
  if (m_control->InitClassify() != kTwTrue) return;  // a classification dialog is open already
  ToolDocumentHost* host = GetToolDocumentHost();
  std::unique_ptr<IApplyProgress> progress = host ? host->MakeProgress(kStrReadingColours, image->height) : nullptr;
  const bool complete = FeedHistogram(image, m_areas.All(), *m_control, [&](int n) {
    if (progress) progress->Step(n);
  });
  progress.reset();
  m_areas.Clear();
  RedrawView(kViewHintRepaint);
  if (!complete) return;  // Esc: the histogram keeps what was read; nothing is classified
  SetClassStatus(kStatusClassRgb);
  m_control->SetNumberOfColors(static_cast<int16_t>(ColorClassSettings.NumColors));
  m_control->RunClassify(kTwFalse);
  RefreshEnabling();
}

void CColorClassTools::OnClassify() {
  ImageState* image = Image();
  if (!m_control) return;
  auto file = std::make_unique<PaletteFile>();
  if (!LoadPalette(Path(), *file)) return;
  if (image && !image->lookupTable) image->lookupTable = std::shared_ptr<uint8_t[]>(new uint8_t[65536]());
  m_control->SetLanguageAndHelpPath(static_cast<uint16_t>(MiscSettings.LanguageId), g_szProgramFolder.c_str());
  if (m_control->InitClassify() != kTwTrue) return;
  SetClassStatus(kStatusClassRgb);
  m_control->SetNumberOfColors(static_cast<int16_t>(file->M + 1));
  m_control->SetPalette(file->OutputPalette);
  m_control->SetScannerLut(file->Lookup);
  m_control->RunClassify(kTwTrue);
  RefreshEnabling();
}

void CColorClassTools::PaletteModified(const uint8_t* pal, uint32_t colours, const uint8_t* lut) {
  if (m_copying || !pal || !lut) return;
  m_copying = true;
  std::memcpy(m_reported.palette.data(), pal, 768);
  m_reported.colours = colours;
  m_reported.lut.assign(lut, lut + 65536);
  if (ImageState* image = Image()) {
    for (size_t i = 0; i < 256; ++i) image->classPalette[i] = ColourBytes{pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]};
    image->lutColourCount = static_cast<int32_t>(colours);
    if (!image->lookupTable) image->lookupTable = std::shared_ptr<uint8_t[]>(new uint8_t[65536]());
    std::memcpy(image->lookupTable.get(), lut, 65536);
    RedrawView(kViewHintRepaint);
  }
  m_copying = false;
}

void CColorClassTools::HueflockDlgClosed(uint32_t state) {
  AppStatus.fetch_and(~kStatusClassField);
  if (state == 1) {
    if (ColorClassSettings.notice) orb::Notify(kMsgSaveNotice, orb::MessageIcon::Information);
    if (auto chosen = ChooseSavePath(Path())) {
      if (SaveReportedPalette(*chosen, m_reported)) {
        SetPath(*chosen);
      } else {
        orb::Notify(kMsgApplyWriteFailed, orb::MessageIcon::Error, {orb::MessageArg{*chosen}});
      }
    }
  }
  RedrawView(kViewHintRepaint);
  RefreshEnabling();
}

void CColorClassTools::DisplayUsingRGB() {
  SetClassStatus(kStatusClassRgb);
  RedrawView(kViewHintRepaint);
}

void CColorClassTools::DisplayUsingPalette() {
  SetClassStatus(orb::Bits(orb::StatusBit::ClassPreview));
  RedrawView(kViewHintRepaint);
}

void CColorClassTools::RequestCurrentColor() { orb::SetStatus(orb::StatusBit::ColourPickRequested); }
void CColorClassTools::CancelRequestCurrentColor() { orb::ClearStatus(orb::StatusBit::ColourPickRequested); }

void CColorClassTools::RequestMergeArea() {
  orb::SetStatus(orb::StatusBit::AreaMergeRequested);
  OnAddArea();
}

void CColorClassTools::CancelRequestMergeArea() {
  orb::ClearStatus(orb::StatusBit::AreaMergeRequested);
  m_areas.Clear();
  RedrawView(kViewHintRepaint);
}

void CColorClassTools::SetCursorToSelectCurrentColor() {
  if (m_control) m_control->SetCursorToSelectCurrentColor();
}
void CColorClassTools::SetCurrentColor(uint8_t classIndex) {
  if (m_control) m_control->SetCurrentColor(classIndex);
}
void CColorClassTools::SetCursorToAreaMerge() {
  if (m_control) m_control->SetCursorToAreaMerge();
}
void CColorClassTools::MergeAreaToCurrentColor(const std::array<uint32_t, 256>& flags) {
  if (m_control) m_control->MergeAreaToCurrentColor(flags.data());
}

orb::Rect CColorClassTools::CurrentArea() const {
  const int i = m_areas.Current();
  if (i < 0) return {};
  const ClassArea& a = m_areas.All()[static_cast<size_t>(i)];
  return orb::Rect{a.left, a.top, a.left + a.width, a.top + a.height};
}

// ----- applying ---------------------------------------------------------------------------

void CColorClassTools::OnApply() {
  TakeTypedPath();
  ImageState* image = Image();
  if (!image) return;
  auto file = std::make_unique<PaletteFile>();
  if (!LoadPalette(Path(), *file)) return;
  if (m_separate && m_separate->GetValue()) {
    ToolDocumentHost* host = GetToolDocumentHost();
    std::unique_ptr<IApplyProgress> progress = host ? host->MakeProgress(kStrSeparating, image->height) : nullptr;
    SeparateByColour(image, *file, [this](const std::string& t) { return AskReplace(t); },
                     [&](int n) {
                       if (progress) progress->Step(n);
                     });
    return;
  }
  ApplyToActiveImage([&file](ImageState* source, const ApplyProgressFactory& progress) {
    return ConvertToPaletteImage(source, *file, progress);
  });
  RefreshEnabling();
}

void CColorClassTools::OnAddArea() {
  ImageState* image = Image();
  if (!image) return;
  m_areas.Add(image->region);
  RedrawView(kViewHintRepaint);
}

void CColorClassTools::RedrawView(int hint) {
  ToolDocumentHost* host = GetToolDocumentHost();
  if (host && host->ActiveImage()) host->UpdateView(hint);
}

// ----- the view's hooks ------------------------------------------------------------------

bool CColorClassTools::IsShowing(const orb::ViewContext&) const { return IsShownOnScreen(); }

uint16_t CColorClassTools::HitTest(const orb::ViewContext& view, orb::Point p) {
  const uint16_t c = m_areas.HitTest(view.ToImage(p));
  return c == kCursorAreaNone ? static_cast<uint16_t>(orb::cursor::None) : c;
}

uint16_t CColorClassTools::OnButtonDown(const orb::ViewContext& view, orb::Point p) {
  m_dragFrom = view.ToImage(p);
  m_grip = m_areas.HitTest(m_dragFrom, true);
  if (m_grip == kCursorAreaNone) return orb::drag::None;
  if (m_grip == kCursorAreaInside) return orb::drag::Move;
  return orb::drag::Resize;
}

void CColorClassTools::OnDrag(const orb::ViewContext& view, uint16_t, orb::Point p) {
  ImageState* image = view.image;
  if (!image) return;
  const orb::Point to = view.ToImage(p);
  m_areas.Drag(m_grip, to.x - m_dragFrom.x, to.y - m_dragFrom.y, image->width, image->height);
  m_dragFrom = to;
}

void CColorClassTools::Paint(const orb::ViewContext& view, orb::ViewCanvas& canvas) {
  for (const ClassArea& a : m_areas.All()) {
    const orb::Point tl = view.ToClient({a.left - 1, a.top - 1});
    const orb::Point br = view.ToClient({a.left + a.width + 1, a.top + a.height + 1});
    canvas.InvertFrame(orb::Rect{tl.x, tl.y, br.x + 1, br.y + 1}, 1);
    // The eight handles.
    const int32_t mx = (tl.x + br.x) / 2, my = (tl.y + br.y) / 2;
    for (const orb::Point h : {tl, br, orb::Point{tl.x, br.y}, orb::Point{br.x, tl.y}, orb::Point{mx, tl.y},
                               orb::Point{mx, br.y}, orb::Point{tl.x, my}, orb::Point{br.x, my}}) {
      canvas.InvertRect(orb::Rect{h.x - 3, h.y - 3, h.x + 4, h.y + 4});
    }
  }
}

bool CColorClassTools::OnViewCommand(const orb::ViewContext&, int id) {
  if (id == kCmdRemoveArea) m_areas.RemoveCurrent();
  else if (id == kCmdRemoveAllAreas) m_areas.Clear();
  else return false;
  RedrawView(kViewHintRepaint);
  return true;
}
