#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/cli/cli_platform.h"
#include "link/port_names_posix.h"

namespace pantoline::cli {
namespace {

RunStop* stopRequest = nullptr;
std::atomic<int> interruptions{0};

void OnInterrupt(int) {
  if (interruptions.fetch_add(1) > 0) {
    _exit(130);
  }
  stopRequest->Request();
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  if (isatty(fileno(stream)) == 0) {
    return false;
  }
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void InstallInterruptHandlers(RunStop& stop) {
  stopRequest = &stop;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
}

void RunsClosed() {}

bool TakesDevicePaths() { return true; }

std::string DeviceOf(const char* name) {
  const std::string device = ResolvePortDevice(name);
  if (device.empty()) return name;
  // A pin is named by its target.
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(device, error);
  return error ? device : target.string();
}

}  // namespace pantoline::cli
