// The Win32 toolkit layer in-process, under Wine: the parsing of a
// template's initial data, the application's name, and the dialogs as they
// run modally. While a dialog runs, the test's steps run from a thread
// timer inside the dialog's modal loop (and inside any loop nested in it,
// such as a message box's), looking at the windows and posting commands.
#include <gtest/gtest.h>

#include <cstdint>
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
#include "ui/win32/app_name.h"
#include "ui/win32/dialog_init.h"
#include "ui/win32/win32.h"

namespace pantoline::ui {
namespace {

// ---------------------------------------------------------------------------
// The template's initial data.

// One record: control, message, 32-bit count, data.
void Record(std::vector<std::uint8_t>& data, std::uint16_t control, std::uint16_t message,
            const std::string& bytes, std::uint32_t count) {
  for (std::uint32_t value : {std::uint32_t{control}, std::uint32_t{message}}) {
    data.push_back(static_cast<std::uint8_t>(value));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  for (int shift = 0; shift < 32; shift += 8) {
    data.push_back(static_cast<std::uint8_t>(count >> shift));
  }
  data.insert(data.end(), bytes.begin(), bytes.end());
}

void Record(std::vector<std::uint8_t>& data, std::uint16_t control, std::uint16_t message,
            const std::string& text) {
  const std::string bytes = text + '\0';
  Record(data, control, message, bytes, static_cast<std::uint32_t>(bytes.size()));
}

void End(std::vector<std::uint8_t>& data) { data.insert(data.end(), {0, 0}); }

std::vector<DialogInitString> Parse(const std::vector<std::uint8_t>& data) {
  return ParseDialogInit(data.data(), data.size());
}

using Target = DialogInitString::Target;

TEST(DialogInitTest, ReadsStringsOfUnalignedRecordsInOrder) {
  std::vector<std::uint8_t> data;
  Record(data, 1007, 0x403, "Scan Ports");  // 11 bytes: the next record is unaligned
  Record(data, 1007, 0x403, "Com1");
  Record(data, 1010, 0x401, "into a list");
  End(data);
  const auto strings = Parse(data);
  ASSERT_EQ(strings.size(), 3u);
  EXPECT_EQ(strings[0].controlId, 1007);
  EXPECT_EQ(strings[0].target, Target::kComboBox);
  EXPECT_EQ(strings[0].text, "Scan Ports");
  EXPECT_EQ(strings[1].controlId, 1007);
  EXPECT_EQ(strings[1].text, "Com1");
  EXPECT_EQ(strings[2].controlId, 1010);
  EXPECT_EQ(strings[2].target, Target::kListBox);
  EXPECT_EQ(strings[2].text, "into a list");
}

TEST(DialogInitTest, PassesOverOtherMessagesAndStopsAtTheEndMark) {
  std::vector<std::uint8_t> data;
  Record(data, 1007, 0x1234, "extended combo item");
  Record(data, 1007, 0x403, "kept");
  End(data);
  Record(data, 1007, 0x403, "after the end mark");
  const auto strings = Parse(data);
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0].text, "kept");
}

TEST(DialogInitTest, TakesTheTextUpToItsFirstZeroOrTheWholeData) {
  std::vector<std::uint8_t> data;
  Record(data, 1007, 0x403, std::string("cut\0tail", 8), 8);
  Record(data, 1007, 0x403, "unterminated", 12);
  const auto strings = Parse(data);  // no end mark: the data's end ends it
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(strings[0].text, "cut");
  EXPECT_EQ(strings[1].text, "unterminated");
}

TEST(DialogInitTest, DropsARecordThatRunsPastTheEnd) {
  std::vector<std::uint8_t> whole;
  Record(whole, 1007, 0x403, "first");
  Record(whole, 1007, 0x403, "second");
  const std::size_t firstSize = 8 + 6;
  // Every cut inside the second record keeps the first string alone.
  for (std::size_t size = firstSize; size < whole.size(); ++size) {
    const auto strings = ParseDialogInit(whole.data(), size);
    ASSERT_EQ(strings.size(), 1u) << "cut at " << size;
    EXPECT_EQ(strings[0].text, "first");
  }
  // A count far beyond the data, which must not be added to an offset
  // unchecked.
  std::vector<std::uint8_t> huge;
  Record(huge, 1007, 0x403, "abc", 0xFFFFFFF0u);
  EXPECT_TRUE(Parse(huge).empty());
}

TEST(DialogInitTest, ReadsTheControlIdentifierAsSigned) {
  std::vector<std::uint8_t> data;
  Record(data, 0xFFFF, 0x403, "static");
  const auto strings = Parse(data);
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0].controlId, -1);
}

TEST(DialogInitTest, TheMainDialogsDataFillsThePortList) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  const HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(IDD_RESET_DIALOG),
                                       MAKEINTRESOURCEA(kDialogInitResourceType));
  ASSERT_NE(resource, nullptr);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(instance, resource)));
  const auto strings = ParseDialogInit(data, SizeofResource(instance, resource));
  std::vector<std::string> expected = {"Scan Ports"};
  for (int port = 1; port <= 18; ++port) expected.push_back("Com" + std::to_string(port));
  std::vector<std::string> texts;
  for (const auto& string : strings) {
    EXPECT_EQ(string.controlId, IDC_PORTS);
    EXPECT_EQ(string.target, Target::kComboBox);
    texts.push_back(string.text);
  }
  EXPECT_EQ(texts, expected);
}

