// The serial ports the search tries, described for the user who asks which
// of them is which (`pantoline-cli ports`).
//
// One implementation per operating system (port_listing_posix.cpp,
// port_listing_win32.cpp; CMake picks one). Listing configures, reads and
// writes no port: it asks the system about its devices, so that it never
// disturbs a line another program uses.
#pragma once

#include <string>
#include <vector>

namespace pantoline {

// One port. Texts the system does not give are empty. Every member has
// its default, so that a listing can name only what it knows.
struct ListedPort {
  // "COM5", as the search and the reset log number it; empty for a device
  // the search leaves out (then `leftOut` says why).
  std::string port{};
  // What the search opens for it. Linux: the device path, or the pin's own
  // path for a pinned port. Windows: "\\.\COM5".
  std::string device{};
  // Linux: the device a pin leads to (the link's text when it leads
  // nowhere); empty for a port that is not pinned.
  std::string target{};
  // Windows: the device name the serial driver entered for the port
  // ("\Device\Serial0").
  std::string systemName{};
  // False for a pin whose device is not there (unplugged).
  bool present = true;
  // A USB device's vendor and product ids (4 hexadecimal digits each), its
  // product name and serial number. All empty for other devices.
  std::string vendorId{};
  std::string productId{};
  std::string product{};
  std::string serial{};
  // The kernel driver behind the device ("ftdi_sio", "cdc_acm", "serial").
  std::string driver{};
  // Whether this user may open the device for reading and writing, and
  // when not, what would help: one line, no newline. True where the
  // system cannot tell without opening the port (Windows).
  bool mayOpen = true;
  std::string advice{};
  // Why the search passes over this device; empty for the ports it tries.
  std::string leftOut{};
};

// The ports in the order the search tries them: those of the 32 fixed
// names that exist, then those above COM32 that the system lists, then
// (Linux) the serial devices it leaves out.
std::vector<ListedPort> ListPorts();

}  // namespace pantoline
