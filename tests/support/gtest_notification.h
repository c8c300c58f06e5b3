#pragma once
// Google Test's Notification for the 32-bit Windows runtime, which has no std::mutex or
// std::condition_variable (cmake/mingw-i686.cmake).  Google Test uses it only to start the
// threads of its own thread tests, which these test programs never run; forced into Google
// Test and the test programs, with GTEST_HAS_NOTIFICATION_ set, so it takes the place of
// the one gtest-port.h would declare.
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) Sleep(1);
  }

 private:
  volatile bool notified_ = false;
};

}  // namespace internal
}  // namespace testing
