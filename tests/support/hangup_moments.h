// The moments at which the hang-up tests make a unit's line vanish, and
// what the reset must have done by the time it returns: shown its last
// status and closed its log within its own fixed pauses and a second.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "reset/reset_display.h"
#include "tests/support/temp_dir.h"

namespace pantoline::testing {

enum class Vanish { kGreeting, kRequest, kBlock, kEot };  // kBlock: at the 3rd block

struct Moment {
  const char* name;
  Vanish vanish;
  std::int64_t pausesMs;  // the procedure's fixed pauses after it
  const char* finalStatus;
  const char* logged;  // what the log shows of the failed stage
  friend void PrintTo(const Moment& m, std::ostream* os) { *os << m.name; }
};

inline constexpr char kLoadFailed[] = "An error has occured. Turn OFF your Lodestria and try again.";
inline const Moment kHangUpMoments[] = {
    {"DuringTheSearch", Vanish::kGreeting, 2000 + 1000,
     " Lodestria not found. Check your connections and try again.", "Current Port = NOT FOUND"},
    {"BeforeSynchronisation", Vanish::kRequest, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
    {"MidBlocks", Vanish::kBlock, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
    {"WaitingForTheEotAck", Vanish::kEot, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
};
inline std::string MomentName(const ::testing::TestParamInfo<Moment>& info) {
  return info.param.name;
}

inline std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
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

// Checks a reset run in `dir` that returned `tookMs` after the line vanished.
inline void ExpectEndedInTime(const Moment& m, std::int64_t tookMs, const LastStatus& display,
                              const std::filesystem::path& dir) {
  std::printf("hang-up %s: closed log after %lld ms (fixed pauses %lld ms)\n", m.name,
              static_cast<long long>(tookMs), static_cast<long long>(m.pausesMs));
  EXPECT_LE(tookMs, m.pausesMs + 1000) << "from the hang-up to the closed log";
  EXPECT_EQ(display.last, m.finalStatus);
  EXPECT_NE(ReadFile(dir / "ResetSystemLog.doc").find(m.logged), std::string::npos);
}

}  // namespace pantoline::testing
