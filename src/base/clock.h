#pragma once
#include <cstdint>

namespace romsetter {

// Wall-clock seconds for the elapsed lines and millisecond sleeps; injected so tests never wait.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t NowSeconds() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

class SystemClock final : public Clock {
 public:
  std::uint32_t NowSeconds() override;
  void SleepMs(std::uint32_t ms) override;
};

}  // namespace romsetter
