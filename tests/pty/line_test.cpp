// The system's serial port on a real line, in real time: the port under
// test goes through SystemSerialPorts() with the unit's settings and
// time-outs, and a LinePeer plays the unit's end of the line. Under Wine a
// line that vanished does not come back: a hang-up ends a run.
//
// Time bounds: lower bounds are the port's own time-outs less a little for
// clock granularity; upper bounds are loose, and where an upper bound tells
// one time-out from another, it holds for the best of three tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "link/clock.h"
#include "link/device_link.h"
#include "tests/pty/line_peer.h"
#include "tests/reset/reset_run.h"

namespace pantoline::testing {
namespace {

using Steady = std::chrono::steady_clock;
double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class SerialLine : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }

  ResultCode Open(const std::string& name, const LineSettings& settings = DeviceLink::UnitSettings()) {
    Close();
    ResultCode code = -1;
    port_ = ports_.Open(name.c_str(), settings, DeviceLink::kUnitTimeouts, &code);
    EXPECT_EQ(port_ != nullptr, code == QV5SUCCESS) << name << ": a handle with success only";
    return code;
  }
  void Close() { ports_.Close(std::exchange(port_, nullptr)); }  // nothing for nullptr
  Bytes Read(std::uint32_t count) {
    Bytes bytes(count);
    bytes.resize(ports_.Read(port_, bytes.data(), count));
    return bytes;
  }

  LinePeer peer_;
  SerialPorts& ports_ = SystemSerialPorts();
  SerialPort* port_ = nullptr;
};

// Open sets the unit's line whatever the port had; Close puts back the line
// Open found, so that a port that did not answer the search, or the unit's
// after the run, is not left raw at 115200 baud. (The modem lines are the
// driver's on close.)
TEST_F(SerialLine, OpenSetsTheUnitsLineAndDtrAndRtsAsAskedAndCloseLeavesTheLineAsOpenFoundIt) {
  peer_.Scramble();
  const std::string found = peer_.Settings(nullptr);
  for (const auto& [dtr, rts, line] :
       {std::tuple{true, true, "115200 8N1 dtr+ rts+"}, {true, false, "115200 8N1 dtr+ rts-"},
        {false, true, "115200 8N1 dtr- rts+"}, {false, false, "115200 8N1 dtr- rts-"}}) {
    LineSettings settings = DeviceLink::UnitSettings();
    std::tie(settings.dtr, settings.rts) = std::pair(dtr, rts);
    ASSERT_EQ(Open(peer_.portName, settings), QV5SUCCESS);
    EXPECT_EQ(peer_.Settings(port_), line);
    Close();
    EXPECT_EQ(peer_.Settings(nullptr), found);
  }
}

TEST_F(SerialLine, PortsThatDoNotOpenSayWhyAndLeaveNothingOpen) {
  TempDir dir;
  WriteFile(dir.path() / "plain", "not a tty");
  const std::string plain = peer_.PortNameOf(dir.path() / "plain");
  LineSettings impossible = DeviceLink::UnitSettings();
  impossible.dataBits = 3;
  // Twice: a port that failed half-way was closed again.
  EXPECT_EQ(Open(plain), QV5GETCOMMSTATEERROR);
  EXPECT_EQ(Open(plain), QV5GETCOMMSTATEERROR);
  EXPECT_EQ(Open(peer_.portName, impossible), QV5SETCOMSTATEERROR);
  EXPECT_EQ(Open(peer_.portName), QV5SUCCESS);
}

TEST_F(SerialLine, EveryByteCrossesUnchangedBothWaysAndStaleOrPurgedInputIsGone) {
  // CR, LF, XON, XOFF, 0 and 255 are where a line that translates, does
  // flow control in software or marks parity errors gives itself away.
  ASSERT_TRUE(peer_.Send(B("stale from before")));
  SleepMs(100);
  ASSERT_EQ(Open(peer_.portName), QV5SUCCESS);
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
  ports_.Purge(port_, PortSide::kInput);
  EXPECT_EQ(Read(9), Bytes{}) << "purged bytes are gone";
}

