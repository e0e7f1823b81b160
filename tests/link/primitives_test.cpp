// The link record, its numbering, Open and the byte primitives.
#include <gtest/gtest.h>

#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Primitives = LinkTest;

TEST_F(Primitives, FreshLinkIsUnconnectedInModeOneWithNoPort) {
  EXPECT_EQ(link->mode, 1);
  EXPECT_FALSE(link->connected);
  EXPECT_EQ(link->portHandle, kNoPort);
  EXPECT_EQ(link->lastResult, QV5SUCCESS);
  EXPECT_STREQ(link->portName, "NOT FOUND");
  EXPECT_EQ(link->serialNumber, 1);
  EXPECT_EQ(link->progressCallback, nullptr);
}

TEST_F(Primitives, SerialNumbersCountTheLinksAlive) {
  auto second = std::make_unique<DeviceLink>(ports, clock);
  EXPECT_EQ(second->serialNumber, 2);
  link.reset();
  DeviceLink third(ports, clock);
  EXPECT_EQ(third.serialNumber, 2);  // numbers are reused, not unique
  second.reset();
  EXPECT_EQ(DeviceLink::linkCount, 1);
}

TEST_F(Primitives, DestroyingALinkWithoutPortOnlyReleasesItsNumber) {
  link.reset();
  EXPECT_EQ(DeviceLink::linkCount, 0);
  EXPECT_THAT(ports.log, IsEmpty());
}

TEST_F(Primitives, DestroyingALinkPurgesBothSidesThenClosesItsPort) {
  OpenPort("P");
  link.reset();
  EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5", "close P"));
}

