// The program's main dialog driven from inside the test process, on either
// desktop: every course of a reset as the window shows it, against the
// simulated unit as the first port ("\\.\Com1"), in steps run from the
// toolkit's timer while the dialog runs modally.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "reset/file_error.h"
#include "reset/reset_procedure.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unit_courses.h"
#include "ui/reset_dialog.h"
#include "ui/resource_ids.h"

namespace pantoline::testing {

class Script;
// The ways to end the dialog: EXIT, Escape, the title bar's close and the
// window menu's Close.
enum class Closing { kExit, kEscape, kTitleBarClose, kMenuClose };

// What the window showed, in order: the status line's texts and the message boxes' texts (after
// kBox), and apart, the counts of the progress texts ("<n> bytes Sent", n >= 0).
inline const std::string kBox = "box: ";
struct Seen {
  std::vector<std::string> texts;
  std::vector<int> progress;
  void Status(const std::string& text) {
    if (text.ends_with(" bytes Sent") && text[0] != '-') progress.push_back(std::stoi(text));
    else texts.push_back(text);
  }
};

// What each dialog test gives of its desktop. `command` runs with the
// host's shell in the working folder; the status is returned once it has
// ended. The timer ticks `script` from the thread's message loop.
int RunOnHost(const std::string& command);
std::uintptr_t StartTimer(Script* script);
void StopTimer(std::uintptr_t timer);
extern const char kBoxTitle[];  // the message boxes' title
// For the open main dialog `d`: false while its window is not there yet,
// then every text its status line shows goes to `seen`.
bool WatchStatus(ui::ResetDialog& d, Seen& seen);
bool Focused(ui::ResetDialog& d, int id);
void Click(ui::ResetDialog& d, int id);
void Close(ui::ResetDialog& d, Closing how);
void OpenAbout(ui::ResetDialog& d);  // from the window menu, once the step is over
double BarFraction(ui::ResetDialog& d);
bool Ended(ui::ResetDialog& d);  // it has been told to end
// Ends the program as the desktop does while it runs: SIGTERM on Linux, the session ending on
// Windows (posted, so that the step is over before the window waits for the run).
void RequestEnd(ui::ResetDialog& d);
// Whether the desktop may end the session now, where it asks the window (Windows); nothing where
// it does not ask (Linux).
std::optional<bool> SessionMayEnd(ui::ResetDialog& d);
// The text of the open dialog or message box titled `title`, closed if
// `close`; nothing if there is none.
std::optional<std::string> FindDialog(const std::string& title, bool close);

// A screenshot of the whole display as <PANTOLINE_ARTEFACTS>/<name>.png.
inline void KeepScreenshot(const std::string& name) {
  const char* folder = std::getenv("PANTOLINE_ARTEFACTS");
  if (folder == nullptr) return;
  const std::string file = std::string(folder) + "/" + name + ".png";
  if (RunOnHost("mkdir -p '" + std::string(folder) + "' && import -window root '" + file + "'") == 0) {
    std::printf("The screen is kept in %s\n", file.c_str());
  }
}

using Step = std::function<bool()>;

// Steps run one after another from the desktop's timer while a dialog runs; a step that returns
// false is tried again at the next Tick. A step that does not come to pass within a minute, or a
// dialog that does not end within a minute of the last step, fails the test `name`: the screen is
// kept, the unit stopped and the program ends, since a modal loop may wait for a window that
// nobody closes.
class Script {
 public:
  Script(std::string name, std::vector<Step> steps)
      : name_(std::move(name)), steps_(std::move(steps)), timer_(StartTimer(this)) {}
  ~Script() { StopTimer(timer_); }
  bool done() const { return next_ == steps_.size(); }

  void Tick() {
    const auto now = std::chrono::steady_clock::now();
    for (; !done() && steps_[next_](); ++next_) since_ = now;
    if (now - since_ > std::chrono::minutes(1)) {
      ADD_FAILURE() << name_ << ": "
                    << (done() ? "the dialog did not end" : "step " + std::to_string(next_) + " never came to pass");
      KeepScreenshot(name_);
      RunOnHost(kStopUnit);
      std::fflush(stdout);
      std::_Exit(1);
    }
  }

