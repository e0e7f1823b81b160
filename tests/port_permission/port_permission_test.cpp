// A serial device that the user may not open, or that another program
// holds: passed over like any port that does not open, with one line on
// standard error that names it and says what helps. Only COM1 is opened,
// pinned to a file of the test's own.
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

TEST(PortPermission, APortPassedOverSaysWhyOnOneLineOnlyWhenPermissionOrAnotherProgramIsWhy) {
  TempDir dir;
  const fs::path config = dir.path() / "config";
  const fs::path device = dir.path() / "ttyUSB7";
  fs::create_directories(config / "pantoline" / "ports");
  fs::create_symlink(device, config / "pantoline" / "ports" / "com1");
  // The unprivileged child must reach the pin and the device.
  for (const fs::path& folder : {dir.path(), config}) {
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
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
      WriteFile(device, "");
      fs::permissions(device, c.mode);
      holder = open(device.c_str(), O_RDONLY);
    }
    const group* owner = c.group != nullptr ? getgrnam(c.group) : nullptr;
    if (c.group != nullptr && (owner == nullptr || chown(device.c_str(), -1, owner->gr_gid) != 0)) {
      close(holder);
      continue;  // no such group here, or not ours to give
    }
    if (c.locked) {
      ASSERT_EQ(flock(holder, LOCK_EX), 0);
    }
    const Opened opened = OpenCom1As(config);
    close(holder);

    EXPECT_EQ(opened.code, c.code);
    EXPECT_FALSE(opened.port);
    // The device itself, not the pin that leads to it.
    const std::string shown = c.mode == fs::perms::unknown ? "" : fs::canonical(device).string();
    const std::string said[] = {
        "pantoline: no permission to open " + shown +
            ": your user may not open this device, and no group gives access to it; "
            "ask the administrator for read and write access to it\n",
        "pantoline: no permission to open " + shown + ": add your user to the " +
            (c.group ? c.group : "") + " group (sudo usermod -aG " + (c.group ? c.group : "") +
            " $USER) and log in again\n",
        "pantoline: " + shown + " is in use by another program: end that program and try again\n",
        ""};
    EXPECT_EQ(opened.stderrText, said[c.says]);
  }
}

}  // namespace
}  // namespace pantoline
