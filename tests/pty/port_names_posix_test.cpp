// Which device a port name leads to on Linux, on a made-up /dev and /sys
// with COM3 and COM31 pinned.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/port_names_posix.h"
#include "tests/support/temp_dir.h"

namespace pantoline {
namespace {

namespace fs = std::filesystem;

TEST(PortLookup, CountsUsbThenAcmThenUartsInNumericOrderUnlessPinned) {
  testing::TempDir root;
  PortLookup lookup{(root.path() / "config").string(), (root.path() / "dev").string(),
                    (root.path() / "sys").string()};
  fs::create_directories(lookup.devDir);
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS12",
                           "ttyS2", "tty0", "ttyUSB"}) {
    std::ofstream(fs::path(lookup.devDir) / name);
  }
  // ttyS1 has no UART behind it; ttyS2 is the kernel's console.
  for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS12", "4"},
                                   {"ttyS2", "4"}}) {
    fs::create_directories(fs::path(lookup.sysTtyDir) / name / "device");
    std::ofstream(fs::path(lookup.sysTtyDir) / name / "type") << type << "\n";
  }
  fs::create_directories(fs::path(lookup.sysTtyDir) / "console");
  std::ofstream(fs::path(lookup.sysTtyDir) / "console" / "active") << "tty0 ttyS2\n";
  const fs::path ports = fs::path(lookup.configHome) / "pantoline" / "ports";
  fs::create_directories(ports);
  fs::create_symlink(fs::path(lookup.devDir) / "ttyACM0", ports / "com3");
  fs::create_symlink(root.path() / "unplugged", ports / "com31");  // fails when opened

  const std::pair<const char*, const char*> cases[] = {
      {"\\\\.\\Com1", "ttyUSB0"}, {"\\\\.\\Com2", "ttyUSB2"}, {"\\\\.\\Com3", "com3"},
      {"\\\\.\\COM4", "ttyACM0"}, {"\\\\.\\cOm5", "ttyS0"},   {"\\\\.\\Com6", "ttyS12"},
      {"\\\\.\\Com7", ""},        {"\\\\.\\COM31", "com31"},  {"\\\\.\\COM32", ""},
      {"", ""},                   {"Com1", ""},               {"\\\\.\\Com", ""},
      {"\\\\.\\Com0", ""},        {"\\\\.\\Com01", ""},       {"\\\\.\\Com-1", ""},
      {"\\\\.\\Lpt1", ""},        {"\\\\.\\Com1 ", ""},       {"/dev/ttyUSB0", ""}};
  for (const auto& [name, device] : cases) {
    EXPECT_EQ(fs::path(ResolvePortDevice(name, lookup)).filename().string(), device) << name;
  }
}

}  // namespace
}  // namespace pantoline
