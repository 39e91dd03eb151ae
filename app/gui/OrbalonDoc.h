// The image document and its view on the wx side: thin adapters over the display-free
// document (app/Document.h), the drawing into pixel buffers (app/Display.h) and the view
// geometry (app/ViewGeometry.h).
//
// A document opens its file while its view and child frame already exist, so the image
// is drawn band by band as it decodes; saving, save-as, copies and the close question
// run here with the progress and option dialogs. The view's canvas window paints the
// display bitmap the engine rendered and is the record's DisplaySurface.
#pragma once

#include <wx/docview.h>
#include <wx/window.h>

#include <atomic>
#include <memory>
#include <string>

#include "app/Display.h"
#include "app/Document.h"
#include "app/LupeView.h"
#include "app/ViewGeometry.h"
#include "app/ViewInteraction.h"
#include "common/gui/AppMessage.h"

class COrbalonView;

// The document manager, keeping four recent files. It opens several files from File >
// Open and installs the progressive display into the engine.
//
// A file goes to the image template by what it holds, not by its name: the toolkit would
// match the name's extension against the template's filter and refuse a BMP, or a JPEG
// named ".tif", with "format couldn't be determined". Every road to a document (File >
// Open, the command line, recent files, dropped files) asks here.
class COrbalonDocManager : public wxDocManager {
 public:
  static constexpr int kRecentFiles = 4;
  COrbalonDocManager();
  wxFileHistory* OnCreateFileHistory() override { return new wxFileHistory(kRecentFiles); }
  wxDocument* CreateDocument(const wxString& path, long flags = 0) override;
  wxDocTemplate* FindTemplateForPath(const wxString& path) override;
};

class COrbalonDoc : public wxDocument {
 public:
  COrbalonDoc();
  ~COrbalonDoc() override;

  // The scan document: its working image has state 0. Closed only by accepting or
  // rejecting the scan, never by the user through the frame.
  virtual bool IsScanDocument() const { return m_scanDocument; }
  void SetScanDocument(bool scan) { m_scanDocument = scan; }

  orb::ImageDocument& Image() { return m_image; }
  ImageState* WorkingImage() const { return m_image.working(); }
  ImageState* FileImage() const { return m_image.fileImage(); }
  void SetDiscardChanges(bool discard) { m_image.SetDiscardChanges(discard); }

  bool OnNewDocument() override;
  bool OnOpenDocument(const wxString& file) override;
  // Saves the working image over the file image's file (the argument is not used).
  bool OnSaveDocument(const wxString& file) override;
  bool Save() override;
  bool SaveAs() override;
  // The close question: false when the user cancels.
  bool OnSaveModified() override;
  bool OnCloseDocument() override;
  // False (and running operations asked to stop) while the program is busy.
  bool CanCloseFrame();

  // The save-as dialog: a copy in a chosen format; the document keeps its file.
  void ShowSaveAsDialog();
  // Writes `doc`'s working image with its pending filters into `path` as `format`.
  static bool WriteImageFile(uint32_t format, COrbalonDoc* doc, const std::string& path);
  void UpdateTitle();
  // Reads the image's file again after an outside program rewrote it, when the document
  // shows that file itself (no later version). False when it does not, or the file can no
  // longer be read (the message was shown; the view keeps what it showed).
  bool ReloadFromFile();
  // The main window's title after the active document changed: the active document's, or
  // the program's own when none is open.
  static void RefreshMainWindowTitle();

  COrbalonView* View() const;
  // The document whose working image is `image` (null when none).
  static COrbalonDoc* FindByImage(const ImageState* image);

 protected:
  bool DoOpenDocument(const wxString& file) override;
  bool DoSaveDocument(const wxString& file) override;

 private:
  bool SaveToFile();
  wxWindow* DialogParent() const;

  orb::ImageDocument m_image;
  bool m_scanDocument = false;
  bool m_closeDecided = false;  // the close question was answered Yes or No
  wxDECLARE_DYNAMIC_CLASS(COrbalonDoc);
};

// The window the image is painted in.
class COrbalonCanvas : public wxWindow, public orb::DisplaySurface {
 public:
  COrbalonCanvas(wxWindow* parent, COrbalonView* view);
  orb::Rect ClientRect() const override;
  void PrepareView() override;
  void ShowDisplayRows(int32_t first, int32_t count) override;
  void ShowFullSizeRow(int32_t row) override;
  void Invalidate(bool erase) override;
  // The picture as last painted (for tests and screenshots).
  wxImage Snapshot();
  // The colour of the client pixel `p` as last painted (white outside).
  ColourBytes PaintedPixel(orb::Point p) const;

