// How Linux port names lead to devices, on a made-up /dev and /sys; and a
// device that the user may not open, or that another program holds: passed
// over like any port that does not open, with one line on standard error
// that names it and says what helps.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "link/port_names_posix.h"
#include "link/serial_port.h"
#include "tests/support/config_home_posix.h"

namespace pantoline {
namespace {

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
      {"\\\\.\\Com7", ""},        {"\\\\.\\COM31", "com31"},  {"\\\\.\\COM32", ""},
      {"", ""},                   {"Com1", ""},               {"\\\\.\\Com", ""},
      {"\\\\.\\Com0", ""},        {"\\\\.\\Com01", ""},       {"\\\\.\\Com-1", ""},
      {"\\\\.\\Lpt1", ""},        {"\\\\.\\Com1 ", ""},       {"/dev/ttyUSB0", ""}};
  for (const auto& [name, device] : cases) {
    EXPECT_EQ(fs::path(ResolvePortDevice(name, lookup)).filename().string(), device) << name;
  }
}

// Root opens any file whatever its mode: as root, the test opens as the
// unprivileged user "nobody" (uid and gid 65534), without root's groups.
class AsNobody {
 public:
  AsNobody() : root_(geteuid() == 0), groups_(root_ ? getgroups(0, nullptr) : 0) {
    if (root_) {
      getgroups(static_cast<int>(groups_.size()), groups_.data());
      EXPECT_TRUE(setgroups(0, nullptr) == 0 && setegid(65534) == 0 && seteuid(65534) == 0);
    }
  }
  ~AsNobody() {
    if (root_) {
      EXPECT_TRUE(seteuid(0) == 0 && setegid(0) == 0 &&
                  setgroups(groups_.size(), groups_.data()) == 0);
    }
  }

 private:
  bool root_;
  std::vector<gid_t> groups_;
};

TEST(PortPermission, APortPassedOverSaysWhyOnlyWhenPermissionOrAnotherProgramIsWhy) {
  testing::ConfigHome config;
  const fs::path device = config.path() / "ttyUSB7";
  config.Pin(1, device);
  fs::permissions(config.path(), fs::perms::others_exec, fs::perm_options::add);
  enum Says { kMayNot, kJoinGroup, kBusy, kNothing };
  constexpr fs::perms kR = fs::perms::owner_read, kGroupR = fs::perms::group_read,
                      kGroupRw = kGroupR | fs::perms::group_write,
                      kAllRw = kR | fs::perms::owner_write | kGroupRw | fs::perms::others_read |
                               fs::perms::others_write;
  struct Case {
    const char* group;  // the device's group; nullptr: the file's own
    fs::perms mode;     // fs::perms::unknown: no device at all
    bool locked;        // another program holds the device
    ResultCode code;
    Says says;
  };
  for (const Case& c : {
           Case{nullptr, fs::perms::none, false, QV5INVALIDHANDLEVALUE, kMayNot},
           Case{"dialout", kR | kGroupRw, false, QV5INVALIDHANDLEVALUE, kJoinGroup},
           Case{"dialout", kR | kGroupR, false, QV5INVALIDHANDLEVALUE, kMayNot},
           // A group for every terminal gives no advice to join it.
           Case{"tty", kAllRw & ~fs::perms::others_all, false, QV5INVALIDHANDLEVALUE, kMayNot},
           Case{nullptr, kAllRw, true, QV5INVALIDHANDLEVALUE, kBusy},
           Case{nullptr, kAllRw, false, QV5GETCOMMSTATEERROR, kNothing},  // opens: no tty
           Case{nullptr, fs::perms::unknown, false, QV5INVALIDHANDLEVALUE, kNothing}}) {
    SCOPED_TRACE(std::string(c.group ? c.group : "own") + " " + std::to_string(c.says));
    fs::remove(device);
    int holder = -1;
    if (c.mode != fs::perms::unknown) {
      testing::WriteFile(device, "");
      fs::permissions(device, c.mode);
      holder = open(device.c_str(), O_RDONLY);
    }
    const group* owner = c.group != nullptr ? getgrnam(c.group) : nullptr;
    if (c.group != nullptr && (owner == nullptr || chown(device.c_str(), -1, owner->gr_gid) != 0)) {
      close(holder);
      continue;  // no such group here, or not ours to give
    }
    ASSERT_TRUE(!c.locked || flock(holder, LOCK_EX) == 0);
    SerialPorts& ports = SystemSerialPorts();
    ports.ClearAccessAdvice();
    ResultCode code = -1;
    ::testing::internal::CaptureStderr();
    {
      AsNobody nobody;
      EXPECT_EQ(ports.Open("\\\\.\\Com1", SerialSettings{}, SerialTimeouts{}, &code), kNoPort);
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    close(holder);
    EXPECT_EQ(code, c.code);
    // The device itself, not the pin that leads to it.
    const std::string shown = c.mode == fs::perms::unknown ? "" : fs::canonical(device).string();
    const std::string group = c.group ? c.group : "";
    const std::string advice[] = {
        "no permission to open " + shown +
            ": your user may not open this device, and no group gives access to it; "
            "ask the administrator for read and write access to it",
        "no permission to open " + shown + ": add your user to the " + group +
            " group (sudo usermod -aG " + group + " $USER) and log in again",
        shown + " is in use by another program: end that program and try again", ""};
    EXPECT_EQ(said, c.says == kNothing ? "" : "pantoline: " + advice[c.says] + "\n");
    EXPECT_EQ(ports.AccessAdvice(), c.says == kBusy ? "" : advice[c.says]);
  }
}

}  // namespace
}  // namespace pantoline
