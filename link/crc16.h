// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR; the CRC of "123456789" is 0x31C3.
#pragma once

#include <cstdint>

namespace pantoline {

// CRC of `length` bytes at `data`; 0 for a length of 0 or less.
std::uint16_t Crc16(const std::uint8_t* data, std::int32_t length);

}  // namespace pantoline
