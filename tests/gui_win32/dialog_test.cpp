// The Windows program's main dialog inside the test process, under Wine,
// driven by a thread timer in its modal loops: every course of a reset
// against the simulated unit (a Linux program, started through the host's
// shell as COM1 of the prefix), and the stop box for a file error.
#include <gtest/gtest.h>

#include <string>

#include "reset/file_error.h"
#include "tests/support/dialog_courses.h"
#include "ui/application.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"
// After the program's headers: the Windows headers define IDOK and friends
// as macros.
#include "ui/win32/win32.h"

// Wine starts a Linux program but gives no exit status of it: the shell
// leaves the status in a file, which is awaited for a minute.
int pantoline::testing::RunOnHost(const std::string& command) {
  DeleteFileA("host.rc");
  std::string line = "/bin/sh -c \"";
  for (const char c : command + "; echo $? >host.new; mv host.new host.rc") {
    line += c == '"' ? std::string("\\\"") : std::string(1, c);
  }
  line += '"';
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 1200 && GetFileAttributesA("host.rc") == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(50);
  }
  const std::string status = ReadFile("host.rc");
  return status.empty() ? -1 : std::stoi(status);
}

// A thread timer, which also ticks inside the modal loop of a message box.
static pantoline::testing::Script* ticking = nullptr;
std::uintptr_t pantoline::testing::StartTimer(Script* script) {
  ticking = script;
  return SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ticking->Tick(); });
}
void pantoline::testing::StopTimer(std::uintptr_t timer) { KillTimer(nullptr, timer); }

namespace pantoline::ui {
namespace {

using testing::Script;
using testing::Seen;

constexpr char kTitle[] = "Lodestria - Reset Lodestria";

// The open dialog titled `title` (message boxes are dialogs too), or null.
HWND FindDialog(const std::string& title) { return FindWindowA("#32770", title.c_str()); }

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

void Post(HWND window, int command) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0); }

// Every text the status line is given from now on goes to `seen`.
Seen* watched = nullptr;
WNDPROC editProcedure = nullptr;
void WatchStatus(HWND status, Seen& seen) {
  watched = &seen;
  seen.Status(TextOf(status));
  editProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT message, WPARAM wp, LPARAM lp) -> LRESULT {
        if (message == WM_SETTEXT) watched->Status(reinterpret_cast<const char*>(lp));
        return CallWindowProcA(editProcedure, w, message, wp, lp);
      })));
}

// The colour `color` reads from a device context after the dialog's
// control-colour message for `control`.
COLORREF StatusColor(HWND dialog, HWND control, COLORREF (*color)(HDC)) {
  const HDC dc = CreateCompatibleDC(nullptr);
  SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
  const COLORREF result = color(dc);
  DeleteDC(dc);
  return result;
}

// How a course ends the dialog, one each.
void (*const kClosings[])(HWND) = {
    [](HWND dialog) { Post(dialog, IDCANCEL); },                                         // EXIT
    [](HWND) { PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); },                    // Escape
    [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },                // Close
};

TEST(Win32Dialog, EveryCourseOfTheResetShowsItsTextsInOrderAndLogsIt) {
  const std::string caption = "win32_dialog_tests";  // the executable's name
  int index = 0;
  testing::RunCourses("--wine-prefix \"$WINEPREFIX\" --wine-port 1", [&](const testing::ResetCourse& course) {
    ResetDialog dialog;
    HWND window = nullptr;
    auto item = [&window](int id) { return GetDlgItem(window, id); };
    Seen seen;
    const auto close = kClosings[index++];
    Script script(
        course.name,
        {[&] {
           if ((window = FindDialog(kTitle)) == nullptr) return false;
           WatchStatus(item(IDC_STATUS), seen);
           EXPECT_EQ(GetFocus(), item(IDOK));
           Post(window, IDOK);
           return true;
         },
         [&] {
           if (HWND box = FindDialog(caption)) {
             seen.boxes.push_back(TextOf(GetDlgItem(box, 0xFFFF)));
             Post(box, IDOK);
           }
           return Shown(course, seen);
         },
         // About, from the system menu, works after a run as before it.
         [&] {
           if (FindDialog(caption) != nullptr) return false;
           EXPECT_EQ(GetFocus(), item(IDCANCEL));
           ExpectShown(course, seen, "");
           // The bar's range is the package in units of 1028 bytes; the end
           // of a transfer (-1) leaves it at 0.
           EXPECT_EQ(SendMessageA(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), course.package ? 2 : 100);
           EXPECT_EQ(SendMessageA(item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
           // Progress of the reset's own link only, painted at once.
           ResetDialog::OnProgress(&dialog, 1028 * 3, 1);
           ResetDialog::OnProgress(&dialog, 1027, 2);
           EXPECT_EQ(SendMessageA(item(IDC_PROGRESS), PBM_GETPOS, 0, 0), course.package ? 2 : 3);
           EXPECT_EQ(TextOf(item(IDC_STATUS)), "3084 bytes Sent");
           EXPECT_FALSE(GetUpdateRect(item(IDC_STATUS), nullptr, FALSE));
           // Only the status line is red on light yellow.
           EXPECT_EQ(StatusColor(window, item(IDC_STATUS), GetTextColor), RGB(255, 0, 0));
           EXPECT_EQ(StatusColor(window, item(IDC_STATUS), GetBkColor), RGB(255, 255, 100));
           EXPECT_EQ(StatusColor(window, item(IDC_INSTRUCTIONS), GetTextColor), GetSysColor(COLOR_WINDOWTEXT));
           PostMessageA(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
           return true;
         },
         [&] {
           HWND about = FindDialog("About Pantoline");
           if (about != nullptr) Post(about, IDOK);
           return about != nullptr;
         },
         [&] {
           if (FindDialog("About Pantoline") != nullptr) return false;
           close(window);
           return true;
         }});
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(script.done());
  });
}

// The main dialog whose RESET fails the way a full disk makes the reset
// fail.
class FailingResetDialog : public ResetDialog {
 protected:
  void OnOK() override { throw FileError(FileError::Cause::kDiskFull, "C:\\logs\\ResetSystemLog.doc"); }
};

TEST(Win32Dialog, AFileErrorOfACommandOpensAStopBox) {
  const std::string caption = "win32_dialog_tests";  // the executable's name
  FailingResetDialog dialog;
  HWND window = nullptr;
  Script script(
      "a file error",
      {[&] {
         if ((window = FindDialog(kTitle)) == nullptr) return false;
         Post(window, IDOK);
         return true;
       },
       [&] {
         const HWND box = FindDialog(caption);
         if (box == nullptr) return false;
         EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "The disk is full.\nC:\\logs\\ResetSystemLog.doc");
         const LRESULT stop = reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_HAND));
         EXPECT_EQ(SendDlgItemMessageA(box, 0x440, STM_GETICON, 0, 0), stop);  // Wine's icon control
         Post(box, IDOK);
         return true;
       },
       [&] {
         if (FindDialog(caption) != nullptr) return false;
         Post(window, IDCANCEL);
         return true;
       }});
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(script.done());
}

// The tests run as the application's start-up work, after the toolkit's
// own start-up (the common controls, the application's name).
class TestApplication : public Application {
 public:
  int result = 1;
  bool InitInstance() override {
    result = RUN_ALL_TESTS();
    return false;
  }
};

}  // namespace
}  // namespace pantoline::ui

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  pantoline::ui::TestApplication application;
  application.Run(argc, argv);
  return application.result;
}
