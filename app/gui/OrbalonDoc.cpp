#include "app/gui/OrbalonDoc.h"
#include "tools/outside/OutsideTools.h"

#include <algorithm>
#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/xrc/xmlres.h>
#include <wx/msgdlg.h>
#include <wx/print.h>
#include <wx/utils.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/AppGlobals.h"
#include "app/DisplaySink.h"
#include "common/LanguageModule.h"
#include "app/MessageText.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "app/SaveFormats.h"
#include "app/gui/ChildFrame.h"
#include "app/gui/FileOpen.h"
#include "common/gui/Resources.h"
#include "app/gui/OutputOptionDlgs.h"
#include "app/gui/ProgressDlg.h"
#include "app/gui/ViewTextWriter.h"
#include "app/gui/ViewThumbDlg.h"
#include "engine/ToolSettings.h"
#include "engine/EngineHost.h"
#include "engine/Settings.h"

wxIMPLEMENT_DYNAMIC_CLASS(COrbalonDoc, wxDocument);
wxIMPLEMENT_DYNAMIC_CLASS(COrbalonView, wxView);

namespace {

constexpr int kMsgCloseQuestion = 33021;
constexpr int kMsgSameFile = 33068;
constexpr int kStrKindNames = 33002;
constexpr int kStrSaveAsTitle = orb::res::IDS_SAVE_AS_TITLE;

// A running scan is drawn at full size: the horizontal scroll bar moves the visible columns.
bool FollowingScanAtFullSize() { return orb::IsScanning() && orb::HasStatus(orb::StatusBit::FullSizeDisplay); }

wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }
std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The tool pages follow the active image after a document was opened or closed.
void RefreshToolPages() {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  wxDocument* active = manager ? manager->GetCurrentDocument() : nullptr;
  if (g_hToolsPage.load() && CChildFrame::s_toolsPageActivate) CChildFrame::s_toolsPageActivate(active);
  if (g_hOtherToolsPage.load() && CChildFrame::s_otherToolsPageActivate) CChildFrame::s_otherToolsPageActivate(active);
}

void InstallProgressiveDisplay() {
  static orb::ProgressiveDisplaySink sink([](ImageState* image) {
    if (COrbalonDoc* doc = COrbalonDoc::FindByImage(image)) doc->UpdateTitle();
  });
  orb::EngineHost host = orb::Host();
  host.display = &sink;
  orb::SetEngineHost(host);
}

}  // namespace

// ----- document manager --------------------------------------------------------------------

COrbalonDocManager::COrbalonDocManager() {
  // The base made its history in its own constructor, where this class's override is not
  // called yet: it would keep nine files.
  delete m_fileHistory;
  m_fileHistory = OnCreateFileHistory();
  InstallProgressiveDisplay();
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { orb::gui::OnFileOpen(this, wxTheApp->GetTopWindow()); }, wxID_OPEN);
}

wxDocument* COrbalonDocManager::CreateDocument(const wxString& path, long flags) {
  wxDocument* doc = wxDocManager::CreateDocument(path, flags);
  // The toolkit lists only files whose names match the template; every opened file is
  // listed, since it reopens by its content.
  if (doc && !(flags & wxDOC_NEW) && !path.empty()) AddFileToHistory(path);
  // A document refused while opening was closed by the program itself.
  orb::ClearStatus(orb::StatusBit::ProgramClose);
  RefreshToolPages();
  return doc;
}

wxDocTemplate* COrbalonDocManager::FindTemplateForPath(const wxString& path) {
  wxDocTemplate* image = nullptr;
  for (wxDocTemplate* t : GetTemplatesVector()) {
    if (t->GetDocClassInfo() && t->GetDocClassInfo()->IsKindOf(CLASSINFO(COrbalonDoc))) {
      image = t;
      break;
    }
  }
  if (!image) return wxDocManager::FindTemplateForPath(path);
  // An image file by its content is the image template's whatever its name. Anything else
  // goes there too: opening it says, naming the file, why it cannot be read (missing, not a
  // file, not an image), where the toolkit would only say the format is unknown.
  if (orb::ImageFormatByContent(Utf8(path)) != 0) return image;
  wxDocTemplate* byName = wxDocManager::FindTemplateForPath(path);
  return byName ? byName : image;
}

// ----- document ----------------------------------------------------------------------------

COrbalonDoc::COrbalonDoc() = default;

COrbalonDoc::~COrbalonDoc() {
  // The document that becomes active next is known only once this one is gone.
  if (wxTheApp) wxTheApp->CallAfter([] { COrbalonDoc::RefreshMainWindowTitle(); });
}

void COrbalonDoc::RefreshMainWindowTitle() {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  if (auto* doc = manager ? dynamic_cast<COrbalonDoc*>(manager->GetCurrentDocument()) : nullptr) {
    doc->UpdateTitle();
    return;
  }
  if (wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr) {
    top->SetLabel(wxString::FromUTF8(g_szAppTitle.empty() ? std::string("Orbalon") : g_szAppTitle));
  }
}

COrbalonView* COrbalonDoc::View() const { return dynamic_cast<COrbalonView*>(GetFirstView()); }

wxWindow* COrbalonDoc::DialogParent() const {
  if (COrbalonView* v = View()) {
    if (v->GetFrame()) return v->GetFrame();
  }
  return wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
}

COrbalonDoc* COrbalonDoc::FindByImage(const ImageState* image) {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  if (!manager || !image) return nullptr;
  for (wxDocument* d : manager->GetDocumentsVector()) {
    auto* doc = dynamic_cast<COrbalonDoc*>(d);
    if (doc && doc->WorkingImage() == image) return doc;
  }
  return nullptr;
}

bool COrbalonDoc::OnNewDocument() {
  if (!wxDocument::OnNewDocument()) return false;
  ImageState* w = WorkingImage();
  if (g_bBatchMode.load()) {
    w->state = VS_OPENED;
  } else if (orb::HasStatus(orb::StatusBit::JoinCanvas)) {
    w->state = VS_JOIN_CANVAS;
  } else {
    w->state = VS_NORMAL;
  }
  return true;
}

bool COrbalonDoc::OnOpenDocument(const wxString& file) {
  if (!wxDocument::OnOpenDocument(file)) return false;
  WorkingImage()->state = VS_OPENED;
  return true;
}