 private:
  void OnPaint(wxPaintEvent& e);
  void OnSize(wxSizeEvent& e);
  void RefreshSoon();
  void Paint(wxDC& dc);
  // The client-size picture: the display, the tool overlays, the rubber band and the lens.
  wxImage Compose(int width, int height);

  wxImage m_painted;  // the last composed picture, for the pixel readout

  COrbalonView* m_view;
  std::atomic<int> m_width{0};
  std::atomic<int> m_height{0};
  long long m_lastRefreshMs = 0;
  bool m_rebuildPending = false;
};

class COrbalonView : public wxView {
 public:
  static constexpr int kIdSaveAndNext = 2;
  static constexpr int kIdDiscardAndNext = 3;
  static constexpr int kIdZoomInAt = 40023;
  static constexpr int kIdZoomOut = 40024;

  COrbalonView() = default;
  bool OnCreate(wxDocument* doc, long flags) override;
  void OnDraw(wxDC* dc) override;
  void OnUpdate(wxView* sender, wxObject* hint) override;
  bool OnClose(bool deleteWindow) override;
  wxPrintout* OnCreatePrintout() override;

  COrbalonDoc* GetDocument() const { return wxStaticCast(wxView::GetDocument(), COrbalonDoc); }
  COrbalonCanvas* Canvas() const { return m_canvas; }

  // The update with hint 0 to 6 (orb::ViewHint).
  void UpdateView(int hint);
  void ZoomRegion(int percent);
  void UpdateScrollBars();
  void Scroll(int orientation, orb::ScrollCode code, int position);
  void OnSaveAndNext();
  void OnDiscardAndNext();
  void OnZoomInAt();
  void OnZoomOut();
  // The last clicked client point (zoom target).
  void SetClickPoint(orb::Point p) { m_ptClick = p; }

  // Mouse handling (client points); wx mouse events arrive through the canvas.
  void OnLButtonDown(orb::Point p);
  void OnMouseMove(orb::Point p, bool leftHeld);
  void OnLButtonUp(orb::Point p);
  void OnRButtonDown(orb::Point p);
  void OnRButtonUp(orb::Point p);
  // Command 144: the colours of the classification page's area become one colour.
  void OnPickColors();
  // WM_SHOW_MAGNIFIER: shows or hides the lens as the settings say.
  void OnShowMagnifier();
  // Draws the tool pages' overlays, the rubber band and the lens over the picture; true
  // when a page drew the picture itself (the join canvas).
  bool PagePaintsPicture();
  void PaintOverlays(orb::ViewCanvas& canvas);

  CLupeView* Lupe() const { return m_pLupe.get(); }
  uint16_t CursorId() const { return m_nCursorId; }
  orb::ViewContext Context() const;

 private:
  void OnKeyDown(wxKeyEvent& e);
  void OnScrollEvent(wxScrollWinEvent& e);
  void BindMouse();
  void OnCaptureLost();
  void ShowCursor(uint16_t id);
  void ShowReadouts(orb::Point p);
  void DragToScroll(orb::Point p);
  void EndRubberBand(orb::Point p);
  void EndRightBand(orb::Point p);
  void ClickAt(orb::Point p);
  void ShowContextMenu(int menu, orb::Point p);
  void Capture();
  void Release();
  bool RouteToLens(orb::Point p) const;
  void RefreshNavigator();

  COrbalonCanvas* m_canvas = nullptr;
  orb::Point m_ptClick;
  // Drag state between events.
  orb::Rect m_rcDrag, m_rcLast;
  orb::Point m_sizeDrag{1, 1};
  orb::Point m_ptStart, m_ptCurrent;
  orb::Point m_pressPoint;           // where the left button went down with drag-to-scroll
  bool m_scrolled = false;           // drag-to-scroll moved the picture since the press
  bool m_bandShown = false;          // a rubber band is drawn
  bool m_lensCaptured = false;       // the lens took the left button
  orb::IToolViewHooks* m_dragOwner = nullptr;
  uint16_t m_nCursorId = orb::cursor::View;
  std::unique_ptr<CLupeView> m_pLupe;
  orb::gui::MessageMap m_messages;
  wxDECLARE_DYNAMIC_CLASS(COrbalonView);
};

// An update hint carried through the toolkit's UpdateAllViews.
class COrbalonViewHint : public wxObject {
 public:
  explicit COrbalonViewHint(int hint) : m_hint(hint) {}
  int hint() const { return m_hint; }

 private:
  int m_hint;
};
