// The tone curve editor: four Bezier curves (master, red, green, blue) whose control points
// the user drags in a graph, previewed on the working image while dragging.
#pragma once

#include "tools/ToolPageModels.h"
#include "tools/gui/ToolPage.h"

class wxChoice;

class CGammaTools : public CToolPage {
 public:
  static constexpr int kTemplate = 200;
  static constexpr int kGraphId = 1176;
  static constexpr int kChannelId = 1177;
  static constexpr int kInputTextId = 1178;
  static constexpr int kOutputTextId = 1179;

  CGammaTools();
  void UpdateControls() override;
  void OnReset() override;
  void OnOK() override { PostApply(); }
  void OnChannelSelected();

  // Mouse in graph client coordinates (the graph window forwards them).
  void OnLButtonDown(int x, int y);
  void OnMouseMove(int x, int y);
  void OnLButtonUp();
  int Picked() const { return m_picked; }
  bool Dragging() const { return m_dragging; }
  wxWindow* Graph() const { return m_graph; }
  orb::tools::CurveGraph GraphGeometry() const;

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;

 private:
  void PaintGraph(wxDC& dc);
  void RefreshView();

  wxWindow* m_graph = nullptr;
  wxChoice* m_channel = nullptr;
  int m_picked = -1;
  bool m_dragging = false;
};