bool COrbalonDoc::DoOpenDocument(const wxString& file) {
  ImageState* w = WorkingImage();
  COrbalonView* view = View();
  if (view) {
    w->view = view;
    w->viewWindow = static_cast<orb::DisplaySurface*>(view->Canvas());
    // The canvas must have its size before the first rows are fitted into it.
    if (wxWindow* frame = view->GetFrame()) frame->Layout();
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
  }
  orb::OpenResult result;
  {
    wxBusyCursor wait;
    result = orb::OpenImageIntoDocument(w, Utf8(file), [this] { UpdateTitle(); });
  }
  if (result != orb::OpenResult::Opened) {
    // Closed by the program itself, without the hand-overs of a user's close.
    orb::SetStatus(orb::StatusBit::ProgramClose);
    return false;
  }
  UpdateTitle();
  if (view && view->Canvas()) view->Canvas()->Refresh(true);
  return true;
}

bool COrbalonDoc::ReloadFromFile() {
  ImageState* w = WorkingImage();
  if (!w || w != FileImage() || w->sourcePath.empty() || w->state != VS_OPENED) return false;
  // What was read before goes: the decoded copy and the display drawn from it.
  ImageState fresh;
  fresh.sourcePath = w->sourcePath;
  fresh.view = w->view;
  fresh.viewWindow = w->viewWindow;
  fresh.magnifierWindow = w->magnifierWindow;
  fresh.region = w->region;
  fresh.clientRect = w->clientRect;
  fresh.next = w->next;
  fresh.prev = w->prev;
  *w = std::move(fresh);
  orb::OpenResult result;
  {
    wxBusyCursor wait;
    result = orb::OpenImageIntoDocument(w, w->sourcePath, [this] { UpdateTitle(); });
  }
  UpdateTitle();
  return result == orb::OpenResult::Opened;
}

bool COrbalonDoc::DoSaveDocument(const wxString&) { return SaveToFile(); }

bool COrbalonDoc::SaveToFile() {
  switch (m_image.Save(orb::gui::DocumentProgressFactory(DialogParent()))) {
    case orb::SaveResult::Saved:
      UpdateTitle();
      if (COrbalonView* v = View()) v->UpdateView(orb::kHintRedraw);
      return true;
    case orb::SaveResult::NeedsSaveAs:
      ShowSaveAsDialog();
      return true;
    case orb::SaveResult::NoRoom:
    case orb::SaveResult::Cancelled:
    case orb::SaveResult::Failed:
      return false;
  }
  return false;
}

bool COrbalonDoc::OnSaveDocument(const wxString&) { return SaveToFile(); }
bool COrbalonDoc::Save() { return SaveToFile(); }

bool COrbalonDoc::SaveAs() {
  ShowSaveAsDialog();
  return true;
}

void COrbalonDoc::ShowSaveAsDialog() {
  CancelFlag.store(0);
  ImageState* w = WorkingImage();
  ImageState* f = FileImage();
  if (orb::SaveAsTypes(w->kind).empty()) return;  // a kind no format can hold
  std::string filter = orb::SaveAsFilter(w->kind);
  while (!filter.empty() && filter.back() == '|') filter.pop_back();
  const std::filesystem::path source(f->sourcePath);
  std::string ext = source.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  const int preselect = orb::PreselectSaveAsType(orb::SaveAsFilter(w->kind), ext);
  const wxString folder =
      wxString::FromUTF8(orb::SaveAsStartFolder(orb::TextField(MiscSettings.LastSaveAsPath), f->sourcePath));
  std::optional<orb::SaveAsChoice> choice;
  for (;;) {
    wxFileDialog dlg(DialogParent(), orb::gui::Str(kStrSaveAsTitle), folder, wxString::FromUTF8(source.filename().string()),
                     wxString::FromUTF8(filter), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (preselect > 0) dlg.SetFilterIndex(preselect - 1);
    if (dlg.ShowModal() != wxID_OK) return;
    wxString path = dlg.GetPath();
    // The toolkit may know the chosen folder and name without the whole path.
    if (path.empty() && !dlg.GetFilename().empty()) path = wxFileName(dlg.GetDirectory(), dlg.GetFilename()).GetFullPath();
    if (wxFileName(path).GetName().empty()) return;  // no file named: nothing to write
    // The chosen type decides the extension, as the type list changed it while the dialog
    // was open.
    choice = orb::ResolveSaveAs(w->kind, Utf8(path), dlg.GetFilterIndex(), preselect);
    if (!choice) return;
    if (!orb::IsSameFile(choice->path, f->sourcePath)) break;
    wxMessageBox(Text(kMsgSameFile), wxTheApp->GetAppDisplayName(), wxOK | wxICON_EXCLAMATION, DialogParent());
  }
  if (choice->qualityKind != 0) {
    CJpegQuality quality(choice->qualityKind, DialogParent());
    if (quality.ShowModal() == wxID_OK) quality.Store();
  }
  orb::SetTextField(MiscSettings.LastSaveAsPath, choice->path);
  MiscSettings.LastSaveAsType = choice->position;
  MiscSettings.LastSaveAsKind = w->kind;
  WriteImageFile(choice->format, this, choice->path);
}

bool COrbalonDoc::WriteImageFile(uint32_t format, COrbalonDoc* doc, const std::string& path) {
  if (!doc) return false;
  return doc->m_image.WriteCopy(format, path, orb::gui::DocumentProgressFactory(doc->DialogParent())) ==
         orb::SaveResult::Saved;
}

bool COrbalonDoc::OnSaveModified() {
  // The toolkit closes the views after the document: the question is asked only once.
  if (m_closeDecided || !m_image.CloseAsks()) return true;
  const std::string text =
      orb::FormatMessageText(orb::LoadString(kMsgCloseQuestion), {orb::MessageArg{FileImage()->sourcePath}});
  const int answer = wxMessageBox(wxString::FromUTF8(text), wxTheApp->GetAppDisplayName(),
                                  wxYES_NO | wxCANCEL | wxICON_QUESTION, DialogParent());
  if (answer == wxCANCEL) return false;
  m_closeDecided = true;
  if (answer == wxYES) SaveToFile();  // the document closes whatever the save did
  return true;
}

bool COrbalonDoc::OnCloseDocument() {
  // The outside programs get the image unless the program itself closes the document.
  if (!orb::HasStatus(orb::StatusBit::ProgramClose) && WorkingImage()) {
    orb::tools::RunOutsideToolsOnClose(WorkingImage()->sourcePath);
  }
  orb::SendAppMessage(g_hThumbDlg.load(), WM_THUMB_CLEAR);
  const bool closed = wxDocument::OnCloseDocument();
  if (wxTheApp) wxTheApp->CallAfter([] { RefreshToolPages(); });
  if (g_bBatchMode.load()) orb::PostAppMessage(g_hMainFrame.load(), WM_RUN_BATCH_FILE);
  return closed;
}

bool COrbalonDoc::CanCloseFrame() {
  if (orb::HasStatus(orb::StatusBit::Opening)) {
    CancelFlag.store(1);
    return false;
  }
  return true;
}

void COrbalonDoc::UpdateTitle() {
  ImageState* w = WorkingImage();
  ImageState* f = FileImage();
  if (!w || !f) return;
  const std::string title = orb::DocumentTitleText(*f, *w, orb::LoadString(kStrKindNames), MiscSettings.LengthUnit);
  SetTitle(wxString::FromUTF8(title));
  if (COrbalonView* v = View()) {
    if (v->GetFrame()) v->GetFrame()->SetLabel(wxString::FromUTF8(title));
  }
  if (wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr) {
    const std::string app = g_szAppTitle.empty() ? std::string("Orbalon") : g_szAppTitle;
    top->SetLabel(wxString::FromUTF8(orb::MainWindowTitle(app, title)));
  }
}

// ----- canvas ------------------------------------------------------------------------------

namespace {
// The canvas starts as large as the child frame's client area: at the default size of a few
// pixels its two scroll bars would be laid out with less than nothing (GTK complains).
wxSize CanvasStartSize(wxWindow* parent) {
  const wxSize s = parent ? parent->GetClientSize() : wxSize();
  return wxSize(std::max(s.x, 100), std::max(s.y, 100));
}
}  // namespace

COrbalonCanvas::COrbalonCanvas(wxWindow* parent, COrbalonView* view)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, CanvasStartSize(parent),
               wxHSCROLL | wxVSCROLL | wxWANTS_CHARS | wxFULL_REPAINT_ON_RESIZE),
      m_view(view) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  const wxSize s = GetClientSize();
  m_width = s.x;
  m_height = s.y;
  Bind(wxEVT_PAINT, &COrbalonCanvas::OnPaint, this);
  Bind(wxEVT_SIZE, &COrbalonCanvas::OnSize, this);
}

