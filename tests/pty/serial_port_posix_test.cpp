// The Linux serial port on real pseudo-terminals, in real time.
#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/device_link.h"
#include "link/port_names_posix.h"
#include "tests/support/config_home_posix.h"

// A USB serial driver in place of the pseudo-terminal's for the requests
// pseudo-terminals do not know: the test program is linked with
// --wrap=ioctl, so the port layer's calls come here first. TIOCGSERIAL and
// TIOCSSERIAL are answered here; the modem line requests are noted and
// passed on (a pseudo-terminal has no modem lines to show them).
struct FakeSerialDriver {
  bool knowsRequest = false;  // else TIOCGSERIAL and TIOCSSERIAL fail with ENOTTY
  int flags = 0;              // what TIOCGSERIAL reports
  int setFlags = -1;          // what TIOCSSERIAL was given; -1 if never called
  int raised = 0;             // TIOCM_* bits asked for with TIOCMBIS
  int lowered = 0;            // and with TIOCMBIC
} gDriver;

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (request == TIOCMBIS || request == TIOCMBIC) {
    (request == TIOCMBIS ? gDriver.raised : gDriver.lowered) |= *static_cast<int*>(argument);
  } else if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
    if (!gDriver.knowsRequest) {
      errno = ENOTTY;
      return -1;
    }
    auto* serial = static_cast<serial_struct*>(argument);
    if (request == TIOCGSERIAL) {
      *serial = serial_struct{};
      serial->flags = gDriver.flags;
    } else {
      gDriver.setFlags = serial->flags;
    }
    return 0;
  }
  return __real_ioctl(fd, request, argument);
}

