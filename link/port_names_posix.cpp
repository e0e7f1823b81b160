#include "link/port_names_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

namespace pantoline {
namespace {

// N of "\\.\ComN", or 0 when `name` is not such a name.
int PortNumber(std::string_view name) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (!name.starts_with(kPrefix)) {
    return 0;
  }
  name.remove_prefix(kPrefix.size());
  if (name.size() < 4 || name.size() > 6) {
    return 0;
  }
  for (int i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) {
      return 0;
    }
  }
  int number = 0;
  for (char c : name.substr(3)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return 0;
    }
    number = number * 10 + (c - '0');
  }
  return name[3] == '0' ? 0 : number;
}

std::string ConfigHome(const std::string& given) {
  if (!given.empty()) {
    return given;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    return xdg;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.config";
  }
  return {};
}

// Numbers N of the entries "<prefix>N" in `dir`, ascending.
std::vector<int> NumberedEntries(const std::string& dir, std::string_view prefix) {
  std::vector<int> numbers;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) {
    return numbers;
  }
  while (const dirent* entry = readdir(listing)) {
    std::string_view entryName = entry->d_name;
    if (!entryName.starts_with(prefix) || entryName.size() == prefix.size()) {
      continue;
    }
    entryName.remove_prefix(prefix.size());
    if (entryName.size() > 6 ||
        !std::all_of(entryName.begin(), entryName.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      continue;
    }
    numbers.push_back(std::stoi(std::string(entryName)));
  }
  closedir(listing);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// The kernel lists every possible 8250 port as ttyS0..ttyS31; only those
// with a UART behind them have a known type.
bool IsHardwarePort(const PortLookup& lookup, const std::string& ttyName) {
  const std::string base = lookup.sysTtyDir + "/" + ttyName;
  struct stat info {};
  if (stat((base + "/device").c_str(), &info) != 0) {
    return false;
  }
  std::ifstream typeFile(base + "/type");
  int type = 0;
  return !typeFile || !(typeFile >> type) || type != 0;
}

// The terminals the kernel writes its console to ("tty0 ttyS0"): a login
// prompt usually holds a serial one, and the search must not reconfigure it.
std::vector<std::string> ConsoleTerminals(const PortLookup& lookup) {
  std::vector<std::string> names;
  std::ifstream active(lookup.sysTtyDir + "/console/active");
  for (std::string name; active >> name;) {
    names.push_back(name);
  }
  return names;
}

}  // namespace

std::string ResolvePortDevice(const char* name, const PortLookup& lookup) {
  if (name[0] == '/') {
    return name;  // a device named by its path (pantoline-cli --port)
  }
  const int number = PortNumber(name);
  if (number == 0) {
    return {};
  }
  if (const std::string pin = PortPinPath(number, lookup.configHome); !pin.empty()) {
    struct stat info {};
    if (lstat(pin.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      return pin;  // opening it follows the link; a dangling pin fails there
    }
  }
  const std::vector<std::string> consoles = ConsoleTerminals(lookup);
  int seen = 0;
  for (std::string_view group : {"ttyUSB", "ttyACM", "ttyS"}) {
    for (int n : NumberedEntries(lookup.devDir, group)) {
      const std::string ttyName = std::string(group) + std::to_string(n);
      if (group == "ttyS" && (!IsHardwarePort(lookup, ttyName) ||
                              std::ranges::find(consoles, ttyName) != consoles.end())) {
        continue;
      }
      if (++seen == number) {
        return lookup.devDir + "/" + ttyName;
      }
    }
  }
  return {};
}

std::vector<std::string> ConsoleSerialPorts(const PortLookup& lookup) {
  std::vector<std::string> ports;
  for (const std::string& name : ConsoleTerminals(lookup)) {
    struct stat info {};
    if (name.starts_with("ttyS") && stat((lookup.devDir + "/" + name).c_str(), &info) == 0 &&
        IsHardwarePort(lookup, name)) {
      ports.push_back(name);
    }
  }
  return ports;
}

std::string PortPinPath(int number, const std::string& configHome) {
  const std::string config = ConfigHome(configHome);
  return config.empty() ? std::string() : config + "/pantoline/ports/com" + std::to_string(number);
}

}  // namespace pantoline