orb::Rect COrbalonCanvas::ClientRect() const { return orb::Rect{0, 0, m_width.load(), m_height.load()}; }

void COrbalonCanvas::OnSize(wxSizeEvent& e) {
  const wxSize s = GetClientSize();
  const bool changed = s.x != m_width.load() || s.y != m_height.load();
  m_width = s.x;
  m_height = s.y;
  Refresh(false);
  e.Skip();
  // A run still drawing (a scan whose view was created small) takes the new size at once;
  // rebuilding the display under it would leave the run drawing into a picture no one shows.
  if (changed && orb::RefitProgressiveDisplay(this)) return;
  // The display was fitted to the old size: fit it again once the resizing has settled.
  if (changed && !m_rebuildPending) {
    m_rebuildPending = true;
    CallAfter([this] {
      m_rebuildPending = false;
      if (orb::RefitProgressiveDisplay(this)) return;
      if (m_view && m_view->GetDocument() && m_view->GetDocument()->WorkingImage()->bitmaps[2]) {
        m_view->UpdateView(orb::kHintRedraw);
      }
    });
  }
}

void COrbalonCanvas::RefreshSoon() {
  // Rows may come from a scan thread: the window is only touched on the GUI thread.
  if (!wxThread::IsMain()) {
    CallAfter([this] { RefreshSoon(); });
    return;
  }
  // At most about 25 repaints a second while rows arrive; the end of a run always
  // repaints through Invalidate.
  const long long now = NowMs();
  if (now - m_lastRefreshMs < 40) return;
  m_lastRefreshMs = now;
  Refresh(false);
}

void COrbalonCanvas::PrepareView() { RefreshSoon(); }
void COrbalonCanvas::ShowDisplayRows(int32_t, int32_t) { RefreshSoon(); }
void COrbalonCanvas::ShowFullSizeRow(int32_t) { RefreshSoon(); }

void COrbalonCanvas::Invalidate(bool erase) {
  if (!wxThread::IsMain()) {
    CallAfter([this, erase] { Invalidate(erase); });
    return;
  }
  m_lastRefreshMs = NowMs();
  Refresh(erase);
}

void COrbalonCanvas::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  Paint(dc);
}

void COrbalonCanvas::Paint(wxDC& dc) {
  const wxSize cs = GetClientSize();
  if (cs.x <= 0 || cs.y <= 0) return;
  m_painted = Compose(cs.x, cs.y);
  dc.DrawBitmap(wxBitmap(m_painted), 0, 0);
}

namespace {

// Copies a display picture's rows into `frame` at (left, top), scaled to `width` x
// `height` by nearest pixels, clipped to the frame.
void PastePicture(wxImage& frame, const orb::DisplayImage& picture, int32_t left, int32_t top, int32_t width,
                  int32_t height) {
  if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0) return;
  const int fw = frame.GetWidth(), fh = frame.GetHeight();
  std::vector<uint8_t> row(static_cast<size_t>(picture.width) * 3);
  std::vector<int32_t> column(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) column[static_cast<size_t>(x)] = static_cast<int32_t>(static_cast<int64_t>(x) * picture.width / width);
  int32_t lastSource = -1;
  std::lock_guard<std::mutex> lock(picture.lock);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t fy = top + y;
    if (fy < 0 || fy >= fh) continue;
    const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * picture.height / height);
    if (sy != lastSource) {
      picture.PictureRowRgb(sy, row.data());
      lastSource = sy;
    }
    uint8_t* out = frame.GetData() + (static_cast<size_t>(fy) * fw) * 3;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t fx = left + x;
      if (fx < 0 || fx >= fw) continue;
      std::memcpy(out + static_cast<size_t>(fx) * 3, row.data() + static_cast<size_t>(column[static_cast<size_t>(x)]) * 3, 3);
    }
  }
}

}  // namespace

