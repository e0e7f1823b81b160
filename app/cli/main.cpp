// pantoline-cli: the reset from a terminal, for scripts, servers and
// service benches, and every connected unit at once.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli_platform.h"
#include "app/cli/ports_command.h"
#include "app/cli/reset_command.h"
#include "app/command_line.h"
#include "link/clock.h"
#include "reset/reset_procedure.h"

namespace {

using namespace pantoline;
using namespace pantoline::cli;

constexpr char kUsage[] = R"(Usage: pantoline-cli reset [--port PORT] [--package FILE] [--log FILE]
                          [--json] [--quiet]
       pantoline-cli reset --all [--package FILE] [--json] [--quiet]
       pantoline-cli ports [--json]
       pantoline-cli --help | --version
Resets Lodestria units as Pantoline's RESET button does, from a terminal.

reset          finds the unit on the serial ports, loads the reset package
               into it and writes the reset log, exactly as the window does
  --port PORT  greet only PORT: COMn or \\.\COMn (n from 1 to 256), or on
               Linux a device path such as /dev/ttyUSB0
  --package FILE  the reset package (default ResetPack.qv5)
  --log FILE   the reset log (default ResetSystemLog.doc)
  --all        reset every unit that answers, all at once, each with its
               own log ResetSystemLog-COMn.doc, then print a summary
  --json       print one JSON document on standard output; status lines
               and progress go to standard error
  --quiet      print errors only
ports          lists the serial ports in the order the search tries them
  --json       as a JSON document

Status lines go to standard output, message texts to standard error. On a
terminal a progress line is redrawn in place. The first Ctrl-C ends the
run soundly (a transfer is cancelled, the unit taken out of download mode,
the log closed); a second one ends the program at once.

Exit status: 0 every unit updated, 1 a unit found but not updated, 2 a
mistake on the command line, 3 no unit found, 4 the package could not be
used (no port is touched), 130 interrupted.
)";

enum Option { kPort = 256, kPackage, kLog, kAll, kJson, kQuiet };

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// argv without the command word, under the program's name for messages.
std::vector<char*> Arguments(int argc, char** argv) {
  static char program[] = "pantoline-cli";
  std::vector<char*> args{program};
  args.insert(args.end(), argv + 2, argv + argc);
  args.push_back(nullptr);
  return args;
}

int Reset(int argc, char** argv) {
  static const CommandOption kOptions[] = {{"port", true, kPort},   {"package", true, kPackage},
                                           {"log", true, kLog},     {"all", false, kAll},
                                           {"json", false, kJson},  {"quiet", false, kQuiet}};
  ResetRequest request;
  request.package = kPackageFileName;
  request.log = kLogFileName;
  bool logGiven = false;
  std::vector<char*> args = Arguments(argc, argv);
  const auto done = ParseCommandLine(static_cast<int>(args.size()) - 1, args.data(), kOptions, kUsage,
                                     [&](int id, const char* value) {
                                       switch (id) {
                                         case kPort:
                                           if (!PortNameOf(value, &request.port)) {
                                             std::fprintf(stderr, "pantoline-cli: bad port '%s'%s\n", value,
                                                          TakesDevicePaths()
                                                              ? ": COMn, \\\\.\\COMn or a device path"
                                                              : ": COMn or \\\\.\\COMn, n from 1 to 256");
                                             return false;
                                           }
                                           return true;
                                         case kPackage: request.package = value; return true;
                                         case kLog: request.log = value; logGiven = true; return true;
                                         case kAll: request.all = true; return true;
                                         case kJson: request.json = true; return true;
                                         case kQuiet: request.quiet = true; return true;
                                       }
                                       return false;
                                     });
  if (done) return *done;
  if (request.all && (!request.port.empty() || logGiven)) {
    std::fputs("pantoline-cli: --all searches every port and names each unit's log\n", stderr);
    return Usage();
  }
  if (request.package.empty() || request.log.empty()) {
    std::fputs("pantoline-cli: a file name may not be empty\n", stderr);
    return Usage();
  }
  static RunStop stop;
  InstallInterruptHandlers(stop);
  return RunResetCommand(request, SystemSerialPorts(), SystemClock(), stop);
}

int Ports(int argc, char** argv) {
  static const CommandOption kOptions[] = {{"json", false, kJson}};
  bool json = false;
  std::vector<char*> args = Arguments(argc, argv);
  const auto done = ParseCommandLine(static_cast<int>(args.size()) - 1, args.data(), kOptions, kUsage,
                                     [&](int, const char*) { return json = true; });
  if (done) return *done;
  return RunPortsCommand(json, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("pantoline-cli: a command is needed: reset or ports\n", stderr);
    return Usage();
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("pantoline-cli %s\n", PANTOLINE_VERSION);
    return 0;
  }
  if (command == "reset") return Reset(argc, argv);
  if (command == "ports") return Ports(argc, argv);
  std::fprintf(stderr, "pantoline-cli: unknown command '%s'\n", command.c_str());
  return Usage();
}
