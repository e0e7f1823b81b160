// The Windows serial ports on a real line.
//
// Run by run_on_ptys.sh: PANTOLINE_TEST_PORT names the port under test and
// PANTOLINE_TEST_PEER the other end of the same line (under Wine, two
// pseudo-terminals joined by pty_pair; on Windows, a null-modem pair). The
// port under test goes through SystemSerialPorts() with the unit's settings
// and time-outs.
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
#include <string>
#include <thread>
#include <vector>

#include "link/device_link.h"
#include "link/serial_port.h"
#include "tests/support/scripted_ports.h"
#include "tests/support/scripted_unit.h"
#include "tests/wine/peer_win32.h"

namespace pantoline {
namespace {

using testing::B;
using testing::Bytes;
using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

HANDLE AsHandle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

class SerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PANTOLINE_TEST_PORT");
    const char* peer = std::getenv("PANTOLINE_TEST_PEER");
    ASSERT_TRUE(port != nullptr && peer != nullptr) << "run by run_on_ptys.sh";
    portName_ = port;
    peer_ = testing::OpenPeer(peer);
    ASSERT_NE(peer_, INVALID_HANDLE_VALUE) << "cannot open the peer " << peer;
  }

  void TearDown() override {
    if (port_ != kNoPort) {
      ports_.Purge(port_, kPurgeInput);
      ports_.Purge(port_, kPurgeOutput);
      ports_.Close(port_);
    }
    CloseHandle(peer_);
  }

  // Opens the port under test into port_, or fails the test.
  void OpenPortOrFail() {
    ResultCode code = -1;
    port_ = ports_.Open(portName_.c_str(), DeviceLink::UnitSettings(), DeviceLink::kUnitTimeouts,
                        &code);
    ASSERT_NE(port_, kNoPort) << "cannot open " << portName_ << ": code " << code;
    ASSERT_EQ(code, QV5SUCCESS);
  }

  Bytes ReadPort(std::uint32_t count) {
    Bytes bytes(count);
    bytes.resize(ports_.Read(port_, bytes.data(), count));
    return bytes;
  }

  bool PeerSends(const Bytes& bytes) {
    return testing::PeerSend(peer_, bytes.data(), static_cast<DWORD>(bytes.size()));
  }

  SerialPorts& ports_ = SystemSerialPorts();
  std::string portName_;
  HANDLE peer_ = INVALID_HANDLE_VALUE;
  PortHandle port_ = kNoPort;
};

