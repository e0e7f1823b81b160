// `pantoline-cli ports` on a made-up /dev and /sys: which device each COMn
// is, what sysfs says of it, who may open it, the console left out, and the
// same list as JSON and as aligned lines.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/ports_command.h"
#include "link/port_access_posix.h"
#include "link/port_listing_posix.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged_posix.h"

namespace pantoline {
namespace {

namespace fs = std::filesystem;

// A machine with a USB serial adapter (ttyUSB0), a USB modem this user may
// not open (ttyACM0), UARTs behind the serial core's own devices (ttyS0,
// ttyS1, ttyS3; ttyS0 and ttyS3 the kernel's consoles), a ttyS without a UART
// (ttyS2), and pins: COM3 to ttyS1, COM7 to an unplugged adapter, COM8 to
// the console ttyS3, COM31 through /dev/serial/by-id to ttyUSB0.
class FakeMachine {
 public:
  FakeMachine() {
    const std::string usb = "sys/devices/usb1/", tty = "sys/class/tty/";
    for (const char* name : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3"}) {
      Write(std::string("dev/") + name, "");
      fs::permissions(Dev(name), fs::perms(0666));
    }
    fs::permissions(Dev("ttyACM0"), fs::perms::none);
    // The root hub is a USB device too: the nearest one names the adapter.
    const std::pair<std::string, std::string> files[] = {
        {usb + "idVendor", "1d6b"}, {usb + "idProduct", "0002"}, {usb + "product", "root hub"},
        {usb + "1-1/idVendor", "0403"}, {usb + "1-1/idProduct", "6001"},
        {usb + "1-1/product", "FT232R USB UART"}, {usb + "1-1/serial", "A50285BI"},
        // A product name that is not UTF-8, as a cheap device may report it.
        {usb + "1-2/idVendor", "2341"}, {usb + "1-2/idProduct", "0043"}, {usb + "1-2/product", "Uno \xb5"},
        {tty + "console/active", "tty0 ttyS0 ttyS3"}};
    for (const auto& [file, text] : files) Write(file, text + "\n");
    auto device = [&](const std::string& dir, const std::string& driver, const std::string& name = "") {
      fs::create_directories(At("sys/bus/" + driver));
      fs::create_directories(At(dir));
      Link(dir + "/driver", At("sys/bus/" + driver));
      if (!name.empty()) Link(tty + name + "/device", At(dir));
    };
    device(usb + "1-1/1-1:1.0", "usb/drivers/ftdi_sio");
    device(usb + "1-1/1-1:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio", "ttyUSB0");
    device(usb + "1-2/1-2:1.0", "usb/drivers/cdc_acm", "ttyACM0");
    for (const std::string n : {"0", "1", "2", "3"}) {
      const std::string uart = "sys/devices/pnp0/00:0/" + n;
      device(uart, "pnp/drivers/serial");
      device(uart + "/ctrl", "serial-base/drivers/ctrl");
      device(uart + "/ctrl/port", "serial-base/drivers/port", "ttyS" + n);
      Write(tty + "ttyS" + n + "/type", n == "2" ? "0\n" : "4\n");
    }
    Link(Dev("serial/by-id/usb-FTDI-if00-port0"), Dev("ttyUSB0"));
    Link(Pin(3), Dev("ttyS1"));
    Link(Pin(7), At("unplugged"));
    Link(Pin(8), Dev("ttyS3"));
    Link(Pin(31), Dev("serial/by-id/usb-FTDI-if00-port0"));
    // Only the user "nobody" must get through the folders.
    fs::permissions(root_.path(), fs::perms::others_exec, fs::perm_options::add);
  }

  PortLookup lookup() const { return {At("config").string(), At("dev").string(), At("sys/class/tty").string()}; }
  fs::path At(const fs::path& path) const { return root_.path() / path; }
  fs::path Dev(const std::string& name) const { return At("dev/" + name); }
  fs::path Pin(int number) const { return At("config/pantoline/ports/com" + std::to_string(number)); }

 private:
  void Write(const fs::path& file, const std::string& text) const {
    fs::create_directories(At(file).parent_path());
    testing::WriteFile(At(file), text);
  }
  void Link(const fs::path& link, const fs::path& target) const {
    fs::create_directories(At(link).parent_path());
    fs::create_symlink(target, At(link));
  }

