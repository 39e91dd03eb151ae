#include "app/DocumentProgress.h"

#include <cmath>

namespace orb {

ProgressModel::ProgressModel(int32_t lower, int32_t upper) : lower_(lower), upper_(upper) {
  step_ = static_cast<double>(Range()) * 0.1;
  if (step_ < 1.0) step_ = 1.0;
}

bool ProgressModel::Step() {
  ++counter_;
  const int64_t every = static_cast<int64_t>(step_);
  return every > 0 && counter_ % every == 0;
}

void ProgressModel::SetStepFraction(double percent) {
  step_ = percent / 100.0 * static_cast<double>(Range());
  if (!(step_ >= 1.0)) step_ = 1.0;
}

int32_t ProgressModel::Increment() const {
  const int64_t range = Range();
  if (range <= 0) return 100;
  const double v = step_ / static_cast<double>(range) * 100.0;
  if (v >= 100.0) return 100;
  return static_cast<int32_t>(v);
}

}  // namespace orb
