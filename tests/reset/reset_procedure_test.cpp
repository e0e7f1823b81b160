// Whole runs of the reset procedure: each course, its status texts and
// pauses, its log byte for byte, and what becomes of the link.
#include "tests/reset/reset_run.h"

namespace pantoline::testing {
namespace {

const std::string kLocating = "status ...Attempting to locate the Lodestria...",
                  kUpdated = "status Lodestria Updated.  Click the EXIT button below.",
                  kAdvice = "no permission to open /dev/ttyUSB0: ...",  // a port passed over
                  kFound = "System Download was found \n ",
                  kOnCom3 = kFound + "App Locate the Lodestria :: \n    QV5SUCCESS: Successful - Current Port = "
                                     "\\\\.\\Com3\nSet Progress Function:: \n    QV5SUCCESS: Successful\n",
                  kLoaded = kOnCom3 + "App Load System:: \n    QV5SUCCESS: Successful\nCompleted in ";

std::vector<std::string> Refused(const std::string& what) {
  return {"disable", "message The ResetPack file is " + what + "!!",
          "status The ResetPack file is " + what + ". Please EXIT the program."};
}
std::vector<std::string> Loading(int range, std::vector<std::string> end) {
  std::vector<std::string> events = {"disable", "range " + std::to_string(range), kLocating,
                                     "status ...Lodestria Found...", "status ...Loading Initialized, Please wait..."};
  events.insert(events.end(), end.begin(), end.end());
  return events;
}

struct Course {
  const char* name;
  std::int64_t packageBytes;    // -1: none
  std::int64_t requestAfterMs;  // when the unit on Com3 asks for the package; -1: no unit
  std::vector<std::string> events;
  std::string log;                    // between the opening and the closing line
  std::vector<std::uint32_t> pauses;  // of 100 ms or more, in order
  std::size_t opens;                  // ports tried
  ResetOutcome outcome;
  const char* port = nullptr;  // greeted alone
  std::int32_t stopAt = -2;    // progress at which the run is asked to stop
};
constexpr ResetOutcome kUpdatedOutcome{ResetCourse::kUpdated};
const std::string kStopped = "QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error";

const Course kCourses[] = {
    {"MissingPackage", -1, 1100, {"disable", kMissing, "status The ResetPack file not found. Please EXIT the program."},
     "ResetPack was NOT found \n ", {}, 0, {ResetCourse::kPackageMissing}},
    {"TooLargePackage", 458'752, 1100, Refused("too large"), "ResetPack is too large \n ", {}, 0,
     {ResetCourse::kPackageTooLarge}},
    {"EmptyPackage", 0, 1100, Refused("empty"), "ResetPack is empty \n ", {}, 0, {ResetCourse::kPackageEmpty}},
    // 2000 ms on "NOT Found", then FinishDownload's own second. Code 26's
    // text ends in a blank: two blanks before the dash.
    {"AbsentUnit", 1027, -1,
     {"disable", "range 0", kLocating, "status ...Lodestria NOT Found...",
      "status  Lodestria not found. Check your connections and try again.", "message " + kAdvice},
     kFound + "App Locate the Lodestria :: \n    QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - "
              "Current Port = NOT FOUND\n",
     {2000, 1000}, 32, {ResetCourse::kNotFound, QV5INVALIDHANDLEVALUE}},
    // Opening Com3, the pause after "Found", the download command's second.
    {"Success", 1028, 1100, Loading(1, {kUpdated}), kLoaded + "0 minutes \n", {300, 500, 1000}, 3, kUpdatedOutcome},
    {"LargestPackageThatFits", 458'751, 1100, Loading(446, {kUpdated}), kLoaded + "0 minutes \n",
     {300, 500, 1000}, 3, kUpdatedOutcome},
    // Whole minutes of the run on the monotonic clock, hours kept. The run
    // lasts 825 ms more than the unit's wait before it asks for the package:
    // opening Com3, reading the greeting's reply, the pause after "Found".
    {"TwoMinutesToTheMillisecond", 10, 120'000 - 825, Loading(0, {kUpdated}), kLoaded + "2 minutes \n",
     {300, 500, 1000}, 3, kUpdatedOutcome},
    {"AnHourAndMore", 10, 3'660'000, Loading(0, {kUpdated}), kLoaded + "61 minutes \n", {300, 500, 1000}, 3,
     kUpdatedOutcome},
    // A failed load takes the unit out of download mode: 5000 ms on "NOT
    // updated", then FinishDownload's second and its command's.
    {"FailedLoad", 2000, 100'000'000,
     Loading(1, {"status Your Lodestria was NOT updated!",
                 "status An error has occured. Turn OFF your Lodestria and try again."}),
     kOnCom3 + "App Load System:: \n    QV5XMODEMSYNCERROR:  XModem Failure No Sync\n",
     {300, 500, 1000, 5000, 1000, 1000}, 3, {ResetCourse::kLoadFailed, QV5XMODEMSYNCERROR}},
    // A port given is the only one greeted, and is named as the search names it.
    {"GivenPort", 1028, 1100, Loading(1, {kUpdated}), kLoaded + "0 minutes \n", {300, 500, 1000}, 1,
     kUpdatedOutcome, "\\\\.\\Com3"},
    {"GivenPortSilent", 1028, 1100,
     {"disable", "range 1", kLocating, "status ...Lodestria NOT Found...",
      "status  Lodestria not found. Check your connections and try again.", "message " + kAdvice},
     kFound + "App Locate the Lodestria :: \n    QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - "
              "Current Port = NOT FOUND\n",
     {2000, 1000}, 1, {ResetCourse::kNotFound, QV5INVALIDHANDLEVALUE}, "\\\\.\\Com2"},
    // Stopped after the first block: the sender cancels, and the unit is
    // taken out of download mode as after any failed load.
    {"StoppedDuringTheLoad", 2000, 1100,
     Loading(1, {"status Your Lodestria was NOT updated!",
                 "status An error has occured. Turn OFF your Lodestria and try again."}),
     kOnCom3 + "App Load System:: \n    " + kStopped + "\n", {300, 500, 1000, 1000, 1000}, 3,
     {ResetCourse::kLoadFailed, QV5XMODEMUNKNOWNERROR}, nullptr, 128},
};

class Courses : public ResetRun, public ::testing::WithParamInterface<Course> {};

TEST_P(Courses, ShowLogAndPauseAsTheUserExpects) {
  const Course& c = GetParam();
  WriteFile("ResetSystemLog.doc", std::string(5000, 'x'));  // an earlier run's
  const Bytes package = Package(static_cast<std::size_t>(std::max<std::int64_t>(c.packageBytes, 0)));
  if (c.packageBytes >= 0) PutPackage(package);
  if (c.requestAfterMs >= 0) UnitOnCom3(c.requestAfterMs);
  ports.accessAdvice = kAdvice;  // shown only when no unit answers
  display.stopAt = c.stopAt;
  const ResetOutcome outcome = Run({.port = c.port, .stop = &display.stop});
  EXPECT_EQ(outcome.course, c.outcome.course);
  EXPECT_EQ(outcome.result, c.outcome.result);
  EXPECT_EQ(display.events, c.events);
  EXPECT_EQ(Log(), kOpening + c.log + kClosing);
  std::vector<std::uint32_t> pauses;
  std::ranges::copy_if(clock.sleeps, std::back_inserter(pauses), [](std::uint32_t ms) { return ms >= 100; });
  EXPECT_EQ(pauses, c.pauses);
  EXPECT_EQ(ports.opened.size(), c.opens);
  EXPECT_EQ(ports.OpenCount(), 0);  // the link closed its port
  if (display.events.back() == kUpdated) {
    EXPECT_EQ(display.progress, Progress(static_cast<int>((c.packageBytes + 127) / 128)));
    receiver.received.resize(package.size());
    EXPECT_EQ(receiver.received, package);
  }
  if (c.stopAt >= 0) {  // the three CAN, then "QV5-9"
    EXPECT_EQ(receiver.singles, Bytes({24, 24, 24}));
    EXPECT_EQ(ports.log.end()[-4], "write \\\\.\\Com3 7");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Courses, ::testing::ValuesIn(kCourses),
                         [](const auto& info) { return std::string(info.param.name); });

// The log never empties the package, whichever name leads to it, and a log
// that cannot be made is named with the system's reason after the run.
TEST_F(ResetRun, TheLogNeverTakesThePackageAndALogNotMadeSaysWhy) {
  namespace fs = std::filesystem;
  const Bytes package = Package(1000);
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "the log is the package" : "the log is a folder");
    display.events.clear();
    fs::remove_all("ResetSystemLog.doc");
    PutPackage(package);
    linked ? fs::create_hard_link(kPackageFileName, "ResetSystemLog.doc")
           : (void)fs::create_directory("ResetSystemLog.doc");
    if (linked) UnitOnCom3();
    Run();
    EXPECT_EQ(ReadFile(kPackageFileName), std::string(package.begin(), package.end()));
    if (linked) {
      EXPECT_EQ(display.events.at(1),
                "message The reset log would overwrite the ResetPack file; no log is written.");
      EXPECT_EQ(display.events.back(), "status Lodestria Updated.  Click the EXIT button below.");
      receiver.received.resize(package.size());
      EXPECT_EQ(receiver.received, package);
    } else {
      const std::string named = "message The reset log " + (dir_.path() / "ResetSystemLog.doc").string() +
                                " could not be created: ";
      EXPECT_EQ(display.events.end()[-2], "status  Lodestria not found. Check your connections and try again.");
      EXPECT_TRUE(display.events.back().starts_with(named) && display.events.back().size() > named.size())
          << display.events.back();
    }
  }
}

}  // namespace
}  // namespace pantoline::testing
