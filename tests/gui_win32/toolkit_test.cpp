// The Win32 toolkit layer in-process, under Wine: the dialogs as they run
// modally, from the program's own resources. While a dialog runs, the
// test's steps run from a thread timer inside the dialog's modal loop (and
// inside any loop nested in it, such as a message box's), looking at the
// windows and posting commands.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "reset/file_error.h"
#include "ui/application.h"
#include "ui/dialog.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"
// After the program's headers: the Windows headers define IDOK and friends
// as macros.
#include "ui/win32/win32.h"

namespace pantoline::ui {
namespace {

// Steps run one after another from a thread timer; a step that returns
// false is tried again at the next tick. A script that stalls fails the
// test and cancels every window of the thread, so that the run ends.
class Script {
 public:
  struct Step {
    std::string what;
    std::function<bool()> run;
  };

  explicit Script(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
    current_ = this;
    deadline_ = GetTickCount64() + 60'000;
    timer_ = SetTimer(nullptr, 0, 20, &Script::Tick);
  }
  ~Script() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
    EXPECT_TRUE(steps_.empty()) << "the script ended before: " << steps_.front().what;
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* script = current_;
    if (script == nullptr) return;
    // Checked even while a step runs: a step may have opened a modal loop
    // (a message box) that nothing closes.
    if (!script->steps_.empty() && GetTickCount64() > script->deadline_) {
      ADD_FAILURE() << "the script stalled at: " << script->steps_.front().what;
      script->steps_.clear();
      EnumThreadWindows(
          GetCurrentThreadId(),
          [](HWND window, LPARAM) -> BOOL {
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
          },
          0);
    }
    if (script->running_) return;
    script->running_ = true;
    while (!script->steps_.empty() && script->steps_.front().run()) {
      if (!script->steps_.empty()) script->steps_.pop_front();  // a stall empties them
    }
    script->running_ = false;
  }

