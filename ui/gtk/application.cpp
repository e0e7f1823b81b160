// The application object on GTK 3.
#include "ui/application.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "ui/gtk/toolkit.h"

namespace pantoline::ui {
namespace {

// The executable's file name without folder and extension, taken from the
// file the process runs, so that a renamed program is named by its new
// name; from the command it was started with where that cannot be read.
std::string ExecutableName(const char* argv0) {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string file = length > 0 ? std::string(path, static_cast<std::size_t>(length))
                                : std::string(argv0 != nullptr ? argv0 : "");
  if (const auto slash = file.rfind('/'); slash != std::string::npos) {
    file.erase(0, slash + 1);
  }
  if (const auto dot = file.rfind('.'); dot != std::string::npos && dot > 0) {
    file.erase(dot);
  }
  return file;
}

}  // namespace

int Application::Run(int argc, char** argv) {
  appName_ = ExecutableName(argc > 0 ? argv[0] : nullptr);
  // GTK's own options (--display and the like) first: they open nothing.
  if (!gtk_parse_args(&argc, &argv)) {
    return 2;
  }
  if (const std::optional<int> status = HandleCommandLine(argc, argv)) {
    return *status;
  }
  gtk::InitTrace();
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "%s: cannot open the display\n", appName_.c_str());
    return 1;
  }
  InitInstance();  // false: the program ends, there is no loop of its own
  // A run that a signal ended ended soundly, but the program still ends
  // as the signal asked, in the status a shell expects of it.
  const int signal = gtk::EndingSignal();
  return signal != 0 ? 128 + signal : 0;
}

}  // namespace pantoline::ui
