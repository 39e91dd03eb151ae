// The About box: product and version, the program's line, the copyright, and whether it
// shows at every start. Its layout and texts come from the language module's template;
// a module without it still gets a box built here.
#pragma once

#include <wx/dialog.h>

#include "common/ResourceIds.h"

class wxCheckBox;

class CAboutDlg : public wxDialog {
 public:
  static constexpr int kTemplateId = orb::res::IDD_ABOUTBOX;
  static constexpr int kTitleId = 1446;
  static constexpr int kLineId = 1303;
  static constexpr int kCopyrightId = 1445;
  static constexpr int kShowAtStartId = 1239;
  static constexpr int kLineString = orb::res::IDS_ABOUT_LINE;

  explicit CAboutDlg(wxWindow* parent);
  // "<product> v<version>" with every comma of the version block turned into a point.
  static wxString TitleLine(const wxString& product, const wxString& version);
  // OK keeps the box's choice for the next start; Cancel keeps the setting as it was.
  void StoreChoice();
  wxCheckBox* ShowAtStart() const { return m_showAtStart; }
  // Whether the box came from the module's template.
  bool FromModule() const { return m_fromModule; }

 private:
  bool LoadTemplate(wxWindow* parent);
  void BuildWithoutTemplate(wxWindow* parent);
  void SetScaledText(int id, const wxString& text, double scale);

  wxCheckBox* m_showAtStart = nullptr;
  bool m_fromModule = false;
};

namespace orb::gui {
// The About command: the box, modal; its choice is kept when it ends with OK.
void ShowAboutBox(wxWindow* parent);
}  // namespace orb::gui