wxImage COrbalonCanvas::Compose(int width, int height) {
  wxImage frame(width, height, false);
  {
    uint8_t* d = frame.GetData();
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i, d += 3) {
      d[0] = orb::kViewBackground[0];
      d[1] = orb::kViewBackground[1];
      d[2] = orb::kViewBackground[2];
    }
  }
  COrbalonDoc* doc = m_view ? m_view->GetDocument() : nullptr;
  ImageState* image = doc ? doc->WorkingImage() : nullptr;
  if (!image) return frame;
  orb::DisplayImagePtr full = orb::FullSizeImage();
  if (orb::HasStatus(orb::StatusBit::FullSizeDisplay) && full) {
    PastePicture(frame, *full, 0, 0, full->width, full->height);
    return frame;
  }
  orb::DisplayImage* display = orb::AsDisplayImage(image->bitmaps[2]);
  if (!display) return frame;  // nothing drawn yet: the window stays empty
  image->fitScale = ComputeFitScale(image->region.right - image->region.left, image->region.bottom - image->region.top,
                                    width, height);
  const orb::DrawPlacement place = orb::PlaceDisplayBitmap(display->width, display->height, width, height);
  if (place.scale <= 0) return frame;
  image->displayScale = place.scale;
  image->clientRect = PixelRect{place.target.left, place.target.top, place.target.right, place.target.bottom};
  if (!m_view->PagePaintsPicture()) {
    PastePicture(frame, *display, place.target.left, place.target.top, place.width, place.height);
  }
  orb::ViewCanvas canvas(frame.GetData(), width, height, static_cast<size_t>(width) * 3);
  CViewTextWriter text(this);
  canvas.SetTextWriter(&text);
  m_view->PaintOverlays(canvas);
  return frame;
}

ColourBytes COrbalonCanvas::PaintedPixel(orb::Point p) const {
  if (!m_painted.IsOk() || p.x < 0 || p.y < 0 || p.x >= m_painted.GetWidth() || p.y >= m_painted.GetHeight()) {
    return ColourBytes{255, 255, 255};
  }
  const uint8_t* d = m_painted.GetData() + (static_cast<size_t>(p.y) * m_painted.GetWidth() + p.x) * 3;
  return ColourBytes{d[0], d[1], d[2]};
}

wxImage COrbalonCanvas::Snapshot() {
  const wxSize cs = GetClientSize();
  return Compose(std::max(cs.x, 1), std::max(cs.y, 1));
}

// ----- view --------------------------------------------------------------------------------

bool COrbalonView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  auto* frame = new CChildFrame(doc, this, wxStaticCast(wxTheApp->GetTopWindow(), wxDocMDIParentFrame));
  m_canvas = new COrbalonCanvas(frame, this);
  SetFrame(frame);
  frame->Show(true);
  // The working image knows the window that shows it.
  if (auto* d = dynamic_cast<COrbalonDoc*>(doc)) {
    d->WorkingImage()->view = this;
    d->WorkingImage()->viewWindow = static_cast<orb::DisplaySurface*>(m_canvas);
  }
  m_canvas->Bind(wxEVT_KEY_DOWN, &COrbalonView::OnKeyDown, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_TOP, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_BOTTOM, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_LINEUP, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_LINEDOWN, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_PAGEUP, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_PAGEDOWN, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_THUMBTRACK, &COrbalonView::OnScrollEvent, this);
  m_canvas->Bind(wxEVT_SCROLLWIN_THUMBRELEASE, &COrbalonView::OnScrollEvent, this);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnSaveAndNext(); }, kIdSaveAndNext);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnDiscardAndNext(); }, kIdDiscardAndNext);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnZoomInAt(); }, kIdZoomInAt);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnZoomOut(); }, kIdZoomOut);
  // The lens is made with the view, hidden; it magnifies the working image.
  m_pLupe = std::make_unique<CLupeView>([this] {
    if (m_canvas) m_canvas->Refresh(false);
  });
  if (auto* d = dynamic_cast<COrbalonDoc*>(doc)) m_pLupe->SetImage(d->WorkingImage());
  BindMouse();
  return true;
}

void COrbalonView::OnDraw(wxDC*) {}

void COrbalonView::OnUpdate(wxView*, wxObject* hint) {
  auto* h = dynamic_cast<COrbalonViewHint*>(hint);
  UpdateView(h ? h->hint() : orb::kHintNone);
}

void COrbalonView::UpdateView(int hint) {
  if (orb::HasStatus(orb::StatusBit::Busy)) return;
  COrbalonDoc* doc = GetDocument();
  ImageState* w = doc ? doc->WorkingImage() : nullptr;
  if (!w || !m_canvas) return;
  const orb::Rect client = m_canvas->ClientRect();
  const PixelRect region = orb::RegionForHint(hint, w->region, client.Width(), client.Height(), w->width, w->height,
                                              MiscSettings.ZoomInStep, MiscSettings.ZoomOutStep);
  w->region = orb::FitRegionToClient(region, client.Width(), client.Height(), w->width, w->height);
  orb::SetStatus(orb::StatusBit::ViewRefresh);
  {
    std::unique_ptr<wxBusyCursor> wait;
    if (!g_bMouseButtonDown.load()) wait = std::make_unique<wxBusyCursor>();
    ProgressiveDisplay display(w);
    FinishImageDisplay(&display);
  }
  UpdateScrollBars();
  if (hint != orb::kHintRepaint) RefreshNavigator();
  const orb::ViewContext view = Context();
  if (w->state == VS_JOIN_CANVAS) {
    if (orb::IToolViewHooks* join = orb::ShowingViewTool(orb::ViewToolRole::Join, view)) join->OnViewUpdated(view);
  }
  orb::ClearStatus(orb::StatusBit::ViewRefresh);
  m_canvas->Refresh(false);
  // The lens shows the new picture where it stands.
  if (m_pLupe && MiscSettings.MagnifierShown) {
    m_pLupe->SetImage(w);
    m_pLupe->Show(true);
    ViewDragMode = orb::drag::Magnifier;
    m_pLupe->MoveTo(true, m_pLupe->GetCentre().x, m_pLupe->GetCentre().y);
    ViewDragMode = orb::drag::None;
  }
}

void COrbalonView::RefreshNavigator() {
  if (auto* map = static_cast<wxEvtHandler*>(g_hMapImage.load())) {
    if (auto* window = dynamic_cast<wxWindow*>(map)) {
      window->Refresh(true);
      window->Update();
    }
  }
}

