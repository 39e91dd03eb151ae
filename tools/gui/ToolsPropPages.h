// The two hosting pages of the view options sheet: the tools page (a bank of tool buttons
// over a frame in which the chosen tool's page shows) and the other tools page. Each shows
// at most one tool page; with none chosen a placeholder shows. Which buttons are offered
// follows the image in the active view. A tool page tells its host through WM_TOOL_APPLY
// (the tool applied: its page closes) and WM_TOOL_ENABLE (the button shows the tool as
// switched on for scans and batch runs).
#pragma once

#include <map>
#include <vector>

#include "common/gui/AppMessage.h"
#include "common/gui/WndWithToolTip.h"

struct ImageState;
class CToolPage;
class wxToggleButton;

class CToolHostPage : public CWndWithToolTip {
 public:
  CToolHostPage(wxWindow* parent, int frameId);
  ~CToolHostPage() override;
  bool Layout() override;

  int ActiveTool() const { return m_nActiveTool; }
  ImageState* AttachedImage() const { return m_pImage; }
  CToolPage* Page(int toolId) const;
  CToolPage* Placeholder() const { return m_placeholder; }
  wxToggleButton* Button(int toolId) const;
  // A tool button was pressed: opens its tool, or closes it when it is the open one.
  void OnToolButton(int toolId);
  // Takes the working image of the active view's document (null when none).
  void AttachActiveImage();
  virtual void UpdateButtons() = 0;
  // Enables every tool page unless a scan runs.
  virtual void EnableTools();
  // Whether the button shows its tool as switched on.
  bool ShowsEnabled(int toolId) const;

 protected:
  struct Tool {
    int id;
    CToolPage* page;  // owned through the window tree; null: no page
    int labelId;
  };
  void AddTool(int id, CToolPage* page, int labelId);
  void Finish();
  void ShowActiveTool();
  void SetButtonEnabledLook(int toolId, bool enabled);
  void ShowButton(int toolId, bool show);
  virtual bool TakesEnableMessage(int toolId) const = 0;

  wxWindow* m_frame = nullptr;
  CToolPage* m_placeholder = nullptr;
  std::vector<Tool> m_tools;
  std::map<int, bool> m_enabledLook;
  int m_nActiveTool = 0;
  ImageState* m_pImage = nullptr;
  orb::gui::MessageMap m_messages;
};

class CViewToolsPropPage : public CToolHostPage {
 public:
  static constexpr int kTemplate = 166;
  explicit CViewToolsPropPage(wxWindow* parent);
  ~CViewToolsPropPage() override;
  void UpdateButtons() override;
  void EnableTools() override;

 protected:
  bool TakesEnableMessage(int toolId) const override;
};

class COtherToolsPropPage : public CToolHostPage {
 public:
  static constexpr int kTemplate = 107;
  explicit COtherToolsPropPage(wxWindow* parent);
  ~COtherToolsPropPage() override;
  void UpdateButtons() override;
  // The page became active: the join and split buttons follow the scanner's mode.
  void OnSetActive();

 protected:
  bool TakesEnableMessage(int toolId) const override;
};
