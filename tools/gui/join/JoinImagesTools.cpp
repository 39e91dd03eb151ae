#include "tools/gui/join/JoinImagesTools.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/docview.h>
#include <wx/filedlg.h>
#include <wx/mdi.h>
#include <wx/progdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

namespace {

using namespace orb::join;
using orb::tools::kToolJoin;

// Texts of the page.
constexpr int kStrMakeCanvas = 35480;
constexpr int kStrAdd = 35481;
constexpr int kStrJoin = 35482;
constexpr int kStrCanvasSize = 35483;
constexpr int kStrWidth = 35484;
constexpr int kStrHeight = 35485;
constexpr int kStrShowEdges = 35486;
constexpr int kStrDeleteSources = 35487;
constexpr int kStrCrop = 35488;
constexpr int kStrTransparent = 35489;
constexpr int kStrOpaque = 35490;
constexpr int kStrAlign = 35491;
constexpr int kStrFree = 35492;
constexpr int kStrSeam = 35493;
constexpr int kLabelCanvas = 1358;
constexpr int kLabelTransparent = 1378;
constexpr int kLabelOpaque = 1379;

const char* const kTiffFilter = "Tiff Files (Uncompressed only)|*.tif;*.tiff|All Files (*.*)|*.*";

// The progress of a join in a dialog; its Cancel (and Esc) stop the join.
class JoinProgressDialog final : public IJoinProgress {
 public:
  JoinProgressDialog(wxWindow* parent, int lines)
      : m_dialog(ToolStr(kStrJoinProgress), ToolStr(kStrJoinProgress), std::max(lines, 1), parent,
                 wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_AUTO_HIDE) {}
  void Step() override {
    // The dialog is redrawn every few lines: a line takes far less than a redraw.
    if (++m_done % 64 != 0) return;
    if (!m_dialog.Update(std::min(m_done, m_dialog.GetRange()))) CancelFlag = 1;
  }

 private:
  wxProgressDialog m_dialog;
  int m_done = 0;
};

}  // namespace

CJoinImagesTools::CJoinImagesTools() : CToolPage(kToolJoin) {
  m_model.SetMode(std::min<uint32_t>(JoinImagesSettings.mode, kModeSeam));
}

CJoinImagesTools::~CJoinImagesTools() = default;

