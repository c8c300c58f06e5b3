#include "base/clock.h"

#include <chrono>
#include <thread>

namespace romsetter {

std::uint32_t SystemClock::NowSeconds() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

void SystemClock::SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace romsetter
