// The benchmark's package, the same bytes on every run and on both sides of
// its Wine run.
#pragma once

#include <cstdint>
#include <vector>

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

}  // namespace pantoline::bench
