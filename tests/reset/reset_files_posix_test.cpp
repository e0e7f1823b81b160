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

TEST_F(ResetRun, APackageBeyondTwoGigabytesIsTooLargeNotWrappedAround) {
  // Sparse: no disk used. (Windows C libraries cannot stage this size.)
  PutPackage("");
  fs::resize_file(kPackageFileName, 3ull << 30);
  Run();
  EXPECT_EQ(display.events.at(1), "message The ResetPack file is too large!!");
}

TEST_F(ResetRun, APackageShorterThanItsLengthStopsTheRunBeforeAnyPortIsOpened) {
  // Attribute files report a length of a page but hold a few bytes.
  const fs::path shortFile = "/sys/devices/system/cpu/online";
  if (!fs::exists(shortFile) || fs::file_size(shortFile) <= ReadFile(shortFile).size()) {
    GTEST_SKIP() << "no file here whose content is shorter than its length";
  }
  fs::create_symlink(shortFile, kPackageFileName);
  try {
    Run();
    FAIL() << "the short read went unreported";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::Cause::kGeneric);
    EXPECT_EQ(error.path(), (dir_.path() / kPackageFileName).string());
  }
  EXPECT_TRUE(ports.log.empty());
  EXPECT_EQ(Log(), kOpening);  // what was written before the error is kept
}

// Something else in the package's place or the log's: a package that is
// not a regular file on disk, or that another opener holds, is missing; a
// FIFO never takes the log.
TEST_F(ResetRun, NothingButARegularFileIsAPackageAndNoFifoTakesTheLog) {
  alarm(30);  // a blocking open of a FIFO would never return: end the test instead
  enum Odd { kFifo, kFifoWithReader, kZeroDevice, kFolder, kHeld };
  for (const auto& [inPackage, kind] : {std::pair{true, kFifo}, {true, kFifoWithReader}, {true, kZeroDevice},
                                        {true, kFolder}, {true, kHeld}, {false, kFifo}, {false, kFifoWithReader}}) {
    SCOPED_TRACE(kind + (inPackage ? 0 : 10));
    display.events.clear();
    fs::remove_all(kPackageFileName);
    fs::remove_all("ResetSystemLog.doc");
    const char* odd = inPackage ? kPackageFileName : "ResetSystemLog.doc";
    if (!inPackage || kind == kHeld) {
      PutPackage(Package(100));
    }
    int other = -1;  // the FIFO's reader, or the package's holder
    if (kind == kFifo || kind == kFifoWithReader) {
      mkfifo(odd, 0600);
      other = kind == kFifoWithReader ? open(odd, O_RDONLY | O_NONBLOCK) : -1;
    } else if (kind == kZeroDevice) {
      fs::create_symlink("/dev/zero", odd);
    } else if (kind == kFolder) {
      fs::create_directory(odd);
    } else {
      other = open(odd, O_RDONLY);
      EXPECT_EQ(flock(other, LOCK_EX), 0);
    }
    Run();
    if (inPackage) {
      EXPECT_EQ(display.events.at(1), kMissing + std::string(kind == kHeld ? " (the package still held)" : ""));
      EXPECT_EQ(Log(), std::string(kOpening) + "ResetPack was NOT found \n " + kClosing);
    } else {
      EXPECT_EQ(display.events.back(), "status  Lodestria not found. Check your connections and try again.");
      char byte = 0;
      EXPECT_LE(other < 0 ? 0 : read(other, &byte, 1), 0) << "the log went into the FIFO";
    }
    close(other);
  }
  alarm(0);
}

TEST_F(ResetRun, AFullDiskStopsTheRunWithEverythingReleased) {
  fs::create_symlink("/dev/full", "ResetSystemLog.doc");
  PutPackage(Package(300));
  UnitOnCom3();
  try {
    Run();
    FAIL() << "the full disk went unreported";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::Cause::kDiskFull);
    EXPECT_EQ(error.path(), (dir_.path() / "ResetSystemLog.doc").string());
  }
  EXPECT_EQ(ports.OpenCount(), 0);
  EXPECT_EQ(DeviceLink::linkCount, 0);
  const int package = open(kPackageFileName, O_RDONLY);
  EXPECT_EQ(flock(package, LOCK_EX | LOCK_NB), 0);  // released
  close(package);
}

}  // namespace
}  // namespace pantoline::testing
