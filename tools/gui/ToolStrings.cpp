#include "tools/gui/ToolStrings.h"

#include "common/gui/Resources.h"

namespace orb::tools {

wxString ToolStr(int id) { return orb::gui::Str(id); }

}  // namespace orb::tools
