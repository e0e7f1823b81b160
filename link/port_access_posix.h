// What the Linux serial port layer tells the user about a port it passes
// over, and what it asks of a driver on open. Used by serial_port_posix.cpp.
#pragma once

#include <string>

namespace pantoline {

// One line (no newline, no program name) for a device the user may not
// open. It names a group only when that group may read and write the
// device, so that joining it really helps; otherwise it names the device
// and says the user may not open it. The group of the terminals (tty) is
// never named: joining it would let the user write on every terminal, and
// consoles are no place for the unit anyway. `device` is followed to the
// device it leads to.
std::string NoPermissionAdvice(const std::string& device);

// One line (as above) for a device held by another program: `device`'s
// open failed with EBUSY or its lock is taken.
std::string BusyAdvice(const std::string& device);

// Asks the driver of the open serial device `fd` to pass received bytes on
// at once instead of gathering them for up to 16 ms (ASYNC_LOW_LATENCY,
// which the common USB serial drivers honour). A driver that does not know
// the request, or refuses it, leaves the port as it was: the line works,
// only slower.
void RequestLowLatency(int fd);

}  // namespace pantoline
