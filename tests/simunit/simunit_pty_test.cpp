// Whole transfers of the real Linux link to the simulated unit over a
// pseudo-terminal, in real time, a resend after the unit's silence included;
// and whole runs of the reset that must lose nothing.
//
// Each unit is pinned as com1 in a configuration folder of the test's own
// (the other 31 names pinned to nothing), so the link finds it exactly as
// a user's pinned port and no real serial port is ever opened.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/device_link.h"
#include "reset/reset_log.h"
#include "tests/reset/reset_run.h"
#include "tests/support/config_home_posix.h"
#include "tests/support/scripted_unit.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline::testing {
namespace {

using simunit::Options;

TEST(UnitOnCom1, TakesWholePackages) {
  struct Case {
    const char* name;
    void (*options)(Options&);
    std::size_t size;
    int blocks;      // accepted by the unit, and reported as progress
    int naks;        // sent by the unit after its silence
    int duplicates;  // dropped by the unit
  };
  const Case cases[] = {
      {"CRC, with a pad", [](Options&) {}, 3000, 24, 0, 0},
      // The unit's NAK after a second of silence makes the link resend.
      {"a lost ACK", [](Options& o) { o.blockTimeoutMs = 1000, o.loseAckBlock = 3; }, 1000, 8, 1, 1},
      // The second ACK is no answer to block 4, which the unit refuses once.
      {"ACK ACK, then a NAK", [](Options& o) { o.ackTwiceBlock = 3, o.nakBlock = 4, o.nakTimes = 1; }, 1000, 8, 1, 0},
      {"at line rate, with a USB adapter's delay", [](Options& o) { o.lineRate = true, o.replyDelayUs = 16'000; },
       4096, 32, 0, 0},
  };
  ConfigHome config;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options options;
    c.options(options);
    simunit::SimUnit unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error) && unit.PlacePortLink(1, config.path(), &error)) << error;
    const Bytes package = Package(c.size);
    std::vector<std::int32_t> reports;
    simunit::Transfer got;
    {
      DeviceLink link;
      ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
      link.SetProgressCallback(&reports, [](void* context, std::int32_t bytes, std::int32_t) {
        static_cast<std::vector<std::int32_t>*>(context)->push_back(bytes);
      });
      EXPECT_EQ(link.LoadPackage(package.data(), static_cast<std::int32_t>(c.size)), QV5SUCCESS);
      EXPECT_TRUE(unit.WaitForTransfers(1, 30'000, &got)) << "the unit saw no end";  // against hangs only
    }
    EXPECT_EQ(got.end, simunit::TransferEnd::kCompleted);
    EXPECT_EQ(got.blocksAccepted, c.blocks);
    EXPECT_EQ(got.naksSent, c.naks);
    EXPECT_EQ(got.duplicatesDropped, c.duplicates);
    EXPECT_EQ(got.data, Padded(package));
    EXPECT_EQ(reports, Progress(c.blocks)) << "a resent block is not progress";
  }
}

// Whole runs of the program's reset in a folder of their own, in real time,
// with the unit on COM2 and, pinned as COM1, a pseudo-terminal with a line
// of its own (9600 7E1, echo, canonical input) that the search greets on
// its way: nothing the folder or another program does costs the user a
// file, and the port is left as it was found.
TEST(NothingLost, TheFolderOrAnotherProgramCostsNoFileAndNoPortStaysChanged) {
  enum Kind { kLogLinkedToPackage, kPortLeftAsFound, kPortHeldByAnotherProgram };
  for (const Kind kind : {kLogLinkedToPackage, kPortLeftAsFound, kPortHeldByAnotherProgram}) {
    SCOPED_TRACE(kind);
    ConfigHome config;
    TempDir dir;
    WorkingDir cwd(dir.path());
    const Bytes package = Package(3000);
    WriteFile(kPackageFileName, std::string(package.begin(), package.end()));
    if (kind == kLogLinkedToPackage) std::filesystem::create_symlink(kPackageFileName, "ResetSystemLog.doc");
    termios own{};
    cfmakeraw(&own);
    own.c_cflag = (own.c_cflag & ~CSIZE) | CS7 | PARENB;
    own.c_lflag |= ECHO | ICANON;
    cfsetspeed(&own, B9600);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, &own, nullptr), 0);
    const std::string com1 = ttyname(slave);
    config.Pin(1, com1);
    const int holder = kind == kPortHeldByAnotherProgram ? open(com1.c_str(), O_RDWR | O_NOCTTY) : -1;
    ASSERT_TRUE(holder < 0 || flock(holder, LOCK_EX) == 0);
    simunit::SimUnit unit({});
    std::string error;
    ASSERT_TRUE(unit.Start(&error) && (holder >= 0 || unit.PlacePortLink(2, config.path(), &error))) << error;
    termios found{};
    tcgetattr(slave, &found);

    RecordingDisplay display;
    OnReset(display);

    termios left{};
    tcgetattr(slave, &left);
    EXPECT_TRUE(left.c_iflag == found.c_iflag && left.c_oflag == found.c_oflag && left.c_cflag == found.c_cflag &&
                left.c_lflag == found.c_lflag && cfgetospeed(&left) == B9600 &&
                std::equal(std::begin(left.c_cc), std::end(left.c_cc), std::begin(found.c_cc)))
        << "COM1 left changed";
    EXPECT_EQ(ReadFile(kPackageFileName), std::string(package.begin(), package.end()));
    if (kind == kPortHeldByAnotherProgram) {
      EXPECT_EQ(display.events.back(),
                "message " + com1 + " is in use by another program: end that program and try again");
    } else {
      simunit::Transfer got;
      EXPECT_TRUE(unit.WaitForTransfers(1, 30'000, &got));
      EXPECT_EQ(got.data, Padded(package));
      EXPECT_EQ(display.events.back(), "status Lodestria Updated.  Click the EXIT button below.");
    }
    if (kind == kLogLinkedToPackage) {
      EXPECT_EQ(display.events.at(1), "message " + std::string(ResetLog::kWouldOverwritePackage));
      EXPECT_TRUE(std::filesystem::is_symlink("ResetSystemLog.doc"));
    }
    if (holder >= 0) close(holder);
    close(slave);
    close(master);
  }
}

}  // namespace
}  // namespace pantoline::testing