 private:
  std::string name_;
  std::vector<Step> steps_;
  std::uintptr_t timer_;
  std::size_t next_ = 0;
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

// The main dialog whose run, after the reset, waits until the test lets it go on, shows kThen and,
// if asked, fails on a file as a full disk makes it.
inline const std::vector<std::string> kThen = {"one", "two"};
class HeldResetDialog : public ui::ResetDialog {
 public:
  bool fileError = false;
  std::atomic<bool> goOn{false};
  void OnOK() override {
    RunReset([this](ResetDisplay& display) {
      OnReset(display);
      while (!goOn) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      for (const std::string& text : kThen) display.ShowStatus(text.c_str());
      if (fileError) throw FileError(FileError::Cause::kDiskFull, "ResetSystemLog.doc");
    });
  }
};

// A course of the reset as the window shows it, from RESET to the last status, and how the dialog
// is then ended: EXIT is followed by a file error of the run.
struct ResetCourse {
  const char* name;
  bool package;      // ResetPack.qv5 is in the working folder
  bool unitAnswers;  // the unit on Com1 answers the greeting, or keeps silent
  std::vector<Closing> closings;
  std::vector<std::string> texts;  // after the greeting
  std::string log;                 // ResetSystemLog.doc
};

inline const ResetCourse kResetCourses[] = {
    {"the unit is loaded", true, true, {Closing::kExit},
     {"...Attempting to locate the Lodestria...", "...Lodestria Found...", "...Loading Initialized, Please wait...",
      "-1 bytes Sent", "Lodestria Updated.  Click the EXIT button below."},
     kLoadedLog},
    {"no package", false, true, {Closing::kEscape},
     {kBox + "The ResetPack file could not be found!!", "The ResetPack file not found. Please EXIT the program."},
     kMissingLog},
    {"the unit never answers", true, false, {Closing::kTitleBarClose, Closing::kMenuClose},
     {"...Attempting to locate the Lodestria...", "...Lodestria NOT Found...",
      " Lodestria not found. Check your connections and try again."},
     kNotFoundLog},
};

// Closes the run's message boxes as they come, until `seen` holds `texts`
// texts; the dialog does not end meanwhile. The step is over at a tick
// without a box, so that the next step does not run inside the box's loop.
inline Step CloseBoxes(ui::ResetDialog& dialog, Seen& seen, std::size_t texts) {
  return [&dialog, &seen, texts] {
    const std::optional<std::string> box = FindDialog(kBoxTitle, true);
    if (box) {
      seen.texts.push_back(kBox + *box);
      EXPECT_FALSE(Ended(dialog));
      // The run waits for its own boxes: its log is complete only at a file error's.
      EXPECT_EQ(ReadFile("ResetSystemLog.doc").ends_with("COMPLETE \n"), box->starts_with("The disk"));
    }
    return !box && seen.texts.size() >= texts;
  };
}

// Every course, each in a working folder of its own with a unit whose port
// `place` places. Each course is ended while its run goes on, the command
// held until the run is over.
inline void RunCourses(const std::string& place) {
  for (const ResetCourse& course : kResetCourses) {
    SCOPED_TRACE(course.name);
    TempDir work;
    WorkingDir cwd(work.path());
    if (course.package) {
      WriteFile("ResetPack.qv5", CoursePackage(false));
      ASSERT_EQ(RunOnHost(StartUnit(place, course.unitAnswers)), 0) << ReadFile("unit.err");
    }
    HeldResetDialog dialog;
    dialog.fileError = course.closings[0] == Closing::kExit;
    std::vector<std::string> texts{ui::ResetDialog::kGreeting};
    texts.insert(texts.end(), course.texts.begin(), course.texts.end());
    Seen seen;
    Script script(
        course.name,
        {[&] {
           if (!WatchStatus(dialog, seen)) return false;
           EXPECT_TRUE(Focused(dialog, ui::IDOK));
           Click(dialog, ui::IDOK);
           return true;
         },
         CloseBoxes(dialog, seen, texts.size()),
         // Progress shows for the reset's own link only (numbered 1), in
         // units of 1028 bytes.
         [&] {
           EXPECT_TRUE(Focused(dialog, ui::IDCANCEL));
           ResetDisplay& display = dialog;
           display.SetProgressRange(4);
           display.ProgressReceiver()(display.ProgressContext(), 1028 * 3, 1);
           display.ProgressReceiver()(display.ProgressContext(), 1027, 2);
           EXPECT_EQ(BarFraction(dialog), 0.75);
           OpenAbout(dialog);
           return true;
         },
         [] { return FindDialog("About Pantoline", true).has_value(); },
         // The commands that end the dialog are held until the run is over.
         [&] {
           if (FindDialog("About Pantoline", false)) return false;
           for (const Closing how : course.closings) Close(dialog, how);
           return true;
         },
         // By the next tick the commands have been dispatched (Windows posts some of them on).
         [&] {
           EXPECT_FALSE(Ended(dialog));
           dialog.goOn = true;
           // The run shows kThen while this thread is busy: neither text may be lost.
           std::this_thread::sleep_for(std::chrono::milliseconds(50));
           return true;
         },
         // A file error is reported before the held command takes effect.
         CloseBoxes(dialog, seen, texts.size() + kThen.size() + dialog.fileError)});
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    texts.insert(texts.end(), kThen.begin(), kThen.end());
    if (dialog.fileError) texts.push_back(kBox + "The disk is full.\nResetSystemLog.doc");
    EXPECT_EQ(seen.texts, texts);
    // Progress may be coalesced, never reordered.
    EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));
    EXPECT_EQ(seen.progress.back(), 1028 * 3);
    EXPECT_EQ(ReadFile("ResetSystemLog.doc"), course.log);
    RunOnHost(kStopUnit);
    EXPECT_EQ(ReadFile("received.bin"), course.package && course.unitAnswers ? CoursePackage(true) : "");
  }
}

