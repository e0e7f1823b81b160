// The real Linux link against the simulated unit over a pseudo-terminal.
//
// Each test pins its own unit as com1 in a configuration folder of its own
// (the other 31 names pinned to nothing), so the link finds it exactly as
// a user's pinned port and no real serial port is ever opened. Time bounds
// here are lower bounds or generous waits against hangs only.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "tests/support/config_home_posix.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline {
namespace {

namespace fs = std::filesystem;
using simunit::Answer;
using simunit::Options;
using simunit::SimUnit;
using simunit::Transfer;
using simunit::TransferEnd;
using Steady = std::chrono::steady_clock;

constexpr int kTransferWaitMs = 30'000;  // against hangs only

std::vector<std::uint8_t> Package(std::size_t size) {
  std::vector<std::uint8_t> package(size);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : package) {
    state = state * 1103515245 + 12345;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return package;
}

// What the unit must hold after a package of L bytes: ceil(L / 128) blocks,
// the package, then after a short last chunk one pad byte 26 and zeros.
std::vector<std::uint8_t> Expected(std::vector<std::uint8_t> blocks) {
  if (blocks.size() % 128 != 0) {
    blocks.push_back(26);
    blocks.resize((blocks.size() + 127) / 128 * 128, 0);
  }
  return blocks;
}

// The progress reports of a load, and the line's byte counts at 0 and -1.
struct Progress {
  std::vector<std::int32_t> reports;
  SimUnit* unit = nullptr;
  simunit::LineCounts atStart, atEnd;
  Steady::time_point startTime, endTime;

  static void Receive(void* context, std::int32_t bytes, std::int32_t) {
    auto* p = static_cast<Progress*>(context);
    p->reports.push_back(bytes);
    (bytes == 0 ? p->startTime : p->endTime) = Steady::now();
    if (bytes <= 0) (bytes == 0 ? p->atStart : p->atEnd) = p->unit->Counts();
  }
};

std::vector<std::int32_t> ProgressOf(int blocks) {
  std::vector<std::int32_t> reports{0};
  for (int k = 1; k <= blocks; ++k) {
    reports.push_back(128 * k);
  }
  reports.push_back(-1);
  return reports;
}

class UnitOnCom1 : public ::testing::Test {
 protected:
  // Starts a unit with `options` and pins it as com1.
  void StartUnit(Options options) {
    unit_.reset();  // one unit at a time holds com1
    unit_ = std::make_unique<SimUnit>(std::move(options));
    std::string error;
    ASSERT_TRUE(unit_->Start(&error)) << error;
    ASSERT_TRUE(unit_->PlacePortLink(1, config_.path(), &error)) << error;
  }

  // Finds the unit, loads `package` and returns LoadPackage's result; the
  // transfer the unit saw goes to *got.
  ResultCode Load(const std::vector<std::uint8_t>& package, Transfer* got, Progress* progress) {
    DeviceLink link;
    const ResultCode found = link.FindDevice();
    EXPECT_EQ(found, QV5SUCCESS);
    if (found != QV5SUCCESS) {
      return -100 - found;
    }
    EXPECT_STREQ(link.portName, "\\\\.\\Com1");
    progress->unit = unit_.get();
    link.SetProgressCallback(progress, Progress::Receive);
    const ResultCode loaded =
        link.LoadPackage(package.data(), static_cast<std::int32_t>(package.size()));
    if (!progress->reports.empty()) {
      EXPECT_TRUE(unit_->WaitForTransfers(1, kTransferWaitMs, got)) << "the unit saw no end";
      if (loaded != QV5SUCCESS) {  // the unit still echoes the finish command
        EXPECT_EQ(link.FinishDownload(), QV5SUCCESS);
      }
    }
    return loaded;
  }

