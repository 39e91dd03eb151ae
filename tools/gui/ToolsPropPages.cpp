#include "tools/gui/ToolsPropPages.h"
#include "tools/gui/join/JoinImagesTools.h"

#include <wx/sizer.h>
#include <wx/tglbtn.h>
#include <wx/wrapsizer.h>

#include <algorithm>

#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolPageModels.h"
#include "tools/ToolTable.h"
#include "tools/gui/ColorClassTools.h"
#include "tools/gui/FilterPages.h"
#include "tools/gui/GammaTools.h"
#include "tools/gui/OutsideToolPages.h"
#include "tools/gui/ThresholdPages.h"
#include "tools/gui/ToolStrings.h"
#include "tools/gui/transform/TransformPages.h"

using namespace orb::tools;

namespace {

constexpr int kToolsFrameId = 1060;
constexpr int kOtherToolsFrameId = 1007;

// Made and created inside the host's frame.
template <class P, class... Args>
CToolPage* Made(wxWindow* frame, Args&&... args) {
  auto* p = new P(std::forward<Args>(args)...);
  if (!p->Create(frame)) {
    delete p;
    return nullptr;
  }
  return p;
}

}  // namespace

// ----- the common host ---------------------------------------------------------------

CToolHostPage::CToolHostPage(wxWindow* parent, int frameId) : CWndWithToolTip(parent, wxID_ANY) {
  m_frame = new wxPanel(this, frameId);
  m_frame->SetSizer(new wxBoxSizer(wxVERTICAL));
  m_placeholder = Made<CDummyTools>(m_frame);
  if (m_placeholder) m_frame->GetSizer()->Add(m_placeholder, 1, wxEXPAND);
  m_messages.Attach(this);
  m_messages.On(WM_TOOL_APPLY, [this](uintptr_t, intptr_t) {
    m_nActiveTool = 0;
    ShowActiveTool();
    return intptr_t{0};
  });
  m_messages.On(WM_TOOL_ENABLE, [this](uintptr_t id, intptr_t state) {
    if (TakesEnableMessage(static_cast<int>(id))) SetButtonEnabledLook(static_cast<int>(id), state != 0);
    return intptr_t{0};
  });
}

CToolHostPage::~CToolHostPage() = default;

// Controls are laid out at no less than their own minimum: what does not fit the page is
// cut off at its edge, never squeezed. The sheet makes its pages at the toolkit's default
// size long before the frame gives them theirs, and the toolkit hands the controls the
// sizes of that first layout when the frame first shows, before the page lays them out
// again; a button squeezed to a few pixels there makes the toolkit complain.
bool CToolHostPage::Layout() {
  wxSizer* sizer = GetSizer();
  if (!sizer) return CWndWithToolTip::Layout();
  const wxSize client = GetClientSize();
  wxSize size = client;
  size.IncTo(sizer->GetMinSize());
  sizer->SetDimension(wxPoint(0, 0), size);
  // The bank of buttons wraps by the width it was given: its height follows it.
  const wxSize min = sizer->GetMinSize();
  if (min.x > size.x || min.y > size.y) {
    size = client;
    size.IncTo(min);
    sizer->SetDimension(wxPoint(0, 0), size);
  }
  return true;
}

void CToolHostPage::AddTool(int id, CToolPage* page, int labelId) {
  m_tools.push_back(Tool{id, page, labelId});
  if (page) m_frame->GetSizer()->Add(page, 1, wxEXPAND);
}

