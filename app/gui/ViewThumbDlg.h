// The thumbnail dialog docked at the top of the left side (template 238): the navigator,
// four view buttons (zoom in, zoom out, whole image, one to one), the magnifier toggle and
// the drag-to-scroll toggle. Other parts reach it through g_hThumbDlg with the three
// thumbnail messages, and repaint the navigator through g_hMapImage.
#pragma once

#include <wx/window.h>

#include <atomic>

#include "app/ViewGeometry.h"
#include "common/gui/AppMessage.h"
#include "common/gui/WndWithToolTip.h"

class COrbalonView;
class wxAnyButton;

// The navigator window (0 while none exists).
extern std::atomic<orb::WindowHandle> g_hMapImage;

// The reduced picture of the active image with a frame around the part the view shows.
// A left drag draws a new frame (the view then shows that part), a right drag inside the
// frame moves it.
class CMapImage : public wxWindow {
 public:
  CMapImage(wxWindow* parent, wxWindowID id);
  ~CMapImage() override;

  void SetImage(ImageState* image) { m_pImage = image; }
  ImageState* Image() const { return m_pImage; }
  // Where the picture lies and the frame as last painted (client pixels).
  orb::Rect ThumbRect() const { return m_thumb; }
  orb::Rect Frame() const { return m_frame; }
  // The picture as it would be painted now.
  wxImage Compose();

 private:
  void OnPaint(wxPaintEvent& e);
  void OnLeftDown(wxMouseEvent& e);
  void OnLeftUp(wxMouseEvent& e);
  void OnRightDown(wxMouseEvent& e);
  void OnRightUp(wxMouseEvent& e);
  void OnMotion(wxMouseEvent& e);
  void ApplyFrameToRegion();
  bool Blocked() const;

  ImageState* m_pImage = nullptr;
  orb::Rect m_frame;     // the visible-area frame
  orb::Rect m_thumb;     // the thumbnail rectangle
  int m_dragState = 0;   // 0 none, 1 moving the frame, 2 rubber band
  orb::Point m_anchor, m_last;
  bool m_framing = false;  // a drag has drawn its own frame: painting keeps it
};

class CViewThumbDlg : public CWndWithToolTip {
 public:
  static constexpr int kIdFrame = 1055;
  static constexpr int kIdZoomIn = 1056;
  static constexpr int kIdZoomOut = 1057;
  static constexpr int kIdWholeImage = 1058;
  static constexpr int kIdActualSize = 1059;
  static constexpr int kIdNavigator = 1096;
  static constexpr int kIdMagnifier = 1243;
  static constexpr int kIdDragScroll = 31837;  // the drag-to-scroll command (window ids stop at 32767)

  explicit CViewThumbDlg(wxWindow* parent);
  ~CViewThumbDlg() override;

  int RefreshCount() const { return m_refreshes; }
  CMapImage* Navigator() const { return m_map; }

  void OnZoomIn();
  void OnZoomOut();
  void OnWholeImage();
  void OnActualSize();
  void OnMagnifier();
  void OnDragScrollMode();
  // Shows or hides the zoom and magnifier buttons for the scan state (a scan starts or ends).
  void UpdateForScanState();
  // The message handlers.
  intptr_t OnRefreshThumbnail();
  intptr_t OnClearThumbnail();
  intptr_t OnRedrawView();

 private:
  void BuildControls(wxWindow* content);
  wxWindow* Control(int id) const;
  void CheckToggles();
  static COrbalonView* ActiveView();

  orb::gui::MessageMap m_messages;
  CMapImage* m_map = nullptr;
  ImageState* m_pImage = nullptr;
  int m_refreshes = 0;
};
