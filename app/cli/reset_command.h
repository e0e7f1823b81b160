// pantoline-cli reset: the window's reset procedure with a text display,
// on one unit or on every unit that answers at once.
#pragma once

#include <string>

#include "link/clock.h"
#include "link/run_stop.h"
#include "link/serial_port.h"

namespace pantoline::cli {

// Exit statuses, as the manual page documents them.
inline constexpr int kExitUpdated = 0;
inline constexpr int kExitNotUpdated = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotFound = 3;
inline constexpr int kExitPackage = 4;
inline constexpr int kExitInterrupted = 130;

struct ResetRequest {
  std::string port;  // the port's name as the link takes it; empty: search
  std::string package;
  std::string log;   // one unit only; --all names each unit's log
  bool all = false;
  bool json = false;
  bool quiet = false;
};

// Runs the request and returns the exit status. `stop` ends the runs
// early (130 once they have closed their logs).
int RunResetCommand(const ResetRequest& request, SerialPorts& ports, Clock& clock, const RunStop& stop);

// The link's name for PORT as given on the command line: "COMn" or
// "\\.\COMn" (any letter case, n from 1 to 256) become the name the search
// uses ("\\.\Com3", "\\.\COM45"); a device path stays as given where the
// system takes one. False when PORT is neither.
bool PortNameOf(const std::string& port, std::string* name);

}  // namespace pantoline::cli
