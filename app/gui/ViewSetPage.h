// The general settings page of the view options sheet: tooltip mode, length unit, working
// folder, the language module of the next start, the display option of the progressive
// display and the scan log switch. Changes take effect in the settings at once; the rules
// are app/GeneralSettingsModel.h's.
#pragma once

#include <wx/panel.h>

#include <vector>

#include "app/GeneralSettingsModel.h"
#include "app/gui/ViewPropSheet.h"
#include "common/ResourceIds.h"

class wxRadioButton;
class wxTextCtrl;
class wxChoice;
class wxCheckBox;

class CViewSetPropPage : public wxPanel, public CSheetPage {
 public:
  static constexpr int kTemplateId = orb::res::IDD_PAGE_SETTINGS;

  explicit CViewSetPropPage(wxWindow* parent);

  bool OnInitDialog();
  // Fills the language list again.
  bool OnSetActive() override;
  void OnTooltipMode();
  void OnLengthUnit();
  void OnDisplayOption();
  void OnScanLog();
  void ShowWorkFolder();
  void ApplyWorkFolder();
  void OnBrowseFolder();
  void OnLanguageCloseUp();

  wxRadioButton* Radio(int id) const;
  wxTextCtrl* FolderBox() const { return m_folder; }
  wxChoice* LanguageList() const { return m_language; }
  wxCheckBox* DisplayOptionBox() const { return m_display; }
  wxCheckBox* ScanLogBox() const { return m_scanLog; }
  const std::vector<orb::general::LanguageEntry>& Languages() const { return m_languages; }

 private:
  bool FindControls();
  void BuildWithoutTemplate();
  void BindControls();
  void RefreshScanOutputPage();
  void ApplyTips();

  wxTextCtrl* m_folder = nullptr;
  wxChoice* m_language = nullptr;
  wxCheckBox* m_display = nullptr;
  wxCheckBox* m_scanLog = nullptr;
  std::vector<orb::general::LanguageEntry> m_languages;
  bool m_applying = false;  // a message box of ApplyWorkFolder takes the focus away
};
