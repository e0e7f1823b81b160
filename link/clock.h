// The one clock through which the link and the reset procedure wait.
//
// Every pause of the protocol (the settle delay after opening a port, the
// pauses between read attempts, the pauses of the reset procedure) goes
// through a Clock, so that tests can run the whole protocol in virtual time
// against a scripted peer. Only the platform serial layer waits in real time,
// inside its own bounded read and write calls.
#pragma once

#include <cstdint>

namespace pantoline {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on a monotonic clock; only differences mean anything.
  virtual std::int64_t NowMs() = 0;

  // Blocks the calling thread for `ms` milliseconds.
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// The process's real monotonic clock. Lives as long as the process.
Clock& SystemClock();

// Nanoseconds on the system's monotonic clock (CLOCK_MONOTONIC on Linux),
// for the real-time deadlines of the platform layer and for measuring;
// only differences mean anything. Never a protocol pause: those go
// through a Clock.
std::int64_t MonotonicNs();

}  // namespace pantoline
