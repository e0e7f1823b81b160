#include "app/cli/reset_command.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "app/cli/cli_platform.h"
#include "app/cli/console.h"
#include "link/device_link.h"
#include "reset/file_error.h"
#include "reset/reset_procedure.h"

namespace pantoline::cli {
namespace {

// One unit's display: its status lines and progress go to the console,
// the message boxes' texts to stderr; what the summary and the JSON
// document need is kept.
class UnitDisplay final : public ResetDisplay {
 public:
  UnitDisplay(Console& console, int unit) : console_(console), unit_(unit) {}

  void DisableReset() override {}
  void ShowStatus(const char* text) override {
    status = text;
    console_.Status(unit_, text);
  }
  void SetProgressRange(int) override {}
  void ShowMessage(const char* text) override {
    message = text;
    console_.Error(text);
  }
  ProgressCallback ProgressReceiver() override {
    return [](void* context, std::int32_t bytes, std::int32_t) {
      auto* display = static_cast<UnitDisplay*>(context);
      if (bytes >= 0) display->bytes = bytes;
      display->console_.Progress(display->unit_, bytes);
    };
  }
  void* ProgressContext() override { return this; }

  std::string status;
  std::string message;
  std::int32_t bytes = 0;

 private:
  Console& console_;
  int unit_;
};

// "COM3" of "\\.\Com3"; a device path as it is.
std::string ComName(const std::string& name) {
  if (name.size() > 7 && name.compare(0, 4, "\\\\.\\") == 0) {
    return "COM" + name.substr(7);
  }
  return name;
}

// One unit's row of the summary and the JSON document.
struct UnitReport {
  std::string name;  // the link's port name
  std::string log;
  ResetOutcome outcome{ResetCourse::kNotFound};
  std::string status;
  std::int32_t bytes = 0;
  double seconds = 0;
};

nlohmann::ordered_json UnitJson(const UnitReport& r, std::int32_t packageLength) {
  char text[kResultTextCapacity];
  DescribeResult(r.outcome.result, text);
  const char* colon = std::strchr(text, ':');
  std::string name = colon ? std::string(text, static_cast<std::size_t>(colon - text)) : std::string(text);
  std::string words = colon ? colon + 1 : "";
  words.erase(0, words.find_first_not_of(' '));
  words.erase(words.find_last_not_of(' ') + 1);
  const bool updated = r.outcome.course == ResetCourse::kUpdated;
  return {{"port", ComName(r.name)},
          {"device", DeviceOf(r.name.c_str())},
          {"updated", updated},
          {"status", r.status},
          {"result", name},
          {"text", words},
          {"bytes", updated ? packageLength : std::min(r.bytes, packageLength)},
          {"seconds", r.seconds},
          {"log", std::filesystem::absolute(r.log).string()}};
}

const char* Outcome(const UnitReport& r) {
  switch (r.outcome.course) {
    case ResetCourse::kUpdated: return "updated";
    case ResetCourse::kLoadFailed: return "NOT updated";
    default: return "not found";
  }
}

// The document, the exit status's error text if any.
void PrintJson(const std::vector<UnitReport>& reports, std::int32_t packageLength, const std::string& error) {
  nlohmann::ordered_json units = nlohmann::ordered_json::array();
  int updated = 0;
  for (const UnitReport& r : reports) {
    units.push_back(UnitJson(r, packageLength));
    updated += r.outcome.course == ResetCourse::kUpdated;
  }
  nlohmann::ordered_json document = {{"units", units},
                             {"updated", updated},
                             {"failed", static_cast<int>(reports.size()) - updated}};
  if (!error.empty()) {
    document["error"] = error;
  }
  std::printf("%s\n", document.dump(2).c_str());
}

double SecondsSince(Clock& clock, std::int64_t startMs) { return (clock.NowMs() - startMs) / 1000.0; }

int StatusOf(const std::vector<UnitReport>& reports, const RunStop& stop) {
  if (stop.Requested()) return kExitInterrupted;
  for (const UnitReport& r : reports) {
    if (r.outcome.course != ResetCourse::kUpdated) return kExitNotUpdated;
  }
  return kExitUpdated;
}

std::int32_t FileLength(const std::string& name) {
  std::error_code error;
  const auto size = std::filesystem::file_size(name, error);
  return error || size > static_cast<std::uintmax_t>(kPackageCapacity) ? 0 : static_cast<std::int32_t>(size);
}

int ResetOne(const ResetRequest& request, SerialPorts& ports, Clock& clock, const RunStop& stop,
             Console& console) {
  const std::int32_t length = FileLength(request.package);
  UnitDisplay display(console, console.AddUnit("", length));
  const std::int64_t start = clock.NowMs();
  ResetOptions options;
  options.packageFile = request.package.c_str();
  options.logFile = request.log.c_str();
  options.port = request.port.empty() ? nullptr : request.port.c_str();
  options.stop = &stop;
  UnitReport report;
  report.outcome = OnReset(display, ports, clock, options);
  RunsClosed();
  report.log = request.log;
  report.status = display.status;
  report.bytes = display.bytes;
  report.seconds = SecondsSince(clock, start);
  std::vector<UnitReport> reports;
  int status = kExitNotFound;
  std::string error;
  switch (report.outcome.course) {
    case ResetCourse::kPackageMissing:
    case ResetCourse::kPackageTooLarge:
    case ResetCourse::kPackageEmpty:
      status = kExitPackage;
      error = display.message;
      break;
    case ResetCourse::kNotFound:
      error = "Lodestria not found. Check your connections and try again.";
      break;
    default:
      report.name = report.outcome.port;
      reports.push_back(report);
      status = StatusOf(reports, stop);
      break;
  }
  if (status == kExitNotFound && stop.Requested()) status = kExitInterrupted;
  if (request.json) PrintJson(reports, length, error);
  return status;
}

int ResetAll(const ResetRequest& request, SerialPorts& ports, Clock& clock, const RunStop& stop,
             Console& console) {
  ResetPackage package;
  int general = console.AddUnit("", 0);
  if (const char* refusal = ResetPackage::Refusal(package.Read(request.package.c_str()))) {
    console.Error(refusal);
    if (request.json) PrintJson({}, 0, refusal);
    return kExitPackage;
  }

  // The search: every port the window's search would try, in its order,
  // each greeted on a link of its own that stays with the unit found.
  console.Status(general, "...Attempting to locate the Lodestria...");
  ports.ClearAccessAdvice();
  static char names[kMaxSearchedPorts][kPortNameSlot];
  const int count = DeviceLink::SearchOrder(ports, names, kMaxSearchedPorts);
  std::vector<std::unique_ptr<DeviceLink>> links;
  for (int i = 0; i < count && !stop.Requested(); ++i) {
    auto link = std::make_unique<DeviceLink>(ports, clock, &stop);
    if (link->FindDeviceOn(names[i]) == QV5SUCCESS) {
      links.push_back(std::move(link));
    }
  }
  if (links.empty()) {
    console.Status(general, "...Lodestria NOT Found...");
    console.Status(general, " Lodestria not found. Check your connections and try again.");
    if (const char* advice = ports.AccessAdvice(); advice[0] != '\0') console.Error(advice);
    if (request.json) PrintJson({}, package.length(), "Lodestria not found. Check your connections and try again.");
    return stop.Requested() ? kExitInterrupted : kExitNotFound;
  }

  std::vector<UnitReport> reports(links.size());
  std::vector<std::unique_ptr<UnitDisplay>> displays;
  for (std::size_t i = 0; i < links.size(); ++i) {
    reports[i].name = links[i]->portName;
    reports[i].log = "ResetSystemLog-" + ComName(reports[i].name) + ".doc";
    displays.push_back(
        std::make_unique<UnitDisplay>(console, console.AddUnit(ComName(reports[i].name) + ": ", package.length())));
  }
  std::vector<std::thread> runs;
  std::vector<std::string> failures(links.size());
  for (std::size_t i = 0; i < links.size(); ++i) {
    runs.emplace_back([&, i] {
      const std::int64_t start = clock.NowMs();
      try {
        reports[i].outcome = RunOnFoundUnit(*displays[i], *links[i], clock, package, request.package.c_str(),
                                             reports[i].log.c_str());
      } catch (const FileError& e) {
        reports[i].outcome = {ResetCourse::kLoadFailed, QV5UNKNOWNERROR};
        failures[i] = e.what();
      }
      links[i].reset();  // the port closes with its run
      reports[i].seconds = SecondsSince(clock, start);
      reports[i].status = displays[i]->status;
      reports[i].bytes = displays[i]->bytes;
    });
  }
  for (std::thread& run : runs) run.join();
  RunsClosed();
  for (const std::string& failure : failures) {
    if (!failure.empty()) console.Error("pantoline-cli: " + failure);
  }

  console.Line("");
  console.Line("PORT    OUTCOME       TIME");
  for (const UnitReport& r : reports) {
    char row[96];
    std::snprintf(row, sizeof row, "%-7s %-13s %4.0f s", ComName(r.name).c_str(), Outcome(r), r.seconds);
    console.Line(row);
  }
  if (request.json) PrintJson(reports, package.length(), {});
  return StatusOf(reports, stop);
}

}  // namespace

bool PortNameOf(const std::string& port, std::string* name) {
  std::string text = port;
  if (text.compare(0, 4, "\\\\.\\") == 0) text.erase(0, 4);
  const bool com = text.size() >= 4 && text.size() <= 6 && std::tolower(text[0]) == 'c' &&
                   std::tolower(text[1]) == 'o' && std::tolower(text[2]) == 'm' && text[3] != '0' &&
                   text.find_first_not_of("0123456789", 3) == std::string::npos;
  if (com) {
    const int number = std::stoi(text.substr(3));
    if (number < 1 || number > 256) return false;
    *name = number <= kCandidatePortCount ? kCandidatePorts[number - 1] : "\\\\.\\COM" + std::to_string(number);
    return true;
  }
  if (TakesDevicePaths() && !port.empty() && port[0] == '/' &&
      port.size() < static_cast<std::size_t>(DeviceLink::kPortNameCapacity)) {
    *name = port;
    return true;
  }
  return false;
}

int RunResetCommand(const ResetRequest& request, SerialPorts& ports, Clock& clock, const RunStop& stop) {
  std::FILE* out = request.json ? stderr : stdout;
  Console console(out, IsTerminal(out), request.quiet);
  try {
    return request.all ? ResetAll(request, ports, clock, stop, console)
                       : ResetOne(request, ports, clock, stop, console);
  } catch (const FileError& e) {
    RunsClosed();
    console.Error(std::string("pantoline-cli: ") + e.what());
    return kExitNotUpdated;
  }
}

}  // namespace pantoline::cli
