// Whole runs of the reset procedure: each course, its status texts and
// pauses, its log byte for byte, and what becomes of the link.
#include "reset/file_platform.h"
#include "tests/reset/reset_run.h"

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(ResetRun, AMissingPackageEndsWithOneMessageBoxAndOpensNoPort) {
  WriteFile(dir_.path() / "ResetSystemLog.doc", std::string(5000, 'x'));  // an earlier run's
  Run();
  EXPECT_THAT(display.events,
              ElementsAre("disable", "message The ResetPack file could not be found!!",
                          "status The ResetPack file not found. Please EXIT the program."));
  EXPECT_EQ(Log(), std::string(kOpening) + "ResetPack was NOT found \n " + kClosing);
  EXPECT_THAT(ports.opened, IsEmpty());
  EXPECT_THAT(clock.sleeps(), IsEmpty());
}

TEST_F(ResetRun, AnAbsentUnitIsReportedAfterTheSearchAndTheFinishingPause) {
  PutPackage(Package(1027));
  ports.accessAdvice = "no permission to open /dev/ttyUSB0: ...";  // a port passed over
  Run();
  EXPECT_THAT(display.events,
              ElementsAre("disable", "range 0", "status ...Attempting to locate the Lodestria...",
                          "status ...Lodestria NOT Found...",
                          "status  Lodestria not found. Check your connections and try again.",
                          "message no permission to open /dev/ttyUSB0: ..."));
  // 2000 ms on "NOT Found", then FinishDownload's own second.
  EXPECT_EQ(display.statusTimes[2] - display.statusTimes[1], 3000);
  EXPECT_EQ(ports.opened.size(), 32u);
  // Code 26's text ends in a blank: two blanks before the dash.
  EXPECT_EQ(Log(), std::string(kOpening) + kFound +
                       "App Locate the Lodestria :: \n    QV5INVALIDHANDLEVALUE: Invalid Comm Handle "
                       "Value  - Current Port = NOT FOUND\n" +
                       kClosing);
}

TEST_F(ResetRun, ASuccessfulRunLoadsTheWholePackageAndLogsEveryStage) {
  const std::string package = Package(1028);
  PutPackage(package);
  ScriptedReceiver& unit = UnitOnCom3();
  Run();

  EXPECT_THAT(display.events,
              ElementsAre("disable", "range 1", "status ...Attempting to locate the Lodestria...",
                          "status ...Lodestria Found...", "status ...Loading Initialized, Please wait...",
                          "status Lodestria Updated.  Click the EXIT button below."));
  EXPECT_GE(display.statusTimes[2] - display.statusTimes[1], 500);
  EXPECT_THAT(display.progress, ElementsAre(0, 128, 256, 384, 512, 640, 768, 896, 1024, 1152, -1));
  EXPECT_EQ(Head(unit.received, 1028), B(package));
  EXPECT_EQ(Log(), std::string(kOpening) + kFound +
                       "App Locate the Lodestria :: \n    QV5SUCCESS: Successful - Current Port = "
                       "\\\\.\\Com3\n"
                       "Set Progress Function:: \n    QV5SUCCESS: Successful\n"
                       "App Load System:: \n    QV5SUCCESS: Successful\n"
                       "Completed in 0 minutes \n" +
                       kClosing);
  EXPECT_EQ(ports.openCount(), 0);  // the link closed its port
  EXPECT_EQ(Log().find('\r'), std::string::npos);
}

TEST_F(ResetRun, AFailedLoadTakesTheUnitOutOfDownloadMode) {
  PutPackage(Package(2000));
  UnitOnCom3(/*requestAfterMs=*/100'000'000);  // never asks for the package
  Run();
  EXPECT_THAT(display.events,
              ElementsAre("disable", "range 1", "status ...Attempting to locate the Lodestria...",
                          "status ...Lodestria Found...", "status ...Loading Initialized, Please wait...",
                          "status Your Lodestria was NOT updated!",
                          "status An error has occured. Turn OFF your Lodestria and try again."));
  EXPECT_GE(display.statusTimes[4] - display.statusTimes[3], 5000 + 1000 + 1000);
  EXPECT_EQ(ports.Find("\\\\.\\Com3")->writes.back(), Line("QV5-9"));
  EXPECT_EQ(Log(), std::string(kOpening) + kFound +
                       "App Locate the Lodestria :: \n    QV5SUCCESS: Successful - Current Port = "
                       "\\\\.\\Com3\n"
                       "Set Progress Function:: \n    QV5SUCCESS: Successful\n"
                       "App Load System:: \n    QV5XMODEMSYNCERROR:  XModem Failure No Sync\n" +
                       kClosing);
}

