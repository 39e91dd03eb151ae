// The view frame of the classification dialog: paints the colour cells of the grid,
// histogram or cube view from the model and turns presses, drags and releases on them
// into current-colour changes and merges.
#pragma once

#include <wx/longlong.h>
#include <wx/panel.h>

#include <functional>
#include <vector>

#include "color_control/ClassificationModel.h"
#include "color_control/PaletteLayout.h"

class PaletteView : public wxPanel {
public:
  PaletteView(wxWindow* parent, wxWindowID id, CClassificationModel& model);

  void SetKind(PaletteViewKind k);
  PaletteViewKind Kind() const { return kind_; }
  void SetScroll(int s);
  int Scroll() const { return scroll_; }
  // Cell rectangles as painted now (frame pixels), for hit tests and tests.
  std::vector<CellRect> Cells() const;

  std::function<void(int position)> onSelect;       // a click made a cell current
  std::function<void(int target)> onMerge;          // flagged cells were dropped on a cell
  std::function<void(int scroll)> onScrolled;

private:
  void OnPaint(wxPaintEvent&);
  void OnLeftDown(wxMouseEvent& e);
  void OnMotion(wxMouseEvent& e);
  void OnLeftUp(wxMouseEvent& e);
  void OnCaptureLost(wxMouseCaptureLostEvent&);
  void PaintCell(wxDC& dc, const CellRect& r) const;
  void PaintCubeAxes(wxDC& dc) const;
  void ClearDropTargets();
  bool ScrollByArrow(int x, int y);

  CClassificationModel& model_;
  PaletteViewKind kind_ = PaletteViewKind::Grid;
  int scroll_ = 0;
  int pressed_ = -1;
  bool dragging_ = false, moved_ = false;
  wxLongLong lastArrowScroll_ = 0;
};
