// `pantoline-cli ports`: the serial ports the search tries, one line each
// (or one JSON document), so that a user can tell which device is COMn.
#pragma once

#include <cstdio>
#include <vector>

#include "link/port_listing.h"

namespace pantoline::cli {

// Lists the system's ports (ListPorts) on `out`: one aligned line per port,
// or with `json` the document {"ports": [{"port": "COM5", ...}, ...]}. A
// note goes to `err` when there is no port at all. Returns the exit status,
// 0: a listing cannot fail.
int RunPortsCommand(bool json, std::FILE* out, std::FILE* err);

// RunPortsCommand's output for `ports`, given rather than looked up.
int PrintPorts(const std::vector<ListedPort>& ports, bool json, std::FILE* out, std::FILE* err);

}  // namespace pantoline::cli
