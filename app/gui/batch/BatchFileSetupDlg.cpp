#include "app/gui/batch/BatchFileSetupDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>

#include <filesystem>

#include "app/Presets.h"
#include "tools/outside/OutsidePrograms.h"
#include "app/gui/batch/BatchDialogs.h"
#include "common/AppGlobals.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "platform/Files.h"

namespace orb::gui {
namespace {

namespace fs = std::filesystem;
std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }
wxString W(const std::string& s) { return wxString::FromUTF8(s); }
wxString Title() { return W(g_szAppTitle.empty() ? std::string("Orbalon") : g_szAppTitle); }

// The '|'-separated description/name pairs of one kind group.
std::vector<std::pair<std::string, std::string>> FormatPairs(int stringId) {
  std::vector<std::pair<std::string, std::string>> out;
  const std::string text = Utf8(Str(stringId));
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t bar = text.find('|', pos);
    parts.push_back(text.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  for (size_t i = 0; i + 1 < parts.size(); i += 2) out.emplace_back(parts[i], parts[i + 1]);
  return out;
}

}  // namespace

CBatchFileSetupDlg::CBatchFileSetupDlg(wxWindow* parent, const std::string& batchPath)
    : wxDialog(parent, wxID_ANY, Str(kStrSetupCaption), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      target_path_(batchPath),
      working_(std::make_unique<batch::BatchWorkingFile>(TempFilesFolder(), batchPath)) {
  Build();
  Restore();
}

CBatchFileSetupDlg::~CBatchFileSetupDlg() = default;

void CBatchFileSetupDlg::Build() {
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, Str(kStrSetupTarget)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  target_ = new wxTextCtrl(this, 1279, W(target_path_), wxDefaultPosition, wxSize(380, -1));
  row->Add(target_, 1, wxEXPAND);
  auto* browse = new wxButton(this, 1280, Str(kStrSetupBrowse));
  row->Add(browse, 0, wxLEFT, 6);
  top->Add(row, 0, wxEXPAND | wxALL, 8);

  auto* ops = new wxStaticBoxSizer(wxVERTICAL, this);
  fromCurrent_ = new wxRadioButton(ops->GetStaticBox(), 1282, Str(kStrSetupFromCurrent), wxDefaultPosition,
                                   wxDefaultSize, wxRB_GROUP);
  fromPreset_ = new wxRadioButton(ops->GetStaticBox(), 1283, Str(kStrSetupFromPreset));
  presets_ = new wxListBox(ops->GetStaticBox(), 1151, wxDefaultPosition, wxSize(-1, 80));
  presetFields_ = new wxStaticText(ops->GetStaticBox(), 1150, "");
  ops->Add(fromCurrent_, 0, wxALL, 4);
  ops->Add(fromPreset_, 0, wxALL, 4);
  ops->Add(presets_, 0, wxEXPAND | wxALL, 4);
  ops->Add(presetFields_, 0, wxEXPAND | wxALL, 4);
  top->Add(ops, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);

  auto* res = new wxStaticBoxSizer(wxVERTICAL, this);
  wxWindow* box = res->GetStaticBox();
  hold_ = new wxRadioButton(box, 1323, Str(kStrSetupHold), wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  automatic_ = new wxRadioButton(box, 1324, Str(kStrSetupAutomatic));
  log_ = new wxCheckBox(box, wxID_ANY, Str(kStrSetupLog));
  folderBox_ = new wxCheckBox(box, 1284, Str(kStrSetupFolder));
  folder_ = new wxTextCtrl(box, wxID_ANY, "");
  folderBrowse_ = new wxButton(box, 1287, Str(kStrSetupBrowse));
  formatBox_ = new wxCheckBox(box, 1285, Str(kStrSetupFormat));
  format_ = new wxChoice(box, wxID_ANY);
  delete_ = new wxCheckBox(box, wxID_ANY, Str(kStrSetupDelete));
  schedule_ = new wxCheckBox(box, 1273, Str(kStrSetupSchedule));
  date_ = new wxDatePickerCtrl(box, wxID_ANY);
  time_ = new wxTimePickerCtrl(box, wxID_ANY);
  res->Add(hold_, 0, wxALL, 4);
  res->Add(automatic_, 0, wxALL, 4);
  res->Add(log_, 0, wxLEFT, 24);
  auto* f = new wxBoxSizer(wxHORIZONTAL);
  f->Add(folderBox_, 0, wxALIGN_CENTER_VERTICAL);
  f->Add(folder_, 1, wxEXPAND | wxLEFT, 6);
  f->Add(folderBrowse_, 0, wxLEFT, 6);
  res->Add(f, 0, wxEXPAND | wxLEFT, 24);
  auto* fm = new wxBoxSizer(wxHORIZONTAL);
  fm->Add(formatBox_, 0, wxALIGN_CENTER_VERTICAL);
  fm->Add(format_, 1, wxLEFT, 6);
  res->Add(fm, 0, wxEXPAND | wxLEFT, 24);
  res->Add(delete_, 0, wxLEFT, 24);
  auto* s = new wxBoxSizer(wxHORIZONTAL);
  s->Add(schedule_, 0, wxALIGN_CENTER_VERTICAL);
  s->Add(date_, 0, wxLEFT, 6);
  s->Add(time_, 0, wxLEFT, 6);
  res->Add(s, 0, wxLEFT, 24);
  top->Add(res, 0, wxEXPAND | wxALL, 8);

  top->Add(new wxStaticText(this, wxID_ANY, Str(kStrSetupFiles)), 0, wxLEFT, 8);
  files_ = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(-1, 100), 0, nullptr, wxLB_HSCROLL);
  top->Add(files_, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
  auto* fb = new wxBoxSizer(wxHORIZONTAL);
  auto* add = new wxButton(this, 1277, Str(kStrSetupAddFiles));
  auto* remove = new wxButton(this, 1278, Str(kStrSetupRemoveFiles));
  fb->Add(add, 0, wxALL, 4);
  fb->Add(remove, 0, wxALL, 4);
  top->Add(fb, 0, wxLEFT, 4);
  top->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
  SetSizerAndFit(top);

  browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseTarget(); });
  folderBrowse_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseFolder(); });
  add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAddFiles(); });
  remove->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRemoveFiles(); });
  presets_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { OnPresetSelected(); });
  for (wxWindow* w : std::initializer_list<wxWindow*>{fromCurrent_, fromPreset_, hold_, automatic_}) {
    w->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateEnabling(); });
  }
  for (wxCheckBox* c : {folderBox_, formatBox_, schedule_}) {
    c->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateEnabling(); });
  }
  target_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdateEnabling(); });
  target_->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    if (!target_->GetValue().empty()) AcceptTarget();
  });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (AcceptTarget() && Commit()) EndModal(wxID_OK);
  }, wxID_OK);
}

