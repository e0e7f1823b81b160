// The Windows port listing: the fixed names COM1 to COM32 that exist, then
// the ports above COM32 that the serial drivers entered, each with the
// device name its driver gave it.
#include <windows.h>

#include <map>
#include <string>

#include "link/port_listing.h"
#include "link/port_numbers_win32.h"
#include "link/serial_port.h"

namespace pantoline {
namespace {

// Port number to device name, from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where
// each serial driver enters a value "\Device\Serial0" = "COM1".
std::map<int, std::string> SystemNames() {
  std::map<int, std::string> names;
  ForEachListedPort(
      [](void* context, int number, const char* device) {
        static_cast<std::map<int, std::string>*>(context)->emplace(number, device);
      },
      &names);
  return names;
}

// Whether the device "COMn" exists. Every Windows serial driver gives its
// ports a DOS device name, which answers without opening the port: opening
// may change its modem lines under the feet of the program that uses it.
// Wine maps ports without such names, so a name the system does not know is
// asked for the device itself, with no access at all: it opens, or is in
// use, only when it exists.
bool Exists(int number) {
  const std::string name = "COM" + std::to_string(number);
  char target[512];
  if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
    return true;
  }
  const HANDLE device =
      CreateFileA(("\\\\.\\" + name).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  CloseHandle(device);
  return true;
}

}  // namespace

std::vector<ListedPort> ListPorts() {
  const std::map<int, std::string> names = SystemNames();
  std::vector<ListedPort> ports;
  auto add = [&](int number) {
    ListedPort port;
    port.port = "COM" + std::to_string(number);
    port.device = "\\\\.\\" + port.port;
    if (const auto found = names.find(number); found != names.end()) {
      port.systemName = found->second;
    }
    ports.push_back(port);
  };
  for (int number = 1; number <= 32; ++number) {
    if (names.contains(number) || Exists(number)) {
      add(number);
    }
  }
  int numbers[kMaxExtraPorts];
  const int extra = ListedPortNumbersAbove32(numbers, kMaxExtraPorts);
  for (int i = 0; i < extra; ++i) {
    add(numbers[i]);
  }
  return ports;
}

}  // namespace pantoline