// Whole minutes of the run on the monotonic clock, hours kept.
class ElapsedMinutes : public ResetRun,
                       public ::testing::WithParamInterface<std::pair<std::int64_t, int>> {};

TEST_P(ElapsedMinutes, CountWholeMinutesOfTheRun) {
  const auto [runMs, minutes] = GetParam();
  PutPackage(Package(10));
  UnitOnCom3(runMs);
  Run();
  EXPECT_NE(Log().find("Completed in " + std::to_string(minutes) + " minutes \n"), std::string::npos)
      << Log();
}

INSTANTIATE_TEST_SUITE_P(Runs, ElapsedMinutes,
                         ::testing::Values(std::pair<std::int64_t, int>{1'100, 0},
                                           std::pair<std::int64_t, int>{125'000, 2},
                                           std::pair<std::int64_t, int>{3'660'000, 61}));

TEST_F(ResetRun, ATooLargeOrEmptyPackageIsRefusedBeforeAnyPortIsOpened) {
  struct Case {
    std::size_t size;
    const char* what;  // "too large", "empty"
  };
  for (const Case& c : {Case{458'752, "too large"}, Case{0, "empty"}}) {
    SCOPED_TRACE(c.what);
    display.events.clear();
    PutPackage(Package(c.size));
    Run();
    const std::string what = c.what;
    EXPECT_THAT(display.events,
                ElementsAre("disable", "message The ResetPack file is " + what + "!!",
                            "status The ResetPack file is " + what + ". Please EXIT the program."));
    EXPECT_EQ(Log(), std::string(kOpening) + "ResetPack is " + what + " \n " + kClosing);
    EXPECT_THAT(ports.opened, IsEmpty());
  }
}

TEST_F(ResetRun, TheLargestPackageThatFitsIsLoaded) {
  const std::string package = Package(458'751);
  PutPackage(package);
  ScriptedReceiver& unit = UnitOnCom3();
  Run();
  EXPECT_EQ(display.events[1], "range 446");
  EXPECT_EQ(display.progress.rbegin()[1], 3584 * 128);
  EXPECT_EQ(Head(unit.received, 458'751), B(package));
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
  PutPackage("x");
  std::FILE* package = file_platform::OpenExclusiveForReading("ResetPack.qv5");
  ASSERT_NE(package, nullptr);
  std::fclose(package);
}

TEST_F(ResetRun, PackageBytesArriveUnchanged) {
  const std::string package("\r\n\x1a\0\n\r\x1a\xff", 8);
  PutPackage(package);
  ScriptedReceiver& unit = UnitOnCom3();
  Run();
  EXPECT_EQ(Head(unit.received, 9), B(package + '\x1a'));
}

TEST_F(ResetRun, ALogThatCannotBeCreatedLeavesTheRunToGoOnWithoutIt) {
  fs::create_directory(dir_.path() / "ResetSystemLog.doc");
  PutPackage(Package(100));
  UnitOnCom3();
  Run();
  EXPECT_EQ(display.events.back(), "status Lodestria Updated.  Click the EXIT button below.");
  EXPECT_TRUE(fs::is_directory(dir_.path() / "ResetSystemLog.doc"));
}

TEST_F(ResetRun, FilesAreFoundAndWrittenInTheWorkingDirectory) {
  TempDir elsewhere;
  PutPackage(Package(100));  // in the first folder, not the working one
  {
    WorkingDir there(elsewhere.path());
    Run();
  }
  EXPECT_EQ(display.events[1], "message The ResetPack file could not be found!!");
  EXPECT_TRUE(fs::exists(elsewhere.path() / "ResetSystemLog.doc"));
  EXPECT_FALSE(fs::exists(dir_.path() / "ResetSystemLog.doc"));
}

}  // namespace
}  // namespace pantoline::testing
