// The small modeless window of long operations: a line of text, a bar that moves in
// steps of about a tenth of the work, and optionally a Cancel button that sets CancelFlag.
// While it is up the other windows of the program take no input and the busy cursor
// shows; the operation keeps pumping messages, which is how Cancel and Esc reach it.
#pragma once

#include <wx/dialog.h>

#include <memory>

#include "app/Document.h"
#include "app/DocumentProgress.h"
#include "common/ResourceIds.h"

class wxGauge;
class wxStaticText;
class wxWindowDisabler;
class wxBusyCursor;

class CProgressDlg : public wxDialog {
 public:
  static constexpr int kTemplateId = orb::res::IDD_PROGRESS;  // built here without it
  static constexpr int kTextId = 1169;
  static constexpr int kBarId = 1167;

  CProgressDlg(wxWindow* parent, const wxString& text, int32_t lower, int32_t upper, bool showCancel);
  ~CProgressDlg() override;

  // Creates and shows the window (modeless).
  bool CreateWindow();
  void Step();
  void SetStepFraction(double percent);
  void SetText(const wxString& text);
  // Ends the window; Cancel also sets CancelFlag.
  void OnOK();
  void OnCancel();

  int BarValue() const;
  bool Ended() const { return m_ended; }

 private:
  void EndWindow();

  wxWindow* m_parent;
  wxString m_text;
  orb::ProgressModel m_model;
  bool m_showCancel;
  wxStaticText* m_textCtrl = nullptr;
  wxGauge* m_bar = nullptr;
  bool m_ended = false;
  std::unique_ptr<wxWindowDisabler> m_disabler;
  std::unique_ptr<wxBusyCursor> m_busy;
};

namespace orb::gui {

// The progress of the document's long loops: a progress dialog with Cancel, captioned
// with the language module's string.
orb::ProgressFactory DocumentProgressFactory(wxWindow* parent);

}  // namespace orb::gui
