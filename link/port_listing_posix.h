// The Linux port listing on a lookup of the caller's: tests list the ports
// of a made-up /dev and /sys.
#pragma once

#include <vector>

#include "link/port_listing.h"
#include "link/port_names_posix.h"

namespace pantoline {

// ListPorts, with the pins, devices and sysfs entries that `lookup` names.
std::vector<ListedPort> ListPorts(const PortLookup& lookup);

}  // namespace pantoline
