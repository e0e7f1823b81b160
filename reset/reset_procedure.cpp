#include "reset/reset_procedure.h"

#include <cstring>

#include "link/device_link.h"
#include "reset/reset_log.h"
#include "reset/stdio_file.h"

namespace pantoline {
namespace {

// The package lives here for the whole run, so that the transfer never
// allocates and never waits on the disk.
std::uint8_t packageBuffer[kPackageCapacity];

enum class Package { kLoaded, kMissing, kTooLarge, kEmpty };

// Reads the package whole into packageBuffer; *length receives its size.
Package ReadPackage(StdioFile& file, std::int32_t* length) {
  if (!file.OpenForReading(kPackageFileName)) {
    return Package::kMissing;
  }
  *length = file.Length();
  if (*length > kPackageCapacity) {
    file.Close();
    return Package::kTooLarge;
  }
  // Nothing to send: the unit would get only the end of transfer and the
  // run would end as if it had been updated.
  if (*length == 0) {
    file.Close();
    return Package::kEmpty;
  }
  // A short read would send zeros in place of the missing bytes.
  if (file.Read(packageBuffer, static_cast<std::uint32_t>(*length)) !=
      static_cast<std::uint32_t>(*length)) {
    file.Raise(FileError::Cause::kGeneric);
  }
  file.Close();
  return Package::kLoaded;
}

// Finds the unit and loads the package: the stages Locate, Attach, Load
// and, after a failure, Not found or Load failed.
void LoadUnit(ResetDisplay& display, SerialPorts& ports, Clock& clock, DeviceLink& link,
              ResetLog& log, std::int32_t length, std::int64_t start) {
  char resultText[kResultTextCapacity];

  display.ShowStatus("...Attempting to locate the Lodestria...");
  ports.ClearAccessAdvice();
  const bool found = link.FindDevice() == QV5SUCCESS;
  if (found) {
    display.ShowStatus("...Lodestria Found...");
    clock.SleepMs(500);
  } else {
    display.ShowStatus("...Lodestria NOT Found...");
    clock.SleepMs(2000);
  }
  link.DescribeLastResult(resultText);
  log.Locate(resultText, link.portName);
  if (!found) {
    link.FinishDownload();
    display.ShowStatus(" Lodestria not found. Check your connections and try again.");
    // A port the user may not open, or one another program holds, is the
    // usual reason, and a desktop user never sees stderr.
    if (const char* advice = ports.AccessAdvice(); advice[0] != '\0') {
      display.ShowMessage(advice);
    }
    return;
  }

  link.SetProgressCallback(display.ProgressContext(), display.ProgressReceiver());
  link.DescribeLastResult(resultText);
  log.Attach(resultText);

  display.ShowStatus("...Loading Initialized, Please wait...");
  const bool loaded = link.LoadPackage(packageBuffer, length) == QV5SUCCESS;
  if (loaded) {
    display.ShowStatus("Lodestria Updated.  Click the EXIT button below.");
  } else {
    display.ShowStatus("Your Lodestria was NOT updated!");
    clock.SleepMs(5000);
  }
  link.DescribeLastResult(resultText);
  log.Load(resultText);
  if (loaded) {
    // Whole minutes on the monotonic clock: a wall clock set back during
    // the run cannot make the count negative.
    log.Completion((clock.NowMs() - start) / 60'000);
    return;
  }
  link.FinishDownload();
  display.ShowStatus("An error has occured. Turn OFF your Lodestria and try again.");
}

}  // namespace

void OnReset(ResetDisplay& display, SerialPorts& ports, Clock& clock) {
  display.DisableReset();
  const std::int64_t start = clock.NowMs();

  // Released in reverse order on every way out, an escaping FileError
  // included: the package, then the log, then the link and its port.
  DeviceLink link(ports, clock);
  ResetLog log;
  StdioFile packageFile;
  std::memset(packageBuffer, 0, sizeof packageBuffer);

  if (log.Create(kPackageFileName)) {
    log.Opening();
  } else if (log.isPackage()) {
    display.ShowMessage(ResetLog::kWouldOverwritePackage);
  }
  std::int32_t length = 0;
  switch (ReadPackage(packageFile, &length)) {
    case Package::kMissing:
      display.ShowMessage("The ResetPack file could not be found!!");
      display.ShowStatus("The ResetPack file not found. Please EXIT the program.");
      log.PackageMissing();
      break;
    case Package::kTooLarge:
      display.ShowMessage("The ResetPack file is too large!!");
      display.ShowStatus("The ResetPack file is too large. Please EXIT the program.");
      log.PackageTooLarge();
      break;
    case Package::kEmpty:
      display.ShowMessage("The ResetPack file is empty!!");
      display.ShowStatus("The ResetPack file is empty. Please EXIT the program.");
      log.PackageEmpty();
      break;
    case Package::kLoaded:
      display.SetProgressRange(length / kProgressUnit);
      log.PackageFound();
      LoadUnit(display, ports, clock, link, log, length, start);
      break;
  }
  log.Closing();
  log.Close();
  if (const std::string trouble = log.Trouble(); !trouble.empty()) {
    display.ShowMessage(trouble.c_str());
  }
}

void OnReset(ResetDisplay& display) { OnReset(display, SystemSerialPorts(), SystemClock()); }

}  // namespace pantoline
