// pantoline-cli ports: the serial ports in the order the search tries them.
#pragma once

#include <cstdio>

namespace pantoline::cli {

// Lists the ports on `out` (as JSON when `json`), problems on `err`.
// Returns the exit status.
int RunPortsCommand(bool json, std::FILE* out, std::FILE* err);

}  // namespace pantoline::cli
