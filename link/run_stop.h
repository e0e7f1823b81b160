// A request to end a run early, made from outside the run: a signal
// handler, a console control handler, the desktop ending its session.
//
// The run polls it at its waits. Requesting is lock-free and
// async-signal-safe, so a POSIX signal handler may call Request directly.
// What a run does once asked (cancel a transfer, take the unit out of
// download mode, close its log) is the run's own business: the request
// only says "finish soon and soundly".
#pragma once

#include <atomic>

namespace pantoline {

class RunStop {
 public:
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets it");
  std::atomic<bool> requested_{false};
};

}  // namespace pantoline
