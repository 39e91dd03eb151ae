#include "app/gui/ScanHostGui.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>
#include <wx/utils.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "app/MessageText.h"
#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "app/gui/ProgressDlg.h"
#include "scanning/ScannerService.h"
#include "engine/ImageState.h"
#include "platform/Event.h"

namespace orb::gui {
namespace {

constexpr int kStrFillCaption = 33074;
constexpr int kStrPreScanCaption = 33049;

long IconStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return wxICON_INFORMATION;
    case MessageIcon::Exclamation: return wxICON_EXCLAMATION;
    case MessageIcon::Error: return wxICON_ERROR;
    case MessageIcon::None: break;
  }
  return 0;
}

bool OnGuiThread() { return wxThread::IsMain(); }

}  // namespace

// Shared with the queued actions, so an action that outlives the host finds it ended instead
// of a freed object.
struct ScanHostGui::Core : std::enable_shared_from_this<Core> {
  struct Action {
    std::function<void()> run;
    size_t bytes = 0;      // band data it holds
    bool display = false;  // an action of the progressive display
  };

  wxEvtHandler* frame = nullptr;
  wxWindow* parent = nullptr;
  Clock* clock = nullptr;

  mutable std::mutex mutex;
  std::condition_variable roomCv;
  std::deque<Action> actions;
  size_t queuedBytes = 0;
  size_t peakBytes = 0;
  size_t limit = kDefaultQueueLimit;
  bool scheduled = false;
  bool detached = false;
  bool ended = false;
  std::vector<std::shared_ptr<Event>> waiters;

  // Bytes of one line of the image on display (set at the start of a progressive display,
  // before the scan threads run).
  std::atomic<int64_t> lineBytes{0};
  std::atomic<int> pendingSteps{0};

  // GUI thread only.
  CProgressDlg* progress = nullptr;
  int busyDepth = 0;

  // Queues `run` for the GUI thread; on the GUI thread runs what is queued, then `run`.
  void Queue(std::function<void()> run, size_t bytes = 0, bool display = false) {
    if (OnGuiThread()) {
      RunQueued();
      if (!IsEnded()) run();
      return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (bytes > 0) {
      // A scan ahead of the screen waits for room; an empty queue always takes one band.
      roomCv.wait(lock, [&] { return ended || detached || queuedBytes == 0 || queuedBytes + bytes <= limit; });
    }
    if (ended) return;
    actions.push_back(Action{std::move(run), bytes, display});
    queuedBytes += bytes;
    peakBytes = std::max(peakBytes, queuedBytes);
    if (!scheduled) {
      scheduled = true;
      std::shared_ptr<Core> self = shared_from_this();
      frame->CallAfter([self] { self->RunQueued(); });
    }
  }

  // Queues `run` and waits until the GUI thread has carried it out; false when the wait was
  // given up (detached or ended) before that. A detached host still carries out what is
  // queued, later, unless `onlyIfWaited` (a question nobody waits for is not asked).
  bool QueueAndWait(std::function<void()> run, bool onlyIfWaited = false) {
    if (OnGuiThread()) {
      Queue(std::move(run));
      return !IsEnded();
    }
    auto done = std::make_shared<Event>(Event::Reset::Manual, false);
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (ended || (detached && onlyIfWaited)) return false;
      if (!detached) waiters.push_back(done);
    }
    Queue([run = std::move(run), done, onlyIfWaited] {
      // A worker that gave up waiting takes no answer: its question is not asked late.
      if (!(onlyIfWaited && done->IsClosed())) run();
      done->Set();
    });
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (detached || ended) {
        std::erase(waiters, done);
        return done->IsSet();
      }
    }
    const bool handled = done->Wait() == WaitResult::Signaled;
    std::lock_guard<std::mutex> lock(mutex);
    std::erase(waiters, done);
    return handled;
  }

  // GUI thread: carries out the queued actions one by one, in order (an action that pumps
  // messages may run the rest itself; the order still holds).
  void RunQueued() {
    for (;;) {
      Action a;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (actions.empty() || ended) {
          scheduled = false;
          return;
        }
        a = std::move(actions.front());
        actions.pop_front();
        queuedBytes -= a.bytes;
      }
      roomCv.notify_all();
      a.run();
    }
  }

  bool IsEnded() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ended;
  }

  void ReleaseWaiters() {
    for (auto& w : waiters) w->Close();
    waiters.clear();
  }

  // ---- GUI-thread actions

  void Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    OrbMessageEvent e(msg, wParam, lParam);
    frame->ProcessEvent(e);
  }

  void Box(const std::string& text, const std::string& caption, long style) {
    const wxString c = wxString::FromUTF8(caption.empty() ? (g_szAppTitle.empty() ? "Orbalon" : g_szAppTitle) : caption);
    wxMessageBox(wxString::FromUTF8(text), c, style, parent);
  }

  // Steps counted since the last application; they belong to the dialog shown now (the steps
  // of a dialog are always asked for after its start and before its end).
  void ApplySteps() {
    if (!progress) return;
    const int n = pendingSteps.exchange(0);
    for (int i = 0; i < n; ++i) progress->Step();
  }

  void BeginProgress(int caption, int steps) {
    CloseProgress();
    // The white completion of a stopped scan and the palette pre-scan can be cancelled.
    // So can the scanner's calibration and alignment.
    const bool cancel = caption == kStrFillCaption || caption == kStrPreScanCaption ||
                        caption == orb::service_strings::kCalibrateCaption ||
                        caption == orb::service_strings::kAlignCaption;
    progress = new CProgressDlg(parent, wxString::FromUTF8(LoadString(caption)), 0, std::max(steps, 1), cancel);
    if (!progress->CreateWindow()) {
      progress->Destroy();
      progress = nullptr;
    }
  }

  void EndProgress() {
    ApplySteps();
    CloseProgress();
  }

  void CloseProgress() {
    if (!progress) return;
    CProgressDlg* dlg = progress;
    progress = nullptr;
    if (!dlg->Ended()) dlg->OnOK();
    dlg->Destroy();
  }

  void Cursor(bool on) {
    if (on) {
      wxBeginBusyCursor();
      ++busyDepth;
    } else if (busyDepth > 0) {
      --busyDepth;
      wxEndBusyCursor();
    }
  }
};

