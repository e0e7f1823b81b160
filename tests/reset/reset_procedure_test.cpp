// Whole runs of the reset procedure in virtual time, against scripted ports
// and a display that records what the user would see.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "reset/file_error.h"
#include "reset/reset_procedure.h"
#include "tests/support/scripted_ports.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/temp_dir.h"
#include "tests/support/virtual_clock.h"

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingDisplay final : public ResetDisplay {
 public:
  explicit RecordingDisplay(VirtualClock& clock) : clock_(clock) {}

  void DisableReset() override { events.push_back("disable"); }
  void ShowStatus(const char* text) override {
    events.push_back(std::string("status ") + text);
    statusTimes.push_back(clock_.NowMs());
  }
  void SetProgressRange(int upper) override { events.push_back("range " + std::to_string(upper)); }
  void ShowMessage(const char* text) override { events.push_back(std::string("message ") + text); }
  ProgressCallback ProgressReceiver() override { return &Record; }
  void* ProgressContext() override { return this; }

  std::vector<std::string> events;
  std::vector<std::int64_t> statusTimes;
  std::vector<std::int32_t> progress;

 private:
  static void Record(void* context, std::int32_t bytes, std::int32_t serial) {
    auto* self = static_cast<RecordingDisplay*>(context);
    self->progress.push_back(bytes);
    EXPECT_EQ(serial, 1);
  }

  VirtualClock& clock_;
};

std::string Package(std::size_t length) {
  std::string data(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<char>(i * 31 + 7);
  }
  return data;
}

const char kOpening[] = "PANTOLINE LOG INITIATED \n ";
const char kFound[] = "System Download was found \n ";
const char kClosing[] = "PANTOLINE LOG COMPLETE \n";

class ResetRun : public ::testing::Test {
 protected:
  ResetRun() : cwd_(dir_.path()), ports(clock), display(clock) {}

  ~ResetRun() override { EXPECT_EQ(DeviceLink::linkCount, 0); }

  void Run() { OnReset(display, ports, clock); }

  std::string Log() const { return ReadFile(dir_.path() / "ResetSystemLog.doc"); }
  void PutPackage(const std::string& bytes) { WriteFile(dir_.path() / "ResetPack.qv5", bytes); }

  // The unit on Com3, answering the greeting and receiving the package.
  ScriptedReceiver& UnitOnCom3(std::int64_t requestAfterMs = 1100) {
    ScriptedPort& port = ports.Add("\\\\.\\Com3");
    receiver_ = std::make_unique<ScriptedReceiver>(port);
    port.peer = [this, requestAfterMs](ScriptedPort& p, std::span<const std::uint8_t> bytes) {
      const Bytes line(bytes.begin(), bytes.end());
      if (line == Line("SA-28")) {
        p.Send(Line("SA-77"));
      } else if (line == Line("QV5-3")) {
        p.Send(Line("QV5-3"));
        receiver_->Attach(p);
        receiver_->Start('C', requestAfterMs);
      }
    };
    return *receiver_;
  }

  TempDir dir_;
  WorkingDir cwd_;
  VirtualClock clock;
  ScriptedPorts ports;
  RecordingDisplay display;
  std::unique_ptr<ScriptedReceiver> receiver_;
};

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
  Run();
  EXPECT_THAT(display.events,
              ElementsAre("disable", "range 0", "status ...Attempting to locate the Lodestria...",
                          "status ...Lodestria NOT Found...",
                          "status  Lodestria not found. Check your connections and try again."));
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
  EXPECT_EQ(std::string(unit.received.begin(), unit.received.begin() + 1028), package);
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

