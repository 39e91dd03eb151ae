#include "scheduler/gui/SchedulerWindow.h"

#include <wx/accel.h>
#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstdio>
#include <ctime>

namespace orb::scheduler {

class SchedulerWindow::TrayIcon : public wxTaskBarIcon {
 public:
  explicit TrayIcon(SchedulerWindow* owner) : owner_(owner) {
    Bind(wxEVT_TASKBAR_LEFT_UP, [this](wxTaskBarIconEvent&) { owner_->RestoreFromTray(); });
  }

 private:
  SchedulerWindow* owner_;
};

wxIcon SchedulerIcon(int size) {
  wxBitmap bmp(size, size, 32);
  {
    wxMemoryDC dc(bmp);
    dc.SetBackground(wxBrush(wxColour(40, 70, 120)));
    dc.Clear();
    dc.SetPen(wxPen(wxColour(30, 30, 30), 1));
    dc.SetBrush(wxBrush(*wxWHITE));
    dc.DrawRectangle(size / 8, size / 8, size * 5 / 8, size * 3 / 4);
    const int r = size / 4, cx = size * 5 / 8, cy = size * 5 / 8;
    dc.SetBrush(wxBrush(wxColour(250, 200, 40)));
    dc.DrawCircle(cx, cy, r);
    dc.SetPen(wxPen(wxColour(30, 30, 30), std::max(1, size / 16)));
    dc.DrawLine(cx, cy, cx, cy - r * 3 / 4);
    dc.DrawLine(cx, cy, cx + r / 2, cy);
  }
  wxIcon icon;
  icon.CopyFromBitmap(bmp);
  return icon;
}

SchedulerWindow::SchedulerWindow(std::string scheduledFolder, std::string programFolder, std::string instanceSocket)
    : wxFrame(nullptr, wxID_ANY, kTitle),
      folder_(std::move(scheduledFolder)),
      launcher_(std::move(programFolder), std::move(instanceSocket)),
      timer_(this),
      tip_(kTitle) {
  SetName("PLOVIS");
  wxIconBundle icons;
  icons.AddIcon(SchedulerIcon(32));
  icons.AddIcon(SchedulerIcon(16));
  SetIcons(icons);

  auto* file = new wxMenu;
  file->Append(kCmdExit, "E&xit");
  auto* help = new wxMenu;
  help->Append(kCmdAbout, "&About ...");
  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(help, "&Help");
  SetMenuBar(bar);
  wxAcceleratorEntry keys[2];
  keys[0].Set(wxACCEL_ALT, '?', kCmdAbout);
  keys[1].Set(wxACCEL_ALT, '/', kCmdAbout);
  SetAcceleratorTable(wxAcceleratorTable(2, keys));
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ShowAbout(); }, kCmdAbout);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, kCmdExit);
  Bind(wxEVT_CLOSE_WINDOW, &SchedulerWindow::OnClose, this);
  Bind(wxEVT_ICONIZE, &SchedulerWindow::OnIconize, this);

  // Where the desktop has no tray the scheduler runs on without an icon (and without a
  // way to show its window): it still checks and starts.
  if (wxTaskBarIcon::IsAvailable()) {
    tray_ = std::make_unique<TrayIcon>(this);
    if (!tray_->SetIcon(SchedulerIcon(22), tip_)) tray_.reset();
  }
  if (!tray_) std::fprintf(stderr, "plovis: no system tray; scheduling without an icon\n");

  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Check(); }, timer_.GetId());
  timer_.Start(kCheckIntervalMs);
}

SchedulerWindow::~SchedulerWindow() {
  timer_.Stop();
  if (tray_) tray_->RemoveIcon();
}

void SchedulerWindow::Check() {
  CollectEndedChildren();
  const CheckResult r = CheckScheduledFolder(folder_, std::time(nullptr), launcher_);
  SetStatusLine(DescribeCheck(r));
}

void SchedulerWindow::SetStatusLine(const std::string& line) {
  if (line == lastLine_) return;
  lastLine_ = line;
  if (!line.empty()) {
    std::fprintf(stderr, "plovis: %s\n", line.c_str());
    std::fflush(stderr);
  }
  tip_ = line.empty() ? wxString(kTitle) : wxString(kTitle) + "\n" + wxString::FromUTF8(line);
  if (tray_) tray_->SetIcon(SchedulerIcon(22), tip_);
}

void SchedulerWindow::OnClose(wxCloseEvent& e) {
  if (e.CanVeto() &&
      wxMessageBox(kExitQuestion, kExitCaption, wxYES_NO | wxICON_QUESTION, this) != wxYES) {
    e.Veto();
    return;
  }
  Destroy();
}

void SchedulerWindow::OnIconize(wxIconizeEvent& e) {
  if (e.IsIconized()) Hide();
}

void SchedulerWindow::RestoreFromTray() {
  if (IsShown()) return;
  Iconize(false);
  Show();
  Raise();
  SetFocus();
}

void SchedulerWindow::ShowAbout() {
  wxDialog dlg(this, wxID_ANY, wxString("About ") + kTitle);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  wxBitmap picture;
  picture.CopyFromIcon(SchedulerIcon(32));
  row->Add(new wxStaticBitmap(&dlg, wxID_ANY, picture), 0, wxALL, 12);
  row->Add(new wxStaticText(&dlg, wxID_ANY, kAboutText), 0, wxALIGN_CENTER_VERTICAL | wxALL, 12);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(row);
  column->Add(new wxButton(&dlg, wxID_OK, "OK"), 0, wxALIGN_CENTER | wxBOTTOM, 12);
  dlg.SetSizerAndFit(column);
  dlg.SetEscapeId(wxID_OK);
  dlg.ShowModal();
}

}  // namespace orb::scheduler
