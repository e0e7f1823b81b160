// Application on plain Win32: the start-up that the entry runs.
#include "ui/application.h"

#include "ui/win32/app_name.h"
#include "ui/win32/win32.h"

namespace pantoline::ui {

int Application::Run(int argc, char** argv) {
  // The program has no command line.
  (void)argc;
  (void)argv;
  appName_ = ModuleAppName();
  // Dialog templates name the progress bar's window class; it exists only
  // once the common controls have registered it.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
  if (!InitInstance()) {
    return 0;
  }
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace pantoline::ui
