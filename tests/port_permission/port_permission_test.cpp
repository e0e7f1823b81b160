// A serial device that the user may not open: passed over like any port
// that does not open, with one line on standard error that names it.
//
// Root opens any file whatever its mode, so when the tests run as root the
// opening is done by a child process that has become the unprivileged user
// "nobody" (uid and gid 65534) first; as any other user the child keeps
// its identity.
#include <fcntl.h>
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

TEST_F(PortPermission, DeviceWithoutPermissionIsPassedOverWithOneLineNamingItAndTheGroup) {
  const fs::path device = PinDevice(fs::perms::none);

  // Files a non-root user makes belong to that user's group, which the
  // line names in place of dialout, as it would a device's own group.
  struct stat info {};
  ASSERT_EQ(stat(device.c_str(), &info), 0);
  const group* owner = getgrgid(info.st_gid);
  const std::string groupName = info.st_gid == 0 || owner == nullptr ? "dialout" : owner->gr_name;

  const Opened opened = OpenCom1As(config());

  EXPECT_EQ(opened.code, QV5INVALIDHANDLEVALUE);
  EXPECT_FALSE(opened.port);
  // The device itself, not the pin that leads to it, and one line only.
  EXPECT_EQ(opened.stderrText, "pantoline: no permission to open " + fs::canonical(device).string() +
                                   ": add your user to the " + groupName + " group (sudo usermod -aG " +
                                   groupName + " $USER) and log in again\n");
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