void CJoinImagesTools::BuildControls(wxSizer* sizer) {
  auto button = [&](int id, int text, void (CJoinImagesTools::*handler)()) {
    auto* b = new wxButton(this, id, ToolStr(text));
    b->Bind(wxEVT_BUTTON, [this, handler](wxCommandEvent&) { (this->*handler)(); });
    sizer->Add(b, 0, wxEXPAND | wxALL, 3);
    return b;
  };
  button(kMakeCanvas, kStrMakeCanvas, &CJoinImagesTools::MakeCanvas);
  m_withCanvas.push_back(new wxStaticText(this, kLabelCanvas, ToolStr(kStrCanvasSize)));
  sizer->Add(m_withCanvas.back(), 0, wxLEFT | wxTOP, 4);
  auto* grid = new wxFlexGridSizer(2, 4, 4);
  grid->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrWidth)), 0, wxALIGN_CENTER_VERTICAL);
  m_width = new wxTextCtrl(this, kWidth, wxEmptyString, wxDefaultPosition, wxSize(90, -1));
  grid->Add(m_width);
  grid->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrHeight)), 0, wxALIGN_CENTER_VERTICAL);
  m_height = new wxTextCtrl(this, kHeight, wxEmptyString, wxDefaultPosition, wxSize(90, -1));
  grid->Add(m_height);
  sizer->Add(grid, 0, wxALL, 4);
  m_width->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    OnSizeEdit(m_width, JoinImagesSettings.canvasWidth);
    e.Skip();
  });
  m_height->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    OnSizeEdit(m_height, JoinImagesSettings.canvasHeight);
    e.Skip();
  });
  m_withCanvas.push_back(button(kAdd, kStrAdd, &CJoinImagesTools::OnAddButton));

  const std::pair<int, int> modes[] = {{kModeAlign, kStrAlign}, {kModeFree, kStrFree}, {kModeSeam, kStrSeam}};
  for (size_t i = 0; i < 3; ++i) {
    m_modes[i] = new wxRadioButton(this, modes[i].first, ToolStr(modes[i].second), wxDefaultPosition, wxDefaultSize,
                                   i == 0 ? wxRB_GROUP : 0);
    const uint32_t mode = i == 0 ? orb::join::kModeAlign : i == 1 ? orb::join::kModeFree : orb::join::kModeSeam;
    m_modes[i]->Bind(wxEVT_RADIOBUTTON, [this, mode](wxCommandEvent&) { SetMode(mode); });
    sizer->Add(m_modes[i], 0, wxLEFT | wxTOP, 4);
  }
  m_showEdges = new wxCheckBox(this, kShowEdges, ToolStr(kStrShowEdges));
  m_showEdges->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    JoinImagesSettings.showEdges = m_showEdges->GetValue() ? 1 : 0;
    std::fill(std::begin(m_model.edgesShown), std::end(m_model.edgesShown), JoinImagesSettings.showEdges != 0);
    Repaint();
  });
  sizer->Add(m_showEdges, 0, wxALL, 4);
  auto* alphaRow = new wxBoxSizer(wxHORIZONTAL);
  auto* low = new wxStaticText(this, kLabelTransparent, ToolStr(kStrTransparent));
  m_alpha = new wxSlider(this, kAlpha, 255, 32, 255, wxDefaultPosition, wxSize(120, -1));
  auto* high = new wxStaticText(this, kLabelOpaque, ToolStr(kStrOpaque));
  alphaRow->Add(low, 0, wxALIGN_CENTER_VERTICAL);
  alphaRow->Add(m_alpha, 1, wxEXPAND);
  alphaRow->Add(high, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(alphaRow, 0, wxEXPAND | wxALL, 4);
  m_freeOnly = {m_showEdges, m_alpha, low, high};
  m_crop = new wxCheckBox(this, kCropToItems, ToolStr(kStrCrop));
  m_crop->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { JoinImagesSettings.cropToItems = m_crop->GetValue() ? 1 : 0; });
  sizer->Add(m_crop, 0, wxALL, 4);
  m_deleteSources = new wxCheckBox(this, kDeleteSources, ToolStr(kStrDeleteSources));
  m_deleteSources->Bind(wxEVT_CHECKBOX,
                        [this](wxCommandEvent&) { JoinImagesSettings.deleteSources = m_deleteSources->GetValue() ? 1 : 0; });
  sizer->Add(m_deleteSources, 0, wxALL, 4);
  button(kJoin, kStrJoin, &CJoinImagesTools::OnJoinButton);
  m_withCanvas.insert(m_withCanvas.end(), m_freeOnly.begin(), m_freeOnly.end());
}

void CJoinImagesTools::OnSizeEdit(wxTextCtrl* edit, int32_t& value) {
  const int32_t unit = MiscSettings.LengthUnit;
  value = std::max(100, ParseLength(edit->GetValue().utf8_string(), 100, unit));
  edit->ChangeValue(wxString::FromUTF8(FormatLength(unit, value, 100)));
}

void CJoinImagesTools::OnHScroll(int, int position, int sliderId) {
  if (sliderId != kAlpha) return;
  JoinImagesSettings.alpha = static_cast<uint32_t>(std::clamp(position, 32, 255));
  Repaint();
}

// ----- the canvas document ------------------------------------------------------------

bool CJoinImagesTools::CanvasAlive() const {
  if (!m_canvasDoc) return false;
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  if (!manager) return false;
  for (wxDocument* d : manager->GetDocumentsVector()) {
    if (d == m_canvasDoc) return true;
  }
  return false;
}

