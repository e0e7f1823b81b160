// The search for the unit over the 32 candidate ports and those above them.
#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

std::string Com(int n) { return n <= 32 ? kCandidatePorts[n - 1] : "\\\\.\\COM" + std::to_string(n); }

TEST(CandidatePorts, AreTheThirtyTwoNamesInOrderAndSpellingInZeroFilledSlots) {
  for (int n = 1; n <= 32; ++n) {
    const std::string name = std::string("\\\\.\\") + (n <= 30 ? "Com" : "COM") + std::to_string(n);
    EXPECT_EQ(std::string(kCandidatePorts[n - 1], kPortNameSlot), name + std::string(15 - name.size(), '\0'));
  }
}

enum Kind { kSilent, kUnit, kLateUnit, kWrongAnswer, kFailsToOpen };

struct Machine {
  const char* name;
  std::vector<std::pair<int, Kind>> ports;
  std::vector<int> extraNumbers;
  ResultCode result;
  std::size_t opens;  // names tried
  std::string portName;
};

class Machines : public LinkTest, public ::testing::WithParamInterface<Machine> {};

TEST_P(Machines, AreSearchedInOrderUntilTheUnitAnswers) {
  const Machine& m = GetParam();
  for (const auto& [n, kind] : m.ports) {
    ScriptedPort& port = ports.Add(Com(n));
    if (kind == kUnit || kind == kLateUnit) {
      AnswerLikeUnit(port, kind == kLateUnit ? 5000 : 0);  // late: after the link stopped listening
    } else if (kind == kWrongAnswer) {
      port.peer = [](ScriptedPort& p, auto) { p.Send(Line("NO")); };
    }
    port.openResult = kind == kFailsToOpen ? QV5SETCOMSTATEERROR : QV5SUCCESS;
  }
  ports.extraNumbers = m.extraNumbers;
  EXPECT_EQ(link->FindDevice(), m.result);
  EXPECT_EQ(link->lastResult, m.result);
  // The 32 names, then those of the numbers listed above them, up to the unit.
  std::vector<std::string> tried;
  for (int n = 1; n <= 32; ++n) tried.push_back(Com(n));
  for (int n : m.extraNumbers) {
    if (n > 32) tried.push_back(Com(n));
  }
  tried.resize(m.opens);
  EXPECT_EQ(ports.opened, tried);
  EXPECT_STREQ(link->portName, m.portName.c_str());
  const bool found = m.result == QV5SUCCESS;
  EXPECT_EQ(link->connected, found);
  EXPECT_EQ(link->mode, found ? LinkMode::kDownload : LinkMode::kSearching);
  EXPECT_EQ(ports.OpenCount(), found ? 1 : 0);
  EXPECT_EQ(link->portHandle != nullptr, found);
  EXPECT_EQ(DeviceLink::linkCount, 1);  // closing a silent port keeps the link's number
  // A port is purged, receive side first, before it is closed, and once
  // the unit has answered there.
  for (std::size_t i = 0; i <= ports.log.size(); ++i) {
    if (i == ports.log.size() ? found : ports.log[i].starts_with("close")) {
      ASSERT_GE(i, 2u);
      EXPECT_TRUE(ports.log[i - 2].ends_with(" input") && ports.log[i - 1].ends_with(" output")) << ports.log[i - 1];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Machines,
    ::testing::Values(
        Machine{"NoPorts", {}, {}, QV5INVALIDHANDLEVALUE, 32, "NOT FOUND"},
        Machine{"SilentMissingThenUnit", {{1, kSilent}, {3, kUnit}, {4, kUnit}}, {}, QV5SUCCESS, 3, Com(3)},
        Machine{"AUnitTooLateForTheGreeting", {{2, kLateUnit}}, {}, QV5INVALIDHANDLEVALUE, 32, "NOT FOUND"},
        Machine{"LastNameSilent", {{32, kSilent}}, {}, QV5NOTFOUND, 32, "NOT FOUND"},
        // Port 1's wrong answer (2) is overwritten by port 32's failed open.
        Machine{"LastNameFailsToOpen", {{1, kWrongAnswer}, {32, kFailsToOpen}}, {}, QV5SETCOMSTATEERROR, 32,
                "NOT FOUND"},
        // COM7 is one of the 32 already; the others are tried in the order listed.
        Machine{"NumbersAbove32", {{33, kSilent}, {256, kUnit}}, {7, 33, 45, 256}, QV5SUCCESS, 35, Com(256)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, ASecondSearchClosesThePortOfTheFirstAndKeepsWhatItFoundIfFruitless) {
  ScriptedPort& unit = ports.Add(Com(2));
  AnswerLikeUnit(unit);
  ASSERT_EQ(link->FindDevice(), QV5SUCCESS);
  unit.peer = nullptr;  // the unit goes quiet
  EXPECT_EQ(link->FindDevice(), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(ports.OpenCount(), 0);
  EXPECT_TRUE(link->connected);
  EXPECT_STREQ(link->portName, Com(2).c_str());
}

// The port in hand is greeted to its end; no later one is opened.
TEST_F(LinkTest, AStopEndsTheSearchAfterThePortInHand) {
  RunStop stop;
  link->SetStop(&stop);
  ports.Add(Com(1)).peer = [&](ScriptedPort&, std::span<const std::uint8_t>) { stop.Request(); };
  AnswerLikeUnit(ports.Add(Com(2)));
  EXPECT_EQ(link->FindDevice(), QV5NOTFOUND);
  EXPECT_EQ(ports.opened, std::vector<std::string>{Com(1)});
  EXPECT_FALSE(link->connected);
}

}  // namespace
}  // namespace pantoline::testing
