#include "tests/support/config_home_posix.h"

#include <stdlib.h>

namespace pantoline::testing {

ConfigHome::ConfigHome() {
  if (const char* saved = getenv("XDG_CONFIG_HOME")) saved_ = saved;
  setenv("XDG_CONFIG_HOME", path().c_str(), 1);
  std::filesystem::create_directories(PinPath(1).parent_path());
  for (int number = 1; number <= 32; ++number) {
    std::filesystem::create_symlink(path() / "no-device", PinPath(number));
  }
}

ConfigHome::~ConfigHome() {
  saved_ ? setenv("XDG_CONFIG_HOME", saved_->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
}

void ConfigHome::Pin(int number, const std::filesystem::path& device) const {
  std::filesystem::remove(PinPath(number));
  std::filesystem::create_symlink(device, PinPath(number));
}

std::filesystem::path ConfigHome::PinPath(int number) const {
  return path() / "pantoline" / "ports" / ("com" + std::to_string(number));
}

}  // namespace pantoline::testing