// The display sink the scan sees: copies each band and hands it to the program's progressive
// display on the GUI thread.
class ScanHostGui::Sink final : public IDisplaySink {
 public:
  explicit Sink(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  void UpdateTitle(ImageState* image) override {
    core_->Queue([image] {
      if (IDisplaySink* t = Host().display) t->UpdateTitle(image);
    }, 0, true);
  }
  void BeginProgressiveDisplay(ImageState* image) override {
    if (image) core_->lineBytes.store(image->storedLineWidth);
    core_->Queue([image] {
      if (IDisplaySink* t = Host().display) t->BeginProgressiveDisplay(image);
    }, 0, true);
  }
  void DrawIncomingBand(BandStep step, const uint8_t* rows, int count) override {
    const int64_t lineBytes = core_->lineBytes.load();
    std::vector<uint8_t> copy;
    if (rows && count > 0 && lineBytes > 0) copy.assign(rows, rows + lineBytes * count);
    const size_t bytes = copy.size();
    core_->Queue(
        [step, count, copy = std::move(copy)] {
          if (IDisplaySink* t = Host().display) t->DrawIncomingBand(step, copy.empty() ? nullptr : copy.data(), copy.empty() ? 0 : count);
        },
        bytes, true);
  }
  void EndProgressiveDisplay() override {
    core_->Queue([] {
      if (IDisplaySink* t = Host().display) t->EndProgressiveDisplay();
    }, 0, true);
  }

 private:
  std::shared_ptr<Core> core_;
};

ScanHostGui::ScanHostGui(wxEvtHandler* frame, wxWindow* parent)
    : core_(std::make_shared<Core>()), sink_(std::make_unique<Sink>(core_)) {
  core_->frame = frame;
  core_->parent = parent;
}

ScanHostGui::~ScanHostGui() { Shutdown(); }

void ScanHostGui::Shutdown() {
  std::deque<Core::Action> pending;
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->ended) return;
    core_->ended = true;
    core_->detached = true;
    pending.swap(core_->actions);
    core_->queuedBytes = 0;
    core_->ReleaseWaiters();
  }
  core_->roomCv.notify_all();
  if (OnGuiThread()) {
    // The display still holds the scan's record: let it finish with it while the view is
    // there. Messages, questions and the rest are dropped.
    for (Core::Action& a : pending)
      if (a.display) a.run();
    core_->EndProgress();
    while (core_->busyDepth > 0) core_->Cursor(false);
  }
}

void ScanHostGui::SetDetached(bool detached) {
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->ended) return;
    core_->detached = detached;
    if (detached) core_->ReleaseWaiters();
  }
  core_->roomCv.notify_all();
}

bool ScanHostGui::Detached() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->detached;
}

void ScanHostGui::Flush() {
  if (OnGuiThread()) core_->RunQueued();
}

void ScanHostGui::SetClock(Clock* clock) { core_->clock = clock; }

void ScanHostGui::SetQueueLimit(size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->limit = bytes;
  }
  core_->roomCv.notify_all();
}

size_t ScanHostGui::PeakQueuedBytes() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->peakBytes;
}

CProgressDlg* ScanHostGui::ProgressDialog() const { return core_->progress; }

