// pantoline-bench-dialog.exe: the Windows program's main dialog (its own
// ResetDialog on the Win32 layer) through a whole reset, for the
// benchmark's Wine run (pantoline-bench --wine-dialog). The benchmark
// starts it under Wine, on a display, with the simulated unit on COM1. It
// writes the benchmark's package as ResetPack.qv5 into a fresh folder,
// presses RESET from the message loop as a click would, and times the
// transfer on the window's thread from the status line's "0 bytes Sent" to
// its "-1 bytes Sent". When the run is over it presses EXIT and prints the
// line of pantoline-bench-load.exe:
//   found F loaded L seconds S median M
// F and L 0 when the last status says the unit was updated, M the median
// time in ms between two progress texts the window showed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/bench/bench_package.h"
#include "ui/application.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"
// After the program's headers: the Windows headers define IDOK and friends.
#include "ui/win32/window.h"

namespace {

using pantoline::ui::ResetDialog;
using pantoline::MonotonicNs;

struct Measure {
  ResetDialog* dialog = nullptr;
  WNDPROC editProcedure = nullptr;
  std::int64_t startNs = 0, endNs = 0;
  pantoline::bench::BlockTimes shown;
  bool pressed = false, updated = false;
} m;

HWND Handle() { return m.dialog->window() != nullptr ? m.dialog->window()->handle : nullptr; }

LRESULT CALLBACK Status(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) {
    const std::string text = reinterpret_cast<const char*>(lParam);
    if (text.ends_with(" bytes Sent")) {
      const std::int64_t now = MonotonicNs();
      m.shown.Record(now);
      if (text == "0 bytes Sent" && m.startNs == 0) {
        m.startNs = now;
      } else if (text == "-1 bytes Sent") {
        m.endNs = now;
      }
    } else if (text.starts_with("Lodestria Updated")) {
      m.updated = true;
    }
    // The last status of every course: EXIT, held until the run is over.
    if (text.starts_with("Lodestria Updated") || text.starts_with("An error") || text.starts_with(" Lodestria not")) {
      PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
  }
  return CallWindowProcA(m.editProcedure, window, message, wParam, lParam);
}

// Half a second after the window is shown: watch the status line, press RESET.
void CALLBACK Press(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND status = GetDlgItem(Handle(), pantoline::ui::IDC_STATUS);
  if (m.pressed || status == nullptr) {
    return;
  }
  KillTimer(nullptr, timer);
  m.pressed = true;
  m.editProcedure =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Status)));
  PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

class BenchApplication : public pantoline::ui::Application {
 public:
  std::int32_t size = 0;
  int result = 1;
  bool InitInstance() override {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string work = std::string(folder) + "pantoline-bench-dialog-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(work.c_str(), nullptr);
    SetCurrentDirectoryA(work.c_str());
    const std::vector<std::uint8_t> package = pantoline::bench::MakePackage(size);
    if (std::FILE* file = std::fopen("ResetPack.qv5", "wb")) {
      std::fwrite(package.data(), 1, package.size(), file);
      std::fclose(file);
    }
    ResetDialog dialog;
    m.dialog = &dialog;
    SetMainWindow(&dialog);
    SetTimer(nullptr, 0, 500, &Press);
    dialog.DoModal();
    DeleteFileA("ResetPack.qv5");
    DeleteFileA("ResetSystemLog.doc");
    SetCurrentDirectoryA(folder);
    RemoveDirectoryA(work.c_str());
    const int code = m.updated && m.endNs > m.startNs ? 0 : 1;
    std::printf("found %d loaded %d seconds %.6f median %.4f\n", code, code,
                static_cast<double>(m.endNs - m.startNs) / 1e9, m.shown.MedianMs());
    result = code;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: pantoline-bench-dialog.exe BYTES\n", stderr);
    return 2;
  }
  BenchApplication application;
  application.size = std::atoi(argv[1]);
  application.Run(1, argv);
  return application.result;
}
