// The Windows serial ports on a real line.
//
// Run by run_on_ptys.sh: PANTOLINE_TEST_PORT names the port under test and
// PANTOLINE_TEST_PEER the other end of the same line (under Wine, two
// pseudo-terminals joined by pty_pair; on Windows, a null-modem pair). The
// port under test goes through SystemSerialPorts() with the unit's settings
// and time-outs; the peer is driven with plain Win32 calls, so that it does
// not share the faults of the code under test.
//
// Time bounds: lower bounds are the port's own time-outs, less a little
// for clock granularity; upper bounds are loose, and where an upper bound
// tells one time-out from another, it holds for the best of three tries.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/device_link.h"
#include "link/serial_port.h"
#include "tests/support/scripted_ports.h"
#include "tests/support/scripted_unit.h"

namespace pantoline {
namespace {

using testing::B;
using testing::Bytes;
using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

HANDLE AsHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

// The unit's end of the line.
class Peer {
 public:
  explicit Peer(const std::string& name) {
    handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Reads end 50 ms after the last byte, or after 300 ms of silence.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutConstant = 300;
    ok_ = SetCommState(handle_, &dcb) && SetCommTimeouts(handle_, &timeouts) &&
          PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  }
  ~Peer() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool ok() const { return ok_; }

  bool Send(const Bytes& bytes) {
    DWORD written = 0;
    return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  // What arrives until the line has been quiet for a while.
  Bytes Receive(std::size_t atMost) {
    Bytes bytes(atMost);
    std::size_t got = 0;
    while (got < atMost) {
      DWORD n = 0;
      if (!ReadFile(handle_, bytes.data() + got, static_cast<DWORD>(atMost - got), &n, nullptr) ||
          n == 0) {
        break;
      }
      got += n;
    }
    bytes.resize(got);
    return bytes;
  }

  // Reads until the line is quiet and returns how much there was.
  std::size_t Drain() {
    std::size_t total = 0;
    for (;;) {
      const std::size_t got = Receive(1 << 16).size();
      if (got == 0) {
        return total;
      }
      total += got;
    }
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool ok_ = false;
};

class SerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    portName_ = Env("PANTOLINE_TEST_PORT");
    peerName_ = Env("PANTOLINE_TEST_PEER");
    ASSERT_FALSE(portName_.empty() || peerName_.empty())
        << "set PANTOLINE_TEST_PORT and PANTOLINE_TEST_PEER to the two ends of one line "
           "(run_on_ptys.sh does)";
    peer_ = std::make_unique<Peer>(peerName_);
    ASSERT_TRUE(peer_->ok()) << "cannot open the peer " << peerName_ << ": " << GetLastError();
  }

  void TearDown() override {
    if (port_ != kNoPort) {
      ports_.Purge(port_, kPurgeInput);
      ports_.Purge(port_, kPurgeOutput);
      ports_.Close(port_);
    }
  }

  PortHandle OpenPort(ResultCode* code) {
    return ports_.Open(portName_.c_str(), DeviceLink::UnitSettings(), DeviceLink::kUnitTimeouts,
                       code);
  }

  // Opens the port under test into port_, or fails the test.
  void OpenPortOrFail() {
    ResultCode code = -1;
    port_ = OpenPort(&code);
    ASSERT_NE(port_, kNoPort) << "cannot open " << portName_ << ": code " << code;
    ASSERT_EQ(code, QV5SUCCESS);
  }

  Bytes ReadPort(std::uint32_t count) {
    Bytes bytes(count);
    bytes.resize(ports_.Read(port_, bytes.data(), count));
    return bytes;
  }

