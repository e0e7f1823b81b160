#include <io.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <string>

#include "app/cli/cli_platform.h"

namespace pantoline::cli {
namespace {

RunStop* stopRequest = nullptr;
std::atomic<int> interruptions{0};
HANDLE runsClosed = nullptr;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (interruptions.fetch_add(1) > 0) {
    ExitProcess(130);
  }
  stopRequest->Request();
  if (event == CTRL_CLOSE_EVENT) {
    // The system ends the process once this returns: let the runs close
    // their logs first, within the few seconds it grants.
    WaitForSingleObject(runsClosed, 4500);
  }
  return TRUE;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  if (_isatty(_fileno(stream)) == 0) {
    return false;
  }
  const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) != 0 &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  return GetConsoleScreenBufferInfo(console, &info) ? info.srWindow.Right - info.srWindow.Left + 1 : 0;
}

void InstallInterruptHandlers(RunStop& stop) {
  stopRequest = &stop;
  runsClosed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void RunsClosed() {
  if (runsClosed != nullptr) {
    SetEvent(runsClosed);
  }
}

bool TakesDevicePaths() { return false; }

std::string DeviceOf(const char* name) {
  std::string device = name;
  for (char& c : device) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return device;
}

}  // namespace pantoline::cli