// The desktop ends the program in the middle of a transfer: the run cancels the transfer, takes
// the unit out of download mode and closes its log, and the dialog ends once it has: within the
// pauses the unit needs (1 s before the finish command, 1 s before its echo) and a few seconds
// for a busy machine, short of the 5 s the failure's status is left for when somebody reads it.
inline void RunEndedDuringTransfer(const std::string& place) {
  TempDir work;
  WorkingDir cwd(work.path());
  const Bytes package = Package(60'000);
  WriteFile("ResetPack.qv5", std::string(package.begin(), package.end()));
  ASSERT_EQ(RunOnHost(StartUnit(place, true, "--line-rate --verbose")), 0) << ReadFile("unit.err");
  ui::ResetDialog dialog;
  Seen seen;
  std::chrono::steady_clock::time_point asked;
  Script script("ended", {[&] {
                            if (!WatchStatus(dialog, seen)) return false;
                            EXPECT_NE(SessionMayEnd(dialog), false);
                            Click(dialog, ui::IDOK);
                            return true;
                          },
                          [&] {
                            if (seen.progress.empty() || seen.progress.back() < 8 * 128) return false;
                            EXPECT_NE(SessionMayEnd(dialog), true);
                            asked = std::chrono::steady_clock::now();
                            RequestEnd(dialog);
                            return true;
                          }});
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1 + 1 + 3)) << ReadFile("unit.err");
  RunOnHost(kStopUnit);
  EXPECT_EQ(ReadFile("ResetSystemLog.doc"), LoadFailedLog("QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error"));
  ASSERT_GE(seen.texts.size(), 2u);
  EXPECT_EQ(seen.texts.back(), "An error has occured. Turn OFF your Lodestria and try again.");
  const std::string unit = ReadFile("unit.err");
  const auto cancelled = unit.find("sender cancelled");
  ASSERT_NE(cancelled, std::string::npos) << unit;
  EXPECT_NE(unit.find("finish command", cancelled), std::string::npos) << unit;
}

}  // namespace pantoline::testing
