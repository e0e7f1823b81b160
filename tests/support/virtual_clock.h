// A clock that only moves when someone sleeps on it or advances it, so that
// minutes of protocol time cost a test nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "link/clock.h"

namespace pantoline::testing {

class VirtualClock final : public Clock {
 public:
  std::int64_t NowMs() override { return now_; }
  void SleepMs(std::uint32_t ms) override;

  // Moves time on without counting as a pause (a blocking read, say).
  void Advance(std::int64_t ms) { now_ += ms; }

  // Every pause taken through SleepMs, in order.
  const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }
  void ForgetSleeps() { sleeps_.clear(); }

 private:
  std::int64_t now_ = 1'000'000;  // away from 0, so that "0" stands out
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace pantoline::testing
