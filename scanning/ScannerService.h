// The service routines of a SCSI-family scanner that the extended settings page asks for:
// calibration (dark and light normalisation) and camera alignment (front/back, then
// left/right). Each starts the scanner's own step with a diagnostic page and polls the
// results page until the step reports completion or failure, pumping messages between
// polls so that Esc (the cancel flag) and the windows stay alive. Everything the user sees
// goes through the scan host; every wait goes through its clock.
#pragma once

#include <cstdint>

#include "engine/Settings.h"
#include "scanning/ScanHost.h"

class CTrennic;

namespace orb {

namespace service_strings {
inline constexpr int kDarkText = 33050;
inline constexpr int kCalibrateQuestion = 33051;
inline constexpr int kAlignQuestion = 33052;
inline constexpr int kLightText = 33053;
inline constexpr int kCalibrated = 33054;
inline constexpr int kDarkFailed = 33055;
inline constexpr int kLightFailed = 33056;
inline constexpr int kLampText = 33057;
inline constexpr int kAlignCaption = 33058;
inline constexpr int kFrontBackFailed = 33059;
inline constexpr int kLeftRightText = 33060;
inline constexpr int kLeftRightFailed = 33061;
inline constexpr int kAligned = 33062;
// The calibration progress dialog's caption (a text of the program's own).
inline constexpr int kCalibrateCaption = 35240;
}  // namespace service_strings

enum class ServiceOutcome {
  Declined,   // the user answered Cancel to the question
  Completed,
  Failed,     // the scanner reported the step failed
  Cancelled,  // Esc
  TimedOut,   // the step did not end within its limit (it was stopped)
  NoAnswer,   // the results page could not be read
};

struct ServiceLimits {
  // The longest a step may run before it is stopped: a scanner that never reports the end
  // of a step does not hold the program.
  int64_t stepLimitMs = 10 * 60 * 1000;
  // Reads of the results page that may fail in a row before the step counts as failed.
  int failedReadsInARow = 3;
};

// Calibration of the scanner `s` describes (its model code and LightCalibrationOnly).
ServiceOutcome CalibrateScsi(CTrennic& scanner, ScanHost& host, const ScanSettingsRecord& s,
                             const ServiceLimits& limits = {});

// Camera alignment. When it does not complete, the seam values the scanner held before are
// written back, so a stopped or failed alignment leaves the scanner as it was.
ServiceOutcome AlignScannerScsi(CTrennic& scanner, ScanHost& host, const ScanSettingsRecord& s,
                                const ServiceLimits& limits = {});

// Polls the running diagnostic step (exposed for tests): pump, wait 100 ms, read; Esc stops
// the step (after another 100 ms when `waitBeforeStop`).
ServiceOutcome PollDiagnosticStep(CTrennic& scanner, ScanHost& host, bool waitBeforeStop,
                                  const ServiceLimits& limits);

}  // namespace orb