void COrbalonView::ZoomRegion(int percent) {
  COrbalonDoc* doc = GetDocument();
  if (!doc) return;
  ImageState* w = doc->WorkingImage();
  w->region = orb::ZoomRegion(w->region, percent, w->width, w->height);
}

void COrbalonView::UpdateScrollBars() {
  COrbalonDoc* doc = GetDocument();
  if (!doc || !m_canvas) return;
  ImageState* w = doc->WorkingImage();
  if (FollowingScanAtFullSize()) {
    m_canvas->SetScrollbar(wxHORIZONTAL,
                           orb::ScrollBarPosition(w->visibleSource.left, w->visibleSource.right, w->width), 1,
                           w->width + 1);
    return;
  }
  m_canvas->SetScrollbar(wxVERTICAL, orb::ScrollBarPosition(w->region.top, w->region.bottom, w->height), 1,
                         std::max(w->height, 0) + 1);
  m_canvas->SetScrollbar(wxHORIZONTAL, orb::ScrollBarPosition(w->region.left, w->region.right, w->width), 1,
                         std::max(w->width, 0) + 1);
}

void COrbalonView::Scroll(int orientation, orb::ScrollCode code, int position) {
  COrbalonDoc* doc = GetDocument();
  if (!doc) return;
  ImageState* w = doc->WorkingImage();
  if (orientation == wxHORIZONTAL && FollowingScanAtFullSize()) {
    orb::ScrollAxis(w->visibleSource.left, w->visibleSource.right, w->width, code, position);
    UpdateScrollBars();
    return;
  }
  if (orientation == wxVERTICAL) {
    orb::ScrollAxis(w->region.top, w->region.bottom, w->height, code, position);
  } else {
    orb::ScrollAxis(w->region.left, w->region.right, w->width, code, position);
  }
  UpdateView(orb::kHintRedraw);
  if (m_canvas) m_canvas->Update();
}

void COrbalonView::OnScrollEvent(wxScrollWinEvent& e) {
  const wxEventType t = e.GetEventType();
  orb::ScrollCode code = orb::ScrollCode::EndScroll;
  if (t == wxEVT_SCROLLWIN_LINEUP) code = orb::ScrollCode::LineUp;
  else if (t == wxEVT_SCROLLWIN_LINEDOWN) code = orb::ScrollCode::LineDown;
  else if (t == wxEVT_SCROLLWIN_PAGEUP) code = orb::ScrollCode::PageUp;
  else if (t == wxEVT_SCROLLWIN_PAGEDOWN) code = orb::ScrollCode::PageDown;
  else if (t == wxEVT_SCROLLWIN_THUMBTRACK) code = orb::ScrollCode::ThumbTrack;
  else if (t == wxEVT_SCROLLWIN_THUMBRELEASE) code = orb::ScrollCode::ThumbPosition;
  if (code == orb::ScrollCode::EndScroll) return;
  Scroll(e.GetOrientation(), code, e.GetPosition());
}

void COrbalonView::OnKeyDown(wxKeyEvent& e) {
  switch (e.GetKeyCode()) {
    case WXK_PAGEUP:
      Scroll(wxVERTICAL, orb::ScrollCode::PageUp, 0);
      break;
    case WXK_PAGEDOWN:
      Scroll(wxVERTICAL, orb::ScrollCode::PageDown, 0);
      break;
    case WXK_UP:
      Scroll(wxVERTICAL, orb::ScrollCode::LineUp, 0);
      break;
    case WXK_DOWN:
      Scroll(wxVERTICAL, orb::ScrollCode::LineDown, 0);
      break;
    case WXK_LEFT:
      Scroll(wxHORIZONTAL, orb::ScrollCode::LineUp, 0);
      break;
    case WXK_RIGHT:
      Scroll(wxHORIZONTAL, orb::ScrollCode::LineDown, 0);
      break;
    default:
      e.Skip();
  }
}

void COrbalonView::OnSaveAndNext() {
  COrbalonDoc* doc = GetDocument();
  if (!doc) return;
  doc->OnSaveDocument(wxString::FromUTF8(doc->FileImage()->sourcePath));
  doc->GetDocumentManager()->CloseDocument(doc, true);
}

void COrbalonView::OnDiscardAndNext() {
  COrbalonDoc* doc = GetDocument();
  if (!doc) return;
  doc->SetDiscardChanges(true);
  doc->GetDocumentManager()->CloseDocument(doc, true);
}

void COrbalonView::OnZoomInAt() {
  COrbalonDoc* doc = GetDocument();
  if (!doc) return;
  ImageState* w = doc->WorkingImage();
  w->region = orb::CentreRegionAt(w->region, m_ptClick, w->clientRect, w->fitScale);
  UpdateView(orb::kHintZoomIn);
}

void COrbalonView::OnZoomOut() { UpdateView(orb::kHintZoomOut); }

// ----- mouse -------------------------------------------------------------------------------

namespace {

constexpr int kCmdPickColors = 144;
constexpr int kStrPixelLabel = orb::res::IDS_INDICATOR_2;
constexpr int kStrPositionLabel = orb::res::IDS_INDICATOR_1;
// Commands of the context menus that a tool page carries out.
constexpr int kPageCommands[] = {139, 149, 157, 158, 159, 160, 161, 162, 40017, 40018, 40019, 40020};

orb::Point PointOf(const wxMouseEvent& e) { return orb::Point{e.GetX(), e.GetY()}; }

bool MouseBlocked() { return orb::ViewMouseBlocked(AppStatus.load()); }

wxCursor CursorFor(uint16_t id) {
  switch (id) {
    case orb::cursor::View: return wxCursor(wxCURSOR_CROSS);
    case orb::cursor::DragScroll: return wxCursor(wxCURSOR_HAND);
    case orb::cursor::JoinItem: return wxCursor(wxCURSOR_SIZING);
    case orb::cursor::JoinSelected: return wxCursor(wxCURSOR_HAND);
    case orb::cursor::MagnifierZoom1:
    case orb::cursor::MagnifierZoom2:
    case orb::cursor::MagnifierZoom4: return wxCursor(wxCURSOR_MAGNIFIER);
    case orb::cursor::SizeNWSE: return wxCursor(wxCURSOR_SIZENWSE);
    case orb::cursor::SizeNESW: return wxCursor(wxCURSOR_SIZENESW);
    case orb::cursor::SizeWE: return wxCursor(wxCURSOR_SIZEWE);
    case orb::cursor::SizeNS: return wxCursor(wxCURSOR_SIZENS);
    case orb::cursor::SizeAll: return wxCursor(wxCURSOR_SIZING);
    case orb::cursor::Cross: return wxCursor(wxCURSOR_CROSS);
    default: return wxCursor(wxCURSOR_ARROW);
  }
}

wxStatusBar* MainStatusBar() {
  auto* frame = dynamic_cast<wxFrame*>(wxTheApp ? wxTheApp->GetTopWindow() : nullptr);
  return frame ? frame->GetStatusBar() : nullptr;
}

}  // namespace

