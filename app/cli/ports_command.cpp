// Stands in for the port listing until it is merged.
#include "app/cli/ports_command.h"

namespace pantoline::cli {

int RunPortsCommand(bool json, std::FILE* out, std::FILE*) {
  std::fputs(json ? "{\"ports\": []}\n" : "", out);
  return 0;
}

}  // namespace pantoline::cli
