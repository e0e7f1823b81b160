#include "app/reset_app.h"

#include <cstdio>

#include "app/command_line.h"
#include "ui/reset_dialog.h"

namespace pantoline {
namespace {

constexpr char kUsage[] = R"(Usage: pantoline [OPTION]
Resets a Lodestria GPS unit: press RESET LODESTRIA in the window that opens.
Pantoline finds the unit on the serial ports it knows as COM1 to COM32, sends
it ResetPack.qv5 from the folder it is started in, and writes its log
ResetSystemLog.doc there.

  --help     print this text and exit
  --version  print the version and exit
GTK's options, such as --display=DISPLAY, are taken as well.
)";

enum : int { kVersion = 256 };

}  // namespace

std::optional<int> ResetApp::HandleCommandLine(int argc, char** argv) {
  constexpr CommandOption kOptions[] = {{"version", false, kVersion}};
  bool version = false;
  if (auto status = ParseCommandLine(argc, argv, kOptions, kUsage, [&](int, const char*) {
        version = true;
        return true;
      })) {
    return status;
  }
  if (version) {
    std::puts("Pantoline " PANTOLINE_VERSION);
    return 0;
  }
  return std::nullopt;
}

bool ResetApp::InitInstance() {
  ui::ResetDialog dialog;
  SetMainWindow(&dialog);
  dialog.DoModal();  // how it ended changes nothing
  SetMainWindow(nullptr);
  return false;
}

// The one application object, constructed before the toolkit's entry runs.
ResetApp theApp;

}  // namespace pantoline
