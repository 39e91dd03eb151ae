// Opening image files from the File menu: a file dialog that takes several files, each
// opened into a document of its own.
#pragma once

#include <wx/docview.h>

#include <vector>

namespace orb::gui {

// The filter of the open dialog.
extern const char* const kOpenImageFilter;

// Opens every non-empty path in turn; returns the documents made (failures leave none).
std::vector<wxDocument*> OpenImageFiles(wxDocManager* manager, const wxArrayString& paths);
// The File > Open command: the dialog starts in the folder the last one ended in.
void OnFileOpen(wxDocManager* manager, wxWindow* parent);

}  // namespace orb::gui

#include <wx/dialog.h>

class wxCheckBox;

// The About box: product and version, the program's line, the copyright, and whether it
// shows at every start.
class CAboutDlg : public wxDialog {
 public:
  static constexpr int kTitleId = 1446;
  static constexpr int kLineId = 1303;
  static constexpr int kCopyrightId = 1445;
  static constexpr int kShowAtStartId = 1239;

  explicit CAboutDlg(wxWindow* parent);
  // "<product> v<version>" with every comma of the version block turned into a point.
  static wxString TitleLine(const wxString& product, const wxString& version);
  // OK keeps the box's choice for the next start; Cancel keeps the setting as it was.
  void StoreChoice();
  wxCheckBox* ShowAtStart() const { return m_showAtStart; }

 private:
  wxCheckBox* m_showAtStart = nullptr;
};

namespace orb::gui {
// The About command: the box, modal; its choice is kept when it ends with OK.
void ShowAboutBox(wxWindow* parent);
}  // namespace orb::gui
