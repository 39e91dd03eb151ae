#include "common/gui/Resources.h"

#include <wx/filesys.h>
#include <wx/fs_arc.h>
#include <wx/image.h>
#include <wx/mstream.h>
#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/xrc/xmlres.h>

#include "common/LanguageModule.h"

namespace orb::gui {
namespace {
wxString g_loadedUrl;
}

bool LoadXrcModule(const orb::LanguageModule& module, wxString* error) {
  static bool handlersReady = false;
  if (!handlersReady) {
    wxFileSystem::AddHandler(new wxArchiveFSHandler);
    wxInitAllImageHandlers();
    wxXmlResource::Get()->InitAllHandlers();
    handlersReady = true;
  }
  UnloadXrcModule();
  wxString url = wxFileSystem::FileNameToURL(wxFileName(wxString::FromUTF8(module.File().string()))) +
                 "#zip:" + orb::kXrcMember;
  if (!wxXmlResource::Get()->Load(url)) {
    if (error) *error = "cannot load the resources of " + wxString::FromUTF8(module.File().string());
    return false;
  }
  g_loadedUrl = url;
  return true;
}

void UnloadXrcModule() {
  if (!g_loadedUrl.empty()) wxXmlResource::Get()->Unload(g_loadedUrl);
  g_loadedUrl.clear();
}

wxString Str(int id) { return wxString::FromUTF8(orb::LoadString(id)); }

wxString ResName(int id) { return wxString::Format("%d", id); }

wxBitmap ModuleBitmap(const wxString& name) {
  const orb::LanguageModule* m = orb::CurrentLanguage();
  if (!m) return wxBitmap();
  auto bytes = m->Archive().Read("images/" + name.ToStdString() + ".png");
  if (!bytes) return wxBitmap();
  wxMemoryInputStream in(bytes->data(), bytes->size());
  wxImage img;
  if (!img.LoadFile(in, wxBITMAP_TYPE_PNG)) return wxBitmap();
  return wxBitmap(img);
}

bool LoadPanelTemplate(wxPanel* panel, wxWindow* parent, int id) {
  if (!wxXmlResource::Get()->GetResourceNode(ResName(id))) return false;
  return wxXmlResource::Get()->LoadPanel(panel, parent, ResName(id));
}

bool LoadDialogTemplate(wxDialog* dialog, wxWindow* parent, int id) {
  if (!wxXmlResource::Get()->GetResourceNode(ResName(id))) return false;
  return wxXmlResource::Get()->LoadDialog(dialog, parent, ResName(id));
}

wxPanel* LoadPanel(wxWindow* parent, int id) {
  // Asking the loader for a missing object would put up an error box of its own.
  if (!wxXmlResource::Get()->GetResourceNode(ResName(id))) return nullptr;
  return wxXmlResource::Get()->LoadPanel(parent, ResName(id));
}

}  // namespace orb::gui
