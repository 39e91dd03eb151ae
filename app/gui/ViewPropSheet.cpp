#include "app/gui/ViewPropSheet.h"

#include <wx/app.h>
#include <wx/sizer.h>

#include "app/gui/ViewConnectPage.h"
#include "app/gui/ViewPresetPage.h"
#include "app/gui/ViewSetPage.h"
#include "app/gui/ChildFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ProgressDlg.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "engine/Settings.h"
#include "app/Presets.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolPage.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

std::array<CViewPropSheet::PageFactory, orb::kViewPageCount>& Factories() {
  static std::array<CViewPropSheet::PageFactory, orb::kViewPageCount> f;
  return f;
}

struct PageRes {
  int templ;
  int caption;
};
// By tab index.
constexpr PageRes kPages[orb::kViewPageCount] = {
    {orb::res::IDD_PAGE_PRESETS, orb::res::IDS_PAGE_PRESETS},
    {orb::res::IDD_PAGE_TOOLS, orb::res::IDS_PAGE_TOOLS},
    {orb::res::IDD_PAGE_OTHER_TOOLS, orb::res::IDS_PAGE_OTHER_TOOLS},
    {orb::res::IDD_PAGE_SETTINGS, orb::res::IDS_PAGE_SETTINGS},
    {orb::res::IDD_PAGE_CONNECTION, orb::res::IDS_PAGE_CONNECTION},
};

// ----- the tool tabs ---------------------------------------------------------------------

// The tools reach the active view's document through this.
class ToolDocumentHostGui final : public orb::tools::ToolDocumentHost {
 public:
  ImageState* ActiveImage() override {
    COrbalonDoc* d = Doc();
    return d ? d->WorkingImage() : nullptr;
  }
  void SetWorkingImage(ImageState* image) override {
    if (COrbalonDoc* d = Doc()) d->Image().SetWorking(image);
  }
  void UpdateView(int hint) override {
    COrbalonDoc* d = Doc();
    COrbalonView* v = d ? d->View() : nullptr;
    if (!v) return;
    v->UpdateView(hint);
    if (v->Canvas()) v->Canvas()->Update();
  }
  void FileChanged() override {
    COrbalonDoc* d = Doc();
    if (d && d->ReloadFromFile()) {
      UpdateView(orb::tools::kViewHintWholeImage);
    } else {
      UpdateView(orb::tools::kViewHintRepaint);
    }
  }
  void ImageChanged() override {
    if (COrbalonDoc* d = Doc()) d->UpdateTitle();
    orb::SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
    if (CToolPage::s_refreshHosts) CToolPage::s_refreshHosts();
  }
  std::unique_ptr<orb::tools::IApplyProgress> MakeProgress(int captionId, int lines) override {
    class Progress final : public orb::tools::IApplyProgress {
     public:
      explicit Progress(std::unique_ptr<orb::ProgressReporter> r) : r_(std::move(r)) {}
      void Step(int lines) override {
        for (int i = 0; i < lines && r_; ++i) r_->Step();
      }

     private:
      std::unique_ptr<orb::ProgressReporter> r_;
    };
    wxWindow* parent = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    return std::make_unique<Progress>(orb::gui::DocumentProgressFactory(parent)(captionId, lines));
  }

 private:
  static COrbalonDoc* Doc() {
    wxDocManager* m = wxDocManager::GetDocumentManager();
    return m ? dynamic_cast<COrbalonDoc*>(m->GetCurrentDocument()) : nullptr;
  }
};

// A loaded preset shows in the tool's page at once, and in the view for the tools that
// preview there.
void RefreshToolPage(int toolId) {
  for (orb::WindowHandle h : {g_hToolsPage.load(), g_hOtherToolsPage.load()}) {
    auto* host = dynamic_cast<CToolHostPage*>(static_cast<wxEvtHandler*>(h));
    CToolPage* page = host ? host->Page(toolId) : nullptr;
    if (!page) continue;
    page->UpdateControls();
    const orb::tools::ToolPageInfo* info = orb::tools::FindTool(toolId);
    orb::tools::ToolDocumentHost* doc = orb::tools::GetToolDocumentHost();
    if (info && info->ok == orb::tools::OkAction::PostApply && doc && doc->ActiveImage())
      doc->UpdateView(orb::tools::kViewHintRedraw);
  }
}

void SetPresetRefreshes(bool on) {
  for (const orb::tools::FramePresetTool& entry : orb::tools::FramePresetTools()) {
    const orb::tools::ToolPageInfo* info = orb::tools::FindTool(entry.toolId);
    if (!info || !info->presetExt) continue;
    std::function<void()> refresh;
    if (on) refresh = [id = entry.toolId] { RefreshToolPage(id); };
    orb::presets::SetToolRefresh(info->presetExt, std::move(refresh));
  }
}

