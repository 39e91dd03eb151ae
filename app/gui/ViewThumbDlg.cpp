#include "app/gui/ViewThumbDlg.h"

#include <wx/sizer.h>
#include <wx/xrc/xmlres.h>

#include "common/ResourceIds.h"
#include "common/gui/Resources.h"

CViewThumbDlg::CViewThumbDlg(wxWindow* parent) : CWndWithToolTip(parent, orb::res::IDD_THUMBNAIL) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  if (wxPanel* content = orb::gui::LoadPanel(this, orb::res::IDD_THUMBNAIL)) sizer->Add(content, 1, wxEXPAND);
  SetSizer(sizer);
  m_messages.Attach(this);
  auto refresh = [this](uintptr_t, intptr_t) {
    ++m_refreshes;
    Refresh();
    return intptr_t{0};
  };
  m_messages.On(WM_THUMB_REFRESH, refresh);
  m_messages.On(WM_THUMB_CLEAR, refresh);
  m_messages.On(WM_THUMB_REDRAW_VIEW, refresh);
  RefreshToolTips();
  g_hThumbDlg.store(orb::gui::HandleOf(this));
}

CViewThumbDlg::~CViewThumbDlg() {
  orb::WindowHandle self = orb::gui::HandleOf(this);
  g_hThumbDlg.compare_exchange_strong(self, nullptr);
}
