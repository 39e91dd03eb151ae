// The arithmetic of the progress dialog: units of work per bar step and the bar's step in
// per cent, without a window.
#pragma once

#include <cstdint>

namespace orb {

class ProgressModel {
 public:
  // The work runs from `lower` to `upper` units; the bar moves about ten times over it.
  ProgressModel(int32_t lower, int32_t upper);
  // One unit done; true when the bar moves by Increment() per cent.
  bool Step();
  // The step becomes `percent` per cent of the range (at least one unit).
  void SetStepFraction(double percent);
  // Per cent the bar moves at each of its steps. A range whose ends are equal counts as
  // done at the first step (100 per cent), never as a division by zero.
  int32_t Increment() const;
  double step() const { return step_; }
  int32_t counter() const { return counter_; }

 private:
  int64_t Range() const { return static_cast<int64_t>(upper_) - lower_; }
  int32_t lower_;
  int32_t upper_;
  int32_t counter_ = 0;
  double step_ = 1.0;
};

}  // namespace orb