  SerialPorts& ports_ = SystemSerialPorts();
  std::string portName_;
  std::string peerName_;
  std::unique_ptr<Peer> peer_;
  PortHandle port_ = kNoPort;
};

TEST_F(SerialLine, OpenAppliesTheUnitsLineAndTimeOutsWhateverThePortHadBefore) {
  {
    // Another program leaves the port slow, 7E2, with every kind of flow
    // control and reads that return at once. (A pseudo-terminal keeps only
    // the speed, the stop bits and the flow control: it is always 8N.)
    const HANDLE other = CreateFileA(portName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB odd{};
    odd.DCBlength = sizeof odd;
    odd.BaudRate = 9600;
    odd.ByteSize = 7;
    odd.Parity = EVENPARITY;
    odd.StopBits = TWOSTOPBITS;
    odd.fBinary = 1;
    odd.fOutxCtsFlow = 1;
    odd.fRtsControl = RTS_CONTROL_HANDSHAKE;
    odd.fDtrControl = DTR_CONTROL_DISABLE;
    odd.fOutX = 1;
    odd.fInX = 1;
    odd.XonChar = 0x11;
    odd.XoffChar = 0x13;
    odd.XonLim = 100;
    odd.XoffLim = 100;
    COMMTIMEOUTS instant{MAXDWORD, 0, 0, 0, 0};
    EXPECT_TRUE(SetCommState(other, &odd));
    EXPECT_TRUE(SetCommTimeouts(other, &instant));
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(other, &before));
    ASSERT_EQ(before.BaudRate, 9600u) << "the odd settings did not take";
    ASSERT_EQ(before.StopBits, TWOSTOPBITS);
    ASSERT_EQ(before.fOutX, 1u);
    ASSERT_EQ(before.fOutxCtsFlow, 1u);
    CloseHandle(other);
  }

  OpenPortOrFail();

  DCB now{};
  now.DCBlength = sizeof now;
  ASSERT_TRUE(GetCommState(AsHandle(port_), &now));
  EXPECT_EQ(now.BaudRate, 115200u);
  EXPECT_EQ(now.ByteSize, 8);
  EXPECT_EQ(now.Parity, NOPARITY);
  EXPECT_EQ(now.StopBits, ONESTOPBIT);
  EXPECT_EQ(now.fOutxCtsFlow, 0u);
  EXPECT_EQ(now.fOutxDsrFlow, 0u);
  EXPECT_EQ(now.fOutX, 0u);
  EXPECT_EQ(now.fInX, 0u);
  EXPECT_EQ(now.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(now.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(AsHandle(port_), &timeouts));
  const SerialTimeouts& unit = DeviceLink::kUnitTimeouts;
  EXPECT_EQ(timeouts.ReadIntervalTimeout, unit.readInterval);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, unit.readTotalMultiplier);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, unit.readTotalConstant);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, unit.writeTotalMultiplier);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, unit.writeTotalConstant);
}