orb::ViewContext COrbalonView::Context() const {
  COrbalonDoc* doc = GetDocument();
  return orb::ViewContext{doc ? doc->WorkingImage() : nullptr};
}

void COrbalonView::BindMouse() {
  m_canvas->Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) {
    m_canvas->SetFocus();
    OnLButtonDown(PointOf(e));
  });
  m_canvas->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) { OnLButtonUp(PointOf(e)); });
  m_canvas->Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent& e) { OnRButtonDown(PointOf(e)); });
  m_canvas->Bind(wxEVT_RIGHT_UP, [this](wxMouseEvent& e) { OnRButtonUp(PointOf(e)); });
  m_canvas->Bind(wxEVT_MOTION, [this](wxMouseEvent& e) { OnMouseMove(PointOf(e), e.LeftIsDown()); });
  m_canvas->Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { OnCaptureLost(); });
  // The popup menus' commands come back to the canvas.
  m_canvas->Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnPickColors(); }, kCmdPickColors);
  m_canvas->Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnZoomInAt(); }, kIdZoomInAt);
  m_canvas->Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnZoomOut(); }, kIdZoomOut);
  for (int id : kPageCommands) {
    m_canvas->Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
      const orb::ViewContext view = Context();
      for (int r = 0; r < static_cast<int>(orb::ViewToolRole::Count); ++r) {
        orb::IToolViewHooks* page = orb::RegisteredViewTool(static_cast<orb::ViewToolRole>(r));
        if (page && page->OnViewCommand(view, e.GetId())) break;
      }
      if (m_canvas) m_canvas->Refresh(false);
    }, id);
  }
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnPickColors(); }, kCmdPickColors);
  m_messages.Attach(this);
  m_messages.On(WM_SHOW_MAGNIFIER, [this](uintptr_t, intptr_t) {
    OnShowMagnifier();
    return intptr_t{0};
  });
}

void COrbalonView::Capture() {
  if (m_canvas && !m_canvas->HasCapture()) m_canvas->CaptureMouse();
}

void COrbalonView::Release() {
  if (m_canvas && m_canvas->HasCapture()) m_canvas->ReleaseMouse();
}

void COrbalonView::OnCaptureLost() {
  // Another window took the mouse: the drag ends where it is.
  m_bandShown = false;
  m_lensCaptured = false;
  m_dragOwner = nullptr;
  ViewDragMode = orb::drag::None;
  if (m_canvas) m_canvas->Refresh(false);
}

void COrbalonView::ShowCursor(uint16_t id) {
  if (m_canvas && id != orb::cursor::None) m_canvas->SetCursor(CursorFor(id));
}

bool COrbalonView::RouteToLens(orb::Point p) const {
  if (!m_pLupe || !m_pLupe->IsShown()) return false;
  const uint16_t mode = ViewDragMode.load();
  if (m_lensCaptured || mode == orb::drag::MagnifierRim) return true;
  return mode == orb::drag::None && m_pLupe->Hit(p);
}

void COrbalonView::OnLButtonDown(orb::Point p) {
  if (MouseBlocked()) return;
  ViewDragMode = orb::drag::None;
  if (RouteToLens(p)) {
    m_lensCaptured = true;
    m_pLupe->OnLButtonDown(p);
    Capture();
    return;
  }
  const orb::ViewContext view = Context();
  if (!view.image) return;
  const orb::ToolPress press = orb::PressTools(orb::ShowingTools::For(view), view, p);
  ViewDragMode = press.mode;
  m_dragOwner = press.owner;
  if (press.mode == orb::drag::None) {
    p = orb::ClampIntoRect(p, view.Drawing());
    m_ptStart = m_ptCurrent = p;
    m_rcDrag = m_rcLast = orb::Rect{p.x, p.y, p.x, p.y};
    ViewDragMode = orb::drag::RubberBand;
    m_bandShown = MiscSettings.DragScroll == 0;
    if (MiscSettings.DragScroll) {
      m_pressPoint = p;
      m_scrolled = false;
    }
  }
  Capture();
  m_canvas->Refresh(false);
}

void COrbalonView::OnMouseMove(orb::Point p, bool leftHeld) {
  if (MouseBlocked()) return;
  if (RouteToLens(p)) {
    ShowCursor(m_pLupe->OnMouseMove(p, leftHeld && m_lensCaptured));
    return;
  }
  const orb::ViewContext view = Context();
  if (!view.image) return;
  const bool dragScroll = MiscSettings.DragScroll != 0;
  m_nCursorId = orb::MoveCursor(orb::ShowingTools::For(view), view, p, dragScroll);
  const uint16_t mode = ViewDragMode.load();
  switch (mode) {
    case orb::drag::RubberBand:
      if (dragScroll) {
        DragToScroll(p);
      } else {
        m_ptCurrent = orb::ClampIntoRect(p, view.Drawing());
        m_rcLast = m_rcDrag;
        m_rcDrag = orb::NormalisedRect(m_ptStart, m_ptCurrent);
        m_canvas->Refresh(false);
      }
      break;
    case orb::drag::Resize:
    case orb::drag::Move:
    case orb::drag::JoinItem:
    case orb::drag::JoinEdge:
    case orb::drag::JoinPoint:
      // The page that took the press drags; a page hidden meanwhile does nothing.
      if (m_dragOwner && m_dragOwner->IsShowing(view)) {
        m_dragOwner->OnDrag(view, mode, p);
        m_canvas->Refresh(false);
      }
      break;
    case orb::drag::None:
    case orb::drag::Magnifier: {
      const orb::CursorChoice choice = orb::ChooseCursor(AppStatus.load(), m_nCursorId);
      orb::IToolViewHooks* cc = orb::RegisteredViewTool(orb::ViewToolRole::ColourClass);
      orb::IColourPicking* picking = cc ? cc->ColourPicking() : nullptr;
      if (choice.kind == orb::CursorChoice::Kind::ControlPick) {
        if (picking) picking->SetCursorToSelectCurrentColor();
      } else if (choice.kind == orb::CursorChoice::Kind::ControlMerge) {
        if (picking) picking->SetCursorToAreaMerge();
      } else {
        ShowCursor(choice.id);
      }
      ShowReadouts(p);
      if (mode == orb::drag::None && m_pLupe && m_pLupe->IsShown()) {
        ViewDragMode = orb::drag::Magnifier;
        m_pLupe->MoveTo(false, p.x, p.y);
        ViewDragMode = orb::drag::None;
      }
      break;
    }
    default:
      break;
  }
}

