// The two output option dialogs: the compression quality of one quality kind, and the
// TIFF texts (colour profile, copyright, artist) with the TIFF-JPEG quality. Both keep
// their values in the program's settings; the caller stores them when the dialog ends
// with OK (Store), so Cancel stores nothing, except the lossless flag of JPEG 2000, which
// changes at once.
#pragma once

#include <wx/dialog.h>

#include "common/ResourceIds.h"

class wxSlider;
class wxTextCtrl;
class wxCheckBox;
class wxStaticText;
class wxButton;

// Both dialogs are the language module's templates (249 and 279); a module without them
// still gets the controls, built here.
class CJpegQuality : public wxDialog {
 public:
  static constexpr int kTemplateId = orb::res::IDD_QUALITY;
  static constexpr int kSliderId = 1207;
  static constexpr int kNumberId = 2022;
  static constexpr int kLowLabelId = 1208;
  static constexpr int kHighLabelId = 1209;
  static constexpr int kLosslessId = 1378;

  explicit CJpegQuality(int kind, wxWindow* parent = nullptr);
  int kind() const { return m_kind; }
  int Quality() const;
  void SetQuality(int value);
  // Stores the slider's position as the kind's quality (the number box is display only).
  void Store();
  void OnLosslessClicked();
  bool QualityControlsEnabled() const;
  bool LosslessShown() const;

 private:
  bool FindControls();
  void BuildWithoutTemplate(wxWindow* parent);
  void ShowNumber();
  void EnableQuality(bool enable);
  int m_kind;
  wxSlider* m_slider = nullptr;
  wxTextCtrl* m_number = nullptr;
  wxStaticText* m_low = nullptr;
  wxStaticText* m_high = nullptr;
  wxCheckBox* m_lossless = nullptr;
};

class CTiffOpt : public wxDialog {
 public:
  static constexpr int kTemplateId = orb::res::IDD_TIFF_OPTIONS;
  static constexpr int kSliderId = 1207;
  static constexpr int kNumberId = 2022;
  static constexpr int kProfileId = 1456;
  static constexpr int kProfileLabelId = 1457;
  static constexpr int kBrowseId = 1019;
  static constexpr int kCopyrightId = 1454;
  static constexpr int kArtistId = 1455;
  static constexpr int kQualityLabelId = 1458;

  explicit CTiffOpt(int kind, wxWindow* parent = nullptr);
  int kind() const { return m_kind; }
  bool QualityShown() const;
  void SetTexts(const wxString& profile, const wxString& copyright, const wxString& artist);
  void SetQuality(int value);
  // Stores the three texts (at most 259 characters each) and, for kind 3, the quality.
  void Store();
  void OnBrowseProfile();
  // What the profile box's loss of focus would tell: 0 nothing, else the message id.
  int CheckProfilePath() const;

 private:
  bool FindControls();
  void BuildWithoutTemplate(wxWindow* parent);
  void OnProfileKillFocus(wxFocusEvent& e);
  int m_kind;
  wxSlider* m_slider = nullptr;
  wxTextCtrl* m_number = nullptr;
  wxTextCtrl* m_profile = nullptr;
  wxTextCtrl* m_copyright = nullptr;
  wxTextCtrl* m_artist = nullptr;
  bool m_checkPending = false;
  wxString m_lastWarned;  // the profile text last warned about
};
