// The batch file editor: target name, handling of the results, the image files and where
// the operations come from. Every change goes into a working copy; OK replaces the target
// with it, Cancel leaves the target as it was.
#pragma once

#include <wx/dialog.h>

#include <memory>
#include <string>
#include <vector>

#include "app/batch/BatchSetup.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxDatePickerCtrl;
class wxListBox;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;
class wxTimePickerCtrl;

namespace orb::gui {

inline constexpr int kStrSetupCaption = 36420;
inline constexpr int kStrSetupTarget = 36421;
inline constexpr int kStrSetupBrowse = 36422;
inline constexpr int kStrSetupFromCurrent = 36423;
inline constexpr int kStrSetupFromPreset = 36424;
inline constexpr int kStrSetupHold = 36425;
inline constexpr int kStrSetupAutomatic = 36426;
inline constexpr int kStrSetupLog = 36427;
inline constexpr int kStrSetupFolder = 36428;
inline constexpr int kStrSetupFormat = 36429;
inline constexpr int kStrSetupDelete = 36430;
inline constexpr int kStrSetupSchedule = 36431;
inline constexpr int kStrSetupAddFiles = 36432;
inline constexpr int kStrSetupRemoveFiles = 36433;
inline constexpr int kStrSetupFilesFilter = 36434;
inline constexpr int kStrSetupSaveFailed = 36435;  // "%s", "%s"
inline constexpr int kStrSetupFiles = 36436;
inline constexpr int kStrSetupBatchFilter = 36437;
inline constexpr int kMsgFolderMissing = 33006;
inline constexpr int kMsgNameIsFolder = 33007;

class CBatchFileSetupDlg : public wxDialog {
 public:
  // `batchPath` empty: a new batch file.
  CBatchFileSetupDlg(wxWindow* parent, const std::string& batchPath);
  ~CBatchFileSetupDlg() override;

  // The controls, for tests.
  wxTextCtrl* Target() const { return target_; }
  wxRadioButton* HoldRadio() const { return hold_; }
  wxRadioButton* AutomaticRadio() const { return automatic_; }
  wxCheckBox* LogBox() const { return log_; }
  wxCheckBox* FolderBox() const { return folderBox_; }
  wxTextCtrl* FolderEdit() const { return folder_; }
  wxCheckBox* FormatBox() const { return formatBox_; }
  wxChoice* FormatChoice() const { return format_; }
  wxCheckBox* DeleteBox() const { return delete_; }
  wxCheckBox* ScheduleBox() const { return schedule_; }
  wxListBox* FilesList() const { return files_; }
  const std::string& WorkingPath() const { return working_->Path(); }

  // Adds image files as the add command does after its dialog.
  void AddFiles(const std::vector<std::string>& paths);
  // The target name as typed: completed and checked (false with the message shown).
  bool AcceptTarget();
  // OK's work; false when the target could not be written (said).
  bool Commit();
  void UpdateEnabling();

 private:
  void Build();
  void Restore();
  void FillPresets();
  void FillFormats(const std::string& selected);
  void ShowFiles();
  void OnBrowseTarget();
  void OnBrowseFolder();
  void OnAddFiles();
  void OnRemoveFiles();
  void OnPresetSelected();

  std::string target_path_;
  std::unique_ptr<batch::BatchWorkingFile> working_;
  std::vector<std::string> formatNames_;

  wxTextCtrl* target_ = nullptr;
  wxRadioButton* fromCurrent_ = nullptr;
  wxRadioButton* fromPreset_ = nullptr;
  wxListBox* presets_ = nullptr;
  wxStaticText* presetFields_ = nullptr;
  wxRadioButton* hold_ = nullptr;
  wxRadioButton* automatic_ = nullptr;
  wxCheckBox* log_ = nullptr;
  wxCheckBox* folderBox_ = nullptr;
  wxTextCtrl* folder_ = nullptr;
  wxButton* folderBrowse_ = nullptr;
  wxCheckBox* formatBox_ = nullptr;
  wxChoice* format_ = nullptr;
  wxCheckBox* delete_ = nullptr;
  wxCheckBox* schedule_ = nullptr;
  wxDatePickerCtrl* date_ = nullptr;
  wxTimePickerCtrl* time_ = nullptr;
  wxListBox* files_ = nullptr;
};

}  // namespace orb::gui
