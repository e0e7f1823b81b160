// The system's serial port on a real line, in real time: the port under
// test goes through SystemSerialPorts() with the unit's settings and
// time-outs, and a LinePeer plays the unit's end of the line. Under Wine a
// line that vanished does not come back: one hang-up moment per run.
//
// Time bounds: lower bounds are the port's own time-outs less a little for
// clock granularity; upper bounds are loose, and where an upper bound tells
// one time-out from another, it holds for the best of three tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "link/device_link.h"
#include "reset/reset_display.h"
#include "reset/reset_procedure.h"
#include "tests/pty/line_peer.h"
#include "tests/support/scripted_unit.h"
#include "tests/support/temp_dir.h"

namespace pantoline::testing {
namespace {

using Steady = std::chrono::steady_clock;
double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
std::string Lower(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  return name;
}

class SerialLine : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }

  PortHandle Open(const std::string& name, const SerialSettings& settings, ResultCode* code) {
    Close();
    return port_ = ports_.Open(name.c_str(), settings, DeviceLink::kUnitTimeouts, code);
  }
  void OpenOrFail() {
    ResultCode code = -1;
    ASSERT_NE(Open(peer_.PortName(), DeviceLink::UnitSettings(), &code), kNoPort) << code;
  }
  void Close() {
    if (port_ != kNoPort) ports_.Close(port_);
    port_ = kNoPort;
  }
  Bytes Read(std::uint32_t count) {
    Bytes bytes(count);
    bytes.resize(ports_.Read(port_, bytes.data(), count));
    return bytes;
  }

  LinePeer peer_;
  SerialPorts& ports_ = SystemSerialPorts();
  PortHandle port_ = kNoPort;
};

TEST_F(SerialLine, OpenSetsTheUnitsLineWhateverThePortHadBeforeAndDtrAndRtsAsAsked) {
  peer_.Scramble();
  constexpr std::uint32_t kDtr = kFlagDtrControlEnable, kRts = kFlagRtsControlEnable;
  const std::uint32_t neither = DeviceLink::UnitSettings().flags & ~(3 * kDtr | 3 * kRts);
  for (const auto& [flags, line] :
       {std::pair{DeviceLink::UnitSettings().flags, "115200 8N1 dtr+ rts+"},
        {neither | kDtr, "115200 8N1 dtr+ rts-"}, {neither | kRts, "115200 8N1 dtr- rts+"},
        {neither, "115200 8N1 dtr- rts-"}}) {
    SerialSettings settings = DeviceLink::UnitSettings();
    settings.flags = flags;
    ResultCode code = -1;
    ASSERT_NE(Open(peer_.PortName(), settings, &code), kNoPort) << code;
    const std::string got = peer_.Settings(port_);
    EXPECT_EQ(got, std::string(line).substr(0, std::max<std::size_t>(got.size(), 10))) << flags;
  }
}

