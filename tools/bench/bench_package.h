// The benchmark's package, the same bytes on every run and on both sides of
// its Wine run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/clock.h"

namespace pantoline::bench {

// `size` pseudo-random bytes: xorshift32 from a fixed seed.
inline std::vector<std::uint8_t> MakePackage(std::int32_t size) {
  std::vector<std::uint8_t> package(static_cast<std::size_t>(size));
  std::uint32_t state = 0x2545F491;
  for (std::uint8_t& byte : package) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return package;
}

// Every figure the benchmarks print is timed on the link's monotonic clock
// (MonotonicNs), on Linux and under Wine alike.
inline double NowSeconds() { return static_cast<double>(MonotonicNs()) / 1e9; }

// The time of each progress report of a transfer, kept without allocating,
// and the median time between two reports: the time one block and its
// acknowledgement take, which a busy machine disturbs far less than the
// total.
class BlockTimes {
 public:
  void Record(std::int64_t ns) {
    if (count_ < kCapacity) {
      times_[count_++] = ns;
    }
  }
  // In milliseconds; 0 with fewer than two reports.
  double MedianMs() const {
    if (count_ < 2) {
      return 0;
    }
    std::vector<std::int64_t> gaps(count_ - 1);
    for (int i = 1; i < count_; ++i) {
      gaps[i - 1] = times_[i] - times_[i - 1];
    }
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return static_cast<double>(gaps[gaps.size() / 2]) / 1e6;
  }

 private:
  static constexpr int kCapacity = 4096;  // the largest package has 3,585 blocks
  std::int64_t times_[kCapacity] = {};
  int count_ = 0;
};

}  // namespace pantoline::bench
