#pragma once
// The Windows clock: GetTickCount, which every Windows has.  The standard library's clocks
// read the calendar time (the user may set it back) and, in other runtime flavours, import
// functions that Windows 98 and XP lack.
#include <cstdint>
#include <functional>

#include "base/clock.h"

namespace romsetter {

class TickClock final : public Clock {
 public:
  // `tick` stands in for GetTickCount in tests.
  explicit TickClock(std::function<std::uint32_t()> tick = {});

  // Seconds since the system started, counted on across the 49.7-day wrap of the tick
  // count as long as two calls are less than that apart.
  std::uint32_t NowSeconds() override;
  void SleepMs(std::uint32_t ms) override;

 private:
  std::function<std::uint32_t()> tick_;
  std::uint64_t totalMs_ = 0;
  std::uint32_t lastTick_ = 0;
};

}  // namespace romsetter
