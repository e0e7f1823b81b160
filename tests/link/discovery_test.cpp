// The search for the unit over the 32 candidate ports.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Discovery = LinkTest;

std::string Com(int n) { return kCandidatePorts[n - 1]; }

TEST(CandidatePorts, AreTheThirtyTwoNamesInOrderAndSpelling) {
  for (int n = 1; n <= 32; ++n) {
    const std::string expected = std::string("\\\\.\\") + (n <= 30 ? "Com" : "COM") + std::to_string(n);
    EXPECT_EQ(Com(n), expected);
    // Zero-filled slots: nothing after the terminator.
    EXPECT_TRUE(std::all_of(kCandidatePorts[n - 1] + expected.size(), kCandidatePorts[n - 1] + 15,
                            [](char c) { return c == '\0'; }));
  }
}

TEST_F(Discovery, AMachineWithoutPortsTriesAllThirtyTwoAndReportsTheMissingPort) {
  EXPECT_EQ(link->FindDevice(), QV5INVALIDHANDLEVALUE);
  std::vector<std::string> all;
  for (int n = 1; n <= 32; ++n) {
    all.push_back(Com(n));
  }
  EXPECT_THAT(ports.opened, ElementsAreArray(all));
  EXPECT_STREQ(link->portName, "NOT FOUND");
  EXPECT_EQ(link->mode, 0);
  EXPECT_FALSE(link->connected);
  EXPECT_THAT(clock.sleeps(), IsEmpty());
}

TEST_F(Discovery, AfterTheThirtyTwoNamesTriesTheListedPortsAboveThemInOrder) {
  ports.extraNumbers = {7, 33, 45, 256};  // COM7 is one of the 32 already
  ScriptedPort& silent = ports.Add("\\\\.\\COM33");
  AnswerLikeUnit(ports.Add("\\\\.\\COM256"));
  EXPECT_EQ(link->FindDevice(), QV5SUCCESS);
  EXPECT_EQ(ports.opened.size(), 35u);
  EXPECT_THAT(Tail(ports.opened, 4),
              ElementsAre(Com(32), "\\\\.\\COM33", "\\\\.\\COM45", "\\\\.\\COM256"));
  EXPECT_FALSE(silent.isOpen);
  EXPECT_STREQ(link->portName, "\\\\.\\COM256");
}

TEST_F(Discovery, PassesOverASilentPortAndAMissingOneAndStopsAtTheUnit) {
  ScriptedPort& silent = ports.Add(Com(1));
  ScriptedPort& unit = ports.Add(Com(3));
  AnswerLikeUnit(unit);
  ports.Add(Com(4));
  const std::int32_t serial = link->serialNumber;

  EXPECT_EQ(link->FindDevice(), QV5SUCCESS);
  EXPECT_EQ(link->lastResult, QV5SUCCESS);
  EXPECT_THAT(ports.opened, ElementsAre(Com(1), Com(2), Com(3)));
  EXPECT_THAT(silent.writes, ElementsAre(Line("SA-28")));  // one greeting only
  EXPECT_FALSE(silent.isOpen);
  EXPECT_TRUE(unit.isOpen);
  EXPECT_STREQ(link->portName, "\\\\.\\Com3");
  EXPECT_EQ(link->mode, 2);
  EXPECT_TRUE(link->connected);
  EXPECT_NE(link->portHandle, kNoPort);
  EXPECT_EQ(link->serialNumber, serial);
  EXPECT_EQ(DeviceLink::linkCount, 1);  // the silent port's close kept the number

  // The silent port is purged, receive side first, before it is closed;
  // the unit's port is purged and kept.
  const auto& log = ports.log;
  const auto closeSilent = std::find(log.begin(), log.end(), "close " + Com(1));
  ASSERT_NE(closeSilent, log.end());
  EXPECT_EQ(*(closeSilent - 2), "purge " + Com(1) + " 10");
  EXPECT_EQ(*(closeSilent - 1), "purge " + Com(1) + " 5");
  EXPECT_THAT(Tail(log, 2),
              ElementsAre("purge " + Com(3) + " 10", "purge " + Com(3) + " 5"));
}

TEST_F(Discovery, TheEarlierOfTwoAnsweringPortsWins) {
  AnswerLikeUnit(ports.Add(Com(5)));
  AnswerLikeUnit(ports.Add(Com(7)));
  EXPECT_EQ(link->FindDevice(), QV5SUCCESS);
  EXPECT_STREQ(link->portName, Com(5).c_str());
  EXPECT_EQ(ports.opened.back(), Com(5));
}

TEST_F(Discovery, AUnitThatMissesTheGreetingIsNotFoundOnThatSearch) {
  ScriptedPort& late = ports.Add(Com(2));
  AnswerLikeUnit(late, 5000);  // answers after the link stopped listening
  EXPECT_EQ(link->FindDevice(), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(late.opens, 1);
  EXPECT_THAT(late.writes, ElementsAre(Line("SA-28")));
  EXPECT_EQ(ports.openCount(), 0);
}

TEST_F(Discovery, TheResultIsWhatTheLastNameLeft) {
  ports.Add(Com(32));
  EXPECT_EQ(link->FindDevice(), QV5NOTFOUND);
  EXPECT_EQ(link->mode, 0);
  EXPECT_STREQ(link->portName, "NOT FOUND");

  auto other = std::make_unique<DeviceLink>(ports, clock);
  ports.Find(Com(32))->openResult = QV5SETCOMSTATEERROR;
  // Port 1's wrong answer (2) is overwritten by port 32's failed open.
  ports.Add(Com(1)).peer = [](ScriptedPort& p, auto) { p.Send(Line("NO")); };
  EXPECT_EQ(other->FindDevice(), QV5SETCOMSTATEERROR);
}

TEST_F(Discovery, PortsThirtyOneAndThirtyTwoAreNamedInCapitals) {
  AnswerLikeUnit(ports.Add(Com(31)));
  EXPECT_EQ(link->FindDevice(), QV5SUCCESS);
  EXPECT_STREQ(link->portName, "\\\\.\\COM31");
}

TEST_F(Discovery, AFruitlessSearchLeavesConnectedAndPortNameAsTheyWere) {
  AnswerLikeUnit(ports.Add(Com(2)));
  ASSERT_EQ(link->FindDevice(), QV5SUCCESS);
  ports.Find(Com(2))->peer = nullptr;  // the unit goes quiet

  EXPECT_EQ(link->FindDevice(), QV5INVALIDHANDLEVALUE);
  EXPECT_TRUE(link->connected);
  EXPECT_STREQ(link->portName, "\\\\.\\Com2");
  EXPECT_EQ(link->mode, 0);
  EXPECT_EQ(link->portHandle, kNoPort);
  // The port left open by the first search was closed before the second.
  EXPECT_EQ(ports.Find(Com(2))->opens, 2);
  EXPECT_EQ(ports.openCount(), 0);
}

}  // namespace
}  // namespace pantoline::testing
