// The real Linux link against the simulated unit over a pseudo-terminal,
// through each behaviour of the unit.
//
// Each unit is pinned as com1 in a configuration folder of the test's own
// (the other 31 names pinned to nothing), so the link finds it exactly as
// a user's pinned port and no real serial port is ever opened.
#include <gtest/gtest.h>

#include <memory>

#include "link/device_link.h"
#include "tests/support/config_home_posix.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline {
namespace {

using simunit::Options;
using simunit::TransferEnd;

TEST(UnitOnCom1, LoadsAgainstEachBehaviourOfTheUnit) {
  struct Case {
    const char* name;
    Options options;
    std::size_t size;
    ResultCode result;
    TransferEnd end;
    int blocks;      // accepted by the unit, and reported as progress
    int naks;        // sent by the unit, for refused blocks and after silence
    int duplicates;  // dropped by the unit
  };
  const auto with = [](auto change) {
    Options o;
    o.blockTimeoutMs = 1000;  // the unit's NAK after silence makes the link resend
    change(o);
    return o;
  };
  const Case cases[] = {
      {"CRC, with a pad", {}, 3000, QV5SUCCESS, TransferEnd::kCompleted, 24, 0, 0},
      {"checksum, no pad-only block", with([](Options& o) { o.checksum = true; }), 2048, QV5SUCCESS,
       TransferEnd::kCompleted, 16, 0, 0},
      {"a lost ACK", with([](Options& o) { o.loseAckBlock = 3; }), 1000, QV5SUCCESS, TransferEnd::kCompleted,
       8, 1, 1},
      {"a block NAKed 3 times", with([](Options& o) { o.nakBlock = 2, o.nakTimes = 3; }), 700, QV5SUCCESS,
       TransferEnd::kCompleted, 6, 3, 0},
      {"cancelled at block 3", with([](Options& o) { o.cancelBlock = 3; }), 1000, QV5XMODEMCANCELEDERROR,
       TransferEnd::kUnitCancelled, 2, 0, 0},
      {"a wrong echo", with([](Options& o) { o.echo = simunit::Answer::kWrong; }), 300, QV5INVALIDRESPONSE,
       TransferEnd::kNoBlock, 0, 0, 0},  // no transfer starts
      {"at line rate, with a USB adapter's delay",
       with([](Options& o) { o.lineRate = true, o.replyDelayUs = 16'000; }), 4096, QV5SUCCESS,
       TransferEnd::kCompleted, 32, 0, 0},
  };
  testing::ConfigHome config;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    simunit::SimUnit unit(c.options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error) && unit.PlacePortLink(1, config.path(), &error)) << error;
    std::vector<std::uint8_t> package(c.size);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : package) {
      state = state * 1103515245 + 12345;
      byte = static_cast<std::uint8_t>(state >> 16);
    }
    std::vector<std::int32_t> reports;
    simunit::Transfer got;
    {
      DeviceLink link;
      ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
      EXPECT_STREQ(link.portName, "\\\\.\\Com1");
      link.SetProgressCallback(&reports, [](void* context, std::int32_t bytes, std::int32_t) {
        static_cast<std::vector<std::int32_t>*>(context)->push_back(bytes);
      });
      EXPECT_EQ(link.LoadPackage(package.data(), static_cast<std::int32_t>(c.size)), c.result);
      if (!reports.empty()) {
        EXPECT_TRUE(unit.WaitForTransfers(1, 30'000, &got)) << "the unit saw no end";  // against hangs only
      }
      if (!reports.empty() && c.result != QV5SUCCESS) {
        EXPECT_EQ(link.FinishDownload(), QV5SUCCESS) << "the unit still echoes the finish command";
      }
    }
    EXPECT_EQ(got.end, c.end);
    EXPECT_EQ(got.crc, !c.options.checksum);
    EXPECT_EQ(got.blocksAccepted, c.blocks);
    EXPECT_EQ(got.naksSent, c.naks);
    EXPECT_EQ(got.duplicatesDropped, c.duplicates);
    if (c.result == QV5SUCCESS) {  // the package, then one pad byte 26 and zeros
      package.resize(package.size() % 128 == 0 ? package.size() : package.size() + 1, 26);
      package.resize((package.size() + 127) / 128 * 128, 0);
      EXPECT_EQ(got.data, package);
    }
    std::vector<std::int32_t> progress;
    for (int k = 0; k <= c.blocks && c.end != TransferEnd::kNoBlock; ++k) {
      progress.push_back(128 * k);
    }
    if (!progress.empty()) {
      progress.push_back(-1);
    }
    EXPECT_EQ(reports, progress) << "a refused block is not progress";
  }
}

}  // namespace
}  // namespace pantoline