void CBatchFileSetupDlg::Restore() {
  batch::EditorGeneral g;
  g.automatic = MiscSettings.BatchAutomatic != 0;
  g.log = MiscSettings.BatchLog != 0;
  g.folderBox = MiscSettings.BatchUseFolder != 0;
  g.folder = MiscSettings.BatchOutputFolder;
  g.formatBox = MiscSettings.BatchUseFormat != 0;
  g.deleteOriginals = MiscSettings.BatchDelete != 0;
  g.scheduleBox = MiscSettings.BatchSchedule != 0;
  g.runDate = {MiscSettings.BatchRunYear, MiscSettings.BatchRunMonth, MiscSettings.BatchRunDay,
               MiscSettings.BatchRunHour, MiscSettings.BatchRunMinute, MiscSettings.BatchRunSecond};
  std::string format;
  if (working_->Editing()) {
    g = batch::ReadEditorGeneral(working_->Path());
    format = g.format;
  }
  FillPresets();
  FillFormats(format);
  if (format.empty() && MiscSettings.BatchFormatIndex >= 0 &&
      MiscSettings.BatchFormatIndex < static_cast<int>(format_->GetCount())) {
    format_->SetSelection(MiscSettings.BatchFormatIndex);
  }
  (g.automatic ? automatic_ : hold_)->SetValue(true);
  (MiscSettings.BatchCurrentSettings || working_->Editing() ? fromCurrent_ : fromPreset_)->SetValue(true);
  log_->SetValue(g.log);
  folderBox_->SetValue(g.folderBox);
  folder_->SetValue(W(g.folder.empty() ? g_szDataFolder : g.folder));
  formatBox_->SetValue(g.formatBox);
  delete_->SetValue(g.deleteOriginals);
  schedule_->SetValue(g.scheduleBox);
  // No stored run date: now. The date may be any: a past one runs at the scheduler's next look.
  wxDateTime when = wxDateTime::Now();
  if (g.runDate.year > 0 && g.runDate.month >= 1 && g.runDate.month <= 12 && g.runDate.day >= 1 &&
      g.runDate.day <= 31) {
    when = wxDateTime(static_cast<wxDateTime::wxDateTime_t>(g.runDate.day),
                      static_cast<wxDateTime::Month>(g.runDate.month - 1), g.runDate.year,
                      static_cast<wxDateTime::wxDateTime_t>(std::clamp(g.runDate.hour, 0, 23)),
                      static_cast<wxDateTime::wxDateTime_t>(std::clamp(g.runDate.minute, 0, 59)),
                      static_cast<wxDateTime::wxDateTime_t>(std::clamp(g.runDate.second, 0, 59)));
    if (!when.IsValid()) when = wxDateTime::Now();
  }
  date_->SetValue(when);
  time_->SetValue(when);
  ShowFiles();
  UpdateEnabling();
}

