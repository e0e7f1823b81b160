// The Windows program's main dialog inside the test process, under Wine,
// driven by a thread timer in its modal loops: every course of a reset
// against the simulated unit (a Linux program, started through the host's
// shell as COM1 of the prefix), the reset running beside the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/dialog_courses.h"
#include "ui/application.h"
// After the program's headers: the Windows headers define IDOK and friends
// as macros.
#include "ui/win32/window.h"

namespace pantoline::testing {
namespace {

HWND Handle(ui::Dialog& d) { return d.window() != nullptr ? d.window()->handle : nullptr; }

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

void Post(HWND window, int command) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0); }

Seen* watched = nullptr;
WNDPROC editProcedure = nullptr;
Script* ticking = nullptr;

}  // namespace

const char kBoxTitle[] = "win32_dialog_tests";  // the executable's name

// Wine starts a Linux program but gives no exit status of it: the shell
// leaves the status in a file, which is awaited for a minute.
int RunOnHost(const std::string& command) {
  DeleteFileA("host.rc");
  std::string line = "/bin/sh -c \"";
  for (const char c : command + "; echo $? >host.new; mv host.new host.rc") {
    line += c == '"' ? "\\\"" : std::string(1, c);
  }
  line += '"';
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return -1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 1200 && GetFileAttributesA("host.rc") == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  const std::string status = ReadFile("host.rc");
  return status.empty() ? -1 : std::stoi(status);
}

// A thread timer, which also ticks inside the modal loop of a message box.
std::uintptr_t StartTimer(Script* script) {
  ticking = script;
  return SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ticking->Tick(); });
}
void StopTimer(std::uintptr_t timer) { KillTimer(nullptr, timer); }

// The texts the status line is given, through its window procedure.
bool WatchStatus(ui::ResetDialog& d, Seen& seen) {
  const HWND status = GetDlgItem(Handle(d), ui::IDC_STATUS);
  if (status == nullptr) return false;
  watched = &seen;
  seen.Status(TextOf(status));
  editProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT message, WPARAM wp, LPARAM lp) -> LRESULT {
        if (message == WM_SETTEXT) watched->Status(reinterpret_cast<const char*>(lp));
        return CallWindowProcA(editProcedure, w, message, wp, lp);
      })));
  return true;
}
bool Focused(ui::ResetDialog& d, int id) { return GetFocus() == GetDlgItem(Handle(d), id); }
void Click(ui::ResetDialog& d, int id) { Post(Handle(d), id); }
// The title bar's close and the window menu's Close both come as SC_CLOSE,
// which the dialog's default handling turns into WM_CLOSE.
void Close(ui::ResetDialog& d, Closing how) {
  if (how == Closing::kExit) Click(d, IDCANCEL);
  if (how == Closing::kEscape) PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
  if (how == Closing::kTitleBarClose) PostMessageA(Handle(d), WM_CLOSE, 0, 0);
  if (how == Closing::kMenuClose) PostMessageA(Handle(d), WM_SYSCOMMAND, SC_CLOSE, 0);
}
void OpenAbout(ui::ResetDialog& d) { PostMessageA(Handle(d), WM_SYSCOMMAND, ui::IDM_ABOUTBOX, 0); }
// Progress is painted at once, as the display operations repaint.
double BarFraction(ui::ResetDialog& d) {
  const HWND bar = GetDlgItem(Handle(d), ui::IDC_PROGRESS);
  EXPECT_FALSE(GetUpdateRect(GetDlgItem(Handle(d), ui::IDC_STATUS), nullptr, FALSE));
  return static_cast<double>(SendMessageA(bar, PBM_GETPOS, 0, 0)) / SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
}
// The platform hides a dialog as soon as it is told to end.
bool Ended(ui::ResetDialog& d) { return !IsWindowVisible(Handle(d)); }