TEST_F(ResetRun, ElapsedMinutesCountWholeMinutesOfTheRun) {
  PutPackage(Package(10));
  UnitOnCom3(125'000);
  Run();
  EXPECT_NE(Log().find("Completed in 2 minutes \n"), std::string::npos) << Log();
}

TEST_F(ResetRun, ElapsedMinutesKeepTheHours) {
  PutPackage(Package(10));
  UnitOnCom3(3'660'000);
  Run();
  EXPECT_NE(Log().find("Completed in 61 minutes \n"), std::string::npos) << Log();
}

TEST_F(ResetRun, ATooLargePackageIsRefusedBeforeAnyPortIsOpened) {
  PutPackage(Package(458'752));
  Run();
  EXPECT_THAT(display.events,
              ElementsAre("disable", "message The ResetPack file is too large!!",
                          "status The ResetPack file is too large. Please EXIT the program."));
  EXPECT_EQ(Log(), std::string(kOpening) + "ResetPack is too large \n " + kClosing);
  EXPECT_THAT(ports.opened, IsEmpty());
}

TEST_F(ResetRun, APackageBeyondTwoGigabytesIsTooLargeNotWrappedAround) {
  PutPackage("");
  fs::resize_file(dir_.path() / "ResetPack.qv5", 3ull << 30);  // sparse: no disk used
  Run();
  EXPECT_EQ(display.events[1], "message The ResetPack file is too large!!");
  EXPECT_THAT(ports.opened, IsEmpty());
}

TEST_F(ResetRun, APackageShorterThanItsLengthStopsTheRunBeforeAnyPortIsOpened) {
  // Attribute files report a length of a page but hold a few bytes.
  const fs::path shortFile = "/sys/devices/system/cpu/online";
  if (!fs::exists(shortFile) || fs::file_size(shortFile) <= ReadFile(shortFile).size()) {
    GTEST_SKIP() << "no file here whose content is shorter than its length";
  }
  fs::create_symlink(shortFile, dir_.path() / "ResetPack.qv5");
  try {
    Run();
    FAIL() << "the short read went unreported";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::Cause::kGeneric);
    EXPECT_EQ(error.path(), (dir_.path() / "ResetPack.qv5").string());
  }
  EXPECT_THAT(ports.opened, IsEmpty());
  EXPECT_EQ(Log(), kOpening);  // what was written before the error is kept
}

TEST_F(ResetRun, TheLargestPackageThatFitsIsLoaded) {
  const std::string package = Package(458'751);
  PutPackage(package);
  ScriptedReceiver& unit = UnitOnCom3();
  Run();
  EXPECT_EQ(display.events[1], "range 446");
  EXPECT_EQ(display.progress.rbegin()[1], 3584 * 128);
  EXPECT_EQ(std::string(unit.received.begin(), unit.received.begin() + 458'751), package);
}

TEST_F(ResetRun, AnEmptyPackageCountsAsFoundAndSendsOnlyTheEnd) {
  PutPackage("");
  ScriptedReceiver& unit = UnitOnCom3();
  Run();
  EXPECT_EQ(display.events[1], "range 0");
  EXPECT_THAT(unit.blocks, IsEmpty());
  EXPECT_EQ(unit.eots(), 1);
  EXPECT_THAT(display.progress, ElementsAre(0, -1));
  EXPECT_NE(Log().find("App Load System:: \n    QV5SUCCESS: Successful\n"), std::string::npos);
}

TEST_F(ResetRun, PackageBytesArriveUnchanged) {
  const std::string package("\r\n\x1a\0\n\r\x1a\xff", 8);
  PutPackage(package);
  ScriptedReceiver& unit = UnitOnCom3();
  Run();
  EXPECT_EQ(std::string(unit.received.begin(), unit.received.begin() + 9), package + '\x1a');
}

TEST_F(ResetRun, APackageHeldByAnotherOpenerCountsAsMissing) {
  PutPackage(Package(100));
  const int holder = open("ResetPack.qv5", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  Run();
  close(holder);
  EXPECT_EQ(display.events[1], "message The ResetPack file could not be found!!");
}

TEST_F(ResetRun, ALogThatCannotBeCreatedLeavesTheRunToGoOnWithoutIt) {
  fs::create_directory(dir_.path() / "ResetSystemLog.doc");
  PutPackage(Package(100));
  UnitOnCom3();
  Run();
  EXPECT_EQ(display.events.back(), "status Lodestria Updated.  Click the EXIT button below.");
  EXPECT_TRUE(fs::is_directory(dir_.path() / "ResetSystemLog.doc"));
}

TEST_F(ResetRun, ALogInAReadOnlyFolderIsSkipped) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind root";
  }
  PutPackage(Package(100));
  fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  Run();
  fs::permissions(dir_.path(), fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(dir_.path() / "ResetSystemLog.doc"));
  EXPECT_EQ(display.events.back(), "status  Lodestria not found. Check your connections and try again.");
}

TEST_F(ResetRun, AFullDiskStopsTheRunWithEverythingReleased) {
  fs::create_symlink("/dev/full", dir_.path() / "ResetSystemLog.doc");
  PutPackage(Package(300));
  UnitOnCom3();
  try {
    Run();
    FAIL() << "the full disk went unreported";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::Cause::kDiskFull);
    EXPECT_EQ(error.path(), (dir_.path() / "ResetSystemLog.doc").string());
  }
  EXPECT_EQ(ports.openCount(), 0);
  EXPECT_EQ(DeviceLink::linkCount, 0);
  const int package = open("ResetPack.qv5", O_RDONLY);
  EXPECT_EQ(flock(package, LOCK_EX | LOCK_NB), 0);  // released
  close(package);
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
