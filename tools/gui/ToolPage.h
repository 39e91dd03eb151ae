// The tool page pattern on the wx side: a page hosted inside the tools or other tools tab
// that edits one tool's settings record. The record is read from its settings file when the
// page object is made and written back when it goes; presets, tooltips, the enable toggle
// (which tells the hosting page through WM_TOOL_ENABLE), reset, enabling of every child and
// the apply key (Enter) are the same for every tool. Each tool adds its controls and says
// what a value change, reset and apply do.
#pragma once

#include <wx/panel.h>

#include <functional>
#include <string>

#include "common/gui/WndWithToolTip.h"

class wxBitmapToggleButton;
class wxButton;
class wxSizer;
class wxSlider;
class wxStaticText;
class wxCheckBox;

class CToolPage : public CWndWithToolTip {
 public:
  // Reads the tool's settings file (a page of a tool without a record reads nothing).
  explicit CToolPage(int toolId);
  // Writes the tool's settings file.
  ~CToolPage() override;

  // Creates the page's window inside `parent` (the host's frame control), hidden.
  bool Create(wxWindow* parent);
  int ToolId() const { return m_toolId; }

  void LoadSettings();
  void SaveSettings();
  void SavePreset(const std::string& name);
  void LoadPreset(const std::string& name);
  // Shows the record in the controls (and the toggle's state to the host).
  virtual void UpdateControls() {}
  // Enables or disables every control of the page.
  virtual void EnableChildren(bool enable);
  // Enter or the apply button.
  virtual void OnOK() {}
  // The reset button: the tool's defaults.
  virtual void OnReset() {}
  // The enable toggle changed (also run by UpdateControls).
  void OnEnable();
  // A slider moved with a scroll code (0..8 as the platform numbers them); position -1
  // forces the handler to take the value again.
  virtual void OnHScroll(int code, int position, int sliderId);

  // Posts WM_TOOL_APPLY (tool id, 0) to the hosting page.
  void PostApply();

  // Both hosts take the active image again and refresh their buttons (set by the hosts).
  static std::function<void()> s_refreshHosts;

 protected:
  // Builds the page's own controls into the page's sizer.
  virtual void BuildControls(wxSizer* sizer) = 0;
  // The record's enabled byte; null for a tool without one.
  virtual uint8_t* EnabledByte() { return nullptr; }

  wxBitmapToggleButton* AddToggle(wxSizer* sizer);
  wxButton* AddReset(wxSizer* sizer);
  wxButton* AddApply(wxSizer* sizer);
  wxCheckBox* AddPreview(wxSizer* sizer);
  // A slider with its caption (string `captionId`) and a text showing the value.
  wxSlider* AddSlider(wxSizer* sizer, int id, int low, int high, int captionId, int textId, wxStaticText** text);
  // The reset and apply buttons side by side.
  void AddResetAndApply(wxSizer* sizer);
  void SetToggle(bool on);
  bool ToggleOn() const;
  void ShowValue(int textId, int value);
  // A slider's position (0 when the page has no such slider).
  int SliderPosition(int sliderId) const;
  void SetSliderPosition(int sliderId, int position);
  // The slider at `position` and its text (0: none) showing `value`.
  void ShowSlider(int sliderId, int position, int textId, int value);
  // What a reset ends with: the controls show the record and the slider's handler takes
  // its value again.
  void AfterReset(int sliderId);

  bool m_guard = false;  // a preview is being drawn

 private:
  void OnSliderEvent(wxScrollEvent& e);
  void OnCharHook(wxKeyEvent& e);

  int m_toolId;
  wxBitmapToggleButton* m_toggle = nullptr;
};

// The page a host shows when no tool is chosen, and (with a text) the page of a tool that
// is not built yet.
class CDummyTools : public CToolPage {
 public:
  explicit CDummyTools(int textId = 0) : CToolPage(0), m_textId(textId) {}

 protected:
  void BuildControls(wxSizer* sizer) override;

 private:
  int m_textId;
};
