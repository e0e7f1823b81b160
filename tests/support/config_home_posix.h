// A configuration folder of a Linux test's own, where port pins go.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace pantoline::testing {

// XDG_CONFIG_HOME points at the folder while it lives, so that port pins go
// there and nowhere else; then it is put back. Every one of COM1 to COM32
// starts pinned to a device that does not exist, so that a search never
// reaches the machine's own serial ports: a test must never open, let alone
// reconfigure, a device it did not create.
class ConfigHome : public TempDir {
 public:
  ConfigHome() {
    if (const char* saved = getenv("XDG_CONFIG_HOME")) saved_ = saved;
    setenv("XDG_CONFIG_HOME", path().c_str(), 1);
    std::filesystem::create_directories(PinPath(1).parent_path());
    for (int number = 1; number <= 32; ++number) std::filesystem::create_symlink(path() / "no-device", PinPath(number));
  }
  ~ConfigHome() { saved_ ? setenv("XDG_CONFIG_HOME", saved_->c_str(), 1) : unsetenv("XDG_CONFIG_HOME"); }

  // Pins COM`number` to `device` in place of its pin to nothing.
  void Pin(int number, const std::filesystem::path& device) const {
    std::filesystem::remove(PinPath(number));
    std::filesystem::create_symlink(device, PinPath(number));
  }
  std::filesystem::path PinPath(int number) const {
    return path() / "pantoline" / "ports" / ("com" + std::to_string(number));
  }

 private:
  std::optional<std::string> saved_;
};

}  // namespace pantoline::testing
