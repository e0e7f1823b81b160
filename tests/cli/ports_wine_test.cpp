// `pantoline-cli ports` under Wine, run by `wine_prefix.sh line`: COM3 and
// COM4 are the line's ports and exist only as Wine's device links; COM45
// exists only as a serial driver's entry. Nothing else is a port.
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "app/cli/ports_command.h"

namespace pantoline {
namespace {

// What serial drivers enter: a device name for COM3 and for COM45.
class DriverEntries {
 public:
  DriverEntries() {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE, nullptr, &key_, nullptr);
    for (const auto& [name, port] : kEntries) {
      RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(port), std::strlen(port) + 1);
    }
  }
  ~DriverEntries() {
    for (const auto& entry : kEntries) RegDeleteValueA(key_, entry.first);
    RegCloseKey(key_);
  }

 private:
  static constexpr std::pair<const char*, const char*> kEntries[] = {{"\\Device\\Serial2", "COM3"},
                                                                     {"\\Device\\VCP0", "COM45"}};
  HKEY key_ = nullptr;
};

TEST(PortsCommand, ListsTheFixedNamesThatExistThenTheListedPortsAbove32) {
  DriverEntries entries;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(cli::RunPortsCommand(true, out, err), 0);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  EXPECT_EQ(nlohmann::json::parse(text),
            nlohmann::json::parse(R"({"ports": [
              {"port": "COM3", "device": "\\\\.\\COM3", "name": "\\Device\\Serial2", "present": true,
               "access": true},
              {"port": "COM4", "device": "\\\\.\\COM4", "present": true, "access": true},
              {"port": "COM45", "device": "\\\\.\\COM45", "name": "\\Device\\VCP0", "present": true,
               "access": true}]})"));
  std::fclose(out);
  std::fclose(err);
}

}  // namespace
}  // namespace pantoline
