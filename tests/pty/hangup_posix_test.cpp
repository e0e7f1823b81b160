// A unit that vanishes mid-run, on a real pseudo-terminal and in real time:
// from the moment its end of the line closes, the reset takes only its own
// fixed pauses (plus at most a second) to show its last status and close
// the log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "reset/reset_procedure.h"
#include "tests/support/config_home_posix.h"
#include "tests/support/temp_dir.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline {
namespace {

using Vanish = simunit::Options::Vanish;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class LastStatus final : public ResetDisplay {
 public:
  void DisableReset() override {}
  void ShowStatus(const char* text) override { last = text; }
  void SetProgressRange(int) override {}
  void ShowMessage(const char*) override {}
  ProgressCallback ProgressReceiver() override { return [](void*, std::int32_t, std::int32_t) {}; }
  void* ProgressContext() override { return nullptr; }
  std::string last;
};

struct Moment {
  const char* name;
  Vanish vanish;
  std::int64_t pausesMs;  // the procedure's fixed pauses after it
  const char* finalStatus;
  const char* logged;  // what the log shows of the failed stage
  friend void PrintTo(const Moment& m, std::ostream* os) { *os << m.name; }
};

constexpr char kLoadFailed[] = "An error has occured. Turn OFF your Lodestria and try again.";

class HangUp : public ::testing::TestWithParam<Moment> {};

TEST_P(HangUp, EndsTheRunWithinItsFixedPausesAndASecond) {
  const Moment& m = GetParam();
  testing::TempDir dir;
  testing::WorkingDir cwd(dir.path());
  testing::ConfigHome config;
  testing::WriteFile(dir.path() / "ResetPack.qv5", std::string(1000, 'p'));
  simunit::Options options;
  options.vanish = m.vanish;
  options.vanishBlock = 3;
  simunit::SimUnit unit(options);
  std::string error;
  ASSERT_TRUE(unit.Start(&error) && unit.PlacePortLink(1, config.path().string(), &error)) << error;

  LastStatus display;
  OnReset(display);
  const std::int64_t tookMs = (NowNs() - unit.VanishedNs()) / 1'000'000;
  ASSERT_NE(unit.VanishedNs(), 0);
  std::printf("hang-up %s: closed log after %lld ms (fixed pauses %lld ms)\n", m.name,
              static_cast<long long>(tookMs), static_cast<long long>(m.pausesMs));
  EXPECT_LE(tookMs, m.pausesMs + 1000) << "from the hang-up to the closed log";
  EXPECT_EQ(display.last, m.finalStatus);
  EXPECT_NE(testing::ReadFile(dir.path() / "ResetSystemLog.doc").find(m.logged), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, HangUp,
    ::testing::Values(
        Moment{"DuringTheSearch", Vanish::kGreeting, 2000 + 1000,
               " Lodestria not found. Check your connections and try again.",
               "Current Port = NOT FOUND"},
        Moment{"BeforeSynchronisation", Vanish::kRequest, 5000 + 1000, kLoadFailed,
               "QV5NOCONNECTION"},
        Moment{"MidBlocks", Vanish::kBlock, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
        Moment{"WaitingForTheEotAck", Vanish::kEot, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pantoline
