#include "app/gui/batch/BatchDialogs.h"

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>

#include "app/batch/BatchFile.h"
#include "common/gui/Resources.h"

namespace orb::gui {

CDlgBatchModeWait::CDlgBatchModeWait(wxWindow* parent, std::function<bool()> isPaperPresent)
    : wxDialog(parent, wxID_ANY, Str(kStrWaitCaption)), paper_(std::move(isPaperPresent)), timer_(this, 1) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, Str(kStrWaitText)), 0, wxALL, 12);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* stop = new wxButton(this, kStopButton, Str(kStrWaitStop));
  buttons->Add(stop, 0, wxALL, 6);
  buttons->Add(new wxButton(this, wxID_CANCEL), 0, wxALL, 6);
  sizer->Add(buttons, 0, wxALIGN_CENTER);
  SetSizerAndFit(sizer);
  stop->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    timer_.Stop();
    EndModal(kStopButton);
  });
  Bind(wxEVT_TIMER, &CDlgBatchModeWait::OnTimer, this, 1);
  SetEscapeId(wxID_CANCEL);
}

int CDlgBatchModeWait::ShowModal() {
  if (paper_ && paper_()) return wxID_OK;
  timer_.Start(100);
  const int r = wxDialog::ShowModal();
  timer_.Stop();
  return r;
}

void CDlgBatchModeWait::OnTimer(wxTimerEvent&) {
  if (paper_ && paper_()) {
    timer_.Stop();
    EndModal(wxID_OK);
  }
}

orb::BatchWaitResult CDlgBatchModeWait::Run() {
  const int r = ShowModal();
  if (r == kStopButton) return orb::BatchWaitResult::Stop;
  return r == wxID_OK ? orb::BatchWaitResult::Paper : orb::BatchWaitResult::Cancelled;
}

CDeleteFilesFromBatchDlg::CDeleteFilesFromBatchDlg(wxWindow* parent, const std::string& batchPath)
    : wxDialog(parent, wxID_ANY, Str(kStrRemoveCaption), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      path_(batchPath) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, wxID_ANY, Str(kStrRemoveText)), 0, wxALL, 8);
  list_ = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(520, 240), 0, nullptr,
                        wxLB_MULTIPLE | wxLB_HSCROLL);
  for (const std::string& f : batch::ReadFileList(path_)) list_->Append(wxString::FromUTF8(f));
  sizer->Add(list_, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxEXPAND, 8);
  SetSizerAndFit(sizer);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    ApplyRemoval();
    EndModal(wxID_OK);
  }, wxID_OK);
}

bool CDeleteFilesFromBatchDlg::ApplyRemoval() {
  if (list_->GetCount() == 0) return true;  // the file stays as it was
  wxArrayInt selected;
  list_->GetSelections(selected);
  std::vector<size_t> positions;
  for (int i : selected) positions.push_back(static_cast<size_t>(i));
  return batch::RemoveFiles(path_, positions);
}

}  // namespace orb::gui