TEST_F(SerialLine, EveryByteValueCrossesTheLineUnchangedBothWays) {
  // CR, LF, XON, XOFF, 0 and 255 are where a line that translates, does
  // flow control in software or marks parity errors gives itself away.
  OpenPortOrFail();
  Bytes all(256);
  for (int i = 0; i < 256; ++i) {
    all[i] = static_cast<std::uint8_t>(i);
  }

  ASSERT_EQ(ports_.Write(port_, all.data(), static_cast<std::uint32_t>(all.size())), QV5SUCCESS);
  EXPECT_EQ(peer_->Receive(512), all);

  ASSERT_TRUE(peer_->Send(all));
  Bytes received;
  while (received.size() < all.size()) {
    const Bytes piece = ReadPort(static_cast<std::uint32_t>(all.size() - received.size()));
    if (piece.empty()) {
      break;
    }
    received.insert(received.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(received, all);
}

TEST_F(SerialLine, ASilentReadEndsAfterItsTotalTimeOut) {
  // 15 + 15 * n ms: 30 ms for one byte, 150 ms for nine.
  OpenPortOrFail();
  {
    // Longer than one 300 ms wait on the read's event: the read goes on
    // waiting until the port's own time-out ends it.
    const Steady::time_point start = Steady::now();
    EXPECT_TRUE(ReadPort(40).empty());
    const double elapsed = MsSince(start);
    EXPECT_GE(elapsed, 15 + 15 * 40 - 8);
    EXPECT_LT(elapsed, 15 + 15 * 40 + 500);
  }
  for (const std::uint32_t count : {1u, 9u}) {
    const double expected = 15.0 + 15.0 * count;
    double best = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt) {
      const Steady::time_point start = Steady::now();
      const Bytes got = ReadPort(count);
      const double elapsed = MsSince(start);
      EXPECT_TRUE(got.empty());
      EXPECT_GE(elapsed, expected - 8) << count << " bytes";
      best = std::min(best, elapsed);
    }
    // Longer would be another time-out: the interval one counted per byte
    // (15 + 25 * n) or no time-out at all.
    EXPECT_LT(best, expected + 60) << count << " bytes";
  }
}

TEST_F(SerialLine, AShortReplyIsReadSoonAfterItsLastByte) {
  // The unit's greeting reply, 7 bytes in two pieces 10 ms apart, while a
  // 9-byte read waits: the read ends about 25 ms after the last byte,
  // long before its 150 ms total.
  OpenPortOrFail();
  double best = 1e9;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Steady::time_point lastSent{};
    std::thread unit([&] {
      Sleep(30);
      peer_->Send(B("SA-"));
      Sleep(10);
      peer_->Send(B("77\n\r"));
      lastSent = Steady::now();
    });
    const Steady::time_point start = Steady::now();
    const Bytes got = ReadPort(9);
    const Steady::time_point end = Steady::now();
    unit.join();

    EXPECT_EQ(got, B("SA-77\n\r"));
    const double afterLast = std::chrono::duration<double, std::milli>(end - lastSent).count();
    EXPECT_GE(afterLast, 25 - 8);
    EXPECT_LT((std::chrono::duration<double, std::milli>(end - start).count()), 150 + 300);
    best = std::min(best, afterLast);
  }
  EXPECT_LT(best, 90);
}

TEST_F(SerialLine, PurgingInputDropsWhatHasArrived) {
  OpenPortOrFail();
  ASSERT_TRUE(peer_->Send(B("ABCDE")));
  Sleep(100);
  EXPECT_EQ(ReadPort(9), B("ABCDE")) << "bytes that wait are read";

  ASSERT_TRUE(peer_->Send(B("FGHIJ")));
  Sleep(100);
  ports_.Purge(port_, kPurgeInput);
  EXPECT_EQ(ReadPort(9), Bytes{}) << "purged bytes are gone";

  ASSERT_TRUE(peer_->Send(B("K")));
  EXPECT_EQ(ReadPort(9), B("K")) << "the line works after a purge";
}

TEST_F(SerialLine, AWriteTheLineCannotTakeIsCancelledAfter300Ms) {
  // The peer reads nothing, so a large write stalls once the line's
  // buffers are full. Write gives up after its one 300 ms wait, and must
  // have cancelled the rest: after draining, only what is written next
  // arrives.
  OpenPortOrFail();
  Bytes flood(4 << 20, 'x');
  const Steady::time_point start = Steady::now();
  const ResultCode code =
      ports_.Write(port_, flood.data(), static_cast<std::uint32_t>(flood.size()));
  const double elapsed = MsSince(start);
  EXPECT_EQ(code, QV5WAITFORSINGLEOBJECTERROR);
  EXPECT_GE(elapsed, 300 - 8);
  EXPECT_LT(elapsed, 300 + 400) << "one wait of 300 ms, then the cancellation";

  const std::size_t drained = peer_->Drain();
  EXPECT_LT(drained, flood.size());
  ASSERT_EQ(ports_.Write(port_, B("OK").data(), 2), QV5SUCCESS);
  EXPECT_EQ(peer_->Receive(64), B("OK"));
}

TEST_F(SerialLine, AReadTheDriverNeverEndsIsGivenUpAfterItsBound) {
  OpenPortOrFail();
  // Without time-outs the driver would wait for a byte for ever.
  COMMTIMEOUTS never{};
  ASSERT_TRUE(SetCommTimeouts(AsHandle(port_), &never));
  const auto start = Steady::now();
  EXPECT_EQ(ReadPort(1).size(), 0u);
  EXPECT_LT(MsSince(start), 3000) << "the read's bound is its total time-out (0) plus 1 s";
  EXPECT_FALSE(ports_.Gone(port_));
}

