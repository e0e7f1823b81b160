// The real Linux link against the simulated unit over a pseudo-terminal.
//
// Each test pins its own unit as com1 in a configuration folder of its own
// (the other 31 names pinned to nothing), so the link finds it exactly as
// a user's pinned port and no real serial port is ever opened. Time bounds
// here are lower bounds or generous waits against hangs only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "link/device_link.h"
#include "tests/support/config_home_posix.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline {
namespace {

using simunit::Answer;
using simunit::Options;
using simunit::TransferEnd;
using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;

Bytes Package(std::size_t size) {
  Bytes package(size);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : package) {
    state = state * 1103515245 + 12345;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return package;
}

// What the unit holds after a package: a short last chunk is followed by
// one pad byte 26 and zeros.
Bytes Padded(Bytes blocks) {
  if (blocks.size() % 128 != 0) {
    blocks.push_back(26);
    blocks.resize((blocks.size() + 127) / 128 * 128, 0);
  }
  return blocks;
}

struct Progress {
  std::vector<std::int32_t> reports;
  Steady::time_point start, end;  // of the reports 0 and -1

  static void Receive(void* context, std::int32_t bytes, std::int32_t) {
    auto* p = static_cast<Progress*>(context);
    p->reports.push_back(bytes);
    (bytes == 0 ? p->start : p->end) = Steady::now();
  }
};

class UnitOnCom1 : public ::testing::Test {
 protected:
  // Starts a unit with `options` and pins it as com1.
  void StartUnit(Options options) {
    unit_.reset();  // one unit at a time holds com1
    unit_ = std::make_unique<simunit::SimUnit>(std::move(options));
    std::string error;
    ASSERT_TRUE(unit_->Start(&error)) << error;
    ASSERT_TRUE(unit_->PlacePortLink(1, config_.path(), &error)) << error;
  }

