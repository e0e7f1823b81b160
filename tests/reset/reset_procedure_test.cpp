// Whole runs of the reset procedure: each course, its status texts and
// pauses, its log byte for byte, and what becomes of the link.
#include "tests/reset/reset_run.h"

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;

const std::string kLocating = "status ...Attempting to locate the Lodestria...",
                  kFound = "status ...Lodestria Found...",
                  kLoading = "status ...Loading Initialized, Please wait...",
                  kUpdated = "status Lodestria Updated.  Click the EXIT button below.";
const std::string kAdvice = "no permission to open /dev/ttyUSB0: ...";  // a port passed over
const std::string kFoundLog = "System Download was found \n ",
                  kOnCom3 = "App Locate the Lodestria :: \n    QV5SUCCESS: Successful - Current Port = "
                            "\\\\.\\Com3\nSet Progress Function:: \n    QV5SUCCESS: Successful\n",
                  kLoaded = "App Load System:: \n    QV5SUCCESS: Successful\n";

struct Course {
  const char* name;
  std::int64_t packageBytes;    // -1: none
  std::int64_t requestAfterMs;  // when the unit on Com3 asks for the package; -1: no unit
  std::vector<std::string> events;
  std::string log;  // between the opening and the closing line
  std::vector<std::uint32_t> pauses;  // of 100 ms or more, in order
  std::size_t opens;                  // ports tried
};

std::vector<std::string> Refused(const std::string& what) {
  return {"disable", "message The ResetPack file is " + what + "!!",
          "status The ResetPack file is " + what + ". Please EXIT the program."};
}

const Course kCourses[] = {
    {"MissingPackage", -1, 1100,
     {"disable", kMissing, "status The ResetPack file not found. Please EXIT the program."},
     "ResetPack was NOT found \n ", {}, 0},
    {"TooLargePackage", kPackageCapacity + 1, 1100, Refused("too large"), "ResetPack is too large \n ", {}, 0},
    {"EmptyPackage", 0, 1100, Refused("empty"), "ResetPack is empty \n ", {}, 0},
    // 2000 ms on "NOT Found", then FinishDownload's own second. Code 26's
    // text ends in a blank: two blanks before the dash.
    {"AbsentUnit", 1027, -1,
     {"disable", "range 0", kLocating, "status ...Lodestria NOT Found...",
      "status  Lodestria not found. Check your connections and try again.", "message " + kAdvice},
     kFoundLog + "App Locate the Lodestria :: \n    QV5INVALIDHANDLEVALUE: Invalid Comm Handle Value  - "
                 "Current Port = NOT FOUND\n",
     {2000, 1000}, 32},
    // Opening Com3, the pause after "Found", the download command's second.
    {"Success", 1028, 1100, {"disable", "range 1", kLocating, kFound, kLoading, kUpdated},
     kFoundLog + kOnCom3 + kLoaded + "Completed in 0 minutes \n", {300, 500, 1000}, 3},
    {"LargestPackageThatFits", kPackageCapacity, 1100,
     {"disable", "range 446", kLocating, kFound, kLoading, kUpdated},
     kFoundLog + kOnCom3 + kLoaded + "Completed in 0 minutes \n", {300, 500, 1000}, 3},
    // Whole minutes of the run on the monotonic clock, hours kept. The run
    // lasts 825 ms more than the unit's wait before it asks for the package:
    // opening Com3, reading the greeting's reply, the pause after "Found".
    {"TwoMinutesToTheMillisecond", 10, 120'000 - 825,
     {"disable", "range 0", kLocating, kFound, kLoading, kUpdated},
     kFoundLog + kOnCom3 + kLoaded + "Completed in 2 minutes \n", {300, 500, 1000}, 3},
    {"AnHourAndMore", 10, 3'660'000, {"disable", "range 0", kLocating, kFound, kLoading, kUpdated},
     kFoundLog + kOnCom3 + kLoaded + "Completed in 61 minutes \n", {300, 500, 1000}, 3},
    // A failed load takes the unit out of download mode: 5000 ms on "NOT
    // updated", then FinishDownload's second and its command's.
    {"FailedLoad", 2000, 100'000'000,
     {"disable", "range 1", kLocating, kFound, kLoading, "status Your Lodestria was NOT updated!",
      "status An error has occured. Turn OFF your Lodestria and try again."},
     kFoundLog + kOnCom3 + "App Load System:: \n    QV5XMODEMSYNCERROR:  XModem Failure No Sync\n",
     {300, 500, 1000, 5000, 1000, 1000}, 3},
};

class Courses : public ResetRun, public ::testing::WithParamInterface<Course> {};

TEST_P(Courses, ShowLogAndPauseAsTheUserExpects) {
  const Course& c = GetParam();
  WriteFile(dir_.path() / "ResetSystemLog.doc", std::string(5000, 'x'));  // an earlier run's
  const std::string package = Package(static_cast<std::size_t>(std::max<std::int64_t>(c.packageBytes, 0)));
  if (c.packageBytes >= 0) {
    PutPackage(package);
  }
  ScriptedReceiver* unit = c.requestAfterMs >= 0 ? &UnitOnCom3(c.requestAfterMs) : nullptr;
  ports.accessAdvice = kAdvice;  // shown only when no unit answers
  Run();
  EXPECT_EQ(display.events, c.events);
  EXPECT_EQ(Log(), kOpening + c.log + kClosing);
  std::vector<std::uint32_t> pauses;
  std::ranges::copy_if(clock.sleeps, std::back_inserter(pauses), [](std::uint32_t ms) { return ms >= 100; });
  EXPECT_EQ(pauses, c.pauses);
  EXPECT_EQ(ports.opened.size(), c.opens);
  EXPECT_EQ(ports.OpenCount(), 0);  // the link closed its port
  if (display.events.back() == kUpdated) {
    std::vector<std::int32_t> progress{0};
    while (progress.back() < c.packageBytes) {
      progress.push_back(progress.back() + 128);
    }
    progress.push_back(-1);
    EXPECT_EQ(display.progress, progress);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(Bytes(unit->received.begin(), unit->received.begin() + std::min(unit->received.size(), package.size())),
              B(package));
  } else if (unit != nullptr && c.opens > 0) {
    EXPECT_EQ(ports.Find("\\\\.\\Com3")->writes.back(), Line("QV5-9"));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Courses, ::testing::ValuesIn(kCourses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResetRun, ALogThatCannotBeCreatedLeavesTheRunToGoOnWithoutIt) {
  fs::create_directory(dir_.path() / "ResetSystemLog.doc");
  PutPackage(Package(100));
  UnitOnCom3();
  Run();
  EXPECT_EQ(display.events.back(), kUpdated);
  EXPECT_TRUE(fs::is_directory(dir_.path() / "ResetSystemLog.doc"));
}

TEST_F(ResetRun, OnlyAFileOnDiskOpensAsAPackage) {
  // The null device: NUL anywhere on Windows; /dev/null on Linux, and under
  // Wine when the working folder is on the drive that maps the Linux root.
  for (const char* device : {"NUL", "/dev/null"}) {
    std::FILE* opened = file_platform::OpenExclusiveForReading(device);
    EXPECT_EQ(opened, nullptr) << device;
    if (opened != nullptr) {
      std::fclose(opened);
    }
  }
}

}  // namespace
}  // namespace pantoline::testing