void CToolHostPage::Finish() {
  auto* buttons = new wxWrapSizer(wxHORIZONTAL);
  for (const Tool& t : m_tools) {
    auto* b = new wxToggleButton(this, t.id, ToolStr(t.labelId), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    b->Bind(wxEVT_TOGGLEBUTTON, [this, id = t.id](wxCommandEvent&) { OnToolButton(id); });
    buttons->Add(b, 0, wxALL, 2);
    // The toggle states the pages reported while they were made.
    auto it = m_enabledLook.find(t.id);
    if (it != m_enabledLook.end()) SetButtonEnabledLook(t.id, it->second);
  }
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(buttons, 0, wxALL | wxEXPAND, 4);
  sizer->Add(m_frame, 1, wxALL | wxEXPAND, 4);
  SetSizer(sizer);
  m_nActiveTool = 0;
  ShowActiveTool();
  RefreshToolTips();
}

CToolPage* CToolHostPage::Page(int toolId) const {
  for (const Tool& t : m_tools) {
    if (t.id == toolId) return t.page;
  }
  return nullptr;
}

wxToggleButton* CToolHostPage::Button(int toolId) const { return dynamic_cast<wxToggleButton*>(FindWindow(toolId)); }

void CToolHostPage::ShowActiveTool() {
  if (m_placeholder) m_placeholder->Show(m_nActiveTool == 0);
  for (const Tool& t : m_tools) {
    const bool active = t.id == m_nActiveTool;
    if (wxToggleButton* b = Button(t.id)) b->SetValue(active);
    if (t.page) t.page->Show(active);
    if (active && t.page) t.page->UpdateControls();
  }
  m_frame->Layout();
  Layout();
}

void CToolHostPage::OnToolButton(int toolId) {
  m_nActiveTool = m_nActiveTool == toolId ? 0 : toolId;
  ShowActiveTool();
}

void CToolHostPage::AttachActiveImage() { m_pImage = ActiveToolImage(); }

void CToolHostPage::EnableTools() {
  const bool enabled = !orb::IsScanning();
  for (const Tool& t : m_tools) {
    if (t.page) t.page->EnableChildren(enabled);
  }
}

bool CToolHostPage::ShowsEnabled(int toolId) const {
  auto it = m_enabledLook.find(toolId);
  return it != m_enabledLook.end() && it->second;
}

void CToolHostPage::SetButtonEnabledLook(int toolId, bool enabled) {
  m_enabledLook[toolId] = enabled;
  wxToggleButton* b = Button(toolId);
  if (!b) return;
  for (const Tool& t : m_tools) {
    if (t.id != toolId) continue;
    // A switched-on tool carries a mark and the green of "on".
    b->SetLabel((enabled ? wxString::FromUTF8("\u25CF ") : wxString()) + ToolStr(t.labelId));
    b->SetForegroundColour(enabled ? wxColour(0, 120, 0) : wxNullColour);
  }
  Layout();
}

void CToolHostPage::ShowButton(int toolId, bool show) {
  if (wxToggleButton* b = Button(toolId)) b->Show(show);
}

// ----- the tools page ----------------------------------------------------------------

CViewToolsPropPage::CViewToolsPropPage(wxWindow* parent) : CToolHostPage(parent, kToolsFrameId) {
  // In the order the pages are made; the button labels follow the same order.
  int label = kStrToolButtonBase;
  AddTool(kToolDeskew, Made<CDeskewTools>(m_frame), label++);
  AddTool(kToolDespeckle, Made<CDespeckleTools>(m_frame), label++);
  AddTool(kToolCrop, Made<CCropTools>(m_frame), label++);
  AddTool(kToolBrightCont, Made<CBrightContTools>(m_frame), label++);
  AddTool(kToolBWPoint, Made<CBWPointTools>(m_frame), label++);
  AddTool(kToolPalette, Made<CPaletteTools>(m_frame), label++);
  AddTool(kToolSharpen, Made<CSharpenTools>(m_frame), label++);
  AddTool(kToolGamma, Made<CGammaTools>(m_frame), label++);
  AddTool(kToolDescreen, Made<CDescreenTools>(m_frame), label++);
  AddTool(kToolRotate90, Made<CRotate90Tools>(m_frame), label++);
  AddTool(kToolMirror, Made<CMirrorTools>(m_frame), label++);
  AddTool(kToolInvert, Made<CInvertTools>(m_frame), label++);
  AddTool(kToolReduceRes, Made<CReduceResTools>(m_frame), label++);
  AddTool(kToolThreshold, Made<CBWThreshTools>(m_frame), label++);
  Finish();
  g_hToolsPage = orb::gui::HandleOf(this);
  AttachActiveImage();
  UpdateButtons();
}

CViewToolsPropPage::~CViewToolsPropPage() {
  if (g_hToolsPage.load() == orb::gui::HandleOf(this)) g_hToolsPage = nullptr;
}

bool CViewToolsPropPage::TakesEnableMessage(int toolId) const { return ShowsEnabledPicture(toolId); }

void CViewToolsPropPage::UpdateButtons() {
  const bool attached = m_pImage != nullptr;
  const int kind = attached ? static_cast<int>(m_pImage->kind) : static_cast<int>(static_cast<uint16_t>(ScanSettings.ColourMode));
  const ToolButtonPlan plan = ViewToolButtons(attached, kind, attached ? static_cast<int>(m_pImage->state) : 0);
  if (!plan.change) return;
  for (int id : plan.shown) ShowButton(id, true);
  for (int id : plan.hidden) ShowButton(id, false);
  const int active = ActiveToolAfter(plan, m_nActiveTool);
  if (active != m_nActiveTool) {
    m_nActiveTool = active;
    ShowActiveTool();
  }
  Layout();
}

void CViewToolsPropPage::EnableTools() {
  CToolHostPage::EnableTools();
  if (auto* thr = dynamic_cast<CBWThreshTools*>(Page(kToolThreshold))) thr->EnableControls(!orb::IsScanning());
}

// ----- the other tools page ----------------------------------------------------------

COtherToolsPropPage::COtherToolsPropPage(wxWindow* parent) : CToolHostPage(parent, kOtherToolsFrameId) {
  int label = kStrOtherToolButtonBase;
  AddTool(kToolEditor, Made<CEditorTools>(m_frame), label++);
  AddTool(kToolIndex, Made<CIndexTools>(m_frame), label++);
  {
    // Without the classification control the page goes and the rest works without it.
    CToolPage* page = Made<CColorClassTools>(m_frame);
    if (page && !static_cast<CColorClassTools*>(page)->HasControl()) {
      page->Destroy();
      page = nullptr;
    }
    AddTool(kToolColorClass, page, label++);
  }
  AddTool(kToolJoin, Made<CJoinImagesTools>(m_frame), label++);
  AddTool(kToolSplit, Made<CAcceptAs2ImagesTools>(m_frame), label++);
  Finish();
  g_hOtherToolsPage = orb::gui::HandleOf(this);
  AttachActiveImage();
  UpdateButtons();
  OnSetActive();
}

COtherToolsPropPage::~COtherToolsPropPage() {
  if (g_hOtherToolsPage.load() == orb::gui::HandleOf(this)) g_hOtherToolsPage = nullptr;
}

bool COtherToolsPropPage::TakesEnableMessage(int toolId) const {
  return toolId == kToolEditor || toolId == kToolIndex || toolId == kToolColorClass || toolId == kToolSplit;
}

void COtherToolsPropPage::UpdateButtons() {
  const int kind = m_pImage ? static_cast<int>(m_pImage->kind) : static_cast<int>(static_cast<uint16_t>(ScanSettings.ColourMode));
  if (kind == IK_RGB) {
    ShowButton(kToolColorClass, true);
  } else if ((kind >= 1 && kind <= 6) || kind == IK_BW_SAVED_AS_4) {
    ShowButton(kToolColorClass, false);
  }
  // The split line starts in the middle of a newly attached image.
  if (auto* split = dynamic_cast<CAcceptAs2ImagesTools*>(Page(kToolSplit))) split->FollowImage(m_pImage);
  Layout();
}

void COtherToolsPropPage::OnSetActive() {
  const bool shown = ScanSettings.PaperEndDetection == 1;
  ShowButton(kToolJoin, shown);
  ShowButton(kToolSplit, shown);
  Layout();
}
