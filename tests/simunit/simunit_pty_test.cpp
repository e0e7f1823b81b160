// Whole transfers of the real Linux link to the simulated unit over a
// pseudo-terminal, in real time, a resend after the unit's silence included.
//
// Each unit is pinned as com1 in a configuration folder of the test's own
// (the other 31 names pinned to nothing), so the link finds it exactly as
// a user's pinned port and no real serial port is ever opened.
#include <gtest/gtest.h>

#include "link/device_link.h"
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

}  // namespace
}  // namespace pantoline::testing
