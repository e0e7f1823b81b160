// gui_probe: looks at and drives another program's windows from outside,
// for the end-to-end tests of Pantoline.exe under Wine. It runs in the
// same Wine prefix and X display as the program, finds its windows by
// their title and reads them with the messages any Windows program may
// send to another one.
//
// Every wait is bounded by a generous deadline: a dialog that is busy (the
// reset runs in its button's handler) does not answer until it is done,
// so reads are retried until the deadline rather than failing at once.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kUsage[] = R"(Usage: gui_probe COMMAND ARGS...
  windows                      visible top-level windows: "title" class
                               owner="title" enabled=0|1
  wait-window TITLE [S]        until a visible window TITLE exists
  wait-gone TITLE [S]          until no visible window TITLE exists
  controls TITLE               the window's controls in tab order
  wait-text TITLE ID TEXT [S]  until the control's text is TEXT
  message-box CAPTION [S]      waits for the message box CAPTION; prints
                               its text (line feeds as \n) and icon=0|1
  click TITLE ID               a left click on the control (mouse input)
  key TITLE KEY                presses KEY (Return, Escape) with the
                               window in front (keyboard input)
  syscommand TITLE N           posts WM_SYSCOMMAND N to the window
S: seconds to wait (default 60). Exit status: 0 done, 1 not so in time or
not found, 2 usage.
)";

constexpr double kDefaultSeconds = 60;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "gui_probe: %s\n", message.c_str());
  std::exit(1);
}

[[noreturn]] void Usage() {
  std::fputs(kUsage, stderr);
  std::exit(2);
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

Clock::time_point Deadline(double seconds) {
  return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// A message sent with a bound, retried until `deadline`, so that a busy
// window does not block the probe for good.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
            Clock::time_point deadline = Deadline(kDefaultSeconds)) {
  DWORD_PTR result = 0;
  while (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 1000, &result)) {
    if (Clock::now() > deadline) Fail("the window did not answer in time");
  }
  return static_cast<LRESULT>(result);
}

std::string Text(HWND window, Clock::time_point deadline = Deadline(kDefaultSeconds)) {
  std::string text(Ask(window, WM_GETTEXTLENGTH, 0, 0, deadline) + 1, '\0');
  text.resize(Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), deadline));
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Top-level titles are kept by the system itself, so they are read without
// a message.
std::string TitleOf(HWND window) {
  char title[512] = {};
  GetWindowTextA(window, title, sizeof title);
  return title;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        if (IsWindowVisible(window)) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> WindowsTitled(const std::string& title) {
  std::vector<HWND> found;
  for (HWND window : TopLevelWindows()) {
    if (TitleOf(window) == title) found.push_back(window);
  }
  return found;
}

HWND WaitWindow(const std::string& title, double seconds) {
  const auto deadline = Deadline(seconds);
  for (;;) {
    const auto found = WindowsTitled(title);
    if (found.size() == 1) return found.front();
    if (found.size() > 1) Fail("more than one window \"" + title + "\"");
    if (Clock::now() > deadline) Fail("no window \"" + title + "\" in time");
    Pause();
  }
}

HWND Window(const std::string& title) { return WaitWindow(title, kDefaultSeconds); }

HWND Control(HWND dialog, const char* id) {
  const HWND control = GetDlgItem(dialog, std::atoi(id));
  if (control == nullptr) Fail(std::string("no control ") + id);
  return control;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

double Seconds(int argc, char** argv, int index) {
  return argc > index ? std::atof(argv[index]) : kDefaultSeconds;
}

void ListWindows() {
  for (HWND window : TopLevelWindows()) {
    const HWND owner = GetWindow(window, GW_OWNER);
    std::printf("\"%s\" %s owner=\"%s\" enabled=%d\n", TitleOf(window).c_str(),
                ClassOf(window).c_str(), owner ? TitleOf(owner).c_str() : "",
                IsWindowEnabled(window) ? 1 : 0);
  }
}

// One line per control, in the order the dialog manager walks them (the
// template's order, which is the tab order).
void ListControls(HWND dialog) {
  for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const std::string kind = ClassOf(control);
    std::printf("%d %s %s %s%s", static_cast<short>(GetDlgCtrlID(control)), kind.c_str(),
                (style & WS_VISIBLE) ? "visible" : "hidden",
                IsWindowEnabled(control) ? "enabled" : "disabled",
                (style & WS_TABSTOP) ? " tabstop" : "");
    if (lstrcmpiA(kind.c_str(), "Button") == 0 && (style & 0x0F) == BS_DEFPUSHBUTTON) {
      std::printf(" default");
    }
    if (lstrcmpiA(kind.c_str(), PROGRESS_CLASSA) == 0) {
      std::printf(" pos=%d range=%d..%d", static_cast<int>(Ask(control, PBM_GETPOS)),
                  static_cast<int>(Ask(control, PBM_GETRANGE, TRUE)),
                  static_cast<int>(Ask(control, PBM_GETRANGE, FALSE)));
    } else if (lstrcmpiA(kind.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
      std::printf(" icon");
    } else if (lstrcmpiA(kind.c_str(), "ComboBox") == 0) {
      const int count = static_cast<int>(Ask(control, CB_GETCOUNT));
      std::printf(" items=");
      for (int i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine hands list texts between processes as the
        // list holds them, without converting them for an ANSI caller.
        wchar_t item[256] = {};
        DWORD_PTR ignored = 0;
        if (Ask(control, CB_GETLBTEXTLEN, i) < 256) {
          SendMessageTimeoutW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item),
                              SMTO_ABORTIFHUNG, 5000, &ignored);
        }
        std::printf("%s%ls", i ? "," : "", item);
      }
    } else {
      std::printf(" \"%s\"", Escaped(Text(control)).c_str());
    }
    std::printf("\n");
  }
}