void COrbalonView::ShowReadouts(orb::Point p) {
  wxStatusBar* bar = MainStatusBar();
  if (!bar || bar->GetFieldsCount() < 3 || !m_canvas) return;
  const orb::ViewContext view = Context();
  bar->SetStatusText(wxString::FromUTF8(orb::PixelReadout(orb::LoadString(kStrPixelLabel), m_canvas->PaintedPixel(p))), 2);
  bar->SetStatusText(wxString::FromUTF8(orb::PositionReadout(orb::LoadString(kStrPositionLabel), view.ToImage(p))), 1);
}

void COrbalonView::DragToScroll(orb::Point p) {
  COrbalonDoc* doc = GetDocument();
  ImageState* w = doc ? doc->WorkingImage() : nullptr;
  if (!w) return;
  m_ptCurrent = p;
  const orb::Point shift = orb::ScrollShift(m_ptStart, p, w->fitScale);
  m_ptClick = shift;
  if (shift.x != 0 || shift.y != 0) {
    w->region = orb::ShiftRegion(w->region, shift, w->width, w->height);
    m_scrolled = true;
    UpdateView(orb::kHintRedraw);
    m_canvas->Update();
    // Only the whole pixels moved: the rest of the way counts toward the next move.
    const int64_t zoom = std::max(w->fitScale, 1);
    m_ptStart.x -= static_cast<int32_t>(shift.x * 10000 / zoom);
    m_ptStart.y -= static_cast<int32_t>(shift.y * 10000 / zoom);
  }
  m_rcDrag = orb::Rect{0, 0, 1, 1};
}

void COrbalonView::ClickAt(orb::Point p) {
  COrbalonDoc* doc = GetDocument();
  ImageState* w = doc ? doc->WorkingImage() : nullptr;
  if (!w) return;
  if (orb::HasStatus(orb::StatusBit::ColourPickRequested)) {
    // The class under the cursor becomes the control's current colour; no zoom.
    orb::IToolViewHooks* cc = orb::RegisteredViewTool(orb::ViewToolRole::ColourClass);
    orb::IColourPicking* picking = cc ? cc->ColourPicking() : nullptr;
    if (!picking) return;
    if (const std::optional<uint8_t> cls = orb::PickColourClass(w, Context().ToImage(p))) picking->SetCurrentColor(*cls);
    return;
  }
  m_ptClick = p;
  OnZoomInAt();
}

void COrbalonView::EndRubberBand(orb::Point p) {
  const orb::ViewContext view = Context();
  m_bandShown = false;
  if (!view.image) return;
  p = orb::ClampIntoRect(p, view.Drawing());
  m_rcDrag = orb::NormalisedRect(m_ptStart, p);
  const PixelRect r = orb::BandToImageRect(m_rcDrag, view);
  switch (orb::ClassifyBand(r)) {
    case orb::BandResult::ZoomToRect:
      view.image->region = r;
      UpdateView(orb::kHintRedraw);
      break;
    case orb::BandResult::Click:
      ClickAt(p);
      break;
    case orb::BandResult::Nothing:
      break;
  }
}

void COrbalonView::OnLButtonUp(orb::Point p) {
  if (m_lensCaptured || (ViewDragMode.load() == orb::drag::MagnifierRim && m_pLupe)) {
    m_lensCaptured = false;
    Release();
    m_pLupe->OnLButtonUp(p);
    return;
  }
  if (MouseBlocked()) {
    Release();
    return;
  }
  const uint16_t mode = ViewDragMode.load();
  Release();
  if (mode == orb::drag::RubberBand) {
    if (MiscSettings.DragScroll) {
      if (!m_scrolled && p == m_pressPoint) ClickAt(p);
    } else {
      EndRubberBand(p);
    }
  } else if (m_dragOwner && mode != orb::drag::None) {
    const orb::ViewContext view = Context();
    if (m_dragOwner->IsShowing(view)) m_dragOwner->OnButtonUp(view, mode, p);
  }
  m_bandShown = false;
  m_dragOwner = nullptr;
  if (m_canvas) m_canvas->Refresh(false);
  ViewDragMode = orb::drag::None;
}

void COrbalonView::OnRButtonDown(orb::Point p) {
  if (MouseBlocked()) return;
  if (RouteToLens(p)) {
    ShowCursor(m_pLupe->OnRButtonDown(p));
    return;
  }
  const orb::ViewContext view = Context();
  if (!view.image || !orb::ShowingViewTool(orb::ViewToolRole::Despeckle, view)) return;
  if (ViewDragMode.load() != orb::drag::None) return;
  p = orb::ClampIntoRect(p, view.Drawing());
  m_ptStart = m_ptCurrent = p;
  m_rcDrag = m_rcLast = orb::Rect{p.x, p.y, p.x, p.y};
  ViewDragMode = orb::drag::RubberBand;
  m_bandShown = true;
  Capture();
}

void COrbalonView::EndRightBand(orb::Point p) {
  const orb::ViewContext view = Context();
  m_bandShown = false;
  Release();
  if (view.image) {
    m_rcDrag = orb::NormalisedRect(m_ptStart, orb::ClampIntoRect(p, view.Drawing()));
    if (const std::optional<int32_t> speck = orb::SpeckSizeOfBand(orb::BandToImageRect(m_rcDrag, view))) {
      DespeckleSettings.SpeckWidth = *speck;
      if (orb::IToolViewHooks* page = orb::RegisteredViewTool(orb::ViewToolRole::Despeckle)) page->UpdateControls();
    }
  }
  ViewDragMode = orb::drag::None;
  if (m_canvas) m_canvas->Refresh(false);
}

