// Runs of the reset procedure with files that only Linux stages easily: a
// lock held by another opener, a full disk, a short read, a huge sparse file,
// FIFOs and devices in place of the two files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/reset/reset_run.h"

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::IsEmpty;

TEST_F(ResetRun, APackageBeyondTwoGigabytesIsTooLargeNotWrappedAround) {
  // Sparse: no disk used. (Windows C libraries cannot stage this size.)
  PutPackage("");
  fs::resize_file(dir_.path() / "ResetPack.qv5", 3ull << 30);
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

TEST_F(ResetRun, NothingButARegularFileIsAPackageAndNoFifoTakesTheLog) {
  alarm(30);  // a blocking open of a FIFO would never return: end the test instead
  const fs::path package = dir_.path() / "ResetPack.qv5";
  const fs::path log = dir_.path() / "ResetSystemLog.doc";
  enum Odd { kFifo, kFifoWithReader, kZeroDevice, kFolder };
  struct Case {
    bool inPackage;  // else in the log's place
    Odd kind;
  };
  for (const Case c : {Case{true, kFifo}, Case{true, kFifoWithReader}, Case{true, kZeroDevice},
                       Case{true, kFolder}, Case{false, kFifo}, Case{false, kFifoWithReader}}) {
    SCOPED_TRACE(c.kind + (c.inPackage ? 0 : 10));
    display.events.clear();
    fs::remove_all(package);
    fs::remove_all(log);
    if (!c.inPackage) {
      PutPackage(Package(100));
    }
    const fs::path odd = c.inPackage ? package : log;
    int reader = -1;
    if (c.kind == kFifo || c.kind == kFifoWithReader) {
      mkfifo(odd.c_str(), 0600);
      reader = c.kind == kFifoWithReader ? open(odd.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    } else if (c.kind == kZeroDevice) {
      fs::create_symlink("/dev/zero", odd);
    } else {
      fs::create_directory(odd);
    }
    Run();
    if (c.inPackage) {
      EXPECT_EQ(display.events[1], "message The ResetPack file could not be found!!");
      EXPECT_EQ(Log(), std::string(kOpening) + "ResetPack was NOT found \n " + kClosing);
    } else {
      EXPECT_EQ(display.events.back(), "status  Lodestria not found. Check your connections and try again.");
      char byte = 0;
      EXPECT_LE(reader < 0 ? 0 : read(reader, &byte, 1), 0) << "the log went into the FIFO";
      close(reader);
    }
  }
  alarm(0);
}

TEST_F(ResetRun, APackageHeldByAnotherOpenerCountsAsMissing) {
  PutPackage(Package(100));
  const int holder = open("ResetPack.qv5", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  Run();
  close(holder);
  EXPECT_EQ(display.events[1], "message The ResetPack file could not be found!!");
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

}  // namespace
}  // namespace pantoline::testing
