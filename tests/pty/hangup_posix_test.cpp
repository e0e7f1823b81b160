// A unit that vanishes mid-run, on a real pseudo-terminal and in real time.
#include "reset/reset_procedure.h"
#include "tests/support/config_home_posix.h"
#include "tests/support/hangup_moments.h"
#include "tools/simunit/sim_unit.h"

namespace pantoline::testing {
namespace {

using SimVanish = simunit::Options::Vanish;

class HangUp : public ::testing::TestWithParam<Moment> {};

TEST_P(HangUp, EndsTheRunWithinItsFixedPausesAndASecond) {
  const Moment& m = GetParam();
  TempDir dir;
  WorkingDir cwd(dir.path());
  ConfigHome config;
  WriteFile(dir.path() / "ResetPack.qv5", std::string(1000, 'p'));
  constexpr SimVanish kAt[] = {SimVanish::kGreeting, SimVanish::kRequest, SimVanish::kNever,
                               SimVanish::kEot};
  simunit::Options options;
  options.vanish = kAt[static_cast<int>(m.vanish)];
  options.vanishBlock = m.vanish == Vanish::kBlock ? 3 : 0;
  simunit::SimUnit unit(options);
  std::string error;
  ASSERT_TRUE(unit.Start(&error) && unit.PlacePortLink(1, config.path().string(), &error)) << error;

  LastStatus display;
  OnReset(display);
  ASSERT_NE(unit.VanishedNs(), 0);
  ExpectEndedInTime(m, SteadyMs() - unit.VanishedNs() / 1'000'000, display, dir.path());
}

INSTANTIATE_TEST_SUITE_P(Moments, HangUp, ::testing::ValuesIn(kHangUpMoments), MomentName);

}  // namespace
}  // namespace pantoline::testing
