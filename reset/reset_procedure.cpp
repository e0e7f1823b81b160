#include "reset/reset_procedure.h"

#include <cstring>

#include "link/device_link.h"
#include "reset/reset_log.h"
#include "reset/stdio_file.h"

namespace pantoline {

ResetPackage::Status ResetPackage::Read(const char* name) {
  std::memset(buffer_.get(), 0, kPackageCapacity);
  length_ = 0;
  StdioFile file;
  if (!file.OpenForReading(name)) {
    return Status::kMissing;
  }
  const std::int32_t length = file.Length();
  if (length > kPackageCapacity) {
    file.Close();
    return Status::kTooLarge;
  }
  // Nothing to send: the unit would get only the end of transfer and the
  // run would end as if it had been updated.
  if (length == 0) {
    file.Close();
    return Status::kEmpty;
  }
  // A short read would send zeros in place of the missing bytes.
  if (file.Read(buffer_.get(), static_cast<std::uint32_t>(length)) != static_cast<std::uint32_t>(length)) {
    file.Raise(FileError::Cause::kGeneric);
  }
  file.Close();
  length_ = length;
  return Status::kLoaded;
}

const char* ResetPackage::Refusal(Status status) {
  switch (status) {
    case Status::kMissing: return "The ResetPack file could not be found!!";
    case Status::kTooLarge: return "The ResetPack file is too large!!";
    case Status::kEmpty: return "The ResetPack file is empty!!";
    case Status::kLoaded: break;
  }
  return nullptr;
}

namespace {

// The pause that leaves a failure's status on screen before the run goes
// on. A run asked to end has nobody to read it, and a desktop that ends
// its session gives the program only a few seconds.
void FailurePause(Clock& clock, const DeviceLink& link, std::uint32_t ms) {
  if (!link.StopRequested()) {
    clock.SleepMs(ms);
  }
}

// The stages after the unit was found on `link`: the end of Locate from
// "Found" on, Attach, Load and, after a failure, Load failed.
ResetOutcome LoadFoundUnit(ResetDisplay& display, Clock& clock, DeviceLink& link, ResetLog& log,
                           const ResetPackage& package, std::int64_t start) {
  char resultText[kResultTextCapacity];

  display.ShowStatus("...Lodestria Found...");
  clock.SleepMs(500);
  link.DescribeLastResult(resultText);
  log.Locate(resultText, link.portName);

  link.SetProgressCallback(display.ProgressContext(), display.ProgressReceiver());
  link.DescribeLastResult(resultText);
  log.Attach(resultText);

  display.ShowStatus("...Loading Initialized, Please wait...");
  const bool loaded = link.LoadPackage(package.data(), package.length()) == QV5SUCCESS;
  const ResetOutcome outcome{loaded ? ResetCourse::kUpdated : ResetCourse::kLoadFailed, link.lastResult,
                             link.portName};
  if (loaded) {
    display.ShowStatus("Lodestria Updated.  Click the EXIT button below.");
  } else {
    display.ShowStatus("Your Lodestria was NOT updated!");
    FailurePause(clock, link, 5000);
  }
  link.DescribeLastResult(resultText);
  log.Load(resultText);
  if (loaded) {
    // Whole minutes on the monotonic clock: a wall clock set back during
    // the run cannot make the count negative.
    log.Completion((clock.NowMs() - start) / 60'000);
    return outcome;
  }
  link.FinishDownload();
  display.ShowStatus("An error has occured. Turn OFF your Lodestria and try again.");
  return outcome;
}

// Finds the unit (on `port` alone, if given) and loads the package: the
// stages Locate, Attach, Load and, after a failure, Not found or Load
// failed.
ResetOutcome LoadUnit(ResetDisplay& display, SerialPorts& ports, Clock& clock, DeviceLink& link, ResetLog& log,
                      const ResetPackage& package, const char* port, std::int64_t start) {
  display.ShowStatus("...Attempting to locate the Lodestria...");
  ports.ClearAccessAdvice();
  const bool found = (port == nullptr ? link.FindDevice() : link.FindDeviceOn(port)) == QV5SUCCESS;
  if (found) {
    return LoadFoundUnit(display, clock, link, log, package, start);
  }
  display.ShowStatus("...Lodestria NOT Found...");
  FailurePause(clock, link, 2000);
  char resultText[kResultTextCapacity];
  link.DescribeLastResult(resultText);
  log.Locate(resultText, link.portName);
  const ResetOutcome outcome{ResetCourse::kNotFound, link.lastResult, link.portName};
  link.FinishDownload();
  display.ShowStatus(" Lodestria not found. Check your connections and try again.");
  // A port the user may not open, or one another program holds, is the
  // usual reason, and a desktop user never sees stderr.
  if (const char* advice = ports.AccessAdvice(); advice[0] != '\0') {
    display.ShowMessage(advice);
  }
  return outcome;
}

}  // namespace

namespace {

// The run itself; its link, port and log are released when it returns.
// *trouble receives the line that tells why no log could be written.
ResetOutcome RunReset(ResetDisplay& display, SerialPorts& ports, Clock& clock, const ResetOptions& options,
                      std::string* trouble) {
  const std::int64_t start = clock.NowMs();

  // Released in reverse order on every way out, an escaping FileError
  // included: the log, then the link and its port.
  DeviceLink link(ports, clock, options.stop);
  ResetPackage package;
  ResetLog log;

  if (log.Create(options.logFile, options.packageFile)) {
    log.Opening();
  } else if (log.isPackage()) {
    display.ShowMessage(ResetLog::kWouldOverwritePackage);
  }
  ResetOutcome outcome{ResetCourse::kPackageMissing};
  const ResetPackage::Status status = package.Read(options.packageFile);
  if (const char* refusal = ResetPackage::Refusal(status)) {
    display.ShowMessage(refusal);
  }
  switch (status) {
    case ResetPackage::Status::kMissing:
      display.ShowStatus("The ResetPack file not found. Please EXIT the program.");
      log.PackageMissing();
      break;
    case ResetPackage::Status::kTooLarge:
      outcome.course = ResetCourse::kPackageTooLarge;
      display.ShowStatus("The ResetPack file is too large. Please EXIT the program.");
      log.PackageTooLarge();
      break;
    case ResetPackage::Status::kEmpty:
      outcome.course = ResetCourse::kPackageEmpty;
      display.ShowStatus("The ResetPack file is empty. Please EXIT the program.");
      log.PackageEmpty();
      break;
    case ResetPackage::Status::kLoaded:
      display.SetProgressRange(package.length() / kProgressUnit);
      log.PackageFound();
      outcome = LoadUnit(display, ports, clock, link, log, package, options.port, start);
      break;
  }
  log.Closing();
  log.Close();
  *trouble = log.Trouble();
  return outcome;
}

}  // namespace

ResetOutcome OnReset(ResetDisplay& display, SerialPorts& ports, Clock& clock, const ResetOptions& options) {
  display.DisableReset();
  std::string trouble;
  const ResetOutcome outcome = RunReset(display, ports, clock, options, &trouble);
  // After the run, so that the unit's port is put back and closed while
  // the box waits for the user.
  if (!trouble.empty()) {
    display.ShowMessage(trouble.c_str());
  }
  return outcome;
}

void OnReset(ResetDisplay& display) { OnReset(display, SystemSerialPorts(), SystemClock()); }

ResetOutcome RunOnFoundUnit(ResetDisplay& display, DeviceLink& link, Clock& clock, const ResetPackage& package,
                            const char* packageFile, const char* logFile) {
  display.DisableReset();
  const std::int64_t start = clock.NowMs();
  ResetLog log;
  if (log.Create(logFile, packageFile)) {
    log.Opening();
  } else if (log.isPackage()) {
    display.ShowMessage(ResetLog::kWouldOverwritePackage);
  }
  display.SetProgressRange(package.length() / kProgressUnit);
  log.PackageFound();
  const ResetOutcome outcome = LoadFoundUnit(display, clock, link, log, package, start);
  log.Closing();
  log.Close();
  if (const std::string trouble = log.Trouble(); !trouble.empty()) {
    display.ShowMessage(trouble.c_str());
  }
  return outcome;
}

}  // namespace pantoline