void CJoinImagesTools::ForgetCanvas() {
  m_canvasDoc = nullptr;
  m_canvas = nullptr;
  m_model.Clear();
  m_model.canvas = orb::join::Canvas{};
  m_pictures.clear();
}

ImageState* CJoinImagesTools::CanvasImage() {
  if (!CanvasAlive()) {
    if (m_canvasDoc) ForgetCanvas();
    return nullptr;
  }
  return m_canvas && m_canvas->state == VS_JOIN_CANVAS ? m_canvas : nullptr;
}

void CJoinImagesTools::SyncCanvasRecord() {
  const orb::join::Canvas& g = m_model.canvas;
  if (!m_canvas || !g.exists) return;
  ImageState& c = *m_canvas;
  c.width = g.width;
  c.height = g.height;
  c.xDpi = g.xDpi;
  c.yDpi = g.yDpi;
  c.region = PixelRect{0, 0, g.width - 1, g.height - 1};
  c.storedLineWidth = 3 * g.width;
  c.kind = IK_RGB;
  c.outputFormat = OF_RAW_RGB_LE;
  c.bitsPerSample = 8;
  c.samplesPerPixel = 3;
  c.bitsPerPixel = 24;
}

void CJoinImagesTools::MakeCanvas() {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  if (!manager) return;
  if (CanvasAlive()) {
    if (wxView* v = m_canvasDoc->GetFirstView()) {
      if (auto* child = dynamic_cast<wxMDIChildFrame*>(v->GetFrame())) child->Activate();
    }
  } else {
    ForgetCanvas();
    m_model.MakeCanvas(JoinImagesSettings);
    orb::SetStatus(orb::StatusBit::JoinCanvas);
    wxDocument* doc = manager->CreateDocument(wxEmptyString, wxDOC_NEW);
    orb::ClearStatus(orb::StatusBit::JoinCanvas);
    if (!doc) return;
    m_canvasDoc = doc;
    m_model.ClearSelection();
    // The new view hands its record to the hooks on its first update (IsShowing).
    doc->UpdateAllViews();
  }
  m_model.MakeCanvas(JoinImagesSettings);
  SyncCanvasRecord();
  if (m_canvasDoc) m_canvasDoc->UpdateAllViews();
  UpdateControls();
}

bool CJoinImagesTools::AddImage(const std::string& path) {
  if (!CanvasImage()) return false;
  if (!m_model.AddItem(path)) {
    orb::Notify(kMsgNotJoinable, orb::MessageIcon::Exclamation);
    return false;
  }
  SyncCanvasRecord();
  m_pictures.clear();
  m_canvasDoc->UpdateAllViews();
  UpdateControls();
  Repaint();
  return true;
}

void CJoinImagesTools::OnAddButton() {
  wxFileDialog dlg(this, wxEmptyString, wxEmptyString, wxEmptyString, kTiffFilter, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dlg.ShowModal() != wxID_OK) return;
  AddImage(dlg.GetPath().utf8_string());
}

JoinResult CJoinImagesTools::JoinAndSave(const std::string& path) {
  ImageState* canvas = CanvasImage();
  if (!canvas || m_model.items.empty()) return JoinResult::Failed;
  JoinOptions options;
  options.outputPath = path;
  options.cropToItems = JoinImagesSettings.cropToItems != 0;
  options.deleteSources = JoinImagesSettings.deleteSources != 0;
  JoinReport report;
  {
    JoinProgressDialog progress(this, m_model.OutputExtent(options.cropToItems).Height());
    report = WriteJoinedImage(m_model, options, &progress);
  }
  if (report.result == JoinResult::Written) {
    // The canvas document becomes the joined image, opened from its file.
    canvas->state = VS_OPENED;
    canvas->sourcePath = path;
    canvas->rawPath.clear();
    canvas->rawFile.reset();
    canvas->bitmaps = {};
    LineReader probe(canvas);
    ProbeImageFile(&probe, true);
    canvas->region = PixelRect{0, 0, canvas->width - 1, canvas->height - 1};
    m_canvasDoc->SetFilename(wxString::FromUTF8(path), true);
    m_canvasDoc->Modify(false);
    wxDocument* doc = m_canvasDoc;
    m_canvasDoc = nullptr;
    m_canvas = nullptr;
    m_model.canvas = orb::join::Canvas{};
    m_pictures.clear();
    doc->UpdateAllViews();
  } else {
    // An aligned item keeps its turn; the canvas shows it.
    m_pictures.clear();
    m_canvasDoc->UpdateAllViews();
  }
  UpdateControls();
  if (s_refreshHosts) s_refreshHosts();
  return report.result;
}