TEST_F(Primitives, OpenAppliesTheUnitsLineFromScratch) {
  ScriptedPort& port = ports.Add("P");
  link->Open("P");
  // Every field given, so that a default of the record cannot hide here:
  // length, baud rate, flags 0x1093, 8 data bits; parity, stop bits,
  // limits, characters and the reserved words all 0.
  const SerialSettings onlyThose{28, 115200, 0x1093, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(port.settings, onlyThose);
  EXPECT_EQ(port.timeouts, (SerialTimeouts{25, 15, 15, 15, 15}));
  EXPECT_EQ(link->portSettings, onlyThose);
}

TEST_F(Primitives, OpenSettlesForThreeHundredMillisecondsAndLeavesPortHandleAlone) {
  ports.Add("P");
  link->lastResult = QV5NORESPONSE;
  const PortHandle port = link->Open("P");
  EXPECT_NE(port, kNoPort);
  EXPECT_EQ(link->lastResult, QV5SUCCESS);
  EXPECT_THAT(clock.sleeps(), ElementsAre(300));
  EXPECT_EQ(link->portHandle, kNoPort);
  ports.Close(port);
}

TEST_F(Primitives, OpenFailuresReturnNoPortAndTheirCodeWithoutSettling) {
  ports.Add("GetState").openResult = QV5GETCOMMSTATEERROR;
  ports.Add("SetTimeouts").openResult = QV5SETCOMMTIMEOUTERROR;
  ports.Add("SetState").openResult = QV5SETCOMSTATEERROR;
  const std::pair<const char*, ResultCode> cases[] = {{"Missing", QV5INVALIDHANDLEVALUE},
                                                      {"GetState", QV5GETCOMMSTATEERROR},
                                                      {"SetTimeouts", QV5SETCOMMTIMEOUTERROR},
                                                      {"SetState", QV5SETCOMSTATEERROR}};
  for (const auto& [name, code] : cases) {
    EXPECT_EQ(link->Open(name), kNoPort) << name;
    EXPECT_EQ(link->lastResult, code) << name;
  }
  EXPECT_THAT(clock.sleeps(), IsEmpty());
}

TEST_F(Primitives, ReadByteGivesUpAfterTwiceItsBudgetInAttempts) {
  OpenPort();
  // Each empty one-byte attempt lasts 30 ms; attempts are 10 ms apart.
  EXPECT_EQ(Elapsed([&] { EXPECT_EQ(link->ReadByte(1), -2); }), 30 + 10 + 30);
  EXPECT_THAT(clock.sleeps(), ElementsAre(10));

  clock.ForgetSleeps();
  EXPECT_EQ(Elapsed([&] { EXPECT_EQ(link->ReadByte(5000), -2); }), 10000 * 30 + 9999 * 10);
  EXPECT_EQ(clock.sleeps().size(), 9999u);
}

TEST_F(Primitives, ReadByteReturnsEveryByteValueAndStopsWaitingWhenOneArrives) {
  ScriptedPort& port = OpenPort();
  port.Send(Bytes{255, 0});
  EXPECT_EQ(link->ReadByte(1), 255);
  EXPECT_EQ(link->ReadByte(1), 0);
  port.Send(Bytes{7}, 500);
  const std::int64_t waited = Elapsed([&] { EXPECT_EQ(link->ReadByte(10000), 7); });
  EXPECT_GE(waited, 500);
  EXPECT_LT(waited, 540);
}

TEST_F(Primitives, ReadByteWithBudgetZeroWaitsWithoutPausing) {
  ScriptedPort& port = OpenPort();
  port.Send(Bytes{42}, 5000);
  EXPECT_EQ(link->ReadByte(0), 42);
  EXPECT_THAT(clock.sleeps(), IsEmpty());
}

TEST_F(Primitives, ReadsNeverTouchLastResult) {
  ScriptedPort& port = OpenPort();
  link->lastResult = QV5INVALIDRESPONSE;
  port.Send("abc");
  std::uint8_t buffer[9];
  EXPECT_EQ(link->ReadBytes(buffer, 9), 3u);
  EXPECT_EQ(link->ReadByte(1), -2);
  EXPECT_EQ(link->lastResult, QV5INVALIDRESPONSE);
}

TEST_F(Primitives, WritesStoreThePlatformsCode) {
  ScriptedPort& port = OpenPort();
  EXPECT_EQ(link->WriteByte(0x43), QV5SUCCESS);
  port.writeResult = QV5WAITFORSINGLEOBJECTERROR;
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(link->WriteBytes(bytes, 3), QV5WAITFORSINGLEOBJECTERROR);
  EXPECT_EQ(link->lastResult, QV5WAITFORSINGLEOBJECTERROR);
  port.writeResult = QV5GETOVERLAPPEDRESULTERROR;
  EXPECT_EQ(link->WriteByte(9), QV5GETOVERLAPPEDRESULTERROR);
  EXPECT_EQ(link->lastResult, QV5GETOVERLAPPEDRESULTERROR);
  EXPECT_THAT(port.writes, ElementsAre(Bytes{0x43}, Bytes{1, 2, 3}, Bytes{9}));
}

TEST_F(Primitives, WithoutPortWritesFailReadsGiveNothingPurgesAreHarmless) {
  const std::uint8_t byte = 1;
  EXPECT_EQ(link->WriteBytes(&byte, 1), QV5COMMANDNOTSENT);
  EXPECT_EQ(link->lastResult, QV5COMMANDNOTSENT);
  std::uint8_t buffer[4];
  EXPECT_EQ(link->ReadBytes(buffer, 4), 0u);
  EXPECT_EQ(link->PurgeInput(), QV5SUCCESS);
  EXPECT_EQ(link->PurgeOutput(), QV5SUCCESS);
  EXPECT_THAT(ports.log, IsEmpty());
}

TEST_F(Primitives, PurgeInputDropsWhatArrivedButNotWhatIsStillOnItsWay) {
  ScriptedPort& port = OpenPort("P");
  port.Send("old");
  port.Send("new", 100);
  EXPECT_EQ(link->PurgeInput(), QV5SUCCESS);
  EXPECT_EQ(link->PurgeOutput(), QV5SUCCESS);
  EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5"));
  std::uint8_t buffer[9] = {};
  ASSERT_EQ(link->ReadBytes(buffer, 9), 3u);
  EXPECT_EQ(Bytes(buffer, buffer + 3), B("new"));
}

}  // namespace
}  // namespace pantoline::testing
