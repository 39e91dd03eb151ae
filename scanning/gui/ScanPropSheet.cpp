#include "scanning/gui/ScanPropSheet.h"

#include <wx/settings.h>
#include <wx/sizer.h>

#include "common/ResourceIds.h"
#include "common/gui/Resources.h"

namespace {
std::array<CScanPropSheet::PageFactory, CScanPropSheet::kPageCount>& Factories() {
  static std::array<CScanPropSheet::PageFactory, CScanPropSheet::kPageCount> f;
  return f;
}
constexpr int kTemplates[CScanPropSheet::kPageCount] = {
    orb::res::IDD_PAGE_SCAN_OUTPUT, orb::res::IDD_PAGE_SCAN_GENERAL, orb::res::IDD_PAGE_SCAN_MEDIA,
    orb::res::IDD_PAGE_SCAN_EXTENDED};
constexpr int kCaptions[CScanPropSheet::kPageCount] = {
    orb::res::IDS_SCANNER_TAB, orb::res::IDS_PAGE_SCAN_GENERAL, orb::res::IDS_PAGE_SCAN_MEDIA,
    orb::res::IDS_PAGE_SCAN_EXTENDED};
}  // namespace

void CScanPropSheet::SetPageFactory(int index, PageFactory factory) {
  if (index >= 0 && index < kPageCount) Factories()[index] = std::move(factory);
}

CScanPropSheet::CScanPropSheet(wxWindow* parent) : wxScrolled<wxPanel>(parent, wxID_ANY) {
  m_tabs = new wxNotebook(this, wxID_ANY);
  for (int i = 0; i < kPageCount; ++i) {
    wxWindow* page = Factories()[i] ? Factories()[i](m_tabs) : nullptr;
    if (!page) page = orb::gui::LoadPanel(m_tabs, kTemplates[i]);
    if (!page) page = new wxPanel(m_tabs);
    m_pages[i] = page;
    m_tabs->AddPage(page, orb::gui::Str(kCaptions[i]));
  }
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(m_tabs, 1, wxEXPAND);
  SetSizer(sizer);
  SetScrollRate(10, 0);
  // The scrolled area follows the pages' needs; the sheet itself may be given less.
  FitInside();
}

wxSize CScanPropSheet::DoGetBestSize() const {
  const wxSize pages = m_tabs->GetBestSize();
  return wxSize(pages.x, pages.y + wxSystemSettings::GetMetric(wxSYS_HSCROLL_Y, this));
}

wxWindow* CScanPropSheet::GetPage(int index) const {
  return index >= 0 && index < kPageCount ? m_pages[index] : nullptr;
}

void CScanPropSheet::SetTabCaption(int index, const wxString& caption) {
  if (index >= 0 && index < kPageCount) m_tabs->SetPageText(index, caption);
}

wxString CScanPropSheet::GetTabCaption(int index) const {
  return index >= 0 && index < kPageCount ? m_tabs->GetPageText(index) : wxString();
}
