// A configuration folder of a Linux test's own, where port pins go.
#pragma once

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
  ConfigHome();
  ~ConfigHome();

  // Pins COM`number` to `device` in place of its pin to nothing.
  void Pin(int number, const std::filesystem::path& device) const;
  std::filesystem::path PinPath(int number) const;

 private:
  std::optional<std::string> saved_;
};

}  // namespace pantoline::testing
