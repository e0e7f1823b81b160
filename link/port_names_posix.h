// How a Windows-style port name ("\\.\Com3") finds its device on Linux.
//
// The link searches the same 32 names on every platform, so that the reset
// log reads the same everywhere. On Linux the name "\\.\ComN" (any letter
// case) means:
//   1. the target of the symbolic link <config>/pantoline/ports/comN, where
//      <config> is $XDG_CONFIG_HOME, else ~/.config: the user's pin;
//   2. otherwise the N-th serial device of the system, counting
//      /dev/ttyUSB*, then /dev/ttyACM*, then the /dev/ttyS* ports backed by
//      real hardware, each group in numeric order. A ttyS port that is the
//      kernel's console (/sys/class/tty/console/active) is not counted: a
//      login prompt may hold it. A pin to it still works.
// No device for N is the same as a port that does not exist. A name that
// starts with "/" is a device path and means itself.
#pragma once

#include <string>
#include <vector>

namespace pantoline {

// Where the lookup looks; the defaults are the real system's. Tests point
// them at folders of their own.
struct PortLookup {
  std::string configHome;                  // empty: $XDG_CONFIG_HOME or ~/.config
  std::string devDir = "/dev";
  std::string sysTtyDir = "/sys/class/tty";
};

// Returns the device path for `name`, or an empty string when `name` is not
// of the form "\\.\ComN" (N from 1) or no device answers to it.
std::string ResolvePortDevice(const char* name, const PortLookup& lookup = {});

// Where the user pins COM`number`: <config>/pantoline/ports/comN, <config>
// being `configHome`, else $XDG_CONFIG_HOME, else ~/.config. Empty when
// none of them is known.
std::string PortPinPath(int number, const std::string& configHome = {});

// The names ("ttyS0") of the ttyS ports with hardware behind them that the
// count above leaves out because they are the kernel's console, in the
// order the console lists them.
std::vector<std::string> ConsoleSerialPorts(const PortLookup& lookup = {});

}  // namespace pantoline
