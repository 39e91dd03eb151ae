// The scan host on the toolkit: what the scan threads ask for is done on the GUI thread, in
// order; a send from a worker returns only once the frame handled it, a send on the GUI thread
// is handled at once, and a detached host never keeps a worker waiting.
#include "app/gui/ScanHostGui.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/LanguageModule.h"
#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "app/gui/ProgressDlg.h"
#include "engine/EngineHost.h"
#include "engine/ImageState.h"
#include "platform/Event.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

// Records what reaches the program's display, and on which thread.
class RecordingSink final : public orb::IDisplaySink {
 public:
  void UpdateTitle(ImageState*) override { Add("title"); }
  void BeginProgressiveDisplay(ImageState*) override { Add("begin"); }
  void DrawIncomingBand(orb::BandStep step, const uint8_t* rows, int count) override {
    std::string e = "step" + std::to_string(static_cast<int>(step));
    if (step == kStepBand) e += ":" + std::to_string(count) + ":" + std::to_string(rows ? rows[0] : -1);
    Add(e);
  }
  void EndProgressiveDisplay() override { Add("end"); }

  std::vector<std::string> log;
  bool allOnGuiThread = true;

 private:
  void Add(const std::string& e) {
    if (!wxThread::IsMain()) allOnGuiThread = false;
    log.push_back(e);
  }
};

// Answers a message box and keeps its text.
class AnswerBox : public wxExpectModalBase<wxMessageDialog> {
 public:
  AnswerBox(int answer, wxString* text) : m_answer(answer), m_text(text) {}

 protected:
  int OnInvoked(wxMessageDialog* dlg) const override {
    *m_text = dlg->GetMessage();
    return m_answer;
  }

 private:
  int m_answer;
  wxString* m_text;
};

class ScanHostGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "scan host");
    frame_->Show();
    wxTheApp->SetTopWindow(frame_);
    frame_->Bind(orbEVT_APP_MESSAGE, [this](OrbMessageEvent& e) {
      received_.push_back(e.Message());
      onGuiThread_ = onGuiThread_ && wxThread::IsMain();
      if (onMessage_) onMessage_(e.Message());
    });
    savedHost_ = orb::Host();
    orb::EngineHost h = savedHost_;
    h.display = &sink_;
    orb::SetEngineHost(h);
    host_ = std::make_unique<orb::gui::ScanHostGui>(frame_, frame_);
    image_ = orb::NewImageState();
    image_->storedLineWidth = 4;
  }
  void TearDown() override {
    host_.reset();
    orb::SetEngineHost(savedHost_);
    orb::FreeImageChain(image_);
    frame_->Destroy();
    orbtest::PumpUntil([] { return wxTopLevelWindows.empty(); }, 200);
  }

  wxFrame* frame_ = nullptr;
  std::unique_ptr<orb::gui::ScanHostGui> host_;
  RecordingSink sink_;
  orb::EngineHost savedHost_;
  ImageState* image_ = nullptr;
  std::vector<uint32_t> received_;
  bool onGuiThread_ = true;
  std::function<void(uint32_t)> onMessage_;
};

TEST_F(ScanHostGuiTest, SendFromAWorkerReturnsOnlyAfterTheFrameHandledIt) {
  std::atomic<bool> handled{false}, sawHandled{false}, done{false};
  onMessage_ = [&](uint32_t msg) {
    if (msg == WM_SCAN_COMPLETE) handled = true;
  };
  std::thread worker([&] {
    host_->SendToFrame(WM_SCAN_COMPLETE);
    sawHandled = handled.load();
    done = true;
  });
  ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load(); }, 20000));
  worker.join();
  EXPECT_TRUE(sawHandled.load());
  EXPECT_TRUE(onGuiThread_);
  EXPECT_EQ(received_, std::vector<uint32_t>{WM_SCAN_COMPLETE});
}

TEST_F(ScanHostGuiTest, SendOnTheGuiThreadIsHandledAtOnce) {
  host_->SendToFrame(WM_SCAN_COMPLETE, 7);
  EXPECT_EQ(received_, std::vector<uint32_t>{WM_SCAN_COMPLETE});
  // A post waits for the loop.
  host_->PostToFrame(WM_SCAN_REJECT_PAGE);
  EXPECT_EQ(received_.size(), 1u);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return received_.size() == 2; }));
  EXPECT_EQ(received_.back(), WM_SCAN_REJECT_PAGE);
}

TEST_F(ScanHostGuiTest, DetachingReleasesAWaitingWorkerAndKeepsTheMessage) {
  std::atomic<bool> done{false}, answer{true};
  std::thread worker([&] {
    host_->SendToFrame(WM_SCAN_COMPLETE);
    done = true;
  });
  // The GUI thread does not run its loop here: only detaching lets the worker go on.
  host_->SetDetached(true);
  worker.join();
  EXPECT_TRUE(done.load());
  EXPECT_TRUE(received_.empty());
  // A question nobody can answer is a No, and no box is shown.
  std::thread asker([&] { answer = host_->AskYesNo(33009, "/tmp/x.tif"); });
  asker.join();
  EXPECT_FALSE(answer.load());

  host_->SetDetached(false);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return !received_.empty(); }));
  EXPECT_EQ(received_, std::vector<uint32_t>{WM_SCAN_COMPLETE});
}

