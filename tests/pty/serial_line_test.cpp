// The system's serial port on a real line, in real time: the port under
// test goes through SystemSerialPorts() with the unit's settings and
// time-outs, and a LinePeer plays the unit's end of the line.
//
// Time bounds: lower bounds are the port's own time-outs less a little for
// clock granularity; upper bounds are loose, and where an upper bound tells
// one time-out from another, it holds for the best of three tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "link/device_link.h"
#include "tests/pty/line_peer.h"
#include "tests/support/scripted_unit.h"

namespace pantoline {
namespace {

using testing::B;
using testing::Bytes;
using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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
    ASSERT_EQ(code, QV5SUCCESS);
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

  testing::LinePeer peer_;
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
    EXPECT_EQ(got, std::string(line).substr(0, std::max<std::size_t>(got.size(), 10)))
        << "flags " << flags;
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
  ASSERT_EQ(ports_.Write(port_, all.data(), static_cast<std::uint32_t>(all.size())), QV5SUCCESS);
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
  EXPECT_EQ(ports_.Write(port_, flood.data(), static_cast<std::uint32_t>(flood.size())),
            QV5WAITFORSINGLEOBJECTERROR);
  const double took = MsSince(start);
  EXPECT_GE(took, 300 - 8);
  EXPECT_LT(took, 1000) << "one wait of 300 ms, then the give-up";
  // The unit reads again: it finds what the line took before the give-up,
  // and nothing of what the write still held.
  std::size_t drained = 0;
  for (std::size_t got = 1; got != 0; drained += got) {
    got = peer_.Receive(1 << 16).size();
  }
  EXPECT_LE(drained, testing::LinePeer::kLineHolds) << "bytes of an abandoned write went out after it";
  ASSERT_EQ(ports_.Write(port_, B("OK").data(), 2), QV5SUCCESS);
  EXPECT_EQ(peer_.Receive(64), B("OK"));
}

TEST_F(SerialLine, ASecondOpenerIsRefusedUntilTheFirstCloses) {
  OpenOrFail();
  ResultCode code = -1;
  EXPECT_EQ(ports_.Open(peer_.PortName().c_str(), DeviceLink::UnitSettings(),
                        DeviceLink::kUnitTimeouts, &code),
            kNoPort);
  EXPECT_EQ(code, QV5INVALIDHANDLEVALUE);
  Close();
  std::string lower = peer_.PortName();
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  EXPECT_NE(Open(lower, DeviceLink::UnitSettings(), &code), kNoPort) << "any letter case";
}

TEST_F(SerialLine, PortsThatDoNotOpenLeaveNothingOpen) {
  SerialSettings impossible = DeviceLink::UnitSettings();
  impossible.byteSize = 3;
  const std::string plain = peer_.NotASerialPort();
  struct Case {
    std::string name;
    bool possible;
    ResultCode code;
  };
  // The plain file twice: a port that failed half-way is closed again.
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

TEST_F(SerialLine, TheSearchFindsTheUnitOnItsPort) {
  std::thread unit([&] {
    // The greeting comes once the ports before the unit's are tried.
    Bytes heard;
    for (int quiet = 0; quiet < 30 && heard.size() < 7; ++quiet) {
      const Bytes got = peer_.Receive(7 - heard.size());
      heard.insert(heard.end(), got.begin(), got.end());
    }
    if (heard == testing::Line("SA-28")) peer_.Send(testing::Line("SA-77"));
  });
  DeviceLink link;
  EXPECT_EQ(link.FindDevice(), QV5SUCCESS);
  unit.join();
  std::string found = link.portName;
  std::string port = peer_.PortName();
  for (std::string* name : {&found, &port}) {
    std::transform(name->begin(), name->end(), name->begin(), ::tolower);
  }
  EXPECT_EQ(found, port);
}

}  // namespace
}  // namespace pantoline