TEST_F(SerialLine, OpenAppliesTheUnitsLineAndTimeOutsWhateverThePortHadBefore) {
  {
    // Another program leaves the port slow, with two stop bits, every kind
    // of flow control and reads that return at once. (A pseudo-terminal
    // keeps only these: it is always 8N.)
    const HANDLE other = CreateFileA(portName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB odd{};
    odd.DCBlength = sizeof odd;
    odd.BaudRate = 9600;
    odd.ByteSize = 7;
    odd.Parity = EVENPARITY;
    odd.StopBits = TWOSTOPBITS;
    odd.fBinary = odd.fOutxCtsFlow = odd.fOutX = odd.fInX = 1;
    odd.fRtsControl = RTS_CONTROL_HANDSHAKE;
    odd.XonChar = 0x11;
    odd.XoffChar = 0x13;
    odd.XonLim = odd.XoffLim = 100;
    COMMTIMEOUTS instant{MAXDWORD, 0, 0, 0, 0};
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(SetCommState(other, &odd) && SetCommTimeouts(other, &instant) &&
                GetCommState(other, &before));
    ASSERT_TRUE(before.BaudRate == 9600 && before.StopBits == TWOSTOPBITS && before.fOutX &&
                before.fOutxCtsFlow)
        << "the odd settings did not take";
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
  EXPECT_EQ(now.fOutxCtsFlow + now.fOutxDsrFlow + now.fOutX + now.fInX, 0u) << "no flow control";
  EXPECT_EQ(now.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(now.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(AsHandle(port_), &t));
  const SerialTimeouts& unit = DeviceLink::kUnitTimeouts;
  EXPECT_EQ((std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                t.WriteTotalTimeoutConstant}),
            (std::vector<DWORD>{unit.readInterval, unit.readTotalMultiplier,
                                unit.readTotalConstant, unit.writeTotalMultiplier,
                                unit.writeTotalConstant}));
}

TEST_F(SerialLine, EveryByteValueCrossesTheLineUnchangedBothWaysAndPurgedInputIsGone) {
  // CR, LF, XON, XOFF, 0 and 255 are where a line that translates, does
  // flow control in software or marks parity errors gives itself away.
  OpenPortOrFail();
  Bytes all(256);
  for (int i = 0; i < 256; ++i) {
    all[i] = static_cast<std::uint8_t>(i);
  }
  ASSERT_EQ(ports_.Write(port_, all.data(), static_cast<std::uint32_t>(all.size())), QV5SUCCESS);
  EXPECT_EQ(testing::PeerReceive(peer_, 512), all);

  ASSERT_TRUE(PeerSends(all));
  Bytes received;
  for (Bytes piece{1}; received.size() < all.size() && !piece.empty();) {
    piece = ReadPort(static_cast<std::uint32_t>(all.size() - received.size()));
    received.insert(received.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(received, all);

  ASSERT_TRUE(PeerSends(B("FGHIJ")));
  Sleep(100);
  ports_.Purge(port_, kPurgeInput);
  EXPECT_EQ(ReadPort(9), Bytes{}) << "purged bytes are gone";
  ASSERT_TRUE(PeerSends(B("K")));
  EXPECT_EQ(ReadPort(9), B("K")) << "the line works after a purge";
}

TEST_F(SerialLine, ReadsEndOnTheirTotalTimeOutOrSoonAfterAReply) {
  // 15 + 15 * n ms: 30 ms for one byte, 150 ms for nine, 615 ms for 40
  // (longer than one 300 ms wait on the read's event: the read goes on
  // waiting until the port's own time-out ends it). Longer would be
  // another time-out: the interval one counted per byte (15 + 25 * n) or
  // none at all.
  OpenPortOrFail();
  for (const std::uint32_t count : {1u, 9u, 40u}) {
    const double expected = 15.0 + 15.0 * count;
    double best = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt) {
      const Steady::time_point start = Steady::now();
      EXPECT_TRUE(ReadPort(count).empty());
      const double elapsed = MsSince(start);
      EXPECT_GE(elapsed, expected - 8) << count << " bytes";
      best = std::min(best, elapsed);
    }
    EXPECT_LT(best, expected + (count < 40 ? 60 : 500)) << count << " bytes";
  }
  // The unit's greeting reply, 7 bytes in two pieces 10 ms apart, while a
  // 9-byte read waits: the read ends about 25 ms after the last byte.
  double best = 1e9;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Steady::time_point lastSent{};
    std::thread unit([&] {
      Sleep(30);
      PeerSends(B("SA-"));
      Sleep(10);
      PeerSends(B("77\n\r"));
      lastSent = Steady::now();
    });
    EXPECT_EQ(ReadPort(9), B("SA-77\n\r"));
    const Steady::time_point end = Steady::now();
    unit.join();
    const double afterLast = std::chrono::duration<double, std::milli>(end - lastSent).count();
    EXPECT_GE(afterLast, 25 - 8);
    best = std::min(best, afterLast);
  }
  EXPECT_LT(best, 90);
}

TEST_F(SerialLine, AWriteTheLineCannotTakeIsCancelledAfter300Ms) {
  // The peer reads nothing, so a large write stalls once the line's
  // buffers are full. Write gives up after its one 300 ms wait, and must
  // have cancelled the rest: after draining, only what is written next
  // arrives.
  OpenPortOrFail();
  Bytes flood(4 << 20, 'x');
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(ports_.Write(port_, flood.data(), static_cast<std::uint32_t>(flood.size())),
            QV5WAITFORSINGLEOBJECTERROR);
  const double elapsed = MsSince(start);
  EXPECT_GE(elapsed, 300 - 8);
  EXPECT_LT(elapsed, 300 + 400) << "one wait of 300 ms, then the cancellation";

  std::size_t drained = 0;
  for (std::size_t got = 1; got != 0; drained += got) {
    got = testing::PeerReceive(peer_, 1 << 16).size();
  }
  EXPECT_LT(drained, flood.size());
  ASSERT_EQ(ports_.Write(port_, B("OK").data(), 2), QV5SUCCESS);
  EXPECT_EQ(testing::PeerReceive(peer_, 64), B("OK"));
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

TEST_F(SerialLine, SettingsThePortRefusesLeaveNoPortAndCode29) {
  SerialSettings impossible = DeviceLink::UnitSettings();
  impossible.byteSize = 3;
  ResultCode code = -1;
  port_ = ports_.Open(portName_.c_str(), impossible, DeviceLink::kUnitTimeouts, &code);
  EXPECT_EQ(port_, kNoPort);
  EXPECT_EQ(code, QV5SETCOMSTATEERROR);
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
      const Bytes got = testing::PeerReceive(peer_, 7 - heard.size());
      heard.insert(heard.end(), got.begin(), got.end());
    }
    if (heard == testing::Line("SA-28")) {
      PeerSends(testing::Line("SA-77"));
    }
  });
  DeviceLink link;
  EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
  unit.join();
  EXPECT_EQ(link.portName, portName_);
  RegDeleteValueA(key, "\\Device\\PantolineTest");
  RegCloseKey(key);
}

TEST(DeviceLinkOpen, FailsAtOnceWithoutTheSettleDelayAndLeavesNothingOpen) {
  // No device at all (under Wine the test's prefix maps only the two test
  // ports; on Windows, COM9 is assumed absent), and a file that opens but
  // is no serial port: it must be closed again, as share mode 0 would
  // otherwise keep everyone else out of it.
  char folder[MAX_PATH];
  char path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "pnt", 0, path), 0u);
  for (const auto& [name, code] :
       {std::pair<const char*, ResultCode>{"\\\\.\\COM9", QV5INVALIDHANDLEVALUE},
        {path, QV5GETCOMMSTATEERROR}}) {
    DeviceLink link;
    const Steady::time_point start = Steady::now();
    EXPECT_EQ(link.Open(name), kNoPort);
    EXPECT_LT(MsSince(start), 200) << name << ": no 300 ms pause after a failed open";
    EXPECT_EQ(link.lastResult, code) << name;
  }
  const HANDLE again =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the file was left open: " << GetLastError();
  CloseHandle(again);
  DeleteFileA(path);
}

}  // namespace
}  // namespace pantoline
