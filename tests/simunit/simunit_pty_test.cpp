// The real Linux link against the simulated unit over a pseudo-terminal.
//
// Each test pins its own unit as com1 in a configuration folder of its own
// (XDG_CONFIG_HOME points there for the test), so the link finds it exactly
// as a user's pinned port, and no real serial port is ever opened. Time
// bounds here are lower bounds or generous waits against hangs only.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "tests/support/config_home_posix.h"
#include "tools/simunit/sim_unit.h"

extern char** environ;

namespace pantoline {
namespace {

namespace fs = std::filesystem;
using simunit::Answer;
using simunit::Options;
using simunit::SimUnit;
using simunit::Transfer;
using simunit::TransferEnd;

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
std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& package) {
  std::vector<std::uint8_t> blocks(package);
  if (package.size() % 128 != 0) {
    blocks.push_back(26);
    blocks.resize((package.size() + 127) / 128 * 128, 0);
  }
  return blocks;
}

struct Progress {
  std::vector<std::int32_t> reports;
  SimUnit* unit = nullptr;  // when set, the line counts at 0 and -1
  simunit::LineCounts atStart, atEnd;
  std::chrono::steady_clock::time_point startTime, endTime;

  static void Receive(void* context, std::int32_t bytes, std::int32_t) {
    auto* p = static_cast<Progress*>(context);
    p->reports.push_back(bytes);
    if (bytes == 0) {
      p->startTime = std::chrono::steady_clock::now();
      if (p->unit) p->atStart = p->unit->Counts();
    } else if (bytes == -1) {
      p->endTime = std::chrono::steady_clock::now();
      if (p->unit) p->atEnd = p->unit->Counts();
    }
  }
  double Seconds() const { return std::chrono::duration<double>(endTime - startTime).count(); }
  std::uint64_t LineBytes() const {
    return atEnd.received - atStart.received + atEnd.sent - atStart.sent;
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

  // The link opened on com1 directly and greeted once; unlike FindDevice,
  // a failed greeting does not go on to the machine's real ports.
  ResultCode GreetOnCom1(DeviceLink& link) {
    link.portHandle = link.Open("\\\\.\\Com1");
    if (link.portHandle == kNoPort) {
      return -100 - link.lastResult;
    }
    link.mode = 0;
    return link.Handshake();
  }

  // Finds the unit, loads `package` and returns LoadPackage's result; the
  // transfer the unit saw goes to *got.
  ResultCode Load(const std::vector<std::uint8_t>& package, Transfer* got,
                  Progress* progress = nullptr) {
    DeviceLink link;
    const ResultCode found = link.FindDevice();
    EXPECT_EQ(found, QV5SUCCESS);
    if (found != QV5SUCCESS) {
      return -100 - found;
    }
    if (progress != nullptr) {
      link.SetProgressCallback(progress, Progress::Receive);
    }
    const ResultCode loaded =
        link.LoadPackage(package.data(), static_cast<std::int32_t>(package.size()));
    EXPECT_TRUE(unit_->WaitForTransfers(1, kTransferWaitMs, got)) << "the unit saw no transfer end";
    return loaded;
  }

  testing::ConfigHome config_;
  std::unique_ptr<SimUnit> unit_;
};

// --- Finding the unit and whole transfers ---------------------------------

TEST_F(UnitOnCom1, FindsTheUnitAsCom1AndLoadsAPackageWithCrc) {
  StartUnit({});
  const std::vector<std::uint8_t> package = Package(3000);  // 23 full blocks and 56 bytes
  Progress progress;
  Transfer got;
  {
    DeviceLink link;
    ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
    EXPECT_STREQ(link.portName, "\\\\.\\Com1");
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(link.mode, 2);
    link.SetProgressCallback(&progress, Progress::Receive);
    EXPECT_EQ(link.LoadPackage(package.data(), 3000), QV5SUCCESS);
    EXPECT_EQ(link.mode, 2);
  }
  ASSERT_TRUE(unit_->WaitForTransfers(1, kTransferWaitMs, &got));
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_TRUE(got.crc);
  EXPECT_EQ(got.blocksAccepted, 24);
  EXPECT_EQ(got.duplicatesDropped, 0);
  EXPECT_EQ(got.naksSent, 0);
  EXPECT_EQ(got.data, Expected(package)) << "package, one pad byte 26, then zeros";
  EXPECT_EQ(progress.reports, ProgressOf(24));
}

TEST_F(UnitOnCom1, LoadsAPackageInChecksumModeWithoutAPadOnlyBlock) {
  Options options;
  options.checksum = true;
  StartUnit(options);
  const std::vector<std::uint8_t> package = Package(2048);  // exactly 16 blocks
  Transfer got;
  EXPECT_EQ(Load(package, &got), QV5SUCCESS);
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_FALSE(got.crc);
  EXPECT_EQ(got.naksSent, 0) << "every checksum block should have been accepted at once";
  EXPECT_EQ(got.data, package);
}

TEST_F(UnitOnCom1, AnEmptyPackageIsOnlyTheEndOfTransfer) {
  StartUnit({});
  Progress progress;
  Transfer got;
  EXPECT_EQ(Load({}, &got, &progress), QV5SUCCESS);
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_EQ(got.blocksAccepted, 0);
  EXPECT_TRUE(got.data.empty());
  EXPECT_EQ(progress.reports, ProgressOf(0));
}

// --- Recovery ---------------------------------------------------------------

TEST_F(UnitOnCom1, ALostAckIsRecoveredByResendingTheBlock) {
  Options options;
  options.loseAckBlock = 3;
  options.blockTimeoutMs = 1000;  // the unit's NAK after silence makes the link resend
  StartUnit(options);
  const std::vector<std::uint8_t> package = Package(1000);
  Progress progress;
  Transfer got;
  EXPECT_EQ(Load(package, &got, &progress), QV5SUCCESS);
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_EQ(got.duplicatesDropped, 1) << "block 3 should have come again and been dropped";
  EXPECT_EQ(got.data, Expected(package));
  EXPECT_EQ(progress.reports, ProgressOf(8));
}

TEST_F(UnitOnCom1, ANakedBlockIsSentAgainUntilAccepted) {
  Options options;
  options.nakBlock = 2;
  options.nakTimes = 3;
  StartUnit(options);
  const std::vector<std::uint8_t> package = Package(700);
  Progress progress;
  Transfer got;
  EXPECT_EQ(Load(package, &got, &progress), QV5SUCCESS);
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_EQ(got.naksSent, 3);
  EXPECT_EQ(got.duplicatesDropped, 0);
  EXPECT_EQ(got.data, Expected(package));
  EXPECT_EQ(progress.reports, ProgressOf(6)) << "a refused block is not progress";
}

TEST_F(UnitOnCom1, AnUnansweredEndOfTransferIsSentAgain) {
  Options options;
  options.ignoreEot = 2;
  options.blockTimeoutMs = 1000;  // the unit's NAK after silence makes the link send EOT again
  StartUnit(options);
  const std::vector<std::uint8_t> package = Package(256);
  Transfer got;
  EXPECT_EQ(Load(package, &got), QV5SUCCESS);
  EXPECT_EQ(got.end, TransferEnd::kCompleted);
  EXPECT_EQ(got.eotsIgnored, 2);
  EXPECT_EQ(got.data, package);
}

// --- Cancels and refusals ---------------------------------------------------

TEST_F(UnitOnCom1, CancelsByTheUnitEndTheLoadAndTheUnitLeavesDownloadMode) {
  Options atBlock;
  atBlock.cancelBlock = 3;
  StartUnit(atBlock);
  Transfer got;
  {
    DeviceLink link;
    ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
    const std::vector<std::uint8_t> package = Package(1000);
    EXPECT_EQ(link.LoadPackage(package.data(), 1000), QV5XMODEMCANCELEDERROR);
    ASSERT_TRUE(unit_->WaitForTransfers(1, kTransferWaitMs, &got));
    EXPECT_EQ(got.end, TransferEnd::kUnitCancelled);
    EXPECT_EQ(got.blocksAccepted, 2);
    // After a failed load the unit still echoes the finish command.
    EXPECT_EQ(link.FinishDownload(), QV5SUCCESS);
    EXPECT_EQ(link.mode, 0);
  }

  Options beforeFirst;
  beforeFirst.cancelFirst = true;
  StartUnit(beforeFirst);
  EXPECT_EQ(Load(Package(1000), &got), QV5XMODEMCANCELEDERROR);
  EXPECT_EQ(got.end, TransferEnd::kUnitCancelled);
  EXPECT_EQ(got.blocksAccepted, 0);
}

TEST_F(UnitOnCom1, AWrongEchoRefusesTheDownloadBeforeAnyBlock) {
  Options options;
  options.echo = Answer::kWrong;
  StartUnit(options);
  Progress progress;
  DeviceLink link;
  ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
  link.SetProgressCallback(&progress, Progress::Receive);
  const std::vector<std::uint8_t> package = Package(300);
  EXPECT_EQ(link.LoadPackage(package.data(), 300), QV5INVALIDRESPONSE);
  EXPECT_TRUE(progress.reports.empty()) << "no transfer may start";
  EXPECT_EQ(unit_->Counts().received, 14u) << "only \"SA-28\" and \"QV5-3\" with their line ends";
}

// --- Greetings ----------------------------------------------------------------

TEST_F(UnitOnCom1, GreetingsThatDoNotMatchFailAndALateOneWithinTheWaitPasses) {
  struct Case {
    Answer answer;
    int lateMs;
    ResultCode expected;
  };
  const Case cases[] = {
      {Answer::kNormal, 0, QV5SUCCESS},
      {Answer::kWrong, 0, QV5INVALIDRESPONSE},  // "sa-77": letter case counts
      {Answer::kSplit, 0, QV5INVALIDRESPONSE},  // judged on "SA-" alone
      {Answer::kLate, 1500, QV5SUCCESS},        // the link waits about 4.8 s
  };
  for (const Case& c : cases) {
    Options options;
    options.greeting = c.answer;
    options.lateMs = c.lateMs;
    StartUnit(options);
    DeviceLink link;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GreetOnCom1(link), c.expected) << "answer mode " << static_cast<int>(c.answer);
    if (c.answer == Answer::kLate) {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    }
  }
}

TEST_F(UnitOnCom1, ASilentUnitGivesNoResponse) {
  Options options;
  options.greeting = Answer::kSilent;
  StartUnit(options);
  DeviceLink link;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GreetOnCom1(link), QV5NORESPONSE);
  EXPECT_EQ(link.mode, 0);
  // Thirty read attempts of 150 ms and their pauses: well over 4 s.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

// --- Line rate ----------------------------------------------------------------

TEST_F(UnitOnCom1, AtLineRateNoTransferIsFasterThanTheLine) {
  for (const int replyDelayUs : {0, 16'000}) {
    Options options;
    options.lineRate = true;
    options.replyDelayUs = replyDelayUs;
    StartUnit(options);
    const std::vector<std::uint8_t> package = Package(4096);  // 32 blocks
    Progress progress;
    progress.unit = unit_.get();
    Transfer got;
    ASSERT_EQ(Load(package, &got, &progress), QV5SUCCESS);
    EXPECT_EQ(got.data, package);
    // C, 32 blocks of 133 and their ACKs, EOT and its ACK.
    EXPECT_EQ(progress.LineBytes(), 1u + 32 * 134 + 2);
    // Within a block each byte comes at least 86.8 us after the one before,
    // and every reply (32 ACKs and the EOT's) waits out the delay first.
    const double floor = 32 * 132 * 86.8e-6 + 33 * replyDelayUs / 1e6;
    EXPECT_GE(progress.Seconds(), floor) << "reply delay " << replyDelayUs << " us";
  }
}

// --- The program ----------------------------------------------------------------

class SimUnitProgram : public ::testing::Test {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
      close(out_);
    }
  }

