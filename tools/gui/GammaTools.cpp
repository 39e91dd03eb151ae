#include "tools/gui/GammaTools.h"

#include <wx/choice.h>
#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>

#include <algorithm>

#include "engine/AppStatus.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

using namespace orb::tools;

namespace {

const wxColour kCurveColours[] = {*wxBLACK, wxColour(255, 0, 0), wxColour(0, 255, 0), wxColour(0, 0, 255)};
const wxColour kPointColours[] = {wxColour(128, 128, 128), wxColour(128, 0, 0), wxColour(0, 128, 0),
                                  wxColour(0, 0, 128)};

std::array<orb::CurvePoint, 4>& CurveOf(uint32_t channel) { return GammaSettings.curves[std::min<uint32_t>(channel, 3)]; }

}  // namespace

CGammaTools::CGammaTools() : CToolPage(kToolGamma) {}

uint8_t* CGammaTools::EnabledByte() { return &GammaSettings.enabled; }

void CGammaTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer)->GetContainingSizer()->ShowItems(false);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrChannel)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  m_channel = new wxChoice(this, kChannelId);
  for (const std::string& n : SplitChannelNames(std::string(ToolStr(kStrChannelNames).utf8_str()))) {
    m_channel->Append(wxString::FromUTF8(n));
  }
  m_channel->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnChannelSelected(); });
  row->Add(m_channel, 1);
  sizer->Add(row, 0, wxALL | wxEXPAND, 4);

  m_graph = new wxWindow(this, kGraphId, wxDefaultPosition, wxSize(180, 180), wxBORDER_SIMPLE);
  m_graph->SetMinSize(wxSize(180, 180));
  m_graph->SetBackgroundStyle(wxBG_STYLE_PAINT);
  m_graph->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(m_graph);
    PaintGraph(dc);
  });
  m_graph->Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) { OnLButtonDown(e.GetX(), e.GetY()); });
  m_graph->Bind(wxEVT_MOTION, [this](wxMouseEvent& e) { OnMouseMove(e.GetX(), e.GetY()); });
  m_graph->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) { OnLButtonUp(); });
  m_graph->Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) {
    m_dragging = false;
    m_picked = -1;
  });
  sizer->Add(m_graph, 0, wxALL, 4);

  auto* coords = new wxBoxSizer(wxHORIZONTAL);
  coords->Add(new wxStaticText(this, kInputTextId, "", wxDefaultPosition, wxSize(40, -1)), 0, wxRIGHT, 8);
  coords->Add(new wxStaticText(this, kOutputTextId, "", wxDefaultPosition, wxSize(40, -1)));
  sizer->Add(coords, 0, wxLEFT, 4);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  AddReset(buttons);
  AddApply(buttons);
  sizer->Add(buttons);
}

CurveGraph CGammaTools::GraphGeometry() const {
  CurveGraph g;
  if (m_graph) m_graph->GetClientSize(&g.width, &g.height);
  return g;
}

void CGammaTools::UpdateControls() {
  if (GammaSettings.Channel > 3) GammaSettings.Channel = 0;
  if (m_channel) m_channel->SetSelection(static_cast<int>(GammaSettings.Channel));
  SetToggle(GammaSettings.enabled != 0);
  OnEnable();
  if (m_graph) m_graph->Refresh();
}

void CGammaTools::PaintGraph(wxDC& dc) {
  const CurveGraph g = GraphGeometry();
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  const uint32_t channel = std::min<uint32_t>(GammaSettings.Channel, 3);
  // The master curve alone, or the three colour curves together.
  for (uint32_t c = channel == 0 ? 0 : 1; c <= (channel == 0 ? 0u : 3u); ++c) {
    dc.SetPen(wxPen(kCurveColours[c], 1));
    std::vector<orb::Point> line = g.Polyline(CurveOf(c));
    std::vector<wxPoint> pts;
    for (const orb::Point& p : line) pts.emplace_back(p.x, p.y);
    dc.DrawLines(static_cast<int>(pts.size()), pts.data());
  }
  const auto& points = CurveOf(channel);
  dc.SetPen(wxPen(kPointColours[channel], 1, wxPENSTYLE_DOT));
  const orb::Point p0 = g.ToGraph(points[0]), p1 = g.ToGraph(points[1]), p2 = g.ToGraph(points[2]),
                   p3 = g.ToGraph(points[3]);
  dc.DrawLine(p0.x, p0.y, p1.x, p1.y);
  dc.DrawLine(p2.x, p2.y, p3.x, p3.y);
  dc.SetPen(wxPen(kPointColours[channel], 1));
  dc.SetBrush(*wxWHITE_BRUSH);
  for (const orb::CurvePoint& p : points) {
    const orb::Point c = g.ClampedBox(p);
    dc.DrawRectangle(c.x - 3, c.y - 3, 7, 7);
  }
}

void CGammaTools::RefreshView() {
  ImageState* image = ActiveToolImage();
  if (!image) return;
  image->toneCurvePending = 1;
  image->edited = 1;
  GetToolDocumentHost()->UpdateView(kViewHintRepaint);
}

void CGammaTools::OnChannelSelected() {
  GammaSettings.Channel = static_cast<uint32_t>(std::max(0, m_channel->GetSelection()));
  if (m_graph) m_graph->Refresh();
  RefreshView();
}

void CGammaTools::OnReset() {
  GammaSettings = ToneCurveDefaults;
  UpdateControls();
  RefreshView();
}

void CGammaTools::OnLButtonDown(int x, int y) {
  if (orb::IsScanning()) return;
  m_picked = GraphGeometry().HitTest(CurveOf(GammaSettings.Channel), x, y);
  m_dragging = m_picked != -1;
  // The pointer stays with the graph until the button is let go; positions outside it are
  // held at its edges.
  if (m_graph && !m_graph->HasCapture()) m_graph->CaptureMouse();
}

void CGammaTools::OnMouseMove(int x, int y) {
  if (orb::IsScanning() || !m_graph) return;
  const CurveGraph g = GraphGeometry();
  const int hover = m_dragging ? m_picked : g.HitTest(CurveOf(GammaSettings.Channel), x, y);
  m_graph->SetCursor(hover == 0 || hover == 3 ? wxCursor(wxCURSOR_SIZENS)
                     : hover == 1 || hover == 2 ? wxCursor(wxCURSOR_SIZING)
                                                : *wxSTANDARD_CURSOR);
  if (m_picked != -1 && m_dragging) {
    const int cx = std::clamp(x, 2, std::max(2, g.width - 1));
    const int cy = std::clamp(y, 2, std::max(2, g.height - 1));
    DragCurvePoint(CurveOf(GammaSettings.Channel), m_picked, g, cx, cy);
    m_graph->Refresh();
    m_graph->Update();
    RefreshView();
  } else if (g.Near(x, y)) {
    ShowValue(kInputTextId, g.InputAt(x));
    ShowValue(kOutputTextId, g.OutputAt(y));
  }
}

void CGammaTools::OnLButtonUp() {
  // The pointer is always let go, even when a scan started meanwhile.
  if (m_graph && m_graph->HasCapture()) m_graph->ReleaseMouse();
  if (orb::IsScanning()) return;
  m_dragging = false;
  if (m_picked != -1) RefreshView();
  m_picked = -1;
}
