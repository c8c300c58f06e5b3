#include "app/win32/tick_clock.h"

#include <windows.h>

#include <utility>

namespace romsetter {

TickClock::TickClock(std::function<std::uint32_t()> tick) : tick_(std::move(tick)) {
  if (!tick_) tick_ = [] { return static_cast<std::uint32_t>(GetTickCount()); };
}

std::uint32_t TickClock::NowSeconds() {
  const std::uint32_t tick = tick_();
  // Unsigned difference: right across the wrap from 0xFFFFFFFF to 0.
  totalMs_ += static_cast<std::uint32_t>(tick - lastTick_);
  lastTick_ = tick;
  return static_cast<std::uint32_t>(totalMs_ / 1000);
}

void TickClock::SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace romsetter
