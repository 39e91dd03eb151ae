// Windows whose child controls show the tooltip rule's texts: the language module's string
// whose id is the control's id, cut to its first line or shown whole by the tooltip mode
// (MiscSettings), the general tip 33008 for a control without a text.
#pragma once

#include <wx/panel.h>

namespace orb::gui {

// Gives every direct child of `parent` with a real control id its tip under `mode`
// (removes the tips in mode 0). Hidden controls get theirs too and show it once visible;
// disabled controls keep theirs.
void ApplyToolTips(wxWindow* parent, int mode);
// The tooltip settings of the whole program: how long tips stay and how wide they get.
void ConfigureToolTips();

}  // namespace orb::gui

// A panel that applies the tooltip rule to its children, again whenever the tooltip
// mode changes (RefreshToolTips).
class CWndWithToolTip : public wxPanel {
 public:
  CWndWithToolTip() = default;
  CWndWithToolTip(wxWindow* parent, wxWindowID id = wxID_ANY) : wxPanel(parent, id) {}
  void RefreshToolTips();
};
