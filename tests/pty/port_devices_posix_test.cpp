// Linux ports beyond what a pseudo-terminal shows: a write the driver
// refuses; how port names lead to devices, on a made-up /dev and /sys; and a
// device the user may not open, or that another program holds: passed over
// like any port that does not open, and named on standard error with what helps.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "link/device_link.h"
#include "link/port_names_posix.h"
#include "link/serial_port.h"
#include "tests/pty/line_peer.h"
#include "tests/support/config_home_posix.h"
#include "tests/support/unprivileged_posix.h"

// A driver that refuses writes (the program is linked with --wrap=write):
// armed with an error, it lets `gPass` bytes through, then fails with it.
static int gError = 0;
static std::size_t gPass = 0;
extern "C" ssize_t __real_write(int fd, const void* buffer, std::size_t count);
extern "C" ssize_t __wrap_write(int fd, const void* buffer, std::size_t count) {
  if (gError != 0 && gPass == 0) {
    errno = gError;
    return -1;
  }
  const ssize_t put = __real_write(fd, buffer, gError != 0 ? std::min(count, gPass) : count);
  if (gError != 0 && put > 0) gPass -= static_cast<std::size_t>(put);
  return put;
}

namespace pantoline {
namespace {

// A pulled USB adapter fails writes with EIO, ENXIO or ENODEV: the port is
// gone. Any other refusal fails this write only, as not sent when nothing
// went out before it.
TEST(SerialWrite, ARefusedWriteFailsAndOnlyAPulledAdapterIsGone) {
  const std::tuple<int, std::size_t, ResultCode, bool> cases[] = {
      {EIO, 0, QV5COMMANDNOTSENT, true},    {ENXIO, 2, QV5COMMANDNOTSENT, true},
      {ENODEV, 0, QV5COMMANDNOTSENT, true}, {EPERM, 0, QV5COMMANDNOTSENT, false},
      {EPERM, 2, QV5GETOVERLAPPEDRESULTERROR, false}};
  testing::LinePeer peer;
  SerialPorts& ports = SystemSerialPorts();
  for (const auto& [error, pass, result, gone] : cases) {
    SCOPED_TRACE(std::string(strerror(error)) + " after " + std::to_string(pass));
    ResultCode code = -1;
    SerialPort* const port =
        ports.Open(peer.portName.c_str(), DeviceLink::UnitSettings(), DeviceLink::kUnitTimeouts, &code);
    ASSERT_EQ(code, QV5SUCCESS);
    std::tie(gError, gPass) = std::pair(error, pass);
    EXPECT_EQ(ports.Write(port, reinterpret_cast<const std::uint8_t*>("SA-28\r"), 6), result);
    gError = 0;
    EXPECT_EQ(ports.Gone(port), gone);
    ports.Close(port);
  }
}

namespace fs = std::filesystem;

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
      {"\\\\.\\Com7", ""},        {"\\\\.\\COM31", "com31"},  {"Com1", ""},
      {"\\\\.\\Com", ""},         {"\\\\.\\Com01", ""},       {"\\\\.\\Com-1", ""},
      {"\\\\.\\Lpt1", ""}};
  for (const auto& [name, device] : cases) {
    EXPECT_EQ(fs::path(ResolvePortDevice(name, lookup)).filename().string(), device) << name;
  }
}

// With no folder of their own given, the pins live in $XDG_CONFIG_HOME when
// it is an absolute path, else in ~/.config: where most desktops, which set
// no XDG_CONFIG_HOME, have them.
TEST(PortLookup, PinsLiveInTheXdgConfigFolderElseInTheHomesConfig) {
  const testing::ConfigHome restored;  // puts XDG_CONFIG_HOME back
  const std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "";
  setenv("HOME", "/home/u", 1);
  for (const auto& [xdg, folder] : {std::pair<const char*, const char*>{"/xdg", "/xdg"},
                                    {"relative", "/home/u/.config"}, {nullptr, "/home/u/.config"}}) {
    xdg != nullptr ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(PortPinPath(3), std::string(folder) + "/pantoline/ports/com3") << (xdg ? xdg : "unset");
  }
  setenv("HOME", home.c_str(), 1);
}

ResultCode OpenCom1AsNobody(SerialPorts& ports) {
  return testing::AsUnprivileged([&ports] {
    ResultCode code = -1;
    EXPECT_EQ(ports.Open("\\\\.\\Com1", LineSettings{}, SerialTimeouts{}, &code), nullptr);
    return code;
  });
}

TEST(PortPermission, APortPassedOverSaysWhyOnlyWhenPermissionOrAnotherProgramIsWhy) {
  testing::ConfigHome config;
  const fs::path device = config.path() / "ttyUSB7";
  config.Pin(1, device);
  fs::permissions(config.path(), fs::perms::others_exec, fs::perm_options::add);
  // The device itself, not the pin that leads to it.
  const std::string shown = fs::weakly_canonical(device).string();
  const std::string mayNot = "no permission to open " + shown +
                             ": your user may not open this device, and no group gives access to it; "
                             "ask the administrator for read and write access to it",
                    join = "no permission to open " + shown +
                           ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log "
                           "in again",
                    busy = shown + " is in use by another program: end that program and try again";
  using P = fs::perms;
  constexpr P kRw = P::owner_read | P::owner_write | P::group_read | P::group_write;
  struct Case {
    const char* group;  // the device's group; nullptr: the file's own
    P mode;             // P::unknown: no device at all
    bool locked;        // another program holds the device
    std::string said, advice;  // on standard error, and to the reset
  };
  for (const Case& c : {
           Case{nullptr, P::none, false, mayNot, mayNot},
           Case{"dialout", kRw, false, join, join},
           Case{"dialout", kRw & ~P::group_write, false, mayNot, mayNot},
           // A group for every terminal gives no advice to join it.
           Case{"tty", kRw, false, mayNot, mayNot},
           Case{nullptr, kRw | P::others_read | P::others_write, true, busy, busy},
           Case{nullptr, P::unknown, false, "", ""}}) {
    SCOPED_TRACE(std::string(c.group ? c.group : "own") + ": " + c.said);
    fs::remove(device);
    if (c.mode != P::unknown) {
      testing::WriteFile(device, "");
      fs::permissions(device, c.mode);
    }
    const group* owner = c.group != nullptr ? getgrnam(c.group) : nullptr;
    if (c.group != nullptr && (owner == nullptr || chown(device.c_str(), -1, owner->gr_gid) != 0)) {
      continue;  // no such group here, or not ours to give
    }
    const int holder = c.locked ? open(device.c_str(), O_RDONLY) : -1;
    ASSERT_TRUE(!c.locked || flock(holder, LOCK_EX) == 0);
    SerialPorts& ports = SystemSerialPorts();
    ports.ClearAccessAdvice();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(OpenCom1AsNobody(ports), QV5INVALIDHANDLEVALUE);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.said.empty() ? "" : "pantoline: " + c.said + "\n");
    EXPECT_EQ(ports.AccessAdvice(), c.advice);
    if (holder >= 0) close(holder);
  }
}

}  // namespace
}  // namespace pantoline
