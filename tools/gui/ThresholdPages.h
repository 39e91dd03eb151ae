// The black-and-white threshold: the tool page (in the tools tab) and the modal dialog the
// palette conversion shows. Both edit the one threshold record with the same controls; the
// page also switches thresholding in software on and off.
#pragma once

#include <wx/dialog.h>

#include "tools/gui/ToolPage.h"

class wxSizer;

// The controls and their rules, shared by the page and the dialog.
class CThresholdControls {
 public:
  CThresholdControls(wxWindow* owner, bool page) : m_owner(owner), m_page(page) {}
  void Build(wxSizer* sizer);
  // The type setters: store the type, check its radio, put the sliders at their fields,
  // show the type's controls and refresh the labels (previewing once).
  void SetType(int type);
  void OnHScroll(int code, int position, int sliderId);
  void OnOptionCheck(int id);
  // Puts every slider at its field (no preview).
  void ShowFields();
  bool IsPage() const { return m_page; }

 private:
  wxWindow* m_owner;
  bool m_page;
};

class CBWThreshTools : public CToolPage {
 public:
  static constexpr int kTemplate = 277;
  CBWThreshTools();
  void UpdateControls() override;
  void OnHScroll(int code, int position, int sliderId) override;
  void OnOK() override { PostApply(); }
  // The host calls it in place of EnableChildren.
  void EnableControls(bool enable);
  void OnSoftwareThreshold();

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  void HardwareRule();
  void OnShow(wxShowEvent& e);
  CThresholdControls m_controls;
};

class CBWThreshDlg : public wxDialog {
 public:
  static constexpr int kTemplate = 278;
  explicit CBWThreshDlg(wxWindow* parent);
  // 0 for OK, -1 for Cancel; the record keeps every change in both cases.
  int RunModal();
  CThresholdControls& Controls() { return m_controls; }

 private:
  CThresholdControls m_controls;
};
