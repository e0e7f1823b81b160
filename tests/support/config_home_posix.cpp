#include "tests/support/config_home_posix.h"

#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace pantoline::testing {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* saved = std::getenv(name)) {
    saved_ = saved;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ConfigHome::ConfigHome() : env_("XDG_CONFIG_HOME", path().string()) {
  std::filesystem::create_directories(PinPath(1).parent_path());
  for (int number = 1; number <= 32; ++number) {
    std::filesystem::create_symlink(path() / "no-device", PinPath(number));
  }
}

void ConfigHome::Pin(int number, const std::filesystem::path& device) const {
  std::filesystem::remove(PinPath(number));
  std::filesystem::create_symlink(device, PinPath(number));
}

std::filesystem::path ConfigHome::PinPath(int number) const {
  return path() / "pantoline" / "ports" / ("com" + std::to_string(number));
}

}  // namespace pantoline::testing
