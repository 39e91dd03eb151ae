// The outside editor and indexer pages of the other tools tab: each names an outside
// program (the indexer also its project) and runs it on the current image.
#pragma once

#include <string>

#include "tools/gui/ToolPage.h"

class wxTextCtrl;

class CEditorTools : public CToolPage {
 public:
  static constexpr int kTemplate = 105;
  CEditorTools();
  void UpdateControls() override;
  void OnOK() override;
  // Runs the editor on the active image: -1 when no program is set, else 0.
  int Apply();
  wxTextCtrl* ProgramEdit() const { return m_program; }
  // Takes the typed program path (false, with the message shown, when refused).
  bool TakeTypedProgram();

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;

 private:
  wxTextCtrl* m_program = nullptr;
};

class CIndexTools : public CToolPage {
 public:
  static constexpr int kTemplate = 106;
  CIndexTools();
  void UpdateControls() override;
  void OnOK() override;
  int Apply();
  wxTextCtrl* ProgramEdit() const { return m_program; }
  wxTextCtrl* ProjectEdit() const { return m_project; }

 protected:
  void BuildControls(wxSizer* sizer) override;
  uint8_t* EnabledByte() override;

 private:
  wxTextCtrl* m_program = nullptr;
  wxTextCtrl* m_project = nullptr;
};
