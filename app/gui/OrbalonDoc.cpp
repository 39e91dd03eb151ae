#include "app/gui/OrbalonDoc.h"

#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/print.h>
#include <wx/utils.h>

#include <chrono>
#include <filesystem>

#include "common/AppGlobals.h"
#include "app/DisplaySink.h"
#include "common/LanguageModule.h"
#include "app/MessageText.h"
#include "common/Messages.h"
#include "app/SaveFormats.h"
#include "app/gui/ChildFrame.h"
#include "app/gui/FileOpen.h"
#include "common/gui/Resources.h"
#include "app/gui/OutputOptionDlgs.h"
#include "app/gui/ProgressDlg.h"
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
  // A document refused while opening was closed by the program itself.
  orb::ClearStatus(orb::StatusBit::ProgramClose);
  RefreshToolPages();
  return doc;
}

// ----- document ----------------------------------------------------------------------------

COrbalonDoc::COrbalonDoc() = default;

COrbalonDoc::~COrbalonDoc() {
  // The document that becomes active next is known only once this one is gone.
  if (wxTheApp) wxTheApp->CallAfter([] { COrbalonDoc::RefreshMainWindowTitle(); });
}

void COrbalonDoc::RefreshMainWindowTitle() {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  if (auto* doc = manager ? wxDynamicCast(manager->GetCurrentDocument(), COrbalonDoc) : nullptr) {
    doc->UpdateTitle();
    return;
  }
  if (wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr) {
    top->SetLabel(wxString::FromUTF8(g_szAppTitle.empty() ? std::string("Orbalon") : g_szAppTitle));
  }
}

