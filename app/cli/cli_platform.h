// What pantoline-cli needs of the operating system beyond the link: the
// terminal, the interruption signals and the meaning of a port's name.
// One implementation per system (cli_platform_posix.cpp,
// cli_platform_win32.cpp).
#pragma once

#include <cstdio>
#include <string>

#include "link/run_stop.h"

namespace pantoline::cli {

// True when `stream` is a terminal that can redraw a line in place
// (carriage return and the usual cursor controls).
bool IsTerminal(std::FILE* stream);
// The width of the terminal `stream` writes to, in columns; 0 when it is
// not known.
int TerminalColumns(std::FILE* stream);

// Installs the interruption handlers: the first Ctrl-C (SIGINT, SIGTERM,
// SIGHUP; on Windows Ctrl-C, Ctrl-Break and the console's close) requests
// `stop`, a second one ends the process at once with status 130. `stop`
// must live as long as the process.
void InstallInterruptHandlers(RunStop& stop);
// Tells the handlers that every run has closed its log: a console being
// closed need wait no longer.
void RunsClosed();

// Whether --port also takes a device path ("/dev/ttyUSB0").
bool TakesDevicePaths();
// The device behind the port name `name` ("\\.\Com3" or a device path),
// as the user knows it: a device path on Linux, "\\.\COMn" on Windows.
std::string DeviceOf(const char* name);

}  // namespace pantoline::cli
