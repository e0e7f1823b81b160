// The program's main dialog driven from inside the test process, on either
// desktop: steps run from the toolkit's timer while the dialog runs
// modally, and the courses of a reset as the window shows them, with the
// simulated unit as the first port ("\\.\Com1").
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "ui/reset_dialog.h"

namespace pantoline::testing {

class Script;
// What each dialog test gives of its desktop: `command` run with the
// host's shell in the working folder, returning its exit status once it has
// ended; and a timer that ticks `script` from the thread's message loop.
int RunOnHost(const std::string& command);
std::uintptr_t StartTimer(Script* script);
void StopTimer(std::uintptr_t timer);

// A screenshot of the whole display as <PANTOLINE_ARTEFACTS>/<name>.png.
inline void KeepScreenshot(std::string name) {
  const char* folder = std::getenv("PANTOLINE_ARTEFACTS");
  if (folder == nullptr) return;
  std::replace(name.begin(), name.end(), ' ', '_');
  const std::string file = std::string(folder) + "/" + name + ".png";
  if (RunOnHost("mkdir -p '" + std::string(folder) + "' && import -window root '" + file + "'") == 0) {
    std::printf("The screen is kept in %s\n", file.c_str());
  }
}

// The simulated unit (PANTOLINE_SIMUNIT) in the background, its port
// placed by `place`, answering the greeting or not. With --once it ends
// after one transfer, which it writes to received.bin; it is ended after
// five minutes at the latest, should the test itself be ended.
inline std::string StartUnit(const std::string& place, bool answers) {
  return "( timeout 300 \"$PANTOLINE_SIMUNIT\" " + place + " --once --output received.bin --greeting " +
         (answers ? "normal" : "silent") +
         " >unit.out 2>unit.err & echo $! >unit.pid; wait $!; echo $? >unit.rc ) &" +
         " until [ -s unit.out ] || [ -e unit.rc ]; do sleep 0.05; done; [ -s unit.out ]";
}
// Ends the unit: one that has written its transfer gets a second to end by
// itself.
inline constexpr char kStopUnit[] =
    "if [ -e unit.pid ]; then"
    " [ -e received.bin ] && for i in 1 2 3 4 5 6 7 8 9 10; do [ -e unit.rc ] || sleep 0.1; done;"
    " kill $(cat unit.pid) 2>/dev/null; until [ -e unit.rc ]; do sleep 0.05; done; fi";

using Step = std::function<bool()>;

// Steps run one after another from the desktop's timer while a dialog
// runs; a step that returns false is tried again at the next Tick. A step
// that does not come to pass within a minute, or a dialog that does not end
// within a minute of the last step, fails the test `name`: the screen is
// kept, the unit stopped and the program ends, since a modal loop may wait
// for a window that nobody closes.
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

// The checks of the running test that have failed so far.
inline int Failures() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

// What the window showed: the status line's texts in order, progress texts
// ("<n> bytes Sent", n >= 0) apart, and the message boxes' texts.
struct Seen {
  const int failuresBefore = Failures();
  std::vector<std::string> texts;
  std::vector<int> progress;
  std::vector<std::string> boxes;

  void Status(const std::string& text) {
    if (text.ends_with(" bytes Sent") && text[0] != '-') progress.push_back(std::stoi(text));
    else texts.push_back(text);
  }
};

// A course of the reset as the window shows it, from RESET to the last
// status.
struct ResetCourse {
  const char* name;
  bool package;      // ResetPack.qv5 is in the working folder
  bool unitAnswers;  // the unit on Com1 answers the greeting, or keeps silent
  std::vector<std::string> boxes;
  std::vector<std::string> texts;  // after the greeting
  std::string log;                 // ResetSystemLog.doc
};

inline const std::string kOk = "QV5SUCCESS: Successful";
inline const std::string kLocate =
    "PANTOLINE LOG INITIATED \n System Download was found \n App Locate the Lodestria :: \n    ";
inline const ResetCourse kResetCourses[] = {
    {"the unit is loaded", true, true, {},
     {"...Attempting to locate the Lodestria...", "...Lodestria Found...", "...Loading Initialized, Please wait...",
      "-1 bytes Sent", "Lodestria Updated.  Click the EXIT button below."},
     kLocate + kOk + " - Current Port = \\\\.\\Com1\nSet Progress Function:: \n    " + kOk +
         "\nApp Load System:: \n    " + kOk + "\nCompleted in 0 minutes \nPANTOLINE LOG COMPLETE \n"},
    {"no package", false, true, {"The ResetPack file could not be found!!"},
     {"The ResetPack file not found. Please EXIT the program."},
     "PANTOLINE LOG INITIATED \n ResetPack was NOT found \n PANTOLINE LOG COMPLETE \n"},
    // The last name tried, Com32, does not exist: its open failed.
    {"the unit never answers", true, false, {},
     {"...Attempting to locate the Lodestria...", "...Lodestria NOT Found...",
      " Lodestria not found. Check your connections and try again."},
     kLocate + "QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - Current Port = NOT FOUND\n"
               "PANTOLINE LOG COMPLETE \n"},
};

// The courses' package: 3000 bytes, which end inside the last of 24 blocks.
inline std::string CoursePackage() {
  std::string package(3000, '\0');
  for (std::size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 131 + 17);
  return package;
}

// What the unit receives of it: the pad byte 0x1A, then zeros to the end
// of the last block.
inline std::string ReceivedPackage() {
  std::string package = CoursePackage() + '\x1a';
  package.resize(24 * 128, '\0');
  return package;
}

// The run of `course` has shown all its texts.
inline bool Shown(const ResetCourse& course, const Seen& seen) {
  return seen.texts.size() > course.texts.size();
}

// The course as the window showed it, each box's text followed by
// `boxEnd` (its button's label, where the platform reads it). Keeps the
// screen when a check of the course has failed.
inline void ExpectShown(const ResetCourse& course, const Seen& seen, const std::string& boxEnd) {
  std::vector<std::string> texts{ui::ResetDialog::kGreeting};
  texts.insert(texts.end(), course.texts.begin(), course.texts.end());
  EXPECT_EQ(seen.texts, texts);
  std::vector<std::string> boxes;
  for (const std::string& box : course.boxes) boxes.push_back(box + boxEnd);
  EXPECT_EQ(seen.boxes, boxes);
  // Progress may be coalesced, never reordered.
  EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));
  if (Failures() > seen.failuresBefore) KeepScreenshot(course.name);
}

// Every course, each in a working folder of its own with a unit whose port
// `place` places; `run` takes the dialog through the course.
inline void RunCourses(const std::string& place, const std::function<void(const ResetCourse&)>& run) {
  for (const ResetCourse& course : kResetCourses) {
    SCOPED_TRACE(course.name);
    TempDir work;
    WorkingDir cwd(work.path());
    if (course.package) {
      WriteFile("ResetPack.qv5", CoursePackage());
      ASSERT_EQ(RunOnHost(StartUnit(place, course.unitAnswers)), 0) << ReadFile("unit.err");
    }
    run(course);
    EXPECT_EQ(ReadFile("ResetSystemLog.doc"), course.log);
    RunOnHost(kStopUnit);
    EXPECT_EQ(ReadFile("received.bin"), course.package && course.unitAnswers ? ReceivedPackage() : "");
  }
}

}  // namespace pantoline::testing
