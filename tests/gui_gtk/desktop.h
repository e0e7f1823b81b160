// Driving the Linux program from outside: a virtual X display of its own
// with no window manager, programs started in folders of their own, the
// program's watch lines (PANTOLINE_TRACE) read as they come, pointer and
// keys through xdotool, and screenshots.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pantoline::testing {

using Seconds = std::chrono::seconds;

// Waits for windows and for runs are generous: a busy machine must not
// fail a test, only a program that never gets there.
inline constexpr Seconds kWindowWait{60};

// An Xvfb display that lives as long as the object; DISPLAY names it.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool ok() const { return number_ >= 0; }
  std::string name() const { return ":" + std::to_string(number_); }

 private:
  pid_t pid_ = -1;
  int number_ = -1;
};

// A program started with extra environment in a working folder; its
// standard output and standard error are read line by line.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::filesystem::path& workDir,
          const std::map<std::string, std::string>& environment = {});
  ~Process();  // kills it if it still runs
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line on stdout (program output such as a device path).
  std::optional<std::string> StdoutLine(Seconds timeout);
  // Waits for the next stderr line "trace: <prefix>...", returning what
  // follows "trace: ", or nothing when the program ended or time ran out.
  std::optional<std::string> WaitForTrace(const std::string& prefix, Seconds timeout = kWindowWait);
  // The trace lines so far, without "trace: ".
  std::vector<std::string> Traces() const;
  // Waits for the program to end and reads what it wrote until then.
  // Returns its exit status, or nothing on a time-out or a signal.
  std::optional<int> WaitForExit(Seconds timeout = kWindowWait);
  void Terminate();

 private:
  bool ReadSome(int fd, std::string& buffer, std::vector<std::string>& lines,
                std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::string stdoutBuffer_;
  std::string stderrBuffer_;
  std::vector<std::string> stdoutLines_;
  std::vector<std::string> stderrLines_;
  std::size_t stdoutCursor_ = 0;
  std::size_t stderrCursor_ = 0;
  std::optional<int> exitStatus_;
};

// Runs a command to its end; its standard output, or nothing if it failed.
std::optional<std::string> RunCommand(const std::vector<std::string>& argv);

// A rectangle in pixels.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool Contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

// A window on the display, as the program's watch lines describe it.
struct ShownWindow {
  std::string xid;
  std::map<int, Box> controls;  // by identifier; window-relative; the last of several -1
  Box menuButton;
  Box closeButton;  // the title bar's
};

// Reads the "shown <template> <xid>" line and the geometry lines after it.
std::optional<ShownWindow> WaitForWindow(Process& program, int templateId);

// A message box, as its "message <xid> <style> <caption>" line gives it.
struct ShownMessageBox {
  std::string xid;
  std::string styleAndCaption;  // "plain pantoline", "stop pantoline"
};
std::optional<ShownMessageBox> WaitForMessageBox(Process& program);
// Clicks the OK button of the message box `box` (its "control 0 1" line).
bool ClickMessageBoxOk(Process& program, const ShownMessageBox& box);

// xdotool: a click in the middle of `box` of window `xid`; keys.
bool Click(const std::string& xid, const Box& box);
bool Keys(const std::string& xid, const std::vector<std::string>& keys);
std::string WindowName(const std::string& xid);
// The window's position on the screen.
std::optional<Box> WindowOnScreen(const std::string& xid);

// A screenshot of the whole screen.
struct Screenshot {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t Pixel(int x, int y) const;  // 0xRRGGBB
};
// Saves the screen as `png` and returns its pixels.
std::optional<Screenshot> TakeScreenshot(const std::filesystem::path& png);

}  // namespace pantoline::testing
