// The presets page of the view options sheet: the presets of the current scanner family,
// the description of the selected one, load on selection and delete with the Delete key
// ("_FactoryDefaults" is kept). A thin view over app/Presets.h.
#pragma once

#include <wx/panel.h>

#include <array>

#include "app/gui/ViewPropSheet.h"
#include "common/ResourceIds.h"

class wxListBox;
class wxStaticText;
class wxKeyEvent;

class CViewPresetPropPage : public wxPanel, public CSheetPage {
 public:
  static constexpr int kTemplateId = orb::res::IDD_PAGE_PRESETS;
  static constexpr int kListId = 1151;
  // The controls that show description fields 1 to 8.
  static constexpr std::array<int, 8> kFieldIds = {1150, 1146, 1153, 1152, 1155, 1154, 1157, 1156};

  explicit CViewPresetPropPage(wxWindow* parent);

  // Lists the presets again, selects the current one and shows its description.
  bool OnSetActive() override;
  // The selected entry becomes the current preset and the main frame loads it.
  void OnPresetSelect();
  // The Delete key on the entry at `index`.
  void OnDeleteKey(int index);
  void ShowPresetDetails();

  wxListBox* List() const { return m_list; }
  wxStaticText* FieldText(int index) const { return m_texts[static_cast<size_t>(index)]; }

 private:
  void BuildWithoutTemplate();
  void OnListKey(wxKeyEvent& e);

  wxListBox* m_list = nullptr;
  std::array<wxStaticText*, 8> m_texts{};
};
