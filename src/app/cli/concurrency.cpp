#include "app/cli/concurrency.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace romsetter {

#ifdef _WIN32

namespace {
struct ThreadStart {
  const std::function<void(std::size_t)>* task;
  std::size_t index;
};
DWORD WINAPI ThreadMain(LPVOID argument) {
  const ThreadStart* start = static_cast<const ThreadStart*>(argument);
  (*start->task)(start->index);
  return 0;
}
}  // namespace

void RunConcurrently(std::size_t count, const std::function<void(std::size_t)>& task) {
  std::vector<ThreadStart> starts(count);
  std::vector<HANDLE> threads;
  std::vector<std::size_t> unstarted;
  for (std::size_t i = 0; i < count; ++i) {
    starts[i] = ThreadStart{&task, i};
    DWORD id = 0;  // Windows 98 refuses a null thread id pointer
    HANDLE h = CreateThread(nullptr, 0, ThreadMain, &starts[i], 0, &id);
    if (h != nullptr) {
      threads.push_back(h);
    } else {
      unstarted.push_back(i);
    }
  }
  for (std::size_t i : unstarted) task(i);
  for (HANDLE h : threads) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
}

struct Mutex::Impl {
  CRITICAL_SECTION section;
};
Mutex::Mutex() : impl_(new Impl) { InitializeCriticalSection(&impl_->section); }
Mutex::~Mutex() { DeleteCriticalSection(&impl_->section); }
void Mutex::Lock() { EnterCriticalSection(&impl_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&impl_->section); }

#else

void RunConcurrently(std::size_t count, const std::function<void(std::size_t)>& task) {
  std::vector<std::thread> threads;
  std::vector<std::size_t> unstarted;
  for (std::size_t i = 0; i < count; ++i) {
    try {
      threads.emplace_back(task, i);
    } catch (const std::system_error&) {
      unstarted.push_back(i);
    }
  }
  for (std::size_t i : unstarted) task(i);
  for (std::thread& t : threads) t.join();
}

struct Mutex::Impl {
  std::mutex mutex;
};
Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { impl_->mutex.lock(); }
void Mutex::Unlock() { impl_->mutex.unlock(); }

#endif

}  // namespace romsetter
