#pragma once
// The little concurrency the command line needs to drive several devices at once (its
// benchmark shares it); kept out of the core, which has no OS headers.  Built on CreateThread
// and critical sections on Windows (the shipped 32-bit build must start on Windows 98, whose
// kernel32 has both, without a threads runtime), on std::thread and std::mutex elsewhere.
#include <cstddef>
#include <functional>
#include <memory>

namespace romsetter {

// Runs task(0) .. task(count - 1), each on a thread of its own, and returns when all have
// returned.  A thread that cannot be started runs its task on the calling thread after the
// others were started, so every task runs exactly once whatever the system allows.  Tasks
// must not throw.
void RunConcurrently(std::size_t count, const std::function<void(std::size_t)>& task);

// A mutual-exclusion lock; not recursive.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace romsetter