  // Starts the program with `args` and returns the first line it prints.
  std::string Run(std::vector<std::string> args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
      return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), SIMUNIT_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, SIMUNIT_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (spawned != 0) {
      pid_ = -1;
      return {};
    }
    std::string line;
    pollfd entry{out_, POLLIN, 0};
    char c = 0;
    while (poll(&entry, 1, 10'000) > 0 && read(out_, &c, 1) == 1 && c != '\n') {
      line += c;
    }
    return line;
  }

  // Waits up to `timeoutMs` for the program to end; its exit status, or -1.
  int WaitForExit(int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(20'000);
    }
    return -1;
  }

  static std::string LinkTarget(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.string();
  }

  testing::ConfigHome config_;
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST_F(SimUnitProgram, PlacesItsLinksServesAndRemovesThemOnSigterm) {
  const fs::path ports = config_.path() / "pantoline" / "ports";
  const fs::path dosdevices = config_.path() / "wine" / "dosdevices";
  fs::create_directories(dosdevices);
  fs::create_symlink("some-other-port", dosdevices / "com3");

  const std::string device = Run({"--port", "1", "--config-home", config_.path(), "--wine-prefix",
                                  (config_.path() / "wine").string(), "--wine-port=3"});
  ASSERT_FALSE(device.empty()) << "no device path printed";
  EXPECT_EQ(LinkTarget(ports / "com1"), device);
  EXPECT_EQ(LinkTarget(dosdevices / "com3"), device) << "an existing comN is replaced";

  {
    DeviceLink link;
    EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
    EXPECT_STREQ(link.portName, "\\\\.\\Com1");
  }

  ASSERT_EQ(kill(pid_, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(10'000), 0);
  EXPECT_EQ(LinkTarget(ports / "com1"), (config_.path() / "no-device").string())
      << "the pin it replaced is put back";
  EXPECT_EQ(LinkTarget(dosdevices / "com3"), "some-other-port") << "the replaced comN is put back";
}

TEST_F(SimUnitProgram, EndsCleanlyOnSigintEvenWhenStartedWithItIgnored) {
  // What a shell script does to a program it starts in the background.
  const auto previous = signal(SIGINT, SIG_IGN);
  const std::string device = Run({"--port=1"});
  signal(SIGINT, previous);
  ASSERT_FALSE(device.empty()) << "no device path printed";
  const fs::path link = config_.path() / "pantoline" / "ports" / "com1";
  EXPECT_EQ(LinkTarget(link), device);

  ASSERT_EQ(kill(pid_, SIGINT), 0);
  EXPECT_EQ(WaitForExit(10'000), 0);
  EXPECT_NE(LinkTarget(link), device);
}

TEST_F(SimUnitProgram, WritesTheReceivedBytesAndExitsAfterOneTransfer) {
  const fs::path output = config_.path() / "received.bin";
  const std::string device =
      Run({"--port=1", "--checksum", "--once", "--output", output.string()});
  ASSERT_FALSE(device.empty()) << "no device path printed";

  const std::vector<std::uint8_t> package = Package(700);
  {
    DeviceLink link;
    ASSERT_EQ(link.FindDevice(), QV5SUCCESS);
    EXPECT_EQ(link.LoadPackage(package.data(), 700), QV5SUCCESS);
  }
  EXPECT_EQ(WaitForExit(10'000), 0) << "the program should end after one transfer";
  const std::string written = testing::ReadFile(output);
  EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), Expected(package));
  EXPECT_NE(LinkTarget(config_.PinPath(1)), device);
}

}  // namespace
}  // namespace pantoline
