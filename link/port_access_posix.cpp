#include "link/port_access_posix.h"

#include <grp.h>
#include <limits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace pantoline {
namespace {

// The device behind `device` (a pin is a symbolic link), as the user would
// look for it.
std::string Shown(const std::string& device) {
  char target[PATH_MAX];
  return realpath(device.c_str(), target) != nullptr ? target : device;
}

}  // namespace

std::string NoPermissionAdvice(const std::string& device) {
  const std::string shown = Shown(device);
  struct stat info {};
  constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
  // Root's own group would give far more than one device.
  if (stat(shown.c_str(), &info) == 0 && info.st_gid != 0 &&
      (info.st_mode & kGroupReadWrite) == kGroupReadWrite) {
    if (const group* owner = getgrgid(info.st_gid);
        owner != nullptr && std::strcmp(owner->gr_name, "tty") != 0) {
      const std::string name = owner->gr_name;
      return "no permission to open " + shown + ": add your user to the " + name +
             " group (sudo usermod -aG " + name + " $USER) and log in again";
    }
  }
  return "no permission to open " + shown +
         ": your user may not open this device, and no group gives access to it; "
         "ask the administrator for read and write access to it";
}

std::string BusyAdvice(const std::string& device) {
  return Shown(device) + " is in use by another program: end that program and try again";
}

void RequestLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) {
    return;
  }
  serial.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace pantoline
