// The scheduler's window in this process: what its tray tip says after a check, that it
// works without a tray, and the question before it ends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/taskbar.h>
#include <wx/testing.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "scheduler/gui/SchedulerWindow.h"
#include "tests/common/TestUtil.h"

namespace fs = std::filesystem;
using orb::scheduler::SchedulerWindow;

namespace {

struct WindowFixture : ::testing::Test {
  WindowFixture() {
    fs::create_directories(Scheduled());
    fs::create_directories(Programs());
  }
  ~WindowFixture() override {
    if (window && !window->IsBeingDeleted()) window->Destroy();
    wxTheApp->ProcessIdle();
  }
  fs::path Scheduled() const { return dir.path() / "Scheduled"; }
  fs::path Programs() const { return dir.path() / "bin"; }
  SchedulerWindow* Open() {
    window = new SchedulerWindow(Scheduled().string(), Programs().string(), "");
    return window;
  }
  orbtest::TempDir dir;
  SchedulerWindow* window = nullptr;
};

TEST_F(WindowFixture, WithoutATrayItSchedulesWithoutAnIcon) {
  // The private X server of this test has no tray.
  ASSERT_FALSE(wxTaskBarIcon::IsAvailable());
  SchedulerWindow* w = Open();
  EXPECT_FALSE(w->HasTrayIcon());
  EXPECT_FALSE(w->IsShown());
  EXPECT_EQ(w->Tip(), "Varnholt Batch Scheduler");

  // A due batch still starts.
  orbtest::WriteFile(Programs() / "orbalon", "#!/bin/sh\necho \"$1\" > '" + (dir.path() / "ran").string() + "'\n");
  fs::permissions(Programs() / "orbalon", fs::perms::owner_all);
  const fs::path bch = dir.path() / "night.bch";
  orbtest::WriteFile(bch, "[General]\nHoldForQC=0\nAutoRun=2026/1/1,0:0:0\n");
  orbtest::WriteFile(Scheduled() / "night.sch", bch.string());
  w->Check();
  EXPECT_NE(w->Tip().find("Started " + bch.string()), wxString::npos) << w->Tip();
  for (int i = 0; i < 300 && orbtest::ReadFile(dir.path() / "ran").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(orbtest::ReadFile(dir.path() / "ran"), bch.string() + "\n");
  // While the flag names a process that runs, the tip says what is processed.
  orbtest::WriteFile(Scheduled() / "processing.flg", std::to_string(::getpid()) + "\n" + bch.string() + "\n");
  w->Check();
  EXPECT_EQ(w->Tip(), "Varnholt Batch Scheduler\nProcessing " + bch.string() + " (process " +
                          std::to_string(::getpid()) + ")");
}

TEST_F(WindowFixture, TheTipSaysWhenAFlagHoldsEveryRun) {
  orbtest::WriteFile(Scheduled() / "processing.flg", "");
  SchedulerWindow* w = Open();
  w->Check();
  EXPECT_EQ(w->Tip(), "Varnholt Batch Scheduler\nScheduled runs are held until " +
                          (Scheduled() / "processing.flg").string() + " is removed");
  // Once it is removed the tip is the title again.
  fs::remove(Scheduled() / "processing.flg");
  w->Check();
  EXPECT_EQ(w->Tip(), "Varnholt Batch Scheduler");
}

TEST_F(WindowFixture, ClosingAsksFirst) {
  SchedulerWindow* w = Open();
  wxTEST_DIALOG(w->Close(), wxExpectModal<wxMessageDialog>(wxNO).Describe("No keeps the scheduler"));
  EXPECT_FALSE(wxPendingDelete.Member(w));
  wxTEST_DIALOG(w->Close(), wxExpectModal<wxMessageDialog>(wxYES).Describe("Yes ends it"));
  EXPECT_TRUE(wxPendingDelete.Member(w));
}

}  // namespace
