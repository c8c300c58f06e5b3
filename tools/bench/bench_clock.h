#pragma once
// The benchmarks' clock: elapsed seconds stay 0 and sleeps return at once, so only the
// device's latency and the host's work are measured.
#include "base/clock.h"

namespace romsetter {

class QuietClock final : public Clock {
 public:
  std::uint32_t NowSeconds() override { return 0; }
  void SleepMs(std::uint32_t) override {}
};

}  // namespace romsetter
