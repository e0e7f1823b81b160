// The application object through which the toolkit starts and ends the
// program: exactly one, a global instance, constructed before the
// toolkit's entry runs. The toolkit's entry initialises the platform
// (registering the common controls before any dialog exists), then calls
// InitInstance; when that returns false the program ends.
#pragma once

#include <optional>
#include <string>

namespace pantoline::ui {

class Dialog;

class Application {
 public:
  Application();
  virtual ~Application();

  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The one application object, or nullptr before it is constructed.
  static Application* Current();

  // Reads the command line before the toolkit starts, so that it works
  // without a display. Returns the status to end the program with at
  // once, or nothing to go on. The Windows program has no command line
  // and never asks.
  virtual std::optional<int> HandleCommandLine(int /*argc*/, char** /*argv*/) {
    return std::nullopt;
  }

  // The program's start-up work. False: end the program (no message loop
  // of the toolkit's own follows).
  virtual bool InitInstance() = 0;

  // The program's top-level window, owner of the dialogs it opens.
  void SetMainWindow(Dialog* dialog) { mainWindow_ = dialog; }
  Dialog* MainWindow() const { return mainWindow_; }

  // The executable's file name without folder and extension: the caption
  // of every message box that has none of its own.
  const std::string& AppName() const { return appName_; }

  // The toolkit's entry: called by the platform's main function.
  int Run(int argc, char** argv);

 private:
  Dialog* mainWindow_ = nullptr;
  std::string appName_;
};

}  // namespace pantoline::ui
