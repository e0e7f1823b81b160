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
  PutPackage({});
  fs::resize_file(kPackageFileName, 3ull << 30);  // sparse: no disk used
  Run();
  EXPECT_EQ(display.events.at(1), "message The ResetPack file is too large!!");
}

// A short read, and a full disk under the log, stop the run with the file
// named and everything released.
TEST_F(ResetRun, FileErrorsStopTheRunWithEverythingReleased) {
  // Attribute files report a length of a page but hold a few bytes.
  const fs::path shortFile = "/sys/devices/system/cpu/online";
  if (!fs::exists(shortFile) || fs::file_size(shortFile) <= ReadFile(shortFile).size()) {
    GTEST_SKIP() << "no file here whose content is shorter than its length";
  }
  for (const bool fullDisk : {false, true}) {
    fs::remove(kPackageFileName);
    fs::remove("ResetSystemLog.doc");
    fullDisk ? fs::create_symlink("/dev/full", "ResetSystemLog.doc") : fs::create_symlink(shortFile, kPackageFileName);
    if (fullDisk) {
      PutPackage(Package(300));
      UnitOnCom3();
    }
    try {
      Run();
      ADD_FAILURE() << "no FileError";
    } catch (const FileError& error) {
      EXPECT_EQ(error.cause(), fullDisk ? FileError::Cause::kDiskFull : FileError::Cause::kGeneric);
      EXPECT_EQ(error.path(), (dir_.path() / (fullDisk ? "ResetSystemLog.doc" : kPackageFileName)).string());
    }
    // A short package is never sent; a full disk stops the run at the log's
    // first entry, before any port is opened.
    EXPECT_TRUE(ports.opened.empty());
    if (!fullDisk) {
      EXPECT_EQ(Log(), kOpening);  // what was written before the error is kept
    }
    EXPECT_EQ(ports.OpenCount(), 0);
    const int package = open(kPackageFileName, O_RDONLY);
    EXPECT_EQ(flock(package, LOCK_EX | LOCK_NB), 0);  // released
    close(package);
  }
}

// A package that is not a regular file on disk, or that another opener
// holds, is missing; a FIFO never takes the log, and the run goes on
// without a log that cannot be made.
TEST_F(ResetRun, NothingButARegularFileIsAPackageAndNoFifoTakesTheLog) {
  alarm(30);  // a blocking open of a FIFO would never return: end the test instead
  enum Odd { kFifo, kFifoWithReader, kZeroDevice, kFolder, kHeld };
  const std::pair<bool, Odd> cases[] = {{true, kFifo},   {true, kZeroDevice},     {true, kFolder}, {true, kHeld},
                                        {false, kFifo},  {false, kFifoWithReader}, {false, kFolder}};
  for (const auto& [inPackage, kind] : cases) {
    SCOPED_TRACE(kind + (inPackage ? 0 : 10));
    display.events.clear();
    fs::remove_all(kPackageFileName);
    fs::remove_all("ResetSystemLog.doc");
    const char* odd = inPackage ? kPackageFileName : "ResetSystemLog.doc";
    if (!inPackage || kind == kHeld) PutPackage(Package(100));
    int other = -1;  // the FIFO's reader, or the package's holder
    if (kind == kFifo || kind == kFifoWithReader) {
      mkfifo(odd, 0600);
      other = kind == kFifoWithReader ? open(odd, O_RDONLY | O_NONBLOCK) : -1;
    } else if (kind == kZeroDevice || kind == kFolder) {
      kind == kFolder ? fs::create_directory(odd) : (fs::create_symlink("/dev/zero", odd), true);
    } else {
      other = open(odd, O_RDONLY);
      EXPECT_EQ(flock(other, LOCK_EX), 0);
    }
    Run();
    if (inPackage) {
      EXPECT_EQ(display.events.at(1), kMissing + (kind == kHeld ? " (the package still held)" : ""));
      EXPECT_EQ(Log(), kOpening + "ResetPack was NOT found \n " + kClosing);
    } else {
      EXPECT_EQ(display.events.end()[-2], "status  Lodestria not found. Check your connections and try again.");
      EXPECT_TRUE(display.events.back().starts_with("message The reset log ")) << "and why it is not there";
      char byte = 0;
      EXPECT_LE(other < 0 ? 0 : read(other, &byte, 1), 0) << "the log went into the FIFO";
    }
    close(other);
  }
  alarm(0);
}

// Each entry is on the disk as soon as it is written: a run cut short (a
// kill, a power cut of the program) leaves the entries so far. Started with
// its standard input closed, as some launchers leave it, the program opens
// its log on descriptor 0: a file like any other.
TEST_F(ResetRun, EntriesReachTheDiskAsTheyAreWrittenEvenOnDescriptorZero) {
  PutPackage(Package(300));
  UnitOnCom3();
  const int input = dup(0);
  close(0);
  Run();
  dup2(input, 0);
  close(input);
  EXPECT_TRUE(Log().ends_with("Completed in 0 minutes \n" + kClosing)) << Log();
  ASSERT_EQ(display.events.at(4), "status ...Loading Initialized, Please wait...");
  EXPECT_EQ(display.logs.at(1), kOpening + "System Download was found \n ");  // at "Found"
  EXPECT_EQ(display.logs.at(2), Log().substr(0, Log().find("App Load")));   // at "Loading"
}

}  // namespace
}  // namespace pantoline::testing
