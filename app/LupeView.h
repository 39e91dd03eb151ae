// The magnifier: a round lens over the image view that shows the image under a chosen
// point enlarged 1, 2 or 4 times.
//
// The lens has no window of its own: the view paints it over its picture (a circle of
// diameter D) and hands it the mouse events that fall inside it, as a round child window
// would get them. Points are the view's client coordinates throughout. The lens content
// is rendered by the display (RenderMagnifierContent) from the record's magnifier source
// rectangle; the lens is the record's magnifier surface meanwhile.
//
// Diameter and zoom live in MiscSettings; values a damaged settings file left fall back
// to the defaults the first time the lens uses them.
#pragma once

#include <cstdint>
#include <functional>

#include "app/Display.h"
#include "app/ViewGeometry.h"
#include "tools/ToolViewHooks.h"

class CLupeView : public orb::DisplaySurface {
 public:
  // `repaint` asks the view to paint again (the lens moved or got new content).
  explicit CLupeView(std::function<void()> repaint = {});
  ~CLupeView() override;
  CLupeView(const CLupeView&) = delete;
  CLupeView& operator=(const CLupeView&) = delete;

  void SetImage(ImageState* image);
  ImageState* Image() const { return m_image; }
  orb::Point GetCentre() const { return m_centre; }
  void SetCentre(int32_t x, int32_t y) { m_centre = orb::Point{x, y}; }
  void Show(bool shown) { m_shown = shown; }
  bool IsShown() const { return m_shown; }

  // Places the lens's square (reposition) about (x, y) and renders the image under (x, y)
  // into it. Callers hold ViewDragMode at 7 around the call.
  void MoveTo(bool reposition, int32_t x, int32_t y);
  // The square the lens occupies in the view.
  orb::Rect Box() const { return m_box; }
  // Whether `p` falls on the lens (inside its circle).
  bool Hit(orb::Point p) const { return m_shown && orb::InsideLens(m_box, p); }

  // Mouse handling; each returns the cursor id to show (0: leave it).
  uint16_t OnMouseMove(orb::Point p, bool leftHeld);
  void OnLButtonDown(orb::Point p);
  void OnLButtonUp(orb::Point p);
  uint16_t OnRButtonDown(orb::Point p);
  bool OverRim() const { return m_overRim; }

  // The lens's content as last rendered (null before the first render).
  const orb::DisplayImagePtr& Content() const { return m_content; }
  // Paints the lens (its content clipped to the circle, and its rim) over the view's picture.
  void Paint(orb::ViewCanvas& canvas) const;

  // DisplaySurface: the lens's own client area (0, 0, D, D).
  orb::Rect ClientRect() const override;
  void Invalidate(bool erase) override;

 private:
  orb::LensSettings Settings() const;
  void Release();
  ImageState* m_image = nullptr;
  orb::Point m_centre;    // where the lens stands (and is put back after an update)
  orb::Rect m_box;        // its square in the view
  bool m_overRim = false;
  bool m_shown = false;
  orb::DisplayImagePtr m_content;
  std::function<void()> m_repaint;
};
