#include "app/cli/ports_command.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

namespace pantoline::cli {
namespace {

// What the port is, for the text listing: the last column.
std::string Description(const ListedPort& port) {
  std::string text;
  auto add = [&text](const std::string& part) {
    if (!part.empty()) {
      text += (text.empty() ? "" : ", ") + part;
    }
  };
  if (!port.present) {
    add("not present");
  }
  if (!port.vendorId.empty()) {
    std::string usb = "USB " + port.vendorId + ":" + port.productId;
    if (!port.product.empty()) {
      usb += " " + port.product;
    }
    add(usb);
    add(port.serial.empty() ? "" : "serial " + port.serial);
  }
  add(port.systemName);
  add(port.driver.empty() ? "" : "driver " + port.driver);
  add(port.leftOut.empty() ? "" : "left out of the search: " + port.leftOut);
  add(port.present && !port.mayOpen ? port.advice : "");
  return text;
}

std::string DeviceColumn(const ListedPort& port) {
  return port.target.empty() ? port.device : port.device + " -> " + port.target;
}

nlohmann::ordered_json Document(const std::vector<ListedPort>& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const ListedPort& port : ports) {
    nlohmann::ordered_json entry;
    entry["port"] = port.port.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(port.port);
    entry["device"] = port.device;
    if (!port.target.empty()) {
      entry["target"] = port.target;
    }
    if (!port.systemName.empty()) {
      entry["name"] = port.systemName;
    }
    entry["present"] = port.present;
    if (!port.vendorId.empty()) {
      entry["usb"] = {{"vendor", port.vendorId},
                      {"product", port.productId},
                      {"name", port.product},
                      {"serial", port.serial}};
    }
    if (!port.driver.empty()) {
      entry["driver"] = port.driver;
    }
    entry["access"] = port.mayOpen;
    if (!port.advice.empty()) {
      entry["advice"] = port.advice;
    }
    if (!port.leftOut.empty()) {
      entry["left_out"] = port.leftOut;
    }
    list.push_back(std::move(entry));
  }
  return {{"ports", std::move(list)}};
}

}  // namespace

int PrintPorts(const std::vector<ListedPort>& ports, bool json, std::FILE* out, std::FILE* err) {
  if (ports.empty()) {
    std::fputs("pantoline-cli: no serial ports found\n", err);
  }
  if (json) {
    // sysfs texts come from the device and need not be UTF-8.
    const std::string text =
        Document(ports).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fprintf(out, "%s\n", text.c_str());
    return 0;
  }
  std::size_t portWidth = 0;
  std::size_t deviceWidth = 0;
  for (const ListedPort& port : ports) {
    portWidth = std::max(portWidth, std::max<std::size_t>(port.port.size(), 1));
    deviceWidth = std::max(deviceWidth, DeviceColumn(port).size());
  }
  for (const ListedPort& port : ports) {
    const std::string line = (port.port.empty() ? "-" : port.port) +
                             std::string(portWidth + 2 - std::max<std::size_t>(port.port.size(), 1), ' ') +
                             DeviceColumn(port);
    const std::string what = Description(port);
    std::fprintf(out, "%s%s%s\n", line.c_str(),
                 what.empty() ? "" : std::string(portWidth + 2 + deviceWidth + 2 - line.size(), ' ').c_str(),
                 what.c_str());
  }
  return 0;
}

int RunPortsCommand(bool json, std::FILE* out, std::FILE* err) {
  return PrintPorts(ListPorts(), json, out, err);
}

}  // namespace pantoline::cli