namespace pantoline {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose slave is pinned as com1 in a configuration
// folder of the test's own; the test plays the unit on the master.
class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    config_.Pin(1, ttyname(slave_));
    gDriver = {};
  }

  void TearDown() override {
    link_.reset();
    close(slave_);
    close(master_);
  }

  // Opens com1 through a link on the real ports and clock.
  DeviceLink& OpenLink() {
    link_ = std::make_unique<DeviceLink>();
    link_->portHandle = link_->Open("\\\\.\\Com1");
    EXPECT_NE(link_->portHandle, kNoPort);
    EXPECT_EQ(link_->lastResult, QV5SUCCESS);
    return *link_;
  }

  void UnitSends(std::string_view bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string UnitReceives() {
    std::string got;
    char buffer[256];
    fcntl(master_, F_SETFL, O_NONBLOCK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;) {
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  std::string Read9(DeviceLink& link) {
    std::uint8_t buffer[9];
    return std::string(buffer, buffer + link.ReadBytes(buffer, 9));
  }

  testing::ConfigHome config_;
  int master_ = -1;
  int slave_ = -1;  // held open by the test as well: termios stays inspectable
  std::unique_ptr<DeviceLink> link_;
};

TEST_F(PtyPort, OpenAsksTheDriverForLowLatencyAndOpensWhateverItSays) {
  constexpr int kOther = 1 << 6;  // a flag of the driver's own, kept as it was
  struct Case {
    bool knows;
    int flags;
    int expectedSet;
  };
  for (const Case c : {Case{false, 0, -1}, Case{true, kOther, kOther | ASYNC_LOW_LATENCY},
                       Case{true, ASYNC_LOW_LATENCY, -1}}) {
    gDriver = {c.knows, c.flags, -1};
    OpenLink();
    EXPECT_EQ(gDriver.setFlags, c.expectedSet) << c.knows << " " << c.flags;
    link_.reset();
  }
}

TEST_F(PtyPort, OpenRaisesOrLowersDtrAndRtsAsTheSettingsAsk) {
  constexpr std::uint32_t kDtr = kFlagDtrControlEnable;
  constexpr std::uint32_t kRts = kFlagRtsControlEnable;
  struct Case {
    std::uint32_t flags;
    int raised;
    int lowered;
  };
  for (const Case c : {Case{DeviceLink::UnitSettings().flags, TIOCM_DTR | TIOCM_RTS, 0},
                       Case{kDtr, TIOCM_DTR, TIOCM_RTS}, Case{kRts, TIOCM_RTS, TIOCM_DTR},
                       Case{0, 0, TIOCM_DTR | TIOCM_RTS}}) {
    SerialSettings settings = DeviceLink::UnitSettings();
    settings.flags = c.flags;
    gDriver = {};
    ResultCode code = -1;
    const PortHandle port =
        SystemSerialPorts().Open("\\\\.\\Com1", settings, DeviceLink::kUnitTimeouts, &code);
    ASSERT_NE(port, kNoPort) << code;
    SystemSerialPorts().Close(port);
    EXPECT_EQ(gDriver.raised, c.raised) << "flags " << c.flags;
    EXPECT_EQ(gDriver.lowered, c.lowered) << "flags " << c.flags;
  }
}

TEST_F(PtyPort, OpenSetsRawEightNOneAt115200WhateverThePortHadBefore) {
  termios before{};
  ASSERT_EQ(tcgetattr(slave_, &before), 0);
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
  before.c_oflag |= OPOST | ONLCR;
  before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &before), 0);

  const auto start = Clock::now();
  OpenLink();
  EXPECT_GE(MsSince(start), 300);  // the line settles before the link goes on

  termios after{};
  ASSERT_EQ(tcgetattr(slave_, &after), 0);
  EXPECT_EQ(cfgetispeed(&after), B115200);
  EXPECT_EQ(cfgetospeed(&after), B115200);
  EXPECT_EQ(after.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
}

TEST_F(PtyPort, ReadsEndOnTheirCountOrTheirTotalOrIntervalTimeOut) {
  // A read of 9 bytes: 15 + 15 * 9 ms in all, 25 ms after the last byte.
  struct Case {
    const char* name;
    std::vector<std::pair<int, const char*>> pieces;  // ms before, bytes
    const char* read;
    int minMs, maxMs;
    const char* left;  // for the next read
  };
  const Case cases[] = {
      {"silence", {}, "", 150, 400, ""},
      {"a reply", {{40, "SA-77\n\r"}}, "SA-77\n\r", 40 + 20, 149, ""},
      {"a full read", {{0, "0123456789"}}, "012345678", 0, 25, "9"},
      {"a late piece", {{0, "SA-"}, {80, "77"}}, "SA-", 20, 79, "77"},
  };
  DeviceLink& link = OpenLink();
  for (const Case& c : cases) {
    std::thread unit([&] {
      for (const auto& [ms, bytes] : c.pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        UnitSends(bytes);
      }
    });
    if (!c.pieces.empty() && c.pieces[0].first == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto start = Clock::now();
    EXPECT_EQ(Read9(link), c.read) << c.name;
    const std::int64_t took = MsSince(start);
    unit.join();
    EXPECT_GE(took, c.minMs) << c.name;
    EXPECT_LT(took, c.maxMs) << c.name;
    EXPECT_EQ(Read9(link), c.left) << c.name;
  }
}

TEST_F(PtyPort, OpenAndPurgeDropStaleInputAndWritesReachTheUnit) {
  termios raw{};  // a new pseudo-terminal would echo this back
  ASSERT_EQ(tcgetattr(slave_, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &raw), 0);
  UnitSends("stale from before");
  DeviceLink& link = OpenLink();
  EXPECT_EQ(Read9(link), "") << "what waited before the open is dropped";

  EXPECT_EQ(link.SendCommand("SA-28"), QV5SUCCESS);
  EXPECT_EQ(UnitReceives(), "SA-28\n\r");

  UnitSends("stale reply");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  link.PurgeInput();
  EXPECT_EQ(Read9(link), "");
}

TEST_F(PtyPort, AWriteGivenUpOnSendsNothingMoreLater) {
  DeviceLink& link = OpenLink();
  const std::vector<std::uint8_t> big(1 << 20, 'x');  // far more than the line holds
  const auto start = Clock::now();
  EXPECT_EQ(link.WriteBytes(big.data(), static_cast<std::uint32_t>(big.size())),
            QV5WAITFORSINGLEOBJECTERROR);
  EXPECT_LT(MsSince(start), 1000);
  // The unit starts reading again: it finds what its own receive buffer
  // (4 KiB on a pseudo-terminal) took before the give-up, and nothing of
  // what the write still held.
  std::size_t arrived = UnitReceives().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  arrived += UnitReceives().size();
  EXPECT_LE(arrived, 4096u) << "bytes of an abandoned write went out after it";
}

TEST_F(PtyPort, ASecondOpenerIsRefusedUntilTheFirstCloses) {
  OpenLink();
  DeviceLink second;
  EXPECT_EQ(second.Open("\\\\.\\Com1"), kNoPort);
  EXPECT_EQ(second.lastResult, QV5INVALIDHANDLEVALUE);
  link_.reset();
  second.portHandle = second.Open("\\\\.\\com1");  // any letter case
  EXPECT_NE(second.portHandle, kNoPort);
}

TEST_F(PtyPort, PortsThatDoNotOpenFailAtOnce) {
  std::ofstream(config_.path() / "plain-file") << "not a tty";
  config_.Pin(3, config_.path() / "plain-file");
  DeviceLink link;
  const auto start = Clock::now();
  for (const auto& [name, code] : {std::pair{"\\\\.\\Com2", QV5INVALIDHANDLEVALUE},
                                   {"Com1", QV5INVALIDHANDLEVALUE},
                                   {"\\\\.\\Com3", QV5GETCOMMSTATEERROR}}) {
    EXPECT_EQ(link.Open(name), kNoPort) << name;
    EXPECT_EQ(link.lastResult, code) << name;
  }
  EXPECT_LT(MsSince(start), 300);  // no settle pause on failure
}

// The device lookup on a made-up /dev and /sys, with COM3 and COM31 pinned.
TEST(PortLookup, CountsUsbThenAcmThenUartsInNumericOrderUnlessPinned) {
  testing::TempDir root;
  PortLookup lookup{(root.path() / "config").string(), (root.path() / "dev").string(),
                    (root.path() / "sys").string()};
  fs::create_directories(lookup.devDir);
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS12",
                           "ttyS2", "tty0", "ttyUSB"}) {
    std::ofstream(fs::path(lookup.devDir) / name);
  }
  // ttyS1 has no UART behind it; ttyS2 is the kernel's console.
  for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS12", "4"},
                                   {"ttyS2", "4"}}) {
    fs::create_directories(fs::path(lookup.sysTtyDir) / name / "device");
    std::ofstream(fs::path(lookup.sysTtyDir) / name / "type") << type << "\n";
  }
  fs::create_directories(fs::path(lookup.sysTtyDir) / "console");
  std::ofstream(fs::path(lookup.sysTtyDir) / "console" / "active") << "tty0 ttyS2\n";
  const fs::path ports = fs::path(lookup.configHome) / "pantoline" / "ports";
  fs::create_directories(ports);
  fs::create_symlink(fs::path(lookup.devDir) / "ttyACM0", ports / "com3");
  fs::create_symlink(root.path() / "unplugged", ports / "com31");  // fails when opened

  const std::pair<const char*, const char*> cases[] = {
      {"\\\\.\\Com1", "ttyUSB0"}, {"\\\\.\\Com2", "ttyUSB2"}, {"\\\\.\\Com3", "com3"},
      {"\\\\.\\COM4", "ttyACM0"}, {"\\\\.\\cOm5", "ttyS0"},   {"\\\\.\\Com6", "ttyS12"},
      {"\\\\.\\Com7", ""},        {"\\\\.\\COM31", "com31"},  {"\\\\.\\COM32", ""},
      {"", ""},                   {"Com1", ""},               {"\\\\.\\Com", ""},
      {"\\\\.\\Com0", ""},        {"\\\\.\\Com01", ""},       {"\\\\.\\Com-1", ""},
      {"\\\\.\\Lpt1", ""},        {"\\\\.\\Com1 ", ""},       {"/dev/ttyUSB0", ""}};
  for (const auto& [name, device] : cases) {
    EXPECT_EQ(fs::path(ResolvePortDevice(name, lookup)).filename().string(), device) << name;
  }
}

}  // namespace
}  // namespace pantoline
