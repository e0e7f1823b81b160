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

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace pantoline