// The tools and other tools tabs, with the hooks that keep them on the active image.
wxWindow* MakeToolTab(wxWindow* parent, int index) {
  static ToolDocumentHostGui host;
  orb::tools::SetToolDocumentHost(&host);
  CToolHostPage* page = nullptr;
  if (index == orb::kPageTools) page = new CViewToolsPropPage(parent);
  if (index == orb::kPageOtherTools) page = new COtherToolsPropPage(parent);
  auto follow = [](void* handle) {
    return [handle](wxDocument*) {
      auto* p = static_cast<CToolHostPage*>(static_cast<wxEvtHandler*>(handle));
      p->AttachActiveImage();
      p->UpdateButtons();
    };
  };
  if (index == orb::kPageTools) CChildFrame::s_toolsPageActivate = follow(orb::gui::HandleOf(page));
  if (index == orb::kPageOtherTools) CChildFrame::s_otherToolsPageActivate = follow(orb::gui::HandleOf(page));
  CToolPage::s_refreshHosts = [] {
    for (orb::WindowHandle h : {g_hToolsPage.load(), g_hOtherToolsPage.load()}) {
      if (auto* p = dynamic_cast<CToolHostPage*>(static_cast<wxEvtHandler*>(h))) {
        p->AttachActiveImage();
        p->UpdateButtons();
      }
    }
  };
  SetPresetRefreshes(true);
  return page;
}

}  // namespace

void CViewPropSheet::SetPageFactory(int index, PageFactory factory) {
  if (index >= 0 && index < orb::kViewPageCount) Factories()[index] = std::move(factory);
}

CViewPropSheet::CViewPropSheet(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  m_tabs = new wxNotebook(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxNB_LEFT);
  // Pages are made in this order (connection first) and added in tab order.
  const int makeOrder[] = {orb::kPageConnection, orb::kPagePresets, orb::kPageTools,
                           orb::kPageOtherTools, orb::kPageSettings};
  for (int index : makeOrder) {
    wxWindow* page = Factories()[index] ? Factories()[index](m_tabs) : nullptr;
    if (!page) page = MakeOwnPage(index);
    if (!page && (index == orb::kPageTools || index == orb::kPageOtherTools)) page = MakeToolTab(m_tabs, index);
    if (!page) page = orb::gui::LoadPanel(m_tabs, kPages[index].templ);
    if (!page) page = new wxPanel(m_tabs);  // a module without the template: an empty page
    m_pages[index] = page;
  }
  for (int i = 0; i < orb::kViewPageCount; ++i) m_tabs->AddPage(m_pages[i], orb::gui::Str(kPages[i].caption));

  m_width = ConvertDialogToPixels(wxSize(orb::ViewSheetWidthDialogUnits(MiscSettings.LanguageId), 0)).x + 15;
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(m_tabs, 1, wxEXPAND);
  SetSizer(sizer);
  SetMinSize(wxSize(m_width, -1));

  m_tabs->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, &CViewPropSheet::OnPageChanged, this);
  m_messages.Attach(this);
  m_messages.On(WM_RESIZE_PAGE, [this](uintptr_t, intptr_t) {
    OnResizePage();
    return intptr_t{0};
  });

  // Every page is activated once while the sheet is made, the connection page last; each
  // activation records its page, so the application restores the recorded page afterwards.
  for (int i = 0; i < orb::kViewPageCount; ++i) m_tabs->SetSelection(i);
  m_creating = false;
}

CViewPropSheet::~CViewPropSheet() {
  // The tool pages go with the sheet: nothing may reach them afterwards.
  CChildFrame::s_toolsPageActivate = nullptr;
  CChildFrame::s_otherToolsPageActivate = nullptr;
  CToolPage::s_refreshHosts = nullptr;
  SetPresetRefreshes(false);
  orb::tools::SetToolDocumentHost(nullptr);
}

wxWindow* CViewPropSheet::MakeOwnPage(int index) {
  switch (index) {
    case orb::kPagePresets: return new CViewPresetPropPage(m_tabs);
    case orb::kPageSettings: return new CViewSetPropPage(m_tabs);
    case orb::kPageConnection: return new CViewConnectPropPage(m_tabs);
    default: return nullptr;
  }
}

wxWindow* CViewPropSheet::GetPage(int index) const {
  return index >= 0 && index < orb::kViewPageCount ? m_pages[index] : nullptr;
}

int CViewPropSheet::GetActiveIndex() const { return m_tabs->GetSelection(); }

void CViewPropSheet::SetActivePage(int index) {
  if (index < 0 || index >= orb::kViewPageCount) return;
  m_tabs->SetSelection(index);
}

void CViewPropSheet::OnPageChanged(wxBookCtrlEvent& e) {
  int index = e.GetSelection();
  // Every page but the connection page records itself as the page to reopen.
  if (index >= 0 && index != orb::kPageConnection) MiscSettings.ActiveViewPage = index;
  if (auto* page = dynamic_cast<CSheetPage*>(GetPage(index))) page->OnSetActive();
  if (index == orb::kPageOtherTools) {
    if (auto* other = dynamic_cast<COtherToolsPropPage*>(m_pages[index])) other->OnSetActive();
  }
  // Placed after the toolkit has finished showing the new page.
  if (!m_creating) orb::PostAppMessage(orb::gui::HandleOf(this), WM_RESIZE_PAGE);
  e.Skip();
}

void CViewPropSheet::OnResizePage() {
  if (wxWindow* page = m_tabs->GetCurrentPage()) {
    page->Layout();
    page->Refresh();
  }
}
