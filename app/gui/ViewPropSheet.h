// The view options sheet: a notebook with vertical tabs docked at the left of the main
// frame, below the thumbnail dialog. It owns its five pages (presets, tools, other tools,
// general settings, connection), keeps a fixed width and records the active page.
#pragma once

#include <wx/notebook.h>
#include <wx/panel.h>

#include <array>
#include <functional>

#include "app/FrameRules.h"
#include "common/gui/AppMessage.h"

// A page that shows its settings again each time it becomes the active page.
class CSheetPage {
 public:
  virtual ~CSheetPage() = default;
  virtual bool OnSetActive() = 0;
};

class CViewPropSheet : public wxPanel {
 public:
  // Makes a page's window; the pages' own issues install theirs. Without a factory the
  // page is the module's empty template.
  using PageFactory = std::function<wxWindow*(wxWindow* parent)>;
  static void SetPageFactory(int index, PageFactory factory);

  explicit CViewPropSheet(wxWindow* parent);
  ~CViewPropSheet() override;

  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  wxWindow* GetPage(int index) const;
  int GetActiveIndex() const;
  // Makes a page active (out-of-range indexes are ignored).
  void SetActivePage(int index);
  wxNotebook* GetTabControl() const { return m_tabs; }
  // The fixed width: the sheet's dialog-unit width for the program's language, in pixels,
  // plus its margin.
  int SheetWidth() const { return m_width; }

 private:
  // The presets, general settings and connection pages made here when no factory is set.
  wxWindow* MakeOwnPage(int index);
  void OnPageChanged(wxBookCtrlEvent& e);
  void OnResizePage();

  wxNotebook* m_tabs = nullptr;
  std::array<wxWindow*, orb::kViewPageCount> m_pages{};
  orb::gui::MessageMap m_messages;
  int m_width = 0;
  bool m_creating = true;
};
