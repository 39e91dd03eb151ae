// The thumbnail dialog docked at the top of the left side: the navigator area from
// template 238. It receives the thumbnail messages; drawing the navigator comes with the
// navigator work, until then the messages only refresh the panel.
#pragma once

#include "common/gui/AppMessage.h"
#include "common/gui/WndWithToolTip.h"

class CViewThumbDlg : public CWndWithToolTip {
 public:
  explicit CViewThumbDlg(wxWindow* parent);
  ~CViewThumbDlg() override;

  int RefreshCount() const { return m_refreshes; }

 private:
  orb::gui::MessageMap m_messages;
  int m_refreshes = 0;
};