void CBatchFileSetupDlg::FillPresets() {
  const presets::PresetStore store = presets::PresetStore::Current();
  for (const std::string& n : store.List()) presets_->Append(W(n));
  int sel = presets_->FindString("_FactoryDefaults");
  if (sel == wxNOT_FOUND && presets_->GetCount() > 0) sel = 0;
  if (sel != wxNOT_FOUND) {
    presets_->SetSelection(sel);
    OnPresetSelected();
  }
}

void CBatchFileSetupDlg::OnPresetSelected() {
  const int sel = presets_->GetSelection();
  if (sel == wxNOT_FOUND) return;
  const std::optional<presets::HeaderFields> h =
      presets::PresetStore::Current().ReadHeader(Utf8(presets_->GetString(static_cast<unsigned>(sel))));
  wxString text;
  if (h) {
    for (const std::string& field : *h) {
      if (!field.empty()) text += W(field) + "  ";
    }
  }
  presetFields_->SetLabel(text);
}

void CBatchFileSetupDlg::FillFormats(const std::string& selected) {
  for (int id : {res::IDS_FORMATS_COLOR, res::IDS_FORMATS_PALETTE, res::IDS_FORMATS_GREY, res::IDS_FORMATS_BW}) {
    for (const auto& [description, name] : FormatPairs(id)) {
      if (format_->FindString(W(description)) != wxNOT_FOUND) continue;
      format_->Append(W(description));
      formatNames_.push_back(name);
    }
  }
  for (size_t i = 0; i < formatNames_.size(); ++i) {
    if (!selected.empty() && W(formatNames_[i]).IsSameAs(W(selected), false)) {
      format_->SetSelection(static_cast<int>(i));
    }
  }
}

void CBatchFileSetupDlg::ShowFiles() {
  files_->Clear();
  for (const std::string& f : batch::ReadFileList(working_->Path())) files_->Append(W(f));
}

void CBatchFileSetupDlg::UpdateEnabling() {
  const bool editing = working_->Editing();
  fromCurrent_->Enable(!editing);
  fromPreset_->Enable(!editing);
  const bool preset = !editing && fromPreset_->GetValue();
  presets_->Enable(preset);
  presetFields_->Enable(preset);
  const bool automatic = automatic_->GetValue();
  for (wxWindow* w : std::initializer_list<wxWindow*>{log_, folderBox_, formatBox_, schedule_}) w->Enable(automatic);
  folder_->Enable(automatic && folderBox_->GetValue());
  folderBrowse_->Enable(automatic && folderBox_->GetValue());
  format_->Enable(automatic && formatBox_->GetValue());
  delete_->Enable(automatic && (folderBox_->GetValue() || formatBox_->GetValue()));
  date_->Enable(automatic && schedule_->GetValue());
  time_->Enable(automatic && schedule_->GetValue());
  if (wxWindow* ok = FindWindow(wxID_OK)) ok->Enable(!target_->GetValue().empty() && working_->Ok());
}

bool CBatchFileSetupDlg::AcceptTarget() {
  fs::path typed(Utf8(target_->GetValue()));
  if (typed.empty()) return false;
  // A bare name goes to the folder of the scan output name.
  if (!typed.has_parent_path()) typed = fs::path(ScanSettings.OutputFileName).parent_path() / typed;
  const fs::path folder = typed.parent_path();
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec) || ::access(folder.c_str(), W_OK) != 0) {
    wxMessageBox(Str(kMsgFolderMissing), Title(), wxOK | wxICON_EXCLAMATION, this);
    target_->SetFocus();
    return false;
  }
  fs::path full = typed;
  full.replace_extension(".bch");
  if (fs::is_directory(full, ec)) {
    wxMessageBox(Str(kMsgNameIsFolder), Title(), wxOK | wxICON_EXCLAMATION, this);
    target_->SetFocus();
    return false;
  }
  target_path_ = full.string();
  target_->ChangeValue(W(target_path_));
  return true;
}

