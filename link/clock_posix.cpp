#include <cerrno>
#include <ctime>

#include "link/clock.h"

namespace pantoline {
namespace {

class MonotonicClock final : public Clock {
 public:
  std::int64_t NowMs() override { return MonotonicNs() / 1'000'000; }

  void SleepMs(std::uint32_t ms) override {
    timespec rest{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
    // A signal must not shorten a protocol pause: sleep out the remainder.
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace pantoline
