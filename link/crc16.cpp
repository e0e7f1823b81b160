#include "link/crc16.h"

#include <array>

namespace pantoline {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned index = 0; index < 256; ++index) {
    unsigned value = index << 8;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
    }
    table[index] = static_cast<std::uint16_t>(value);
  }
  return table;
}

// Built by the compiler: one lookup per byte at run time.
constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::int32_t length) {
  std::uint16_t crc = 0;
  for (std::int32_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

}  // namespace pantoline