void CJoinImagesTools::OnJoinButton() {
  if (!CanvasImage() || m_model.items.empty()) return;
  const std::string first = m_model.items[0].image->sourcePath;
  std::string path;
  if (chooseOutput) {
    path = chooseOutput(first);
  } else {
    wxFileDialog dlg(this, ToolStr(kMsgJoinSaveAs), wxEmptyString, wxString::FromUTF8(first), kTiffFilter, wxFD_SAVE);
    if (dlg.ShowModal() == wxID_OK) path = dlg.GetPath().utf8_string();
  }
  if (path.empty()) {
    CancelFlag = 1;
    return;
  }
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext != ".tif" && ext != ".tiff" && ext != ".TIF" && ext != ".TIFF") path += ".tif";
  JoinAndSave(path);
}

bool CJoinImagesTools::SetMode(uint32_t mode) {
  const bool ok = m_model.SetMode(mode);
  if (!ok) orb::Notify(kMsgSeamOneItem, orb::MessageIcon::Exclamation);
  JoinImagesSettings.mode = m_model.Mode();
  ShowModeControls();
  UpdateButtons();
  Repaint();
  return ok;
}

// ----- controls -------------------------------------------------------------------------

void CJoinImagesTools::UpdateControls() {
  if (!m_width) return;
  const bool canvas = CanvasImage() != nullptr;
  const int32_t unit = MiscSettings.LengthUnit;
  m_width->ChangeValue(wxString::FromUTF8(FormatLength(unit, JoinImagesSettings.canvasWidth, 100)));
  m_height->ChangeValue(wxString::FromUTF8(FormatLength(unit, JoinImagesSettings.canvasHeight, 100)));
  m_showEdges->SetValue(JoinImagesSettings.showEdges != 0);
  m_deleteSources->SetValue(JoinImagesSettings.deleteSources != 0);
  m_crop->SetValue(JoinImagesSettings.cropToItems != 0);
  m_alpha->SetValue(static_cast<int>(std::clamp<uint32_t>(JoinImagesSettings.alpha & 0xFF, 32, 255)));
  for (wxWindow* w : m_withCanvas) w->Enable(canvas);
  ShowModeControls();
  UpdateButtons();
}

void CJoinImagesTools::ShowModeControls() {
  const uint32_t mode = m_model.Mode();
  if (m_modes[0]) m_modes[mode == orb::join::kModeAlign ? 0 : mode == orb::join::kModeFree ? 1 : 2]->SetValue(true);
  for (wxWindow* w : m_freeOnly) w->Show(mode == orb::join::kModeFree);
  Layout();
}

void CJoinImagesTools::UpdateButtons() {
  const ButtonStates b = CanvasImage() ? m_model.Buttons() : ButtonStates{};
  if (wxWindow* add = FindWindow(kAdd)) add->Enable(b.add);
  if (wxWindow* join = FindWindow(kJoin)) join->Enable(b.join);
}

void CJoinImagesTools::Repaint() {
  if (!CanvasAlive()) return;
  if (wxView* v = m_canvasDoc->GetFirstView()) {
    if (wxWindow* f = v->GetFrame()) f->Refresh(false);
  }
}

// ----- view hooks -----------------------------------------------------------------------

