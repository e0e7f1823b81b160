// The far end of a test line under Wine, driven with plain Win32 calls so
// that it does not share the faults of the code under test. Its name comes
// from run_on_ptys.sh in PANTOLINE_TEST_PEER.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace pantoline::testing {

// Opens the peer at 115200 8N1, reads ending 50 ms after the last byte or
// after 300 ms of silence. INVALID_HANDLE_VALUE if that fails.
inline HANDLE OpenPeer(const char* name) {
  const HANDLE peer = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.fBinary = 1;
  COMMTIMEOUTS timeouts{50, 0, 300, 0, 0};
  if (peer != INVALID_HANDLE_VALUE &&
      !(SetCommState(peer, &dcb) && SetCommTimeouts(peer, &timeouts) &&
        PurgeComm(peer, PURGE_RXCLEAR | PURGE_TXCLEAR))) {
    CloseHandle(peer);
    return INVALID_HANDLE_VALUE;
  }
  return peer;
}

inline bool PeerSend(HANDLE peer, const void* bytes, DWORD size) {
  DWORD written = 0;
  return ::WriteFile(peer, bytes, size, &written, nullptr) && written == size;
}

// What arrives, up to `atMost` bytes, until the line is quiet.
inline std::vector<std::uint8_t> PeerReceive(HANDLE peer, std::size_t atMost) {
  std::vector<std::uint8_t> bytes(atMost);
  std::size_t got = 0;
  for (DWORD n = 1; got < atMost && n != 0; got += n) {
    if (!::ReadFile(peer, bytes.data() + got, static_cast<DWORD>(atMost - got), &n, nullptr)) {
      break;
    }
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace pantoline::testing
