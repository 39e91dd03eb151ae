// Opening image files from the File menu: a file dialog that takes several files, each
// opened into a document of its own.
#pragma once

#include <wx/docview.h>

#include "common/ResourceIds.h"

#include <vector>

namespace orb::gui {

// The filter of the open dialog, and the string of its title.
extern const char* const kOpenImageFilter;
inline constexpr int kStrOpenTitle = orb::res::IDS_OPEN_TITLE;

// Opens every non-empty path in turn; returns the documents made (failures leave none).
std::vector<wxDocument*> OpenImageFiles(wxDocManager* manager, const wxArrayString& paths);
// The File > Open command: the dialog starts in the folder the last one ended in.
void OnFileOpen(wxDocManager* manager, wxWindow* parent);
// Files dropped on `target` (the main frame) open as File > Open opens them.
void AcceptDroppedFiles(wxWindow* target, wxDocManager* manager);
// What a drop on the frame does: opens each file; true when any was opened.
bool OpenDroppedFiles(wxDocManager* manager, const wxArrayString& paths);

}  // namespace orb::gui
