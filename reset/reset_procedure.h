// The reset: from the RESET button to the last status text.
#pragma once

#include <cstdint>

#include "link/clock.h"
#include "link/serial_port.h"
#include "reset/reset_display.h"

namespace pantoline {

// The package the unit is loaded with, read whole from the working
// directory, and the largest one that fits the buffer.
inline constexpr char kPackageFileName[] = "ResetPack.qv5";
inline constexpr std::int32_t kPackageCapacity = 458'751;
// The progress bar counts in units of this many bytes.
inline constexpr std::int32_t kProgressUnit = 1028;

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
// once and is the caller's to report. Not reentrant: the package buffer is
// the process's one.
void OnReset(ResetDisplay& display, SerialPorts& ports, Clock& clock);
// The same on the system's serial ports and clock.
void OnReset(ResetDisplay& display);

}  // namespace pantoline