  static inline Script* current_ = nullptr;
  std::deque<Step> steps_;
  ULONGLONG deadline_;
  UINT_PTR timer_;
  bool running_ = false;
};

// The visible dialog-class window of this thread titled `title`.
HWND FindDialog(const std::string& title) {
  struct Search {
    std::string title;
    HWND found = nullptr;
  } search{title};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* search = reinterpret_cast<Search*>(parameter);
        char text[256] = {};
        char kind[64] = {};
        GetWindowTextA(window, text, sizeof text);
        GetClassNameA(window, kind, sizeof kind);
        if (IsWindowVisible(window) && search->title == text && std::string(kind) == "#32770") {
          search->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The main dialog, with a way in to what the reset uses of it, and whose
// RESET command is counted and fails the way a full disk makes the reset
// fail.
class OpenResetDialog : public ResetDialog {
 public:
  using ResetDialog::DisableReset;
  int resets = 0;

 protected:
  void OnOK() override {
    ++resets;
    throw FileError(FileError::Cause::kDiskFull, "C:\\logs\\ResetSystemLog.doc");
  }
};

// Colours a control-colour message leaves in a device context, and its
// brush.
struct Colors {
  COLORREF text;
  COLORREF background;
  LRESULT brush;
};

Colors ColorsFor(HWND dialog, UINT message, HWND control) {
  const HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkColor(dc, RGB(4, 5, 6));
  const LRESULT brush = SendMessageA(dialog, message, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(control));
  const Colors colors{GetTextColor(dc), GetBkColor(dc), brush};
  DeleteDC(dc);
  return colors;
}

TEST(DialogTest, TheMainDialogRunsAsDesigned) {
  OpenResetDialog dialog;
  Application& application = *Application::Current();
  application.SetMainWindow(&dialog);
  const HICON icon = static_cast<HICON>(Icon::Load(IDR_MAINFRAME).handle());
  ASSERT_NE(icon, nullptr);
  const char* title = "Lodestria - Reset Lodestria";
  HWND window = nullptr;
  auto item = [&](int id) { return GetDlgItem(window, id); };
  auto status = [&] { return TextOf(item(IDC_STATUS)); };
  auto position = [&] { return static_cast<int>(SendMessageA(item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); };
  auto painted = [&](int id) { return !GetUpdateRect(item(id), nullptr, FALSE); };
  int result = 0;
  {
    Script script({
        {"the dialog opens",
         [&] { return (window = FindDialog(title)) != nullptr; }},
        {"it opens as designed",
         [&] {
           // The About item after the system menu's own items.
           const HMENU menu = GetSystemMenu(window, FALSE);
           const int count = GetMenuItemCount(menu);
           EXPECT_GE(count, 3);
           MENUITEMINFOA separator{};
           separator.cbSize = sizeof separator;
           separator.fMask = MIIM_FTYPE;
           GetMenuItemInfoA(menu, count - 2, TRUE, &separator);
           EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
           char text[64] = {};
           GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
           EXPECT_STREQ(text, "&About Pantoline...");
           EXPECT_EQ(GetMenuItemID(menu, count - 1), IDM_ABOUTBOX);
           // Both icons, and the one dragged while minimised.
           EXPECT_EQ(SendMessageA(window, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(icon));
           EXPECT_EQ(SendMessageA(window, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(icon));
           EXPECT_EQ(SendMessageA(window, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(icon));
           EXPECT_EQ(GetFocus(), item(IDOK));
           EXPECT_EQ(status(), ResetDialog::kGreeting);
           EXPECT_EQ(SendMessageA(item(IDC_PORTS), CB_GETCOUNT, 0, 0), 19);
           // In the middle of the screen.
           MONITORINFO monitor{};
           monitor.cbSize = sizeof monitor;
           GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
           RECT rect;
           GetWindowRect(window, &rect);
           EXPECT_NEAR(rect.left + rect.right, monitor.rcWork.left + monitor.rcWork.right, 2);
           EXPECT_NEAR(rect.top + rect.bottom, monitor.rcWork.top + monitor.rcWork.bottom, 2);
           return true;
         }},
        {"only the status line is red on light yellow, on the platform's brush",
         [&] {
           const Colors statusLine = ColorsFor(window, WM_CTLCOLORSTATIC, item(IDC_STATUS));
           EXPECT_EQ(statusLine.text, RGB(255, 0, 0));
           EXPECT_EQ(statusLine.background, RGB(255, 255, 100));
           EXPECT_EQ(statusLine.brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
           // The same message for the edit as a writable edit sends it.
           EXPECT_EQ(ColorsFor(window, WM_CTLCOLOREDIT, item(IDC_STATUS)).text, RGB(255, 0, 0));
           for (const auto& [message, control] :
                {std::pair{WM_CTLCOLORSTATIC, item(IDC_PROGRESS)},
                 std::pair{WM_CTLCOLORBTN, item(IDOK)},
                 std::pair{WM_CTLCOLORSTATIC, item(IDC_INSTRUCTIONS)},
                 std::pair{WM_CTLCOLORDLG, window}}) {
             const Colors colors = ColorsFor(window, message, control);
             EXPECT_EQ(colors.text, GetSysColor(COLOR_WINDOWTEXT)) << message;
             EXPECT_EQ(colors.background, GetSysColor(COLOR_BTNFACE)) << message;
           }
           return true;
         }},
        {"progress moves the bar and shows the byte count, painted at once",
         [&] {
           ResetDialog::OnProgress(&dialog, 5120, 1);
           EXPECT_EQ(position(), 4);
           EXPECT_EQ(status(), "5120 bytes Sent");
           EXPECT_TRUE(painted(IDC_STATUS));
           EXPECT_TRUE(painted(IDC_PROGRESS));
           ResetDialog::OnProgress(&dialog, 1027, 2);  // another link's report
           ResetDialog::OnProgress(&dialog, 1027, 0);
           EXPECT_EQ(position(), 4);
           EXPECT_EQ(status(), "5120 bytes Sent");
           ResetDialog::OnProgress(&dialog, 1028, 1);
           EXPECT_EQ(position(), 1);
           ResetDialog::OnProgress(&dialog, -1, 1);
           EXPECT_EQ(position(), 0);
           EXPECT_EQ(status(), "-1 bytes Sent");
           dialog.ShowStatus("...Attempting to locate the Lodestria...");
           EXPECT_EQ(status(), "...Attempting to locate the Lodestria...");
           EXPECT_TRUE(painted(IDC_STATUS));
           return true;
         }},
        {"RESET's file error opens a stop box captioned with the application's name",
         [&] {
           PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(item(IDOK)));
           return true;
         }},
        {"the stop box is open",
         [&] {
           const HWND box = FindDialog("win32_toolkit_tests");
           if (box == nullptr) return false;
           EXPECT_EQ(GetWindow(box, GW_OWNER), window);
           EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "The disk is full.\nC:\\logs\\ResetSystemLog.doc");
           // The box's icon, wherever the platform puts it.
           HICON boxIcon = nullptr;
           for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
             if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
               boxIcon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
             }
           }
           EXPECT_EQ(boxIcon, LoadIconA(nullptr, IDI_HAND));
           PostMessageA(box, WM_COMMAND, IDOK, 0);
           return true;
         }},
        {"disabling RESET passes the focus on and stops its command",
         [&] {
           if (FindDialog("win32_toolkit_tests") != nullptr) return false;
           EXPECT_TRUE(IsWindowEnabled(window));
           EXPECT_EQ(dialog.resets, 1);
           dialog.DisableReset();
           EXPECT_FALSE(IsWindowEnabled(item(IDOK)));
           EXPECT_EQ(GetFocus(), item(IDCANCEL));
           SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(item(IDOK)));
           EXPECT_EQ(dialog.resets, 1);
           // Escape reaches the dialog manager: the dialog ends with 2.
           PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
           return true;
         }},
    });
    result = dialog.DoModal();
  }
  application.SetMainWindow(nullptr);
  EXPECT_EQ(result, IDCANCEL);
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