  testing::TempDir root_;
};

std::string Captured(std::FILE* file) {
  std::rewind(file);
  std::ostringstream text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.put(static_cast<char>(c));
  std::fclose(file);
  return text.str();
}

// The JSON document says all the listing knows, and leaves out what it
// does not.
TEST(PortsCommand, ListsThePortsInSearchOrderWithWhatSysfsAndThePermissionsSay) {
  FakeMachine machine;
  const std::vector<ListedPort> ports =
      testing::AsUnprivileged([&machine] { return ListPorts(machine.lookup()); });
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(cli::PrintPorts(ports, true, out, err), 0);
  EXPECT_EQ(Captured(err), "");

  using Json = nlohmann::json;
  const std::string usb0 = machine.Dev("ttyUSB0").string(), acm0 = machine.Dev("ttyACM0").string();
  const Json ftdi = {{"vendor", "0403"}, {"product", "6001"}, {"name", "FT232R USB UART"}, {"serial", "A50285BI"}};
  auto pin = [&machine](int number, const fs::path& target, const Json& more) {
    Json entry = {{"port", "COM" + std::to_string(number)}, {"device", machine.Pin(number).string()},
                  {"target", target.string()}, {"present", true}};
    entry.update(more);
    return entry;
  };
  const std::vector<Json> expected = {
      {{"port", "COM1"}, {"device", usb0}, {"present", true}, {"usb", ftdi}, {"driver", "ftdi_sio"},
       {"access", true}},
      // The product name that is not UTF-8 has its byte replaced.
      {{"port", "COM2"}, {"device", acm0}, {"present", true},
       {"usb", {{"vendor", "2341"}, {"product", "0043"}, {"name", "Uno \xef\xbf\xbd"}, {"serial", ""}}},
       {"driver", "cdc_acm"}, {"access", false}, {"advice", NoPermissionAdvice(acm0)}},
      pin(3, machine.Dev("ttyS1"), {{"driver", "serial"}, {"access", true}}),
      pin(7, machine.At("unplugged"), {{"present", false}, {"access", false}}),
      pin(8, machine.Dev("ttyS3"), {{"driver", "serial"}, {"access", true}}),
      pin(31, usb0, {{"usb", ftdi}, {"driver", "ftdi_sio"}, {"access", true}}),
      {{"port", nullptr}, {"device", machine.Dev("ttyS0").string()}, {"present", true}, {"driver", "serial"},
       {"access", true}, {"left_out", "the kernel's console"}},
  };
  EXPECT_EQ(Json::parse(Captured(out)), Json({{"ports", expected}}));
}

// One line per port, its description in one column, what it is in words.
TEST(PortsCommand, PrintsOneAlignedLinePerPortAndSaysWhenThereIsNone) {
  ListedPort usb{.port = "COM1", .device = "/dev/ttyUSB0", .vendorId = "0403", .productId = "6001",
                 .product = "FT232R", .serial = "A5", .driver = "ftdi_sio"};
  ListedPort pin{.port = "COM31", .device = "/home/u/pin", .target = "/dev/ttyACM0", .driver = "cdc_acm",
                 .mayOpen = false, .advice = "no permission to open /dev/ttyACM0: ask"};
  ListedPort console{.device = "/dev/ttyS0", .driver = "serial", .leftOut = "the kernel's console"};
  ListedPort windows{.port = "COM45", .device = "\\\\.\\COM45", .systemName = "\\Device\\VCP0"};
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(cli::PrintPorts({usb, pin, console, windows}, false, out, err), 0);
  EXPECT_EQ(Captured(out),
            "COM1   /dev/ttyUSB0                 USB 0403:6001 FT232R, serial A5, driver ftdi_sio\n"
            "COM31  /home/u/pin -> /dev/ttyACM0  driver cdc_acm, no permission to open /dev/ttyACM0: ask\n"
            "-      /dev/ttyS0                   driver serial, left out of the search: the kernel's console\n"
            "COM45  \\\\.\\COM45                    \\Device\\VCP0\n");
  EXPECT_EQ(Captured(err), "");

  for (const bool json : {false, true}) {
    out = std::tmpfile();
    err = std::tmpfile();
    EXPECT_EQ(cli::PrintPorts({}, json, out, err), 0);
    EXPECT_EQ(Captured(out), json ? "{\n  \"ports\": []\n}\n" : "");
    EXPECT_EQ(Captured(err), "pantoline-cli: no serial ports found\n");
  }
}

}  // namespace
}  // namespace pantoline