std::optional<std::string> FindDialog(const std::string& title, bool close) {
  const HWND window = FindWindowA("#32770", title.c_str());  // message boxes are dialogs too
  if (window == nullptr) return std::nullopt;
  if (close) Post(window, IDOK);
  return TextOf(GetDlgItem(window, 0xFFFF));
}

// The unit answers its third block with ACK ACK and refuses the fourth
// once: the loaded course holds only if the second ACK is taken for no answer.
TEST(Win32Dialog, EveryCourseOfTheResetShowsItsTextsInOrderAndLogsIt) {
  RunCourses("--wine-prefix \"$WINEPREFIX\" --wine-port 1 --ack-twice 3 --nak-block 4");
}

void RequestEnd(ui::ResetDialog& d) { PostMessageA(Handle(d), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF); }
std::optional<bool> SessionMayEnd(ui::ResetDialog& d) {
  return SendMessageA(Handle(d), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != FALSE;
}

TEST(Win32Dialog, TheSessionWaitsForARunAndEndingItEndsTheRunSoundly) {
  RunEndedDuringTransfer("--wine-prefix \"$WINEPREFIX\" --wine-port 1");
}

// The window answers its messages all through a run, as the desktop asks of
// it: a second thread sends it WM_NULL every 100 ms and asks whether it
// counts as hung, over the whole course of a unit that answers the greeting
// but never asks for the package, until 20 s of that waiting have passed and
// the unit is gone, and over the pauses on either side.
TEST(Win32Dialog, AnswersItsWindowMessagesAllThroughARun) {
  TempDir work;
  WorkingDir cwd(work.path());
  WriteFile("ResetPack.qv5", CoursePackage(false));
  ASSERT_EQ(RunOnHost(StartUnit("--wine-prefix \"$WINEPREFIX\" --wine-port 1 --never-ask", true)), 0)
      << ReadFile("unit.err");
  ui::ResetDialog dialog;
  Seen seen;
  std::atomic<bool> probing{true}, unitGone{false};
  int probes = 0, unanswered = 0, hung = 0;
  DWORD worstMs = 0;
  std::thread prober;
  Script script(
      "probes",
      {[&] {
         if (!WatchStatus(dialog, seen)) return false;
         const HWND window = Handle(dialog);
         prober = std::thread([&, window] {
           const DWORD start = GetTickCount();
           for (DWORD next = start; probing; next += 100) {
             if (!unitGone && GetTickCount() - start > 20'700) {  // the 0.5 s pause, then 20 s of waiting
               RunOnHost(kStopUnit);
               unitGone = true;
             }
             const DWORD sent = GetTickCount();
             DWORD_PTR answer = 0;
             const bool answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &answer) != 0;
             worstMs = std::max(worstMs, answered ? GetTickCount() - sent : DWORD{3000});
             unanswered += answered ? 0 : 1;
             hung += IsHungAppWindow(window) ? 1 : 0;
             ++probes;
             if (const LONG rest = static_cast<LONG>(next + 100 - GetTickCount()); rest > 0) Sleep(rest);
           }
         });
         Click(dialog, IDOK);
         return true;
       },
       [&] { return unitGone && !seen.texts.empty() && seen.texts.back().starts_with("An error has occured"); },
       [&] {
         probing = false;
         prober.join();
         Close(dialog, Closing::kExit);
         return true;
       }});
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  // How quickly it answers is a figure, not a check: a busy machine
  // slows it. A window that takes no message leaves probes unanswered.
  std::printf("Probes: %d, worst answer %lu ms, %d said hung\n", probes, static_cast<unsigned long>(worstMs), hung);
  EXPECT_GE(probes, 100);
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(hung, 0);
}

// The tests run as the application's start-up work, after the toolkit's
// own start-up (the common controls, the application's name).
class TestApplication : public ui::Application {
 public:
  int result = 1;
  bool InitInstance() override {
    result = RUN_ALL_TESTS();
    return false;
  }
};

}  // namespace pantoline::testing

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  pantoline::testing::TestApplication application;
  application.Run(argc, argv);
  return application.result;
}