TEST_F(SerialLine, ASecondOpenerIsRefused) {
  OpenPortOrFail();
  ResultCode code = -1;
  const PortHandle second = OpenPort(&code);
  if (second != kNoPort && UnderWine()) {
    ports_.Close(second);
    GTEST_SKIP() << "Wine does not enforce share mode 0 on devices: a second CreateFileA of an "
                    "open COM port succeeds there, so only Windows can show the refusal";
  }
  EXPECT_EQ(second, kNoPort);
  EXPECT_EQ(code, QV5INVALIDHANDLEVALUE);
}

TEST_F(SerialLine, SettingsThePortRefusesLeaveNoPortAndCode29) {
  SerialSettings impossible = DeviceLink::UnitSettings();
  impossible.byteSize = 3;
  ResultCode code = -1;
  const PortHandle port =
      ports_.Open(portName_.c_str(), impossible, DeviceLink::kUnitTimeouts, &code);
  EXPECT_EQ(port, kNoPort);
  EXPECT_EQ(code, QV5SETCOMSTATEERROR);
  if (port != kNoPort) {
    ports_.Close(port);
  }
}

// Open as the device link does it, on the real clock.
TEST_F(SerialLine, TheSearchReachesAListedPortAboveCom32) {
  const int number = std::atoi(portName_.c_str() + 7);  // after "\\.\COM"
  if (number <= 32) {
    GTEST_SKIP() << "the port under test is one of the 32 names; serial_port_wine_high_port "
                    "runs this with COM45";
  }
  // Wine's mount manager, which lists the ports it maps, is off in the
  // tests' prefix: enter the port as a serial driver would.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::string value = "COM" + std::to_string(number);
  RegSetValueExA(key, "\\Device\\PantolineTest", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
  std::thread unit([&] {
    // Answers the greeting, which comes only once the 32 names are tried.
    Bytes heard;
    for (int quiet = 0; quiet < 30 && heard.size() < 7; ++quiet) {
      const Bytes got = peer_->Receive(7 - heard.size());
      heard.insert(heard.end(), got.begin(), got.end());
    }
    if (heard == testing::Line("SA-28")) {
      peer_->Send(testing::Line("SA-77"));
    }
  });
  DeviceLink link;
  EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
  unit.join();
  EXPECT_EQ(link.portName, portName_);
  RegDeleteValueA(key, "\\Device\\PantolineTest");
  RegCloseKey(key);
}

TEST(DeviceLinkOpen, FailsAtOnceWithoutTheSettleDelay) {
  {
    // No device at all. Under Wine the test's prefix maps only the two
    // test ports; on Windows, COM9 is assumed absent.
    DeviceLink link;
    const Steady::time_point start = Steady::now();
    EXPECT_EQ(link.Open("\\\\.\\COM9"), kNoPort);
    EXPECT_LT(MsSince(start), 200) << "no 300 ms pause after a failed open";
    EXPECT_EQ(link.lastResult, QV5INVALIDHANDLEVALUE);
    EXPECT_EQ(link.portHandle, kNoPort);
  }
  {
    // Something that opens but is no serial port: its settings cannot be
    // read, and it must be closed again (share mode 0 would otherwise keep
    // everyone else out of the file).
    char folder[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "pnt", 0, path), 0u);
    DeviceLink link;
    const Steady::time_point start = Steady::now();
    EXPECT_EQ(link.Open(path), kNoPort);
    EXPECT_LT(MsSince(start), 200);
    EXPECT_EQ(link.lastResult, QV5GETCOMMSTATEERROR);
    const HANDLE again =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the file was left open: " << GetLastError();
    if (again != INVALID_HANDLE_VALUE) {
      CloseHandle(again);
    }
    DeleteFileA(path);
  }
}

}  // namespace
}  // namespace pantoline