void COrbalonView::OnRButtonUp(orb::Point p) {
  if (MouseBlocked()) return;
  if (m_pLupe && m_pLupe->IsShown() && ViewDragMode.load() == orb::drag::None && m_pLupe->Hit(p)) return;
  const orb::ViewContext view = Context();
  if (!view.image) return;
  orb::RightReleaseInput in;
  in.joinCanvas = view.image->state == VS_JOIN_CANVAS;
  in.cursorId = m_nCursorId;
  in.joinMode = JoinImagesSettings.mode;
  in.colourClassShown = orb::ShowingViewTool(orb::ViewToolRole::ColourClass, view) != nullptr;
  in.areaMergeRequested = orb::HasStatus(orb::StatusBit::AreaMergeRequested);
  in.dragMode = ViewDragMode.load();
  const orb::RightRelease what = orb::RightButtonRelease(in);
  switch (what.kind) {
    case orb::RightRelease::Kind::Menu:
      m_ptClick = p;
      ShowContextMenu(what.menu, p);
      break;
    case orb::RightRelease::Kind::DespeckleBand:
      EndRightBand(p);
      break;
    case orb::RightRelease::Kind::ZoomOut:
      UpdateView(orb::kHintZoomOut);
      break;
  }
}

void COrbalonView::ShowContextMenu(int menu, orb::Point p) {
  if (!m_canvas) return;
  std::unique_ptr<wxMenu> popup(wxXmlResource::Get()->LoadMenu(wxString::Format("%d", menu)));
  if (!popup) return;  // a module without the menu: nothing to offer
  m_canvas->SetCursor(wxCursor(wxCURSOR_ARROW));
  m_canvas->PopupMenu(popup.get(), p.x, p.y);
}

void COrbalonView::OnPickColors() {
  static bool running = false;  // one collection at a time: the pump may deliver the command again
  if (running) return;
  COrbalonDoc* doc = GetDocument();
  ImageState* w = doc ? doc->WorkingImage() : nullptr;
  orb::IToolViewHooks* cc = orb::RegisteredViewTool(orb::ViewToolRole::ColourClass);
  orb::IColourPicking* picking = cc ? cc->ColourPicking() : nullptr;
  if (!w || !picking) return;
  running = true;
  CancelFlag.store(0);
  const auto flags = orb::CollectColourClasses(w, picking->CurrentArea(), [] {
    orb::PumpMessages();
    return !orb::IsCancelled();
  });
  running = false;
  if (flags) picking->MergeAreaToCurrentColor(*flags);
}

void COrbalonView::OnShowMagnifier() {
  if (!m_pLupe) return;
  if (!MiscSettings.MagnifierShown) {
    m_pLupe->Show(false);
    if (m_canvas) m_canvas->Refresh(false);
    return;
  }
  COrbalonDoc* doc = GetDocument();
  if (doc) m_pLupe->SetImage(doc->WorkingImage());
  if (m_pLupe->GetCentre() == orb::Point{} && m_canvas) {
    const wxSize cs = m_canvas->GetClientSize();
    m_pLupe->SetCentre(cs.x / 2, cs.y / 2);
  }
  m_pLupe->Show(true);
  UpdateView(orb::kHintRedraw);
}

bool COrbalonView::PagePaintsPicture() {
  const orb::ViewContext view = Context();
  orb::IToolViewHooks* join = orb::ShowingViewTool(orb::ViewToolRole::Join, view);
  return join && join->PaintsPicture(view);
}

void COrbalonView::PaintOverlays(orb::ViewCanvas& canvas) {
  const orb::ViewContext view = Context();
  if (view.image) {
    const orb::ShowingTools tools = orb::ShowingTools::For(view);
    for (orb::IToolViewHooks* page : {tools.join, tools.crop, tools.deskew, tools.split, tools.colourClass}) {
      if (page) page->Paint(view, canvas);
    }
  }
  if (m_bandShown && ViewDragMode.load() == orb::drag::RubberBand) {
    const orb::Rect band = m_rcDrag;
    canvas.InvertFrame(orb::Rect{band.left, band.top, band.right + 1, band.bottom + 1}, m_sizeDrag.x);
  }
  if (m_pLupe) m_pLupe->Paint(canvas);
}

bool COrbalonView::OnClose(bool deleteWindow) {
  COrbalonDoc* doc = GetDocument();
  if (doc && !doc->CanCloseFrame()) return false;
  if (!wxView::OnClose(deleteWindow)) return false;
  Activate(false);
  if (doc) {
    // The records must not reach a window that is going away.
    for (ImageState* s = doc->FileImage(); s; s = s->next) {
      if (s->view == this) {
        s->view = nullptr;
        s->viewWindow = nullptr;
      }
    }
  }
  if (deleteWindow && GetFrame()) {
    GetFrame()->Destroy();
    SetFrame(nullptr);
    m_canvas = nullptr;
  }
  return true;
}

// ----- printing ----------------------------------------------------------------------------

namespace {

class COrbalonPrintout : public wxPrintout {
 public:
  explicit COrbalonPrintout(COrbalonView* view) : wxPrintout(view->GetDocument()->GetTitle()), m_view(view) {}
  bool HasPage(int page) override { return page == 1; }
  void GetPageInfo(int* minPage, int* maxPage, int* from, int* to) override {
    *minPage = *maxPage = *from = *to = 1;
  }
  bool OnPrintPage(int) override {
    wxDC* dc = GetDC();
    COrbalonDoc* doc = m_view->GetDocument();
    if (!dc || !doc) return false;
    int w = 0, h = 0;
    dc->GetSize(&w, &h);
    ProgressiveDisplay display(doc->WorkingImage());
    orb::DisplayImagePtr page;
    if (RenderImageForPrint(&display, w, h, &page) != ShowOutcome::Done || !page) return false;
    wxImage picture(page->width, page->height, false);
    for (int32_t y = 0; y < page->height; ++y) {
      page->PictureRowRgb(y, picture.GetData() + static_cast<size_t>(y) * page->width * 3);
    }
    dc->DrawBitmap(wxBitmap(picture), 0, 0);
    return true;
  }

 private:
  COrbalonView* m_view;
};

}  // namespace

wxPrintout* COrbalonView::OnCreatePrintout() { return new COrbalonPrintout(this); }