// ---------------------------------------------------------------------------
// The application's name.

TEST(AppNameTest, IsTheFileNameWithoutFolderAndExtension) {
  EXPECT_EQ(AppNameFromPath("C:\\Program Files\\Pantoline\\Pantoline.exe"), "Pantoline");
  EXPECT_EQ(AppNameFromPath("Z:\\tmp\\run.1\\Reset2.exe"), "Reset2");  // a dot in a folder
  EXPECT_EQ(AppNameFromPath("C:\\tools\\Pantoline.v2.exe"), "Pantoline.v2");
  EXPECT_EQ(AppNameFromPath("C:\\tools.d\\Pantoline"), "Pantoline");
  EXPECT_EQ(AppNameFromPath("D:/mixed/slashes/Reset.EXE"), "Reset");
  EXPECT_EQ(AppNameFromPath("C:Reset.exe"), "Reset");
  EXPECT_EQ(AppNameFromPath("Reset.exe"), "Reset");
}

TEST(AppNameTest, TheApplicationTakesTheRunningExecutablesName) {
  ASSERT_NE(Application::Current(), nullptr);
  EXPECT_EQ(Application::Current()->AppName(), "win32_toolkit_tests");
}

// ---------------------------------------------------------------------------
// Dialogs running modally.

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
      script->steps_.pop_front();
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

POINT CenterOf(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A dialog whose OK command fails the way a full disk makes the reset fail.
class FailingDialog : public Dialog {
 public:
  FailingDialog() : Dialog(IDD_ABOUTBOX) {}
  int commands = 0;

 protected:
  void OnOK() override {
    ++commands;
    throw FileError(FileError::Cause::kDiskFull, "C:\\logs\\ResetSystemLog.doc");
  }
};

TEST(DialogTest, AFileErrorLeavingACommandIsShownInAStopBoxAndTheCommandIsHandled) {
  FailingDialog dialog;
  HWND window = nullptr;
  std::string boxText;
  HWND boxOwner = nullptr;
  HICON boxIcon = nullptr;
  int result = 0;
  {
    Script script({
        {"the dialog opens",
         [&] {
           window = FindDialog("About Pantoline");
           if (window) PostMessageA(window, WM_COMMAND, IDOK, 0);
           return window != nullptr;
         }},
        {"the message box opens, captioned with the application's name",
         [&] {
           const HWND box = FindDialog("win32_toolkit_tests");
           if (box == nullptr) return false;
           boxOwner = GetWindow(box, GW_OWNER);
           boxText = TextOf(GetDlgItem(box, 0xFFFF));
           // The box's icon, wherever the platform puts it.
           for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
             if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
               boxIcon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
             }
           }
           PostMessageA(box, WM_COMMAND, IDOK, 0);
           return true;
         }},
        {"the box closes and the dialog goes on",
         [&] {
           if (FindDialog("win32_toolkit_tests") != nullptr) return false;
           EXPECT_TRUE(IsWindowVisible(window));
           EXPECT_TRUE(IsWindowEnabled(window));
           PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
           return true;
         }},
    });
    result = dialog.DoModal();
  }
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(dialog.commands, 1);
  EXPECT_EQ(boxOwner, window);
  EXPECT_EQ(boxText, "The disk is full.\nC:\\logs\\ResetSystemLog.doc");
  EXPECT_NE(boxIcon, nullptr);
  EXPECT_EQ(boxIcon, LoadIconA(nullptr, IDI_HAND));
}

// The main dialog, with a way in to what the reset uses of it, and whose
// RESET command is counted instead of running a reset.
class OpenResetDialog : public ResetDialog {
 public:
  using ResetDialog::DisableReset;
  int resets = 0;

 protected:
  void OnOK() override { ++resets; }
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
           const POINT center = CenterOf(window);
           EXPECT_NEAR(center.x, (monitor.rcWork.left + monitor.rcWork.right) / 2, 1);
           EXPECT_NEAR(center.y, (monitor.rcWork.top + monitor.rcWork.bottom) / 2, 1);
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
        {"the About item opens the about box over the dialog",
         [&] {
           PostMessageA(window, WM_SYSCOMMAND, IDM_ABOUTBOX + 1, 0);
           return true;
         }},
        {"the about box is open",
         [&] {
           const HWND about = FindDialog("About Pantoline");
           if (about == nullptr) return false;
           EXPECT_EQ(GetWindow(about, GW_OWNER), window);
           EXPECT_FALSE(IsWindowEnabled(window));
           const POINT aboutCenter = CenterOf(about);
           const POINT center = CenterOf(window);
           EXPECT_NEAR(aboutCenter.x, center.x, 1);
           EXPECT_NEAR(aboutCenter.y, center.y, 1);
           PostMessageA(about, WM_COMMAND, IDOK, 0);
           return true;
         }},
        {"the about box closes",
         [&] {
           if (FindDialog("About Pantoline") != nullptr) return false;
           EXPECT_TRUE(IsWindowEnabled(window));
           return true;
         }},
        {"disabling RESET passes the focus on and stops its command",
         [&] {
           const auto click = [&] {
             SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                          reinterpret_cast<LPARAM>(item(IDOK)));
           };
           click();
           EXPECT_EQ(dialog.resets, 1);
           dialog.DisableReset();
           EXPECT_FALSE(IsWindowEnabled(item(IDOK)));
           EXPECT_EQ(GetFocus(), item(IDCANCEL));
           click();
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
