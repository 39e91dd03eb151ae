#include "common/gui/WndWithToolTip.h"

#include <wx/tooltip.h>

#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "common/ToolTipText.h"
#include "engine/Settings.h"

namespace orb::gui {

void ApplyToolTips(wxWindow* parent, int mode) {
  for (wxWindow* child : parent->GetChildren()) {
    if (child->IsTopLevel()) continue;
    // Commands past the toolkit's ids carry a moved id; their tips are under the command's.
    const int id = orb::res::CommandFromWx(child->GetId());
    std::string text = orb::ToolTipText(mode, id, [](int i) { return orb::LoadString(i); });
    if (text.empty())
      child->UnsetToolTip();
    else
      child->SetToolTip(wxString::FromUTF8(text));
  }
}

void ConfigureToolTips() {
  wxToolTip::Enable(true);
  wxToolTip::SetAutoPop(orb::kToolTipShowMs);
  // The width limit of the tips is the toolkit's own on this platform.
}

}  // namespace orb::gui

void CWndWithToolTip::RefreshToolTips() { orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode); }
