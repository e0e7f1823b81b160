// The reset: from the RESET button to the last status text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/clock.h"
#include "link/device_link.h"
#include "link/run_stop.h"
#include "link/serial_port.h"
#include "reset/reset_display.h"

namespace pantoline {

// The package the unit is loaded with, read whole from the working
// directory, and the largest one that fits the buffer.
inline constexpr char kPackageFileName[] = "ResetPack.qv5";
inline constexpr std::int32_t kPackageCapacity = 458'751;
// The progress bar counts in units of this many bytes.
inline constexpr std::int32_t kProgressUnit = 1028;
// The reset log's name unless a run is given another.
inline constexpr char kLogFileName[] = "ResetSystemLog.doc";

// The package, read whole before any port is touched, so that a transfer
// never waits on the disk and allocates nothing. Read once, it may be
// shared read-only by runs on several threads.
class ResetPackage {
 public:
  enum class Status { kLoaded, kMissing, kTooLarge, kEmpty };

  // Reads the file `name` (a regular file only) into the buffer, which is
  // cleared first. A read that fails before the end raises FileError.
  Status Read(const char* name);
  // The message box's text for a package that cannot be used; null for
  // kLoaded.
  static const char* Refusal(Status status);

  const std::uint8_t* data() const { return buffer_.get(); }
  std::int32_t length() const { return length_; }

 private:
  std::unique_ptr<std::uint8_t[]> buffer_ = std::make_unique<std::uint8_t[]>(kPackageCapacity);
  std::int32_t length_ = 0;
};

// How a run ended: the package courses end before any port is opened.
enum class ResetCourse { kPackageMissing, kPackageTooLarge, kPackageEmpty, kNotFound, kLoadFailed, kUpdated };

struct ResetOutcome {
  ResetCourse course;
  // The code of the run's last log entry with a code (locate or load);
  // QV5SUCCESS for the package courses, which have none.
  ResultCode result = QV5SUCCESS;
  // The link's portName as the locate entry gives it; empty before.
  std::string port = {};
};

// What a run takes from its caller beyond the display; the defaults are
// the window's.
struct ResetOptions {
  const char* packageFile = kPackageFileName;
  const char* logFile = kLogFileName;
  // Greet only this port (see DeviceLink::FindDeviceOn); null: the search.
  const char* port = nullptr;
  // Borrowed, may be null: once requested the run ends by the shortest
  // sound course (see DeviceLink::SetStop).
  const RunStop* stop = nullptr;
};

// Runs one reset on `display`, with the link on `ports` and every pause on
// `clock`: reads the package, finds the unit, loads it, reports each stage
// in the status line and the reset log. When no unit is found and the
// ports have advice for the user (a port the user may not open, or one
// that another program holds), a message box shows it after the last
// status. A log that would overwrite the package is not written, and a box
// says so before the run; a log that cannot be created for any other
// reason is named, with the system's reason, in a box after the last
// status. Returns when the run is over,
// whatever its outcome; both files and the link are released on every way
// out. A failing file operation raises FileError, which leaves the run at
// once and is the caller's to report. Runs on several threads at once
// share nothing but `ports`, `clock` and the files they are given.
ResetOutcome OnReset(ResetDisplay& display, SerialPorts& ports, Clock& clock, const ResetOptions& options = {});
// The same on the system's serial ports and clock.
void OnReset(ResetDisplay& display);

// The rest of a run on a unit that a search has found on `link` (connected,
// in download mode): the log `logFile` gets what a run that found the unit there
// writes, from its opening entry to its closing entry; the display gets
// the texts from "...Lodestria Found..." on. `package` has been read
// (kLoaded) from `packageFile`, which the log never overwrites, and is
// only read. The boxes and FileError as OnReset.
ResetOutcome RunOnFoundUnit(ResetDisplay& display, DeviceLink& link, Clock& clock, const ResetPackage& package,
                            const char* packageFile, const char* logFile);

}  // namespace pantoline