TEST_F(SerialLine, EveryByteCrossesUnchangedBothWaysAndStaleOrPurgedInputIsGone) {
  // CR, LF, XON, XOFF, 0 and 255 are where a line that translates, does
  // flow control in software or marks parity errors gives itself away.
  ASSERT_TRUE(peer_.Send(B("stale from before")));
  SleepMs(100);
  OpenOrFail();
  EXPECT_EQ(Read(9), Bytes{}) << "what waited before the open is dropped";
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(ports_.Write(port_, all.data(), 256), QV5SUCCESS);
  EXPECT_EQ(peer_.Receive(512), all);
  ASSERT_TRUE(peer_.Send(all));
  Bytes received;
  for (Bytes piece{1}; received.size() < all.size() && !piece.empty();) {
    piece = Read(static_cast<std::uint32_t>(all.size() - received.size()));
    received.insert(received.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(received, all);

  ASSERT_TRUE(peer_.Send(B("stale reply")));
  SleepMs(100);
  ports_.Purge(port_, kPurgeInput);
  EXPECT_EQ(Read(9), Bytes{}) << "purged bytes are gone";
  ASSERT_TRUE(peer_.Send(B("K")));
  EXPECT_EQ(Read(9), B("K")) << "the line works after a purge";
}

TEST_F(SerialLine, ReadsEndOnTheirCountOrTheirTotalOrIntervalTimeOut) {
  // A read of n bytes ends 15 + 15 * n ms after it starts at the latest,
  // and 25 ms after a byte that no other follows.
  struct Case {
    const char* name;
    std::uint32_t count;
    std::vector<std::pair<int, const char*>> pieces;  // ms before, bytes
    const char* read;
    int minMs, maxMs;
    const char* left;  // for the next read
  };
  const Case cases[] = {
      {"silence", 1, {}, "", 30, 90, ""},
      {"silence", 9, {}, "", 150, 210, ""},
      // Longer than the 300 ms that a Windows read waits on its event at once.
      {"silence", 40, {}, "", 615, 1115, ""},
      {"a reply", 9, {{30, "SA-"}, {10, "77\n\r"}}, "SA-77\n\r", 30 + 10 + 25, 149, ""},
      {"a full read", 9, {{0, "0123456789"}}, "012345678", 0, 60, "9"},
      {"a late piece", 9, {{0, "SA-"}, {80, "77"}}, "SA-", 25, 69, "77"},
  };
  OpenOrFail();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", a read of " + std::to_string(c.count));
    double best = 1e9;
    for (int attempt = 0; attempt < 3 && best >= c.maxMs; ++attempt) {
      std::thread unit([&] {
        for (const auto& [ms, bytes] : c.pieces) {
          SleepMs(ms);
          peer_.Send(B(bytes));
        }
      });
      if (!c.pieces.empty() && c.pieces[0].first == 0) SleepMs(10);
      const Steady::time_point start = Steady::now();
      EXPECT_EQ(Read(c.count), B(c.read));
      const double took = MsSince(start);
      unit.join();
      EXPECT_GE(took, c.minMs - 8);
      best = std::min(best, took);
      EXPECT_EQ(Read(9), B(c.left));
    }
    EXPECT_LT(best, c.maxMs);
  }
}

TEST_F(SerialLine, AWriteTheLineCannotTakeIsGivenUpAfter300MsAndSendsNothingMore) {
  OpenOrFail();
  const Bytes flood(1 << 20, 'x');  // far more than the line holds
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(ports_.Write(port_, flood.data(), 1 << 20), QV5WAITFORSINGLEOBJECTERROR);
  const double took = MsSince(start);
  EXPECT_GE(took, 300 - 8);
  EXPECT_LT(took, 1000) << "one wait of 300 ms, then the give-up";
  // The unit reads again: it finds what the line took before the give-up,
  // and nothing of what the write still held.
  std::size_t drained = 0;
  for (std::size_t got = 1; got != 0; drained += got) {
    got = peer_.Receive(1 << 16).size();
  }
  EXPECT_LE(drained, LinePeer::kLineHolds) << "bytes of an abandoned write went out after it";
  ASSERT_EQ(ports_.Write(port_, B("OK").data(), 2), QV5SUCCESS);
  EXPECT_EQ(peer_.Receive(64), B("OK"));
}

TEST_F(SerialLine, PortsThatDoNotOpenLeaveNothingOpen) {
  SerialSettings impossible = DeviceLink::UnitSettings();
  impossible.byteSize = 3;
  const std::string plain = peer_.NotASerialPort();
  // The plain file twice: a port that failed half-way is closed again.
  struct Case {
    std::string name;
    bool possible;
    ResultCode code;
  };
  for (const Case& c : {Case{"\\\\.\\Com9", true, QV5INVALIDHANDLEVALUE},
                        Case{"Com1", true, QV5INVALIDHANDLEVALUE},
                        Case{plain, true, QV5GETCOMMSTATEERROR},
                        Case{plain, true, QV5GETCOMMSTATEERROR},
                        Case{peer_.PortName(), false, QV5SETCOMSTATEERROR},
                        Case{peer_.PortName(), true, QV5SUCCESS}}) {
    ResultCode code = -1;
    const PortHandle port = Open(c.name, c.possible ? DeviceLink::UnitSettings() : impossible, &code);
    EXPECT_EQ(port != kNoPort, c.code == QV5SUCCESS) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
  }
}