bool CBatchFileSetupDlg::Commit() {
  batch::BatchWorkingFile::Choices c;
  c.general.automatic = automatic_->GetValue();
  c.general.log = log_->GetValue();
  c.general.folderBox = folderBox_->GetValue();
  c.general.folder = Utf8(folder_->GetValue());
  c.general.formatBox = formatBox_->GetValue() && format_->GetSelection() != wxNOT_FOUND;
  if (c.general.formatBox) c.general.format = formatNames_[static_cast<size_t>(format_->GetSelection())];
  c.general.deleteOriginals = delete_->IsEnabled() && delete_->GetValue();
  c.general.scheduleBox = schedule_->GetValue();
  const wxDateTime d = date_->GetValue(), t = time_->GetValue();
  c.general.runDate = {d.GetYear(), d.GetMonth() + 1, d.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond()};
  c.fromPreset = fromPreset_->GetValue() && presets_->GetSelection() != wxNOT_FOUND;
  if (c.fromPreset) c.preset = Utf8(presets_->GetString(static_cast<unsigned>(presets_->GetSelection())));

  MiscSettings.BatchCurrentSettings = fromCurrent_->GetValue() ? 1 : 0;
  MiscSettings.BatchAutomatic = c.general.automatic;
  MiscSettings.BatchLog = c.general.log;
  MiscSettings.BatchUseFolder = c.general.folderBox;
  orb::SetTextField(MiscSettings.BatchOutputFolder, c.general.folder);
  MiscSettings.BatchUseFormat = formatBox_->GetValue();
  MiscSettings.BatchFormatIndex = format_->GetSelection();
  MiscSettings.BatchDelete = delete_->GetValue();
  MiscSettings.BatchSchedule = c.general.scheduleBox;
  MiscSettings.BatchRunYear = c.general.runDate.year;
  MiscSettings.BatchRunMonth = c.general.runDate.month;
  MiscSettings.BatchRunDay = c.general.runDate.day;
  MiscSettings.BatchRunHour = c.general.runDate.hour;
  MiscSettings.BatchRunMinute = c.general.runDate.minute;
  MiscSettings.BatchRunSecond = c.general.runDate.second;
  orb::SetTextField(MiscSettings.BatchFolder, fs::path(target_path_).parent_path().string());

  const presets::PresetStore store = presets::PresetStore::Current();
  std::string error;
  if (!working_->Commit(target_path_, c, g_szDataFolder, &store, &error)) {
    wxMessageBox(wxString::Format(Str(kStrSetupSaveFailed), W(target_path_), W(error)), Title(),
                 wxOK | wxICON_ERROR, this);
    return false;
  }
  if (c.general.automatic && c.general.scheduleBox) {
    orb::tools::StartDetached((fs::path(g_szProgramFolder) / "plovis").string(), {"plovis"});
  }
  return true;
}

void CBatchFileSetupDlg::OnBrowseTarget() {
  wxFileDialog dlg(this, Str(kStrSetupCaption), W(MiscSettings.BatchFolder), "", Str(kStrSetupBatchFilter),
                   wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dlg.ShowModal() != wxID_OK) return;
  target_->SetValue(dlg.GetPath());
  AcceptTarget();
}

void CBatchFileSetupDlg::OnBrowseFolder() {
  wxDirDialog dlg(this, Str(kStrSetupFolder), folder_->GetValue());
  if (dlg.ShowModal() == wxID_OK) folder_->SetValue(dlg.GetPath());
}

void CBatchFileSetupDlg::AddFiles(const std::vector<std::string>& paths) {
  batch::AddFiles(working_->Path(), paths);
  ShowFiles();
}

void CBatchFileSetupDlg::OnAddFiles() {
  wxFileDialog dlg(this, Str(kStrSetupAddFiles), W(MiscSettings.BatchAddFolder), "", Str(kStrSetupFilesFilter),
                   wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
  if (dlg.ShowModal() != wxID_OK) return;
  wxArrayString chosen;
  dlg.GetPaths(chosen);
  std::vector<std::string> paths;
  for (const wxString& p : chosen) paths.push_back(Utf8(p));
  orb::SetTextField(MiscSettings.BatchAddFolder, Utf8(dlg.GetDirectory()));
  AddFiles(paths);
}

void CBatchFileSetupDlg::OnRemoveFiles() {
  CDeleteFilesFromBatchDlg dlg(this, working_->Path());
  dlg.ShowModal();
  ShowFiles();
}

}  // namespace orb::gui
