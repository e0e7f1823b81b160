// The Linux port listing: COM1 to COM32 as the search finds their devices,
// described from sysfs, then the console's ttyS ports the search leaves out.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "link/port_access_posix.h"
#include "link/port_listing_posix.h"

namespace pantoline {
namespace {

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : std::string();
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The first line of a sysfs attribute, empty when there is none.
std::string Attribute(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// Fills in what sysfs says of the tty `ttyName`: its driver and, for a USB
// device, its ids, product and serial number.
void DescribeFromSysfs(const PortLookup& lookup, const std::string& ttyName, ListedPort& port) {
  const std::string device = RealPath(lookup.sysTtyDir + "/" + ttyName + "/device");
  if (device.empty()) {
    return;  // not a device the kernel describes (a pseudo-terminal)
  }
  // The tty's device, then the USB interface and the USB device above it.
  // Newer kernels put a serial port's own devices (bus serial-base) between
  // a UART's tty and its hardware: their drivers are the serial core's, so
  // the driver named is the hardware's.
  std::string dir = device;
  for (int level = 0; level < 4 && dir != "/"; ++level, dir = Parent(dir)) {
    if (const std::string driver = RealPath(dir + "/driver");
        port.driver.empty() && !driver.empty() && driver.find("/serial-base/") == std::string::npos) {
      port.driver = BaseName(driver);
    }
    if (port.vendorId.empty() && !Attribute(dir + "/idVendor").empty()) {
      port.vendorId = Attribute(dir + "/idVendor");
      port.productId = Attribute(dir + "/idProduct");
      port.product = Attribute(dir + "/product");
      port.serial = Attribute(dir + "/serial");
    }
  }
}

void CheckAccess(const std::string& device, ListedPort& port) {
  // Opening the port would raise its modem lines under the feet of any
  // program that uses it; the permission bits answer without that.
  if (faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) != 0 &&
      (errno == EACCES || errno == EPERM)) {
    port.mayOpen = false;
    port.advice = NoPermissionAdvice(device);
  }
}

}  // namespace

std::vector<ListedPort> ListPorts(const PortLookup& lookup) {
  std::vector<ListedPort> ports;
  std::vector<std::string> reached;  // the devices the listed ports lead to
  for (int number = 1; number <= 32; ++number) {
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    const std::string device = ResolvePortDevice(name.c_str(), lookup);
    if (device.empty()) {
      continue;
    }
    ListedPort port;
    port.port = "COM" + std::to_string(number);
    port.device = device;
    std::string real = device;
    struct stat info {};
    if (lstat(device.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      real = RealPath(device);
      if (real.empty()) {
        char text[PATH_MAX];
        const ssize_t length = readlink(device.c_str(), text, sizeof text);
        port.target.assign(text, length > 0 ? static_cast<std::size_t>(length) : 0);
        port.present = false;
        port.mayOpen = false;
        ports.push_back(port);
        continue;
      }
      port.target = real;
    }
    DescribeFromSysfs(lookup, BaseName(real), port);
    CheckAccess(device, port);
    reached.push_back(RealPath(real));
    ports.push_back(port);
  }
  for (const std::string& ttyName : ConsoleSerialPorts(lookup)) {
    const std::string device = lookup.devDir + "/" + ttyName;
    if (std::ranges::find(reached, RealPath(device)) != reached.end()) {
      continue;  // pinned: the search tries it after all
    }
    ListedPort port;
    port.device = device;
    port.leftOut = "the kernel's console";
    DescribeFromSysfs(lookup, ttyName, port);
    CheckAccess(device, port);
    ports.push_back(port);
  }
  return ports;
}

std::vector<ListedPort> ListPorts() { return ListPorts(PortLookup{}); }

}  // namespace pantoline