TEST_F(SerialLine, ASecondOpenerIsRefusedUntilTheFirstCloses) {
  OpenOrFail();
  ResultCode code = -1;
  EXPECT_EQ(ports_.Open(peer_.PortName().c_str(), DeviceLink::UnitSettings(),
                        DeviceLink::kUnitTimeouts, &code),
            kNoPort);
  EXPECT_EQ(code, QV5INVALIDHANDLEVALUE);
  EXPECT_NE(Open(Lower(peer_.PortName()), DeviceLink::UnitSettings(), &code), kNoPort)
      << "any letter case";
}

TEST_F(SerialLine, TheSearchFindsTheUnitOnItsPort) {
  std::thread unit([&] {
    // The greeting comes once the ports before the unit's are tried.
    Bytes heard;
    for (int quiet = 0; quiet < 30 && heard.size() < 7; ++quiet) {
      const Bytes got = peer_.Receive(7 - heard.size());
      heard.insert(heard.end(), got.begin(), got.end());
    }
    if (heard == Line("SA-28")) peer_.Send(Line("SA-77"));
  });
  DeviceLink link;
  EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
  unit.join();
  EXPECT_EQ(Lower(link.portName), Lower(peer_.PortName()));
}

// The last of its suite, since under Wine it ends the run's line.
TEST_F(SerialLine, AVanishedLineIsGoneAndItsReadsAndWritesFailAtOnce) {
  OpenOrFail();
  EXPECT_EQ(Read(1), Bytes{});
  EXPECT_FALSE(ports_.Gone(port_)) << "a quiet line is not gone";
  peer_.HangUp();
  SleepMs(200);
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(Read(40), Bytes{});
  EXPECT_TRUE(ports_.Gone(port_));
  EXPECT_EQ(ports_.Write(port_, B("x").data(), 1), QV5COMMANDNOTSENT);
  EXPECT_LT(MsSince(start), 300) << "not the read's 615 ms";
}

// The moments at which the line vanishes during a reset, and what the
// reset must have done by the time it returns.
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

// Plays the unit until `vanish`: answers the greeting and the download
// command, asks for CRC blocks and acknowledges them. Returns once the line
// went (at *vanished), or when told to stop.
void PlayUnit(LinePeer& peer, Vanish vanish, const std::atomic<bool>& stop,
              Steady::time_point* vanished) {
  const auto awaits = [&](const Bytes& line) {
    for (Bytes heard; !stop;) {
      const Bytes got = peer.Receive(64);
      heard.insert(heard.end(), got.begin(), got.end());
      if (std::search(heard.begin(), heard.end(), line.begin(), line.end()) != heard.end()) {
        return true;
      }
    }
    return false;
  };
  const auto goesAt = [&](Vanish moment) {
    if (moment == vanish) {
      peer.HangUp();
      *vanished = Steady::now();
    }
    return moment == vanish;
  };
  if (!awaits(Line("SA-28")) || goesAt(Vanish::kGreeting) || !peer.Send(Line("SA-77")) ||
      !awaits(Line("QV5-3")) || !peer.Send(Line("QV5-3"))) {
    return;
  }
  SleepMs(1100);  // the link reads the echo a second after its command
  if (goesAt(Vanish::kRequest) || !peer.Send(B("C"))) return;
  for (int blocks = 0; !stop;) {
    const Bytes got = peer.Receive(133);
    if ((got.size() == 133 && ++blocks == 3 && goesAt(Vanish::kBlock)) ||
        (got == Bytes{4} && goesAt(Vanish::kEot))) {
      return;
    }
    if (!got.empty()) peer.Send(B("\x06"));
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
  Steady::time_point vanished{};
  std::thread unit([&] { PlayUnit(peer, m.vanish, stop, &vanished); });
  LastStatus display;
  OnReset(display);
  stop = true;
  unit.join();
  ASSERT_NE(vanished, Steady::time_point{}) << "the line never vanished";
  const double tookMs = MsSince(vanished);
  std::printf("hang-up %s: closed log after %.0f ms (fixed pauses %lld ms)\n", m.name, tookMs,
              static_cast<long long>(m.pausesMs));
  EXPECT_LE(tookMs, m.pausesMs + 1000) << "from the hang-up to the closed log";
  EXPECT_EQ(display.last, m.finalStatus);
  EXPECT_NE(ReadFile(dir.path() / "ResetSystemLog.doc").find(m.logged), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Moments, HangUp, ::testing::ValuesIn(kMoments),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pantoline::testing