bool CJoinImagesTools::IsShowing(const orb::ViewContext& view) const {
  if (!view.image || view.image->state != VS_JOIN_CANVAS || !CanvasAlive()) return false;
  // The canvas's record is taken from its view: there is only ever one canvas.
  auto* self = const_cast<CJoinImagesTools*>(this);
  if (self->m_canvas != view.image) {
    self->m_canvas = view.image;
    self->SyncCanvasRecord();
  }
  return true;
}

HitContext CJoinImagesTools::Hits(const orb::ViewContext& view) const {
  HitContext hc;
  hc.zoom = std::max(view.Zoom(), 1);
  return hc;
}

uint16_t CJoinImagesTools::HitTest(const orb::ViewContext& view, orb::Point p) {
  return m_model.HitTest(view.ToImage(p), Hits(view));
}

uint16_t CJoinImagesTools::OnButtonDown(const orb::ViewContext& view, orb::Point p) {
  return m_model.ButtonDown(view.ToImage(p), Hits(view));
}

void CJoinImagesTools::OnDrag(const orb::ViewContext& view, uint16_t mode, orb::Point p) {
  m_model.Drag(mode, view.ToImage(p));
}

void CJoinImagesTools::BuildPictures(int32_t zoom) {
  m_pictures.resize(m_model.items.size());
  wxBusyCursor wait;
  for (size_t i = 0; i < m_model.items.size(); ++i) {
    ImageState* newest = m_model.items[i].Newest();
    ItemPicture& pic = m_pictures[i];
    if (pic.record == newest && pic.zoom == zoom) continue;
    if (!BuildItemPicture(newest, zoom, pic)) pic.record = newest;  // drawn white; not read again
  }
}

void CJoinImagesTools::OnViewUpdated(const orb::ViewContext& view) {
  const PixelRect& r = view.image->region;
  m_model.canvas.region = orb::Rect{r.left, r.top, r.right + 1, r.bottom + 1};
  std::fill(std::begin(m_model.edgesShown), std::end(m_model.edgesShown), JoinImagesSettings.showEdges != 0);
  m_model.UpdateVisible();
  if (view.Zoom() > 0) BuildPictures(view.Zoom());
}

void CJoinImagesTools::Paint(const orb::ViewContext& view, orb::ViewCanvas& canvas) {
  if (view.Zoom() > 0 && m_pictures.size() != m_model.items.size()) BuildPictures(view.Zoom());
  // Pictures made before a turn or at another zoom are made again.
  for (size_t i = 0; i < m_pictures.size(); ++i) {
    if (m_pictures[i].record != m_model.items[i].Newest() || m_pictures[i].zoom != view.Zoom()) {
      BuildPictures(view.Zoom());
      break;
    }
  }
  PaintOptions options;
  options.alpha = static_cast<uint8_t>(std::clamp<uint32_t>(JoinImagesSettings.alpha & 0xFF, 32, 255));
  PaintJoinCanvas(m_model, m_pictures, view, options, canvas);
}

bool CJoinImagesTools::OnViewCommand(const orb::ViewContext& view, int id) {
  (void)view;
  switch (id) {
    case kCmdRemove:
      m_model.RemoveHovered();
      m_pictures.clear();
      UpdateControls();
      break;
    case kCmdSelect: m_model.SelectHovered(); break;
    case kCmdClearSelection: m_model.ClearSelection(); break;
    case kCmdFirstPoint: m_model.SetAlignPointOnHovered(true); break;
    case kCmdSecondPoint: m_model.SetAlignPointOnHovered(false); break;
    case kCmdNudgeRight: m_model.Nudge(1, 0); break;
    case kCmdNudgeLeft: m_model.Nudge(-1, 0); break;
    case kCmdNudgeUp: m_model.Nudge(0, -1); break;
    case kCmdNudgeDown: m_model.Nudge(0, 1); break;
    default: return false;
  }
  Repaint();
  return true;
}
