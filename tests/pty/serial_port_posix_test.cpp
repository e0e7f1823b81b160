// The Linux serial port on real pseudo-terminals, in real time.
#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/device_link.h"
#include "link/port_names_posix.h"
#include "tests/support/config_home_posix.h"

// A USB serial driver in place of the pseudo-terminal's for TIOCGSERIAL and
// TIOCSSERIAL, which pseudo-terminals do not know: the test program is
// linked with --wrap=ioctl, so the port layer's calls come here first.
struct FakeSerialDriver {
  bool knowsRequest = false;  // else both requests fail with ENOTTY
  int flags = 0;              // what TIOCGSERIAL reports
  int setFlags = -1;          // what TIOCSSERIAL was given; -1 if never called
} gDriver;

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
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
using testing::TempDir;

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
  gDriver = {};
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
  EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
}

TEST_F(PtyPort, ReadsEndOnTheirTotalOrIntervalTimeOut) {
  DeviceLink& link = OpenLink();
  std::uint8_t buffer[9];

  auto start = Clock::now();
  EXPECT_EQ(link.ReadBytes(buffer, 9), 0u);
  std::int64_t took = MsSince(start);
  EXPECT_GE(took, 150);  // 15 + 15 * 9
  EXPECT_LT(took, 400);

  std::thread unit([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    UnitSends("SA-77\n\r");
  });
  start = Clock::now();
  EXPECT_EQ(link.ReadBytes(buffer, 9), 7u);
  took = MsSince(start);
  unit.join();
  EXPECT_GE(took, 40 + 25);  // 25 ms of silence after the last byte
  EXPECT_LT(took, 149);      // well before the total time-out
  EXPECT_EQ(std::string(buffer, buffer + 7), "SA-77\n\r");

  UnitSends("0123456789");
  start = Clock::now();
  EXPECT_EQ(link.ReadBytes(buffer, 9), 9u);  // a full read does not wait
  EXPECT_LT(MsSince(start), 25);
  EXPECT_EQ(link.ReadByte(1), '9');
}

TEST_F(PtyPort, APieceAfterMoreThanTheIntervalIsLeftForTheNextRead) {
  DeviceLink& link = OpenLink();
  std::thread unit([&] {
    UnitSends("SA-");
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    UnitSends("77");
  });
  std::uint8_t buffer[9];
  EXPECT_EQ(link.ReadBytes(buffer, 9), 3u);
  unit.join();
  EXPECT_EQ(link.ReadBytes(buffer, 9), 2u);
}

TEST_F(PtyPort, WritesReachTheUnitAndPurgeDropsPendingInput) {
  DeviceLink& link = OpenLink();
  EXPECT_EQ(link.SendCommand("SA-28"), QV5SUCCESS);
  EXPECT_EQ(UnitReceives(), "SA-28\n\r");

  UnitSends("stale reply");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  link.PurgeInput();
  std::uint8_t buffer[9];
  EXPECT_EQ(link.ReadBytes(buffer, 9), 0u);
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
  const PortHandle port = second.Open("\\\\.\\com1");  // any letter case
  EXPECT_NE(port, kNoPort);
  second.portHandle = port;
}

TEST_F(PtyPort, NamesWithoutADeviceFailAtOnceAsAMissingPort) {
  DeviceLink link;
  const auto start = Clock::now();
  for (const char* name : {"\\\\.\\Com2", "\\\\.\\Com0", "Com1", "\\\\.\\Com1x", "\\\\.\\Lpt1"}) {
    EXPECT_EQ(link.Open(name), kNoPort) << name;
    EXPECT_EQ(link.lastResult, QV5INVALIDHANDLEVALUE) << name;
  }
  EXPECT_LT(MsSince(start), 300);  // no settle pause on failure
}

TEST_F(PtyPort, APinnedFileThatIsNoSerialPortIsRefused) {
  std::ofstream(config_.path() / "plain-file") << "not a tty";
  config_.Pin(2, config_.path() / "plain-file");
  DeviceLink link;
  EXPECT_EQ(link.Open("\\\\.\\Com2"), kNoPort);
  EXPECT_EQ(link.lastResult, QV5GETCOMMSTATEERROR);
}

// The device lookup on a made-up /dev and /sys.
class PortLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lookup_.configHome = (root_.path() / "config").string();
    lookup_.devDir = (root_.path() / "dev").string();
    lookup_.sysTtyDir = (root_.path() / "sys").string();
    fs::create_directories(lookup_.devDir);
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS12",
                             "ttyS2", "tty0", "ttyUSB"}) {
      std::ofstream(fs::path(lookup_.devDir) / name);
    }
    Uart("ttyS0", "4");
    Uart("ttyS1", "0");  // a possible port with no UART behind it
    Uart("ttyS12", "4");
    Uart("ttyS2", "4");
    fs::create_directories(fs::path(lookup_.sysTtyDir) / "console");
    std::ofstream(fs::path(lookup_.sysTtyDir) / "console" / "active") << "tty0 ttyS2\n";
  }

  void Uart(const std::string& name, const std::string& type) {
    const fs::path dir = fs::path(lookup_.sysTtyDir) / name;
    fs::create_directories(dir / "device");
    std::ofstream(dir / "type") << type << "\n";
  }

  std::string Device(const char* name) {
    const std::string path = ResolvePortDevice(name, lookup_);
    return path.empty() ? "" : fs::path(path).filename().string();
  }

  TempDir root_;
  PortLookup lookup_;
};

TEST_F(PortLookupTest, CountsUsbThenAcmThenHardwareSerialPortsInNumericOrder) {
  EXPECT_EQ(Device("\\\\.\\Com1"), "ttyUSB0");
  EXPECT_EQ(Device("\\\\.\\Com2"), "ttyUSB2");
  EXPECT_EQ(Device("\\\\.\\Com3"), "ttyUSB10");
  EXPECT_EQ(Device("\\\\.\\COM4"), "ttyACM0");
  EXPECT_EQ(Device("\\\\.\\cOm5"), "ttyS0");
  EXPECT_EQ(Device("\\\\.\\Com6"), "ttyS12");  // ttyS2 is the kernel's console
  EXPECT_EQ(Device("\\\\.\\Com7"), "");
  EXPECT_EQ(Device("\\\\.\\COM32"), "");
}

TEST_F(PortLookupTest, APinInTheConfigurationFolderWins) {
  const fs::path ports = fs::path(lookup_.configHome) / "pantoline" / "ports";
  fs::create_directories(ports);
  fs::create_symlink(fs::path(lookup_.devDir) / "ttyACM0", ports / "com1");
  fs::create_symlink(root_.path() / "unplugged", ports / "com31");
  EXPECT_EQ(ResolvePortDevice("\\\\.\\Com1", lookup_), (ports / "com1").string());
  EXPECT_EQ(Device("\\\\.\\Com2"), "ttyUSB2");  // the others still count
  // A pin to a device that is gone fails when opened, with no fallback.
  EXPECT_EQ(ResolvePortDevice("\\\\.\\COM31", lookup_), (ports / "com31").string());
}

TEST_F(PortLookupTest, OnlyWindowsPortNamesHaveADevice) {
  for (const char* name : {"", "Com1", "\\\\.\\Com", "\\\\.\\Com0", "\\\\.\\Com01", "\\\\.\\Com-1",
                           "\\\\.\\Lpt1", "\\\\.\\Com1 ", "/dev/ttyUSB0"}) {
    EXPECT_EQ(ResolvePortDevice(name, lookup_), "") << name;
  }
}

}  // namespace
}  // namespace pantoline
