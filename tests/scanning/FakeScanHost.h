// A scan host for tests: records every message, question, progress step and drawn band, answers
// questions as told and keeps time on a FakeClock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/Messages.h"
#include "scanning/ScanHost.h"

namespace orb::test {

class RecordingDisplay final : public IDisplaySink {
 public:
  void UpdateTitle(ImageState*) override {}
  void BeginProgressiveDisplay(ImageState*) override { ++begins; }
  void DrawIncomingBand(orb::BandStep step, const uint8_t*, int count) override {
    std::lock_guard<std::mutex> lock(mutex);
    steps.push_back(step);
    if (step == kStepBand) lines += count;
  }
  void EndProgressiveDisplay() override {}

  std::mutex mutex;
  std::vector<orb::BandStep> steps;
  int64_t lines = 0;
  int begins = 0;
};

class FakeScanHost final : public ScanHost {
 public:
  struct Msg {
    char how;  // 'P' posted to the frame, 'S' sent to the frame, 'T' posted to the thumbnails
    uint32_t msg;
    uintptr_t wParam;
  };

  void PostToFrame(uint32_t msg, uintptr_t w, intptr_t) override { Add({'P', msg, w}); }
  void SendToFrame(uint32_t msg, uintptr_t w, intptr_t) override {
    Add({'S', msg, w});
    if (onSend) onSend(msg);
  }
  void PostToThumbnails(uint32_t msg, uintptr_t w, intptr_t) override { Add({'T', msg, w}); }
  bool AskYesNo(int id, std::string_view prefix) override {
    std::lock_guard<std::mutex> lock(mutex);
    questions.push_back(std::to_string(id) + ":" + std::string(prefix));
    return answerYes;
  }
  bool AskOkCancel(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    questions.push_back("ok:" + std::to_string(id));
    return answerYes;
  }
  void ShowMessage(int id, MessageIcon icon, const std::vector<MessageArg>&) override {
    std::lock_guard<std::mutex> lock(mutex);
    messages.push_back(id);
    icons.push_back(icon);
  }
  void ProgressText(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    progressTexts.push_back(id);
  }
  void ShowText(std::string_view text, std::string_view, MessageIcon) override {
    std::lock_guard<std::mutex> lock(mutex);
    texts.emplace_back(text);
  }
  void ProgressBegin(int caption, int) override {
    std::lock_guard<std::mutex> lock(mutex);
    progressCaptions.push_back(caption);
  }
  void ProgressStep() override { ++progressSteps; }
  void ProgressEnd() override { ++progressEnds; }
  void WaitCursor(bool) override {}
  void PumpMessages() override {
    const int n = ++pumps;
    if (escAtPump > 0 && n >= escAtPump) CancelFlag.store(1);
    if (onPump) onPump(n);
  }
  // Runs at every pump (the pump's number, from 1).
  std::function<void(int)> onPump;
  IDisplaySink* Display() override { return &display; }
  Clock& GetClock() override { return clock; }
  bool HasFreeSpace(const std::string& path, int64_t bytes) override {
    return freeSpace ? ScanHost::HasFreeSpace(path, bytes) : false;
  }

  std::vector<Msg> Messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return msgs;
  }
  // The frame messages, in order, as "P9" style codes relative to WM_APP.
  std::vector<std::string> Codes() {
    std::vector<std::string> out;
    for (const Msg& m : Messages()) out.push_back(std::string(1, m.how) + std::to_string(m.msg - WM_APP));
    return out;
  }

  std::mutex mutex;
  std::vector<Msg> msgs;
  std::vector<std::string> questions;
  std::vector<int> messages;
  std::vector<MessageIcon> icons;
  std::vector<int> progressTexts;
  std::vector<std::string> texts;
  std::vector<int> progressCaptions;
  std::atomic<int> progressSteps{0};
  std::atomic<int> progressEnds{0};
  std::atomic<int> pumps{0};
  int escAtPump = 0;
  // Runs as the frame's handler of a sent message (on the sender's thread).
  std::function<void(uint32_t)> onSend;
  bool answerYes = true;
  bool freeSpace = true;
  RecordingDisplay display;
  FakeClock clock;

 private:
  void Add(Msg m) {
    std::lock_guard<std::mutex> lock(mutex);
    msgs.push_back(m);
  }
};

}  // namespace orb::test
