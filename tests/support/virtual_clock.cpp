#include "tests/support/virtual_clock.h"

namespace pantoline::testing {

void VirtualClock::SleepMs(std::uint32_t ms) {
  sleeps_.push_back(ms);
  now_ += ms;
}

}  // namespace pantoline::testing
