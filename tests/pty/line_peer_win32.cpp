// The unit's end of the line under Wine: `wine_prefix.sh line` joins the port
// under test (PANTOLINE_TEST_PORT) and this one (PANTOLINE_TEST_PEER) with
// a pair of pseudo-terminals, and ends the line when the file
// PANTOLINE_TEST_HANGUP appears.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "tests/pty/line_peer.h"

// A driver in front of the system's, for what Wine's GetCommState cannot
// show as it rebuilds the DCB from its terminal: the test program's own
// import entry for SetCommState keeps the port layer's last call.
extern "C" {
static HANDLE gStatePort;
static DCB gStateSent;
BOOL WINAPI RecordCommState(HANDLE port, DCB* dcb) {
  std::tie(gStatePort, gStateSent) = std::pair(port, *dcb);
  static const auto system = reinterpret_cast<decltype(&RecordCommState)>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetCommState")));
  return system(port, dcb);
}
decltype(&RecordCommState) __imp_SetCommState = RecordCommState;
}

namespace pantoline::testing {

// Two pseudo-terminals, and socat's 8 KiB between them.
const std::size_t LinePeer::kLineHolds = 65536;

struct LinePeer::Impl {
  HANDLE line = INVALID_HANDLE_VALUE;
};

constexpr char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kDriverEntry[] = "\\Device\\PantolineTest";

LinePeer::LinePeer() : impl_(std::make_unique<Impl>()) {
  const char* port = std::getenv("PANTOLINE_TEST_PORT");
  const char* peer = std::getenv("PANTOLINE_TEST_PEER");
  if (!port || !peer) {
    ADD_FAILURE() << "run by wine_prefix.sh line";
    return;
  }
  portName = port;
  impl_->line = CreateFileA(peer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  COMMTIMEOUTS timeouts{50, 0, 300, 0, 0};
  EXPECT_TRUE(SetCommTimeouts(impl_->line, &timeouts) && PurgeComm(impl_->line, PURGE_RXCLEAR))
      << "cannot open the peer " << peer;
  // Wine's mount manager, which lists the ports it maps, is off in the
  // tests' prefix: a port above the 32 fixed names is entered here.
  const std::string value = portName.substr(4);  // "COMn"
  if (std::atoi(port + 7) > 32) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExA(key, kDriverEntry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }
}

LinePeer::~LinePeer() {
  CloseHandle(impl_->line);
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSerialComm, kDriverEntry);  // if entered
}

bool LinePeer::Send(const Bytes& bytes) {
  DWORD n = 0;
  return ::WriteFile(impl_->line, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
         n == bytes.size();
}

Bytes LinePeer::Receive(std::size_t atMost) {
  Bytes got(atMost);
  std::size_t n = 0;
  for (DWORD r = 1; n < atMost && r != 0; n += r) {
    if (!::ReadFile(impl_->line, got.data() + n, static_cast<DWORD>(atMost - n), &r, nullptr)) break;
  }
  got.resize(n);
  return got;
}

void LinePeer::HangUp() {
  CloseHandle(CreateFileA(std::getenv("PANTOLINE_TEST_HANGUP"), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, 0, nullptr));
}

void LinePeer::Scramble() {
  const HANDLE other = CreateFileA(portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  DCB odd{};
  EXPECT_TRUE(BuildCommDCBA("baud=9600 parity=E data=7 stop=2 xon=on octs=on", &odd) &&
              SetCommState(other, &odd));
  CloseHandle(other);
}

std::string LinePeer::Settings(const SerialPort* port) const {
  const HANDLE own = port == nullptr ? CreateFileA(portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE;
  DCB d{};
  d.DCBlength = sizeof d;
  const bool known = GetCommState(port == nullptr ? own : gStatePort, &d);
  if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
  if (!known) return "no state";
  std::string s = std::to_string(d.BaudRate) + " " + std::to_string(d.ByteSize);
  s += d.Parity == NOPARITY ? "N" : d.Parity == EVENPARITY ? "E" : "O";
  s += d.StopBits == ONESTOPBIT ? "1" : "2";
  if (d.fOutxCtsFlow || d.fOutxDsrFlow || d.fOutX || d.fInX) s += " flow";
  if (port == nullptr) return s;
  DCB sent = gStateSent;
  s += sent.fDtrControl == DTR_CONTROL_ENABLE ? " dtr+" : sent.fDtrControl == DTR_CONTROL_DISABLE ? " dtr-" : " dtr?";
  s += sent.fRtsControl == RTS_CONTROL_ENABLE ? " rts+" : sent.fRtsControl == RTS_CONTROL_DISABLE ? " rts-" : " rts?";
  // The rest of it the unit's line, byte for byte: DCBlength 28, BaudRate
  // 115200, of the flags fBinary, fParity and fTXContinueOnXoff, ByteSize
  // 8; no parity bit, one stop bit, every other field 0.
  sent.fDtrControl = sent.fRtsControl = 0;
  constexpr unsigned char kUnitDcb[28] = {28, 0, 0, 0, 0x00, 0xc2, 0x01, 0, 0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8};
  if (std::memcmp(&sent, kUnitDcb, sizeof kUnitDcb) != 0) s += " other DCB";
  return s;
}

std::string LinePeer::PortNameOf(const std::filesystem::path& file) { return file.string(); }

}  // namespace pantoline::testing