// ---- messages

void ScanHostGui::PostToFrame(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  // Through the queue, so the message arrives after every band and step asked for before it.
  Core* c = core_.get();
  core_->Queue([c, msg, wParam, lParam] { wxQueueEvent(c->frame, new OrbMessageEvent(msg, wParam, lParam)); });
}

void ScanHostGui::SendToFrame(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  Core* c = core_.get();
  core_->QueueAndWait([c, msg, wParam, lParam] { c->Deliver(msg, wParam, lParam); });
}

void ScanHostGui::PostToThumbnails(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  core_->Queue([msg, wParam, lParam] { PostAppMessage(g_hThumbDlg.load(), msg, wParam, lParam); });
}

bool ScanHostGui::AskYesNo(int stringId, std::string_view prefix) {
  std::string text(prefix);
  if (!text.empty()) text += ' ';
  text += LoadString(stringId);
  auto yes = std::make_shared<std::atomic<bool>>(false);
  Core* c = core_.get();
  if (!core_->QueueAndWait(
          [c, text, yes] {
            yes->store(wxMessageBox(wxString::FromUTF8(text),
                                    wxString::FromUTF8(g_szAppTitle.empty() ? "Orbalon" : g_szAppTitle),
                                    wxYES_NO | wxICON_QUESTION, c->parent) == wxYES);
          },
          true))
    return false;  // nobody could answer: the careful answer
  return yes->load();
}

bool ScanHostGui::AskOkCancel(int stringId) {
  const std::string text = LoadString(stringId);
  auto ok = std::make_shared<std::atomic<bool>>(false);
  Core* c = core_.get();
  if (!core_->QueueAndWait(
          [c, text, ok] {
            ok->store(wxMessageBox(wxString::FromUTF8(text),
                                   wxString::FromUTF8(g_szAppTitle.empty() ? "Orbalon" : g_szAppTitle),
                                   wxOK | wxCANCEL | wxICON_QUESTION, c->parent) == wxOK);
          },
          true))
    return false;
  return ok->load();
}

void ScanHostGui::ShowMessage(int stringId, MessageIcon icon, const std::vector<MessageArg>& args) {
  std::string text = FormatMessageText(LoadString(stringId), args);
  if (text.empty()) text = "(message " + std::to_string(stringId) + ")";
  Core* c = core_.get();
  const long style = wxOK | IconStyle(icon);
  core_->QueueAndWait([c, text, style] { c->Box(text, std::string(), style); });
}

void ScanHostGui::ShowText(std::string_view text, std::string_view caption, MessageIcon icon) {
  Core* c = core_.get();
  const long style = wxOK | IconStyle(icon);
  core_->QueueAndWait([c, t = std::string(text), cap = std::string(caption), style] { c->Box(t, cap, style); });
}

// ---- progress, cursor, pump

void ScanHostGui::ProgressBegin(int captionStringId, int steps) {
  Core* c = core_.get();
  core_->Queue([c, captionStringId, steps] { c->BeginProgress(captionStringId, steps); });
}

void ScanHostGui::ProgressStep() {
  // Steps coalesce: one queued action applies every step counted until it runs.
  if (core_->pendingSteps.fetch_add(1) == 0 || OnGuiThread()) {
    Core* c = core_.get();
    core_->Queue([c] { c->ApplySteps(); });
  }
}

void ScanHostGui::ProgressText(int stringId) {
  Core* c = core_.get();
  core_->Queue([c, stringId] {
    if (c->progress) c->progress->SetText(wxString::FromUTF8(LoadString(stringId)));
  });
}

void ScanHostGui::ProgressEnd() {
  Core* c = core_.get();
  core_->Queue([c] { c->EndProgress(); });
}

void ScanHostGui::WaitCursor(bool on) {
  Core* c = core_.get();
  core_->Queue([c, on] { c->Cursor(on); });
}

void ScanHostGui::PumpMessages() {
  // A worker has nothing to pump: the GUI thread's own loop runs meanwhile.
  if (!OnGuiThread()) return;
  core_->RunQueued();
  if (Host().pump) {
    orb::PumpMessages();
  } else if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
    loop->YieldFor(wxEVT_CATEGORY_ALL);
  }
}

IDisplaySink* ScanHostGui::Display() { return Host().display ? sink_.get() : nullptr; }

Clock& ScanHostGui::GetClock() { return core_->clock ? *core_->clock : DefaultClock(); }

void ScanHostGui::ChangeImageRecord(std::function<void()> change) {
  // In order with the bands before it and the frame's message after it; counted among the
  // display's actions, so a frame that goes still lets the display finish with the record.
  core_->Queue(std::move(change), 0, true);
}

}  // namespace orb::gui