COrbalonView* COrbalonDoc::View() const { return wxDynamicCast(GetFirstView(), COrbalonView); }

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
    auto* doc = wxDynamicCast(d, COrbalonDoc);
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
  const auto& types = orb::SaveAsTypes(w->kind);
  if (types.empty()) return;  // a kind no format can hold
  std::string filter = orb::SaveAsFilter(w->kind);
  while (!filter.empty() && filter.back() == '|') filter.pop_back();
  const std::filesystem::path source(f->sourcePath);
  std::string ext = source.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  const int preselect = orb::PreselectSaveAsType(orb::SaveAsFilter(w->kind), ext);
  const wxString folder =
      wxString::FromUTF8(orb::SaveAsStartFolder(orb::TextField(MiscSettings.LastSaveAsPath), f->sourcePath));
  wxString path;
  int position = 0;
  for (;;) {
    wxFileDialog dlg(DialogParent(), orb::gui::Str(kStrSaveAsTitle), folder, wxString::FromUTF8(source.filename().string()),
                     wxString::FromUTF8(filter), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (preselect > 0) dlg.SetFilterIndex(preselect - 1);
    if (dlg.ShowModal() != wxID_OK) return;
    path = dlg.GetPath();
    // The toolkit may know the chosen folder and name without the whole path.
    if (path.empty() && !dlg.GetFilename().empty()) path = wxFileName(dlg.GetDirectory(), dlg.GetFilename()).GetFullPath();
    if (wxFileName(path).GetName().empty()) return;  // no file named: nothing to write
    position = dlg.GetFilterIndex() + 1;
    if (position < 1 || position > static_cast<int>(types.size())) position = preselect > 0 ? preselect : 1;
    // The chosen type decides the extension, as the type list changed it while the dialog
    // was open.
    path = wxString::FromUTF8(orb::SaveAsFileName(Utf8(path), w->kind, position));
    if (!orb::IsSameFile(Utf8(path), f->sourcePath)) break;
    wxMessageBox(Text(kMsgSameFile), wxTheApp->GetAppDisplayName(), wxOK | wxICON_EXCLAMATION, DialogParent());
  }
  const orb::SaveAsType& type = types[static_cast<size_t>(position - 1)];
  if (type.qualityKind != 0) {
    CJpegQuality quality(type.qualityKind, DialogParent());
    if (quality.ShowModal() == wxID_OK) quality.Store();
  }
  orb::SetTextField(MiscSettings.LastSaveAsPath, Utf8(path));
  MiscSettings.LastSaveAsType = position;
  MiscSettings.LastSaveAsKind = w->kind;
  WriteImageFile(type.format, this, Utf8(path));
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

COrbalonCanvas::COrbalonCanvas(wxWindow* parent, COrbalonView* view)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
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
  dc.SetBackground(wxBrush(wxColour(orb::kViewBackground[0], orb::kViewBackground[1], orb::kViewBackground[2])));
  dc.Clear();
  COrbalonDoc* doc = m_view ? m_view->GetDocument() : nullptr;
  ImageState* image = doc ? doc->WorkingImage() : nullptr;
  if (!image) return;
  orb::DisplayImagePtr source;
  int32_t left = 0, top = 0;
  orb::DisplayImagePtr full = orb::FullSizeImage();
  if (orb::HasStatus(orb::StatusBit::FullSizeDisplay) && full) {
    source = full;
  } else {
    orb::DisplayImage* display = orb::AsDisplayImage(image->bitmaps[2]);
    if (!display) return;  // nothing drawn yet: the window stays empty
    source = std::static_pointer_cast<orb::DisplayImage>(image->bitmaps[2]);
    image->fitScale = ComputeFitScale(image->region.right - image->region.left,
                                      image->region.bottom - image->region.top, cs.x, cs.y);
    const orb::DrawPlacement place = orb::PlaceDisplayBitmap(display->width, display->height, cs.x, cs.y);
    if (place.scale <= 0) return;
    image->displayScale = place.scale;
    image->clientRect = PixelRect{place.target.left, place.target.top, place.target.right, place.target.bottom};
    left = place.target.left;
    top = place.target.top;
    wxImage picture(display->width, display->height, false);
    {
      std::lock_guard<std::mutex> lock(display->lock);
      for (int32_t y = 0; y < display->height; ++y) {
        display->PictureRowRgb(y, picture.GetData() + static_cast<size_t>(y) * display->width * 3);
      }
    }
    if (place.width != display->width || place.height != display->height) {
      picture.Rescale(place.width, place.height, wxIMAGE_QUALITY_NEAREST);
    }
    dc.DrawBitmap(wxBitmap(picture), left, top);
    return;
  }
  wxImage picture(source->width, source->height, false);
  {
    std::lock_guard<std::mutex> lock(source->lock);
    for (int32_t y = 0; y < source->height; ++y) {
      source->PictureRowRgb(y, picture.GetData() + static_cast<size_t>(y) * source->width * 3);
    }
  }
  dc.DrawBitmap(wxBitmap(picture), 0, 0);
}

wxImage COrbalonCanvas::Snapshot() {
  const wxSize cs = GetClientSize();
  wxBitmap bmp(std::max(cs.x, 1), std::max(cs.y, 1), 24);
  {
    wxMemoryDC mdc(bmp);
    Paint(mdc);
  }
  return bmp.ConvertToImage();
}

// ----- view --------------------------------------------------------------------------------

bool COrbalonView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  auto* frame = new CChildFrame(doc, this, wxStaticCast(wxTheApp->GetTopWindow(), wxDocMDIParentFrame));
  m_canvas = new COrbalonCanvas(frame, this);
  SetFrame(frame);
  frame->Show(true);
  // The working image knows the window that shows it.
  if (auto* d = wxDynamicCast(doc, COrbalonDoc)) {
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
  return true;
}

void COrbalonView::OnDraw(wxDC*) {}

void COrbalonView::OnUpdate(wxView*, wxObject* hint) {
  auto* h = wxDynamicCast(hint, COrbalonViewHint);
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
  if (hint != orb::kHintRepaint) orb::SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REDRAW_VIEW);
  orb::ClearStatus(orb::StatusBit::ViewRefresh);
  m_canvas->Refresh(false);
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
