// A unit that vanishes, on a real line and in real time: the port tells it
// from a quiet line at once, and a reset that loses its unit takes only its
// own fixed pauses (plus at most a second) from the moment the line goes to
// show its last status and close the log. Under Wine, one test per run: the
// line does not come back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "link/device_link.h"
#include "reset/reset_display.h"
#include "reset/reset_procedure.h"
#include "tests/pty/line_peer.h"
#include "tests/support/temp_dir.h"

namespace pantoline::testing {
namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TEST(LineGone, AVanishedLineIsGoneAndItsReadsAndWritesFailAtOnce) {
  LinePeer peer;
  SerialPorts& ports = SystemSerialPorts();
  ResultCode code = -1;
  const PortHandle port = ports.Open(peer.PortName().c_str(), DeviceLink::UnitSettings(),
                                     DeviceLink::kUnitTimeouts, &code);
  ASSERT_NE(port, kNoPort) << code;
  std::uint8_t bytes[40] = {};
  EXPECT_EQ(ports.Read(port, bytes, 1), 0u);
  EXPECT_FALSE(ports.Gone(port)) << "a quiet line is not gone";
  peer.HangUp();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::int64_t start = SteadyMs();
  EXPECT_EQ(ports.Read(port, bytes, 40), 0u);
  EXPECT_TRUE(ports.Gone(port));
  EXPECT_EQ(ports.Write(port, bytes, 1), QV5COMMANDNOTSENT);
  EXPECT_LT(SteadyMs() - start, 300) << "not the read's 615 ms";
  ports.Close(port);
}

enum class Vanish { kGreeting, kRequest, kBlock, kEot };  // kBlock: at the 3rd block

struct Moment {
  const char* name;
  Vanish vanish;
  std::int64_t pausesMs;  // the reset's fixed pauses after it
  const char* finalStatus;
  const char* logged;  // what the log shows of the failed stage
  friend void PrintTo(const Moment& m, std::ostream* os) { *os << m.name; }
};
constexpr char kLoadFailed[] = "An error has occured. Turn OFF your Lodestria and try again.";
const Moment kMoments[] = {
    {"DuringTheSearch", Vanish::kGreeting, 2000 + 1000,
     " Lodestria not found. Check your connections and try again.", "Current Port = NOT FOUND"},
    {"BeforeSynchronisation", Vanish::kRequest, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
    {"MidBlocks", Vanish::kBlock, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
    {"WaitingForTheEotAck", Vanish::kEot, 5000 + 1000, kLoadFailed, "QV5NOCONNECTION"},
};

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

// Plays the unit on the peer's end: answers the greeting and the download
// command, asks for CRC blocks and acknowledges them, until `vanish`.
// Returns when the line went, or when told to stop.
void PlayUnit(LinePeer& peer, Vanish vanish, const std::atomic<bool>& stop,
              std::atomic<std::int64_t>& vanishedMs) {
  const auto hangUp = [&] {
    vanishedMs = SteadyMs();
    peer.HangUp();
  };
  std::string text;
  int blocks = 0;
  bool receiving = false;
  while (!stop) {
    const Bytes got = peer.Receive(1);
    if (got.empty()) continue;
    const char c = static_cast<char>(got[0]);
    if (receiving && (c == 1 || c == 4)) {
      for (int rest = c == 4 ? 0 : 132; rest > 0 && !stop;) {
        rest -= static_cast<int>(peer.Receive(rest).size());
      }
      if (c == 4 ? vanish == Vanish::kEot : ++blocks == 3 && vanish == Vanish::kBlock) {
        return hangUp();
      }
      peer.Send(B("\x06"));
    } else if (c != '\r') {
      text += c;
    } else if (text == "SA-28\n") {
      if (vanish == Vanish::kGreeting) return hangUp();
      peer.Send(B("SA-77\n\r"));
      text.clear();
    } else if (text == "QV5-3\n") {
      peer.Send(B("QV5-3\n\r"));
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the link reads the echo a second later
      if (vanish == Vanish::kRequest) return hangUp();
      peer.Send(B("C"));
      receiving = true;
    } else {
      text.clear();
    }
  }
}

class HangUp : public ::testing::TestWithParam<Moment> {};

TEST_P(HangUp, EndsTheRunWithinItsFixedPausesAndASecond) {
  const Moment& m = GetParam();
  TempDir dir;
  WorkingDir cwd(dir.path());
  WriteFile(dir.path() / "ResetPack.qv5", std::string(1000, 'p'));
  LinePeer peer;
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> vanishedMs{0};
  std::thread unit([&] { PlayUnit(peer, m.vanish, stop, vanishedMs); });
  LastStatus display;
  OnReset(display);
  stop = true;
  unit.join();
  ASSERT_NE(vanishedMs, 0);
  const std::int64_t tookMs = SteadyMs() - vanishedMs;
  std::printf("hang-up %s: closed log after %lld ms (fixed pauses %lld ms)\n", m.name,
              static_cast<long long>(tookMs), static_cast<long long>(m.pausesMs));
  EXPECT_LE(tookMs, m.pausesMs + 1000) << "from the hang-up to the closed log";
  EXPECT_EQ(display.last, m.finalStatus);
  EXPECT_NE(ReadFile(dir.path() / "ResetSystemLog.doc").find(m.logged), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Moments, HangUp, ::testing::ValuesIn(kMoments),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pantoline::testing
