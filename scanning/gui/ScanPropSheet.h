// The scan settings sheet docked at the top of the main frame: four pages (scan output,
// general, media handling, extended). The frame writes the scanner line into the first
// tab's caption. The pages' controls come with the scanning work; until then each page is
// its template from the language module.
//
// The sheet spans the frame's width. On a screen narrower than its widest page it scrolls
// sideways rather than squeezing the pages' controls below the room they need (which
// clipped the output name and the naming buttons on a 1280-pixel screen).
#pragma once

#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>

#include <array>
#include <functional>

class CScanPropSheet : public wxScrolled<wxPanel> {
 public:
  static constexpr int kPageCount = 4;
  enum Page { kScanOutput = 0, kGeneral = 1, kMedia = 2, kExtended = 3 };
  using PageFactory = std::function<wxWindow*(wxWindow* parent)>;
  static void SetPageFactory(int index, PageFactory factory);

  explicit CScanPropSheet(wxWindow* parent);

  wxWindow* GetPage(int index) const;
  wxNotebook* GetTabControl() const { return m_tabs; }
  // Caption of a tab (the first holds the scanner line).
  void SetTabCaption(int index, const wxString& caption);
  wxString GetTabCaption(int index) const;

 protected:
  // The pages' full height and width, with room for the sideways scroll bar below them.
  wxSize DoGetBestSize() const override;

 private:
  wxNotebook* m_tabs = nullptr;
  std::array<wxWindow*, kPageCount> m_pages{};
};