TEST_F(SerialLine, ReadsEndOnTheirCountOrTheirTotalOrIntervalTimeOut) {
  // A read of n bytes ends 15 + 15 * n ms after it starts at the latest,
  // and 25 ms after a byte that no other follows.
  struct Case {
    std::uint32_t count;
    std::vector<std::pair<int, const char*>> pieces;  // ms before, bytes
    const char* read;
    int minMs, maxMs;
    const char* left;  // for the next read
  };
  const Case cases[] = {
      {9, {}, "", 150, 210, ""},
      // Longer than the 300 ms that a Windows read waits on its event at once.
      {40, {}, "", 615, 1115, ""},
      {9, {{30, "SA-"}, {10, "77\n\r"}}, "SA-77\n\r", 30 + 10 + 25, 149, ""},  // a reply
      {9, {{0, "0123456789"}}, "012345678", 0, 60, "9"},                       // a full read
      {9, {{0, "SA-"}, {80, "77"}}, "SA-", 25, 69, "77"},                      // a late piece
  };
  ASSERT_EQ(Open(peer_.portName), QV5SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.read) + ", a read of " + std::to_string(c.count));
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
  ASSERT_EQ(Open(peer_.portName), QV5SUCCESS);
  const Bytes flood(1 << 20, 'x');  // far more than the line holds
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(ports_.Write(port_, flood.data(), 1 << 20), QV5WAITFORSINGLEOBJECTERROR);
  const double took = MsSince(start);
  EXPECT_GE(took, 300 - 8);
  EXPECT_LT(took, 1000) << "one wait of 300 ms, then the give-up";
  // The unit reads again: it finds what the line took before the give-up,
  // and nothing of what the write still held.
  std::size_t drained = 0;
  for (std::size_t got = 1; got != 0; drained += got) got = peer_.Receive(1 << 16).size();
  EXPECT_LE(drained, LinePeer::kLineHolds) << "bytes of an abandoned write went out after it";
  ASSERT_EQ(ports_.Write(port_, B("OK").data(), 2), QV5SUCCESS);
  EXPECT_EQ(peer_.Receive(64), B("OK"));
}

// The last of its suite, since under Wine it ends the run's line.
TEST_F(SerialLine, AVanishedLineIsGoneAndItsReadsAndWritesFailAtOnce) {
  ASSERT_EQ(Open(peer_.portName), QV5SUCCESS);
  peer_.HangUp();
  SleepMs(200);
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(Read(40), Bytes{});
  EXPECT_TRUE(ports_.Gone(port_));
  EXPECT_EQ(ports_.Write(port_, B("x").data(), 1), QV5COMMANDNOTSENT);
  EXPECT_LT(MsSince(start), 300) << "not the read's 615 ms";
}

// The port's deadlines and the reset's pauses run on this clock. A pause is
// never shorter than asked, its whole seconds included; a busy machine
// only makes it longer.
TEST(SystemClock, CountsMillisecondsAsTheSystemDoesAndSleepsNoLessThanAsked) {
  const std::int64_t before = SystemClock().NowMs();
  const Steady::time_point start = Steady::now();
  SystemClock().SleepMs(1000);
  const double slept = static_cast<double>(SystemClock().NowMs() - before);
  EXPECT_NEAR(slept, MsSince(start), 50);
  EXPECT_GE(MsSince(start), 1000);
}

// The line vanishes while the search waits for the unit's answer (on a port
// that may be above the 32 fixed names: under Wine this runs with COM45);
// the reset ends within its fixed pauses after that and a second.
TEST(HangUp, DuringTheSearchEndsTheRunWithinItsFixedPausesAndASecond) {
  TempDir dir;
  WorkingDir cwd(dir.path());
  WriteFile(dir.path() / "ResetPack.qv5", std::string(1000, 'p'));
  LinePeer peer;
  std::atomic<bool> stop{false};
  Steady::time_point vanished{};
  std::thread unit([&] {
    while (!stop && peer.Receive(64) != Line("SA-28")) {
    }
    if (!stop) {
      peer.HangUp();
      vanished = Steady::now();
    }
  });
  RecordingDisplay display;
  OnReset(display);
  stop = true;
  unit.join();
  ASSERT_NE(vanished, Steady::time_point{}) << "the search never greeted the unit";
  EXPECT_LE(MsSince(vanished), 2000 + 1000 + 1000) << "from the hang-up to the closed log";
  EXPECT_EQ(display.events.back(), "status  Lodestria not found. Check your connections and try again.");
  EXPECT_NE(ReadFile("ResetSystemLog.doc").find("Current Port = NOT FOUND"), std::string::npos);
}

}  // namespace
}  // namespace pantoline::testing
