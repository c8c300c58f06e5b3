#pragma once
// The completion events of an ASPI library that lives in the process (the emulated and the
// replaying one): auto-reset flags behind opaque handles.  A handle the table did not make
// is ignored, as a stray one would be.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/aspi_library.h"

namespace romsetter {

struct CompletionEvent {
  bool signalled = false;
  // A completion the library finishes during the wait, as a real one finishes later: the
  // request reads as pending right after the send.
  SrbExecScsiCmd* completing = nullptr;
  std::uint8_t finalStatus = 0;
};

class CompletionEvents {
 public:
  void* Create() {
    events_.push_back(std::make_unique<CompletionEvent>());
    return events_.back().get();
  }
  CompletionEvent* Find(void* handle) {
    for (const auto& e : events_) {
      if (e.get() == handle) return e.get();
    }
    return nullptr;
  }
  // The wait: true when the event was signalled, which resets it and finishes a deferred
  // completion.
  bool Take(void* handle) {
    CompletionEvent* e = Find(handle);
    if (e == nullptr || !e->signalled) return false;
    e->signalled = false;
    if (e->completing != nullptr) {
      e->completing->status = e->finalStatus;
      e->completing = nullptr;
    }
    return true;
  }
  void Reset(void* handle) {
    if (CompletionEvent* e = Find(handle)) e->signalled = false;
  }
  void Close(void* handle) {
    events_.erase(std::remove_if(events_.begin(), events_.end(), [handle](const auto& e) { return e.get() == handle; }),
                  events_.end());
  }
  int open() const { return static_cast<int>(events_.size()); }

 private:
  std::vector<std::unique_ptr<CompletionEvent>> events_;
};

}  // namespace romsetter