  testing::ConfigHome config_;
  std::unique_ptr<SimUnit> unit_;
};

TEST_F(UnitOnCom1, LoadsAgainstEachBehaviourOfTheUnit) {
  struct Case {
    const char* name;
    Options options;
    std::size_t size;
    ResultCode result;
    TransferEnd end;
    int blocks;      // accepted by the unit, and reported as progress on success
    int naks;        // sent by the unit, for refused blocks and after silence
    int duplicates;  // dropped by the unit
    int eotsIgnored;
  };
  const auto with = [](auto change) {
    Options o;
    o.blockTimeoutMs = 1000;  // the unit's NAK after silence makes the link resend
    change(o);
    return o;
  };
  const Case cases[] = {
      {"CRC, with a pad", {}, 3000, QV5SUCCESS, TransferEnd::kCompleted, 24, 0, 0, 0},
      {"checksum, no pad-only block", with([](Options& o) { o.checksum = true; }), 2048,
       QV5SUCCESS, TransferEnd::kCompleted, 16, 0, 0, 0},
      {"an empty package", {}, 0, QV5SUCCESS, TransferEnd::kCompleted, 0, 0, 0, 0},
      {"a lost ACK", with([](Options& o) { o.loseAckBlock = 3; }), 1000, QV5SUCCESS,
       TransferEnd::kCompleted, 8, 1, 1, 0},
      {"a block NAKed 3 times", with([](Options& o) { o.nakBlock = 2;
         o.nakTimes = 3; }), 700,
       QV5SUCCESS, TransferEnd::kCompleted, 6, 3, 0, 0},
      {"2 EOTs unanswered", with([](Options& o) { o.ignoreEot = 2; }), 256, QV5SUCCESS,
       TransferEnd::kCompleted, 2, 2, 0, 2},
      {"cancelled at block 3", with([](Options& o) { o.cancelBlock = 3; }), 1000,
       QV5XMODEMCANCELEDERROR, TransferEnd::kUnitCancelled, 2, 0, 0, 0},
      {"cancelled before any block", with([](Options& o) { o.cancelFirst = true; }), 1000,
       QV5XMODEMCANCELEDERROR, TransferEnd::kUnitCancelled, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartUnit(c.options);
    const std::vector<std::uint8_t> package = Package(c.size);
    Progress progress;
    Transfer got;
    EXPECT_EQ(Load(package, &got, &progress), c.result);
    EXPECT_EQ(got.end, c.end);
    EXPECT_EQ(got.crc, !c.options.checksum);
    EXPECT_EQ(got.blocksAccepted, c.blocks);
    EXPECT_EQ(got.naksSent, c.naks);
    EXPECT_EQ(got.duplicatesDropped, c.duplicates);
    EXPECT_EQ(got.eotsIgnored, c.eotsIgnored);
    if (c.result == QV5SUCCESS) {
      EXPECT_EQ(got.data, Expected(package)) << "package, one pad byte 26, then zeros";
      EXPECT_EQ(progress.reports, ProgressOf(c.blocks)) << "a refused block is not progress";
    }
  }
}

TEST_F(UnitOnCom1, AWrongEchoRefusesTheDownloadBeforeAnyBlock) {
  Options options;
  options.echo = Answer::kWrong;
  StartUnit(options);
  Progress progress;
  Transfer got;
  EXPECT_EQ(Load(Package(300), &got, &progress), QV5INVALIDRESPONSE);
  EXPECT_TRUE(progress.reports.empty()) << "no transfer may start";
  EXPECT_EQ(unit_->Counts().received, 14u) << "only \"SA-28\" and \"QV5-3\" with their line ends";
}

TEST_F(UnitOnCom1, GreetingsThatDoNotMatchFailAndALateOneWithinTheWaitPasses) {
  struct Case {
    Answer answer;
    int lateMs;
    ResultCode expected;
    int minMs;
  };
  for (const Case c : {Case{Answer::kNormal, 0, QV5SUCCESS, 0},
                       Case{Answer::kWrong, 0, QV5INVALIDRESPONSE, 0},  // "sa-77": case counts
                       Case{Answer::kSplit, 0, QV5INVALIDRESPONSE, 0},  // judged on "SA-" alone
                       Case{Answer::kLate, 1500, QV5SUCCESS, 1500},     // the link waits ~4.8 s
                       // Thirty read attempts of 150 ms and their pauses.
                       Case{Answer::kSilent, 0, QV5NORESPONSE, 4000}}) {
    Options options;
    options.greeting = c.answer;
    options.lateMs = c.lateMs;
    StartUnit(options);
    // Opened directly: unlike FindDevice, a failed greeting goes no further.
    DeviceLink link;
    const auto start = Steady::now();
    link.portHandle = link.Open("\\\\.\\Com1");
    ASSERT_NE(link.portHandle, kNoPort);
    link.mode = 0;
    EXPECT_EQ(link.Handshake(), c.expected) << "answer mode " << static_cast<int>(c.answer);
    EXPECT_GE(Steady::now() - start, std::chrono::milliseconds(c.minMs));
  }
}

TEST_F(UnitOnCom1, AtLineRateNoTransferIsFasterThanTheLine) {
  for (const int replyDelayUs : {0, 16'000}) {
    Options options;
    options.lineRate = true;
    options.replyDelayUs = replyDelayUs;
    StartUnit(options);
    const std::vector<std::uint8_t> package = Package(4096);  // 32 blocks
    Progress progress;
    Transfer got;
    ASSERT_EQ(Load(package, &got, &progress), QV5SUCCESS);
    EXPECT_EQ(got.data, package);
    // C, 32 blocks of 133 and their ACKs, EOT and its ACK.
    EXPECT_EQ(progress.atEnd.received - progress.atStart.received + progress.atEnd.sent -
                  progress.atStart.sent,
              1u + 32 * 134 + 2);
    // Within a block each byte comes at least 86.8 us after the one before,
    // and every reply (32 ACKs and the EOT's) waits out the delay first.
    const double floor = 32 * 132 * 86.8e-6 + 33 * replyDelayUs / 1e6;
    EXPECT_GE(std::chrono::duration<double>(progress.endTime - progress.startTime).count(), floor)
        << "reply delay " << replyDelayUs << " us";
  }
}

// The program, with a time limit against a unit that never ends; its
// signals and links are checked by command_line_test.sh.
TEST(SimUnitProgram, WritesTheReceivedBytesAndEndsAfterOneTransfer) {
  testing::ConfigHome config;
  const fs::path output = config.path() / "received.bin";
  FILE* program = popen(("timeout 30 " SIMUNIT_PROGRAM " --port=1 --checksum --once --output " +
                         output.string()).c_str(), "r");
  char device[256] = {};
  ASSERT_TRUE(program != nullptr && fgets(device, sizeof device, program) != nullptr);
  const std::vector<std::uint8_t> package = Package(700);
  {
    DeviceLink link;
    EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
    EXPECT_EQ(link.LoadPackage(package.data(), 700), QV5SUCCESS);
  }
  EXPECT_EQ(pclose(program), 0) << "the program should end after one transfer";
  const std::string written = testing::ReadFile(output);
  EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), Expected(package));
  EXPECT_EQ(fs::read_symlink(config.PinPath(1)), config.path() / "no-device");
}

}  // namespace
}  // namespace pantoline
