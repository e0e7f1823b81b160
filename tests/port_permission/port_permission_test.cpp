// A serial device that the user may not open, or that another program
// holds: passed over like any port that does not open, with one line on
// standard error that names it and says what helps.
//
// Root opens any file whatever its mode, so when the tests run as root the
// opening is done by a child process that has become the unprivileged user
// "nobody" (uid and gid 65534) first; as any other user the child keeps
// its identity.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/serial_port.h"
#include "tests/support/temp_dir.h"

namespace pantoline {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

constexpr uid_t kNobody = 65534;

struct Opened {
  int code = -1;       // the ResultCode Open gave, -1 if the child failed
  bool port = false;   // whether it returned a port
  std::string stderrText;
};

// Opens "\\.\Com1" in a child process with `configHome` as its
// configuration folder, as an unprivileged user.
Opened OpenCom1As(const fs::path& configHome) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    dup2(pipeFds[1], STDERR_FILENO);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(100);
    }
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ResultCode code = QV5SUCCESS;
    const PortHandle port = SystemSerialPorts().Open("\\\\.\\Com1", SerialSettings{}, SerialTimeouts{}, &code);
    // The code in the low bits, whether a port came back in bit 6.
    _exit(static_cast<int>(code) | (port != kNoPort ? 64 : 0));
  }
  close(pipeFds[1]);
  Opened result;
  char buffer[512];
  for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    result.stderrText.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 100) {
    return result;
  }
  result.code = WEXITSTATUS(status) & 63;
  result.port = (WEXITSTATUS(status) & 64) != 0;
  return result;
}

class PortPermission : public ::testing::Test {
 protected:
  PortPermission() {
    // The unprivileged child must reach the pin and the device.
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(ports());
    fs::permissions(dir_.path() / "config", fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }

  fs::path config() const { return dir_.path() / "config"; }
  fs::path ports() const { return config() / "pantoline" / "ports"; }

  // A file standing in for the device, with `mode`, pinned as com1.
  fs::path PinDevice(fs::perms mode) {
    const fs::path device = dir_.path() / "ttyUSB7";
    WriteFile(device, "");
    fs::permissions(device, mode);
    fs::create_symlink(device, ports() / "com1");
    return device;
  }

  TempDir dir_;
};

TEST_F(PortPermission, APortPassedOverGetsOneLineNamingTheDeviceAndWhatHelps) {
  const std::string mayNot = ": your user may not open this device, and no group gives access to it; "
                             "ask the administrator for read and write access to it\n";
  struct Case {
    const char* group;  // the device's group; nullptr: the file's own
    fs::perms mode;
    bool locked;        // another program holds the device
    const char* advice; // after "pantoline: ... <device>"; a group name for the group advice
  };
  constexpr fs::perms kGroupRw = fs::perms::group_read | fs::perms::group_write;
  constexpr fs::perms kAllRw = kGroupRw | fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::others_read | fs::perms::others_write;
  for (const Case& c : {Case{nullptr, fs::perms::none, false, nullptr},
                        Case{"dialout", fs::perms::owner_read | kGroupRw, false, "dialout"},
                        Case{"dialout", fs::perms::owner_read | fs::perms::group_read, false, nullptr},
                        Case{"tty", fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_write, false, nullptr},
                        Case{"tty", kAllRw & ~fs::perms::others_read & ~fs::perms::others_write, false,
                             nullptr},
                        Case{nullptr, kAllRw, true, "busy"}}) {
    SCOPED_TRACE(std::string(c.group ? c.group : "own") + " " + (c.advice ? c.advice : "may not"));
    fs::remove(ports() / "com1");
    fs::remove(dir_.path() / "ttyUSB7");
    const fs::path device = PinDevice(c.mode);
    const group* owner = c.group != nullptr ? getgrnam(c.group) : nullptr;
    if (c.group != nullptr && (owner == nullptr || chown(device.c_str(), -1, owner->gr_gid) != 0)) {
      continue;  // no such group here, or not ours to give
    }
    const int holder = open(device.c_str(), O_RDONLY);
    if (c.locked) {
      ASSERT_EQ(flock(holder, LOCK_EX), 0);
    }
    const Opened opened = OpenCom1As(config());
    close(holder);

    EXPECT_EQ(opened.code, QV5INVALIDHANDLEVALUE);
    EXPECT_FALSE(opened.port);
    // The device itself, not the pin that leads to it, and one line only.
    const std::string shown = fs::canonical(device).string();
    const std::string advice = c.advice == nullptr ? "" : c.advice;
    if (advice == "busy") {
      EXPECT_EQ(opened.stderrText, "pantoline: " + shown + " is in use by another program: end that "
                                   "program and try again\n");
    } else if (!advice.empty()) {
      EXPECT_EQ(opened.stderrText, "pantoline: no permission to open " + shown + ": add your user to the " +
                                       advice + " group (sudo usermod -aG " + advice +
                                       " $USER) and log in again\n");
    } else {
      EXPECT_EQ(opened.stderrText, "pantoline: no permission to open " + shown + mayNot);
    }
  }
}

TEST_F(PortPermission, PortsThatFailForOtherReasonsSayNothing) {
  // Opens, but is no serial device.
  PinDevice(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
            fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
  const Opened notSerial = OpenCom1As(config());
  EXPECT_EQ(notSerial.code, QV5GETCOMMSTATEERROR);
  EXPECT_EQ(notSerial.stderrText, "");

  // A pin that leads nowhere.
  fs::remove(dir_.path() / "ttyUSB7");
  const Opened dangling = OpenCom1As(config());
  EXPECT_EQ(dangling.code, QV5INVALIDHANDLEVALUE);
  EXPECT_FALSE(dangling.port);
  EXPECT_EQ(dangling.stderrText, "");
}

}  // namespace
}  // namespace pantoline