TEST_F(ScanHostGuiTest, BandsAreDrawnOnTheGuiThreadInOrderBeforeTheMessageAfterThem) {
  orb::IDisplaySink* display = host_->Display();
  ASSERT_NE(display, nullptr);
  display->BeginProgressiveDisplay(image_);
  display->DrawIncomingBand(orb::IDisplaySink::kStepStart, nullptr, 0);
  EXPECT_EQ(sink_.log.size(), 2u);  // on the GUI thread: at once

  size_t logAtMessage = 0;
  onMessage_ = [&](uint32_t) { logAtMessage = sink_.log.size(); };
  std::atomic<bool> done{false};
  std::thread worker([&] {
    uint8_t rows[8];
    for (int i = 0; i < 10; ++i) {
      std::fill(rows, rows + 8, static_cast<uint8_t>(i));
      display->DrawIncomingBand(orb::IDisplaySink::kStepBand, rows, 2);
      std::fill(rows, rows + 8, uint8_t{0xEE});  // the scan reuses its buffer at once
    }
    display->DrawIncomingBand(orb::IDisplaySink::kStepEnd, nullptr, 0);
    display->EndProgressiveDisplay();
    host_->PostToFrame(WM_SCAN_COMPLETE);
    done = true;
  });
  ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load() && !received_.empty(); }, 20000));
  worker.join();

  std::vector<std::string> want{"begin", "step1"};
  for (int i = 0; i < 10; ++i) want.push_back("step2:2:" + std::to_string(i));
  want.push_back("step4");
  want.push_back("end");
  EXPECT_EQ(sink_.log, want);
  EXPECT_TRUE(sink_.allOnGuiThread);
  EXPECT_EQ(logAtMessage, want.size());
}

TEST_F(ScanHostGuiTest, AScanAheadOfTheScreenWaitsInsteadOfGrowingTheQueue) {
  orb::IDisplaySink* display = host_->Display();
  ASSERT_NE(display, nullptr);
  display->BeginProgressiveDisplay(image_);
  host_->SetQueueLimit(24);  // three bands of two 4-byte lines
  std::atomic<bool> done{false};
  std::thread worker([&] {
    uint8_t rows[8] = {};
    for (int i = 0; i < 200; ++i) display->DrawIncomingBand(orb::IDisplaySink::kStepBand, rows, 2);
    done = true;
  });
  ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load(); }, 20000));
  worker.join();
  host_->Flush();
  EXPECT_LE(host_->PeakQueuedBytes(), 24u);
  EXPECT_EQ(sink_.log.size(), 201u);
}

TEST_F(ScanHostGuiTest, ProgressFromAWorkerShowsTheDialogOnTheGuiThreadAndCancelSetsTheFlag) {
  CancelFlag = 0;
  orb::Event go(orb::Event::Reset::Manual, false);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    host_->ProgressBegin(33074, 20);
    for (int i = 0; i < 20; ++i) host_->ProgressStep();
    go.Wait();
    host_->ProgressEnd();
    done = true;
  });
  ASSERT_TRUE(orbtest::PumpUntil([&] { return host_->ProgressDialog() && host_->ProgressDialog()->BarValue() > 0; }, 20000));
  CProgressDlg* dlg = host_->ProgressDialog();
  EXPECT_TRUE(dlg->IsShown());
  EXPECT_EQ(dlg->GetId(), CProgressDlg::kTemplateId);  // the module's template
  EXPECT_EQ(dlg->BarValue(), 100);
  // The white completion of a stopped scan can be cancelled.
  wxWindow* cancel = dlg->FindWindow(wxID_CANCEL);
  ASSERT_TRUE(cancel);
  EXPECT_TRUE(cancel->IsShown());
  dlg->OnCancel();
  EXPECT_EQ(CancelFlag.load(), 1);
  go.Set();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load() && host_->ProgressDialog() == nullptr; }, 20000));
  worker.join();
  CancelFlag = 0;
}

TEST_F(ScanHostGuiTest, AQuestionFromAWorkerIsAskedOnTheGuiThreadWithTheLanguageModulesText) {
  std::atomic<bool> done{false}, answer{false};
  std::thread worker([&] {
    answer = host_->AskYesNo(33009, "/data/scan.tif");
    done = true;
  });
  wxString asked;
  wxTEST_DIALOG(ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load(); }, 20000)), AnswerBox(wxID_YES, &asked));
  worker.join();
  EXPECT_TRUE(answer.load());
  EXPECT_EQ(std::string(asked.utf8_str()), "/data/scan.tif " + orb::LoadString(33009));
}

TEST_F(ScanHostGuiTest, AMessageFromAWorkerWaitsUntilItWasSeen) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    host_->ShowMessage(33018, orb::MessageIcon::Exclamation);
    done = true;
  });
  wxString shown;
  wxTEST_DIALOG(ASSERT_TRUE(orbtest::PumpUntil([&] { return done.load(); }, 20000)), AnswerBox(wxID_OK, &shown));
  worker.join();
  EXPECT_EQ(std::string(shown.utf8_str()), orb::LoadString(33018));
}

}  // namespace