// The text and whether an icon shows: a message box is a dialog whose
// static controls hold the icon (SS_ICON) and the text.
void DescribeMessageBox(HWND box) {
  std::string text;
  bool icon = false;
  for (HWND control = GetWindow(box, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    if (lstrcmpiA(ClassOf(control).c_str(), "Static") != 0) continue;
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
      // A box without an icon may keep an empty icon control.
      icon = icon || ((style & WS_VISIBLE) != 0 && Ask(control, STM_GETICON) != 0);
    } else if (text.empty()) {
      text = Text(control);
    }
  }
  std::printf("%s\nicon=%d\n", Escaped(text).c_str(), icon ? 1 : 0);
}

void SendInputs(std::vector<INPUT> inputs) {
  if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
    Fail("SendInput refused the input");
  }
}

void Click(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  const int x = (rect.left + rect.right) / 2;
  const int y = (rect.top + rect.bottom) / 2;
  // Absolute positions are given in 0..65535 over the primary screen.
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dx = (x * 65536 + width / 2) / width;
  move.mi.dy = (y * 65536 + height / 2) / height;
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  INPUT down = move;
  down.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  INPUT up = move;
  up.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  SendInputs({move});
  Pause();
  SendInputs({down, up});
}

void Key(HWND window, const std::string& name) {
  WORD key = 0;
  if (name == "Return") key = VK_RETURN;
  else if (name == "Escape") key = VK_ESCAPE;
  else Usage();
  // Keyboard input goes to the foreground window; with no window manager
  // nothing else brings the program's window there.
  SetForegroundWindow(window);
  const auto deadline = Deadline(kDefaultSeconds);
  while (GetForegroundWindow() != window) {
    if (Clock::now() > deadline) Fail("the window did not come to the front");
    Pause();
    SetForegroundWindow(window);
  }
  INPUT down{};
  down.type = INPUT_KEYBOARD;
  down.ki.wVk = key;
  INPUT up = down;
  up.ki.dwFlags = KEYEVENTF_KEYUP;
  SendInputs({down, up});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Usage();
  // Lines end in a bare line feed, as the Linux side reads them.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argv[1];
  if (command == "windows" && argc == 2) {
    ListWindows();
  } else if (command == "wait-window" && (argc == 3 || argc == 4)) {
    WaitWindow(argv[2], Seconds(argc, argv, 3));
  } else if (command == "wait-gone" && (argc == 3 || argc == 4)) {
    const auto deadline = Deadline(Seconds(argc, argv, 3));
    while (!WindowsTitled(argv[2]).empty()) {
      if (Clock::now() > deadline) Fail(std::string("the window \"") + argv[2] + "\" stayed");
      Pause();
    }
  } else if (command == "controls" && argc == 3) {
    ListControls(Window(argv[2]));
  } else if (command == "wait-text" && (argc == 5 || argc == 6)) {
    const HWND control = Control(Window(argv[2]), argv[3]);
    const auto deadline = Deadline(Seconds(argc, argv, 5));
    std::string text;
    while ((text = Text(control, deadline)) != argv[4]) {
      if (Clock::now() > deadline) Fail("the text is still \"" + Escaped(text) + "\"");
      Pause();
    }
  } else if (command == "message-box" && (argc == 3 || argc == 4)) {
    const HWND box = WaitWindow(argv[2], Seconds(argc, argv, 3));
    if (ClassOf(box) != "#32770") Fail(std::string("\"") + argv[2] + "\" is not a message box");
    DescribeMessageBox(box);
  } else if (command == "click" && argc == 4) {
    Click(Control(Window(argv[2]), argv[3]));
  } else if (command == "key" && argc == 4) {
    Key(Window(argv[2]), argv[3]);
  } else if (command == "syscommand" && argc == 4) {
    PostMessageA(Window(argv[2]), WM_SYSCOMMAND, std::strtoul(argv[3], nullptr, 0), 0);
  } else {
    Usage();
  }
  std::fflush(stdout);
  return 0;
}
