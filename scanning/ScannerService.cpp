#include "scanning/ScannerService.h"

#include "engine/EngineHost.h"
#include "scanner_library/trennic.h"

namespace orb {
namespace {

using namespace service_strings;

constexpr auto kPollWait = Clock::Ms(100);
constexpr int kLampWaits = 600;  // one minute in 100 ms waits
constexpr int kProgressSteps = 100;

bool ModelNeedsNoQuestion(int32_t model) { return model == 2 || model == 5 || model == 6 || model == 15; }

// Ends the dialog and says why the step did not complete.
ServiceOutcome Fail(ScanHost& host, ServiceOutcome outcome, int messageId) {
  host.ProgressEnd();
  host.ShowMessage(messageId, MessageIcon::Error);
  return outcome;
}

// The one-minute lamp warm-up; false when Esc ended it.
bool WaitForLamp(ScanHost& host) {
  Clock& clock = host.GetClock();
  for (int i = 1; i <= kLampWaits; ++i) {
    host.PumpMessages();
    clock.Sleep(kPollWait);
    if (IsCancelled()) return false;
    if (i % 10 == 0) host.ProgressStep();
  }
  return true;
}

struct SeamValues {
  bool valid = false;
  unsigned char frontBack[5] = {};
  unsigned char stitch[5] = {};
};

SeamValues ReadSeams(CTrennic& scanner) {
  SeamValues v;
  DramDataType d{};
  if (!scanner.RetrieveDramDiagnostic(&d)) return v;
  static constexpr int kFrontBack[5] = {37, 38, 39, 13, 14};
  static constexpr int kStitch[5] = {5, 6, 7, 10, 11};
  for (int i = 0; i < 5; ++i) {
    v.frontBack[i] = d.Data[kFrontBack[i]];
    v.stitch[i] = d.Data[kStitch[i]];
  }
  v.valid = true;
  return v;
}

void WriteSeams(CTrennic& scanner, const SeamValues& v, int32_t cameraCount) {
  if (!v.valid) return;
  const unsigned char* f = v.frontBack;
  const unsigned char* l = v.stitch;
  if (cameraCount >= 5) {
    (void)scanner.SetFrontBackAlign(f[0], f[1], f[2], f[3], f[4]);
    (void)scanner.SetLeftRightStitch(l[0], l[1], l[2], l[3], l[4]);
  } else {
    (void)scanner.SetFrontBackAlign(f[0], f[1], f[2]);
    (void)scanner.SetLeftRightStitch(l[0], l[1], l[2]);
  }
}

}  // namespace

ServiceOutcome PollDiagnosticStep(CTrennic& scanner, ScanHost& host, bool waitBeforeStop,
                                  const ServiceLimits& limits) {
  Clock& clock = host.GetClock();
  const int64_t start = clock.NowMs();
  int polls = 0;
  int failedReads = 0;
  for (;;) {
    host.PumpMessages();
    clock.Sleep(kPollWait);
    ReceiveResultsType r{};
    const bool read = scanner.ReceiveResultsDiagnostic(&r, sizeof r.Data);
    if (IsCancelled()) {
      if (waitBeforeStop) clock.Sleep(kPollWait);
      (void)scanner.StopCurrentDiagnostic();
      return ServiceOutcome::Cancelled;
    }
    if (!read) {
      if (++failedReads >= limits.failedReadsInARow) {
        (void)scanner.StopCurrentDiagnostic();
        return ServiceOutcome::NoAnswer;
      }
    } else {
      failedReads = 0;
      const unsigned char status = r.Data[kResultsStatusByte];
      if (status & kResultsFailed) return ServiceOutcome::Failed;
      if (status & kResultsCompleted) return ServiceOutcome::Completed;
    }
    if (clock.NowMs() - start >= limits.stepLimitMs) {
      (void)scanner.StopCurrentDiagnostic();
      return ServiceOutcome::TimedOut;
    }
    if (++polls % 10 == 0) host.ProgressStep();
  }
}

ServiceOutcome CalibrateScsi(CTrennic& scanner, ScanHost& host, const ScanSettingsRecord& s,
                             const ServiceLimits& limits) {
  if (!ModelNeedsNoQuestion(s.ModelCode) && !host.AskOkCancel(kCalibrateQuestion)) return ServiceOutcome::Declined;
  CancelFlag.store(0);
  host.ProgressBegin(kCalibrateCaption, kProgressSteps);
  if (!s.LightCalibrationOnly) {
    host.ProgressText(kDarkText);
    (void)scanner.UnNormaliseScanner();
    (void)scanner.DarkNormalisationDiagnostic();
    const ServiceOutcome dark = PollDiagnosticStep(scanner, host, true, limits);
    if (dark != ServiceOutcome::Completed) return Fail(host, dark, kDarkFailed);
    host.ProgressText(kLampText);
    (void)scanner.SetIllumination(ILLUMINATION_ON);
    if (!WaitForLamp(host)) return Fail(host, ServiceOutcome::Cancelled, kLightFailed);
  }
  host.ProgressText(kLightText);
  (void)scanner.LightNormalisationDiagnostic();
  const ServiceOutcome light = PollDiagnosticStep(scanner, host, true, limits);
  if (light != ServiceOutcome::Completed) return Fail(host, light, kLightFailed);
  host.ProgressEnd();
  host.ShowMessage(kCalibrated, MessageIcon::Information);
  return ServiceOutcome::Completed;
}

ServiceOutcome AlignScannerScsi(CTrennic& scanner, ScanHost& host, const ScanSettingsRecord& s,
                                const ServiceLimits& limits) {
  if (!host.AskOkCancel(kAlignQuestion)) return ServiceOutcome::Declined;
  host.ProgressBegin(kAlignCaption, kProgressSteps);
  CancelFlag.store(0);
  const SeamValues before = ReadSeams(scanner);
  auto fail = [&](ServiceOutcome outcome, int messageId) {
    WriteSeams(scanner, before, s.CameraCount);
    return Fail(host, outcome, messageId);
  };
  (void)scanner.AutoFrontBackDiagnostic();
  const ServiceOutcome frontBack = PollDiagnosticStep(scanner, host, true, limits);
  if (frontBack != ServiceOutcome::Completed) return fail(frontBack, kFrontBackFailed);
  host.ProgressText(kLeftRightText);
  (void)scanner.AutoLeftRightDiagnostic();
  const ServiceOutcome leftRight = PollDiagnosticStep(scanner, host, false, limits);
  if (leftRight != ServiceOutcome::Completed) return fail(leftRight, kLeftRightFailed);
  host.ProgressEnd();
  host.ShowMessage(kAligned, MessageIcon::Information);
  return ServiceOutcome::Completed;
}

}  // namespace orb
