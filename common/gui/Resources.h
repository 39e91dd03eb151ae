// The language module on the wx side: its XRC resources loaded into wxXmlResource, its
// strings and images as wx objects.
#pragma once

#include <wx/bitmap.h>
#include <wx/string.h>

class wxWindow;
class wxPanel;
class wxDialog;

namespace orb {
class LanguageModule;
}

namespace orb::gui {

// Hands the module's XRC document to the XRC loader (images in it are read from the
// module too). False with *error when it cannot be loaded.
bool LoadXrcModule(const orb::LanguageModule& module, wxString* error);
// Unloads what LoadXrcModule loaded.
void UnloadXrcModule();

// The current module's string (UTF-8), empty when missing.
wxString Str(int id);
// XRC object name of a numeric id.
wxString ResName(int id);
// Image "images/<name>.png" of the current module; an invalid bitmap when missing.
wxBitmap ModuleBitmap(const wxString& name);
inline wxBitmap ModuleBitmap(int id) { return ModuleBitmap(wxString::Format("%d", id)); }
// An XRC panel by id; nullptr when the module has none.
wxPanel* LoadPanel(wxWindow* parent, int id);
// Creates `panel` from the module's panel template `id`; false (and nothing created) when
// the module has none.
bool LoadPanelTemplate(wxPanel* panel, wxWindow* parent, int id);
// Creates `dialog` from the module's dialog template `id`; false (and nothing created) when
// the module has none.
bool LoadDialogTemplate(wxDialog* dialog, wxWindow* parent, int id);

}  // namespace orb::gui
