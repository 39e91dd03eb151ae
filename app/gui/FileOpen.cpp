#include "app/gui/FileOpen.h"

#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>

#include "common/gui/Resources.h"
#include "engine/Settings.h"

namespace orb::gui {
namespace {

class ImageFileDropTarget final : public wxFileDropTarget {
 public:
  explicit ImageFileDropTarget(wxDocManager* manager) : manager_(manager) {}
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) override {
    return OpenDroppedFiles(manager_, paths);
  }

 private:
  wxDocManager* manager_;
};

}  // namespace

// The filter list without its closing "||", which the toolkit does not use.
const char* const kOpenImageFilter =
    "Image Files (All supported formats)|*.tif;*.jpg;*.jp2;*.pdf;*.png;|All Files (*.*)|*.*";

std::vector<wxDocument*> OpenImageFiles(wxDocManager* manager, const wxArrayString& paths) {
  std::vector<wxDocument*> docs;
  if (!manager) return docs;
  for (const wxString& path : paths) {
    if (path.empty()) continue;
    if (wxDocument* doc = manager->CreateDocument(path, wxDOC_SILENT)) docs.push_back(doc);
  }
  return docs;
}

void OnFileOpen(wxDocManager* manager, wxWindow* parent) {
  const wxFileName start(wxString::FromUTF8(orb::TextField(MiscSettings.OpenFolder)));
  const wxString folder = start.DirExists() ? start.GetFullPath() : start.GetPath();
  wxFileDialog dlg(parent, Str(kStrOpenTitle), folder, wxEmptyString, kOpenImageFilter,
                   wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE);
  if (dlg.ShowModal() != wxID_OK) return;
  wxArrayString paths;
  dlg.GetPaths(paths);
  // The next dialog starts where this one ended: the folder when several files were
  // chosen, else the file itself.
  const wxString remembered = paths.size() > 1 ? wxFileName(paths[0]).GetPath() : (paths.empty() ? wxString() : paths[0]);
  orb::SetTextField(MiscSettings.OpenFolder, std::string(remembered.utf8_str()));
  OpenImageFiles(manager, paths);
}

bool OpenDroppedFiles(wxDocManager* manager, const wxArrayString& paths) {
  return !OpenImageFiles(manager, paths).empty();
}

void AcceptDroppedFiles(wxWindow* target, wxDocManager* manager) {
  if (target && manager) target->SetDropTarget(new ImageFileDropTarget(manager));
}

}  // namespace orb::gui
