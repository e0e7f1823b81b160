#include <windows.h>

#include "link/clock.h"

namespace pantoline {
namespace {

class TickClock final : public Clock {
 public:
  std::int64_t NowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }
  void SleepMs(std::uint32_t ms) override { Sleep(ms); }
};

}  // namespace

// The performance counter: steady, and far finer than the tick count.
std::int64_t MonotonicNs() {
  static const std::int64_t perSecond = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart / perSecond * 1'000'000'000 + now.QuadPart % perSecond * 1'000'000'000 / perSecond;
}

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace pantoline