  testing::ConfigHome config_;
  std::unique_ptr<simunit::SimUnit> unit_;
};

TEST_F(UnitOnCom1, LoadsAgainstEachBehaviourOfTheUnit) {
  struct Case {
    const char* name;
    Options options;
    std::size_t size;
    ResultCode result;
    TransferEnd end;
    int blocks;      // accepted by the unit, and reported as progress
    int naks;        // sent by the unit, for refused blocks and after silence
    int duplicates;  // dropped by the unit
    int eotsIgnored;
    double minSeconds = 0;  // from the first progress report to the last
  };
  const auto with = [](auto change) {
    Options o;
    o.blockTimeoutMs = 1000;  // the unit's NAK after silence makes the link resend
    change(o);
    return o;
  };
  // At line rate each byte of a block comes at least 86.8 us after the one
  // before, and every reply (32 ACKs and the EOT's) waits out the delay.
  const auto atLineRate = [&](int replyDelayUs) {
    return with([=](Options& o) { o.lineRate = true; o.replyDelayUs = replyDelayUs; });
  };
  const Case cases[] = {
      {"CRC, with a pad", {}, 3000, QV5SUCCESS, TransferEnd::kCompleted, 24, 0, 0, 0},
      {"checksum, no pad-only block", with([](Options& o) { o.checksum = true; }), 2048, QV5SUCCESS,
       TransferEnd::kCompleted, 16, 0, 0, 0},
      {"an empty package", {}, 0, QV5SUCCESS, TransferEnd::kCompleted, 0, 0, 0, 0},
      {"a lost ACK", with([](Options& o) { o.loseAckBlock = 3; }), 1000, QV5SUCCESS,
       TransferEnd::kCompleted, 8, 1, 1, 0},
      {"a block NAKed 3 times", with([](Options& o) { o.nakBlock = 2; o.nakTimes = 3; }), 700, QV5SUCCESS,
       TransferEnd::kCompleted, 6, 3, 0, 0},
      {"2 EOTs unanswered", with([](Options& o) { o.ignoreEot = 2; }), 256, QV5SUCCESS,
       TransferEnd::kCompleted, 2, 2, 0, 2},
      {"cancelled at block 3", with([](Options& o) { o.cancelBlock = 3; }), 1000, QV5XMODEMCANCELEDERROR,
       TransferEnd::kUnitCancelled, 2, 0, 0, 0},
      {"cancelled before any block", with([](Options& o) { o.cancelFirst = true; }), 1000,
       QV5XMODEMCANCELEDERROR, TransferEnd::kUnitCancelled, 0, 0, 0, 0},
      // No transfer starts.
      {"a wrong echo", with([](Options& o) { o.echo = Answer::kWrong; }), 300, QV5INVALIDRESPONSE,
       TransferEnd::kNoBlock, 0, 0, 0, 0},
      {"at line rate", atLineRate(0), 4096, QV5SUCCESS, TransferEnd::kCompleted, 32, 0, 0, 0,
       32 * 132 * 86.8e-6},
      {"at line rate, with a USB adapter's delay", atLineRate(16'000), 4096, QV5SUCCESS,
       TransferEnd::kCompleted, 32, 0, 0, 0, 32 * 132 * 86.8e-6 + 33 * 0.016},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartUnit(c.options);
    const Bytes package = Package(c.size);
    Progress progress;
    simunit::Transfer got;
    {
      DeviceLink link;
      ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
      EXPECT_STREQ(link.portName, "\\\\.\\Com1");
      link.SetProgressCallback(&progress, Progress::Receive);
      EXPECT_EQ(link.LoadPackage(package.data(), static_cast<std::int32_t>(c.size)), c.result);
      if (!progress.reports.empty()) {
        EXPECT_TRUE(unit_->WaitForTransfers(1, 30'000, &got)) << "the unit saw no end";
      }
      if (!progress.reports.empty() && c.result != QV5SUCCESS) {
        EXPECT_EQ(link.FinishDownload(), QV5SUCCESS) << "the unit still echoes the finish command";
      }
    }
    EXPECT_EQ(got.end, c.end);
    EXPECT_EQ(got.crc, !c.options.checksum);
    EXPECT_EQ(got.blocksAccepted, c.blocks);
    EXPECT_EQ(got.naksSent, c.naks);
    EXPECT_EQ(got.duplicatesDropped, c.duplicates);
    EXPECT_EQ(got.eotsIgnored, c.eotsIgnored);
    if (c.result == QV5SUCCESS) {
      EXPECT_EQ(got.data, Padded(package));
    }
    std::vector<std::int32_t> reports;
    for (int k = 0; k <= c.blocks && c.options.echo == Answer::kNormal; ++k) {
      reports.push_back(128 * k);
    }
    if (!reports.empty()) {
      reports.push_back(-1);
    }
    EXPECT_EQ(progress.reports, reports) << "a refused block is not progress";
    EXPECT_GE(std::chrono::duration<double>(progress.end - progress.start).count(), c.minSeconds);
  }
}

// The program, with a time limit against a unit that never ends; its
// signals and links are checked by command_line_test.sh.
TEST(SimUnitProgram, WritesTheReceivedBytesAndEndsAfterOneTransfer) {
  testing::ConfigHome config;
  const std::filesystem::path output = config.path() / "received.bin";
  FILE* program = popen(("timeout 30 " SIMUNIT_PROGRAM " --port=1 --checksum --once --output " +
                         output.string()).c_str(), "r");
  char device[256] = {};
  ASSERT_TRUE(program != nullptr && fgets(device, sizeof device, program) != nullptr);
  const Bytes package = Package(700);
  {
    DeviceLink link;
    EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
    EXPECT_EQ(link.LoadPackage(package.data(), 700), QV5SUCCESS);
  }
  EXPECT_EQ(pclose(program), 0) << "the program should end after one transfer";
  const std::string written = testing::ReadFile(output);
  EXPECT_EQ(Bytes(written.begin(), written.end()), Padded(package));
  EXPECT_EQ(std::filesystem::read_symlink(config.PinPath(1)), config.path() / "no-device");
}

}  // namespace
}  // namespace pantoline
