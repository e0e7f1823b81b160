// Command lines, reply matching, the greeting and the mode state machine.
#include <gtest/gtest.h>

#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Commands = LinkTest;

TEST_F(Commands, CommandLinesEndInLfThenCrAfterPurgingBothSides) {
  ScriptedPort& port = OpenPort("P");
  EXPECT_EQ(link->SendCommand("SA-28"), QV5SUCCESS);
  EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5", "write P 7"));
  EXPECT_EQ(link->SendCommand(""), QV5SUCCESS);
  EXPECT_EQ(link->SendCommand("0123456789"), QV5SUCCESS);
  EXPECT_THAT(port.writes, ElementsAre(Line("SA-28"), Bytes{10, 13}, Line("0123456789")));
}

TEST_F(Commands, SendCommandRefusesWhatCannotGoOutWhole) {
  EXPECT_EQ(link->SendCommand("SA-28"), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(link->lastResult, QV5INVALIDHANDLEVALUE);
  ScriptedPort& port = OpenPort();
  EXPECT_EQ(link->SendCommand("01234567890"), QV5COMMANDNOTSENT);
  EXPECT_THAT(port.writes, IsEmpty());
  port.writeResult = QV5WAITFORSINGLEOBJECTERROR;
  EXPECT_EQ(link->SendCommand("SA-28"), QV5WAITFORSINGLEOBJECTERROR);
  EXPECT_EQ(link->lastResult, QV5WAITFORSINGLEOBJECTERROR);
}

struct ReplyCase {
  const char* what;
  Bytes reply;
  std::int64_t secondPieceAfterMs;  // 0: one piece
  Bytes secondPiece;
  ResultCode expected;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.what; }

class CheckReplyMatching : public LinkTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(CheckReplyMatching, JudgesTheStartOfTheFirstPiece) {
  const ReplyCase& c = GetParam();
  ScriptedPort& port = OpenPort();
  port.Send(c.reply);
  if (!c.secondPiece.empty()) {
    port.Send(c.secondPiece, c.secondPieceAfterMs);
  }
  EXPECT_EQ(link->CheckReply("SA-77"), c.expected);
  EXPECT_EQ(link->lastResult, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CheckReplyMatching,
    ::testing::Values(
        ReplyCase{"ExactWithLineEnd", Line("SA-77"), 0, {}, QV5SUCCESS},
        ReplyCase{"NineBytesAnyTail", B("SA-77\xff\x00xy"), 0, {}, QV5SUCCESS},
        ReplyCase{"LowerCase", B("sa-77\n\r"), 0, {}, QV5INVALIDRESPONSE},
        ReplyCase{"ShortThenSilence", B("SA-7"), 0, {}, QV5INVALIDRESPONSE},
        ReplyCase{"LeadingExtraByte", B("\nSA-77"), 0, {}, QV5INVALIDRESPONSE},
        ReplyCase{"TwoPiecesFarApart", B("SA-"), 40, B("77\n\r"), QV5INVALIDRESPONSE},
        ReplyCase{"TwoPiecesCloseTogether", B("SA-"), 20, B("77\n\r"), QV5SUCCESS},
        ReplyCase{"TailLongerThanTheRead", B("SA-7"), 0, B("7"), QV5SUCCESS}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Commands, CheckReplyGivesUpAfterThirtyEmptyReads) {
  OpenPort();
  // 30 reads of up to 9 bytes, 150 ms each, 10 ms apart.
  EXPECT_EQ(Elapsed([&] { EXPECT_EQ(link->CheckReply("SA-77"), QV5NORESPONSE); }), 4800);
  EXPECT_EQ(clock.sleeps().size(), 30u);
}

TEST_F(Commands, CheckReplyWaitsForALateReplyAndTakesAnyReplyForAnEmptyText) {
  ScriptedPort& port = OpenPort();
  port.Send(Line("SA-77"), 3000);
  EXPECT_EQ(link->CheckReply("SA-77"), QV5SUCCESS);
  port.Send("?");
  EXPECT_EQ(link->CheckReply(""), QV5SUCCESS);
  EXPECT_EQ(link->CheckReply(""), QV5NORESPONSE);
}

TEST_F(Commands, CheckReplyWithAnOverlongTextNeverMatches) {
  ScriptedPort& port = OpenPort();
  port.Send("ABCDEFGHI");
  EXPECT_EQ(link->CheckReply("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), QV5INVALIDRESPONSE);
  link->portHandle = kNoPort;
  EXPECT_EQ(link->CheckReply("SA-77"), QV5INVALIDHANDLEVALUE);
}

struct HandshakeCase {
  int mode;
  bool connected;
  ResultCode expected;  // with a unit that answers
};

void PrintTo(const HandshakeCase& c, std::ostream* os) {
  *os << "mode " << c.mode << (c.connected ? ", connected" : ", not connected");
}

class HandshakeStates : public LinkTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeStates, GreetsOnlyInModeZeroOrConnectedInModeTwo) {
  const HandshakeCase& c = GetParam();
  ScriptedPort& port = OpenPort("P");
  AnswerLikeUnit(port);
  link->mode = c.mode;
  link->connected = c.connected;
  EXPECT_EQ(link->Handshake(), c.expected);
  EXPECT_EQ(link->lastResult, c.expected);
  // Both sides are purged first, whether or not the greeting goes out.
  if (c.expected == QV5SUCCESS) {
    EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5", "purge P 10", "purge P 5",
                                       "write P 7"));
    EXPECT_THAT(port.writes, ElementsAre(Line("SA-28")));
    EXPECT_EQ(link->mode, 2);
  } else {
    EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5"));
    EXPECT_EQ(link->mode, c.mode);
  }
  EXPECT_EQ(link->connected, c.connected);
}

INSTANTIATE_TEST_SUITE_P(Table, HandshakeStates,
                         ::testing::Values(HandshakeCase{0, false, QV5SUCCESS},
                                           HandshakeCase{0, true, QV5SUCCESS},
                                           HandshakeCase{1, false, QV5NOTFOUND},
                                           HandshakeCase{1, true, QV5INCORRECTMODE},
                                           HandshakeCase{2, false, QV5NOTFOUND},
                                           HandshakeCase{2, true, QV5SUCCESS}),
                         [](const auto& info) {
                           return "Mode" + std::to_string(info.param.mode) +
                                  (info.param.connected ? "Connected" : "NotConnected");
                         });

TEST_F(Commands, AFailedGreetingKeepsTheMode) {
  ScriptedPort& port = OpenPort();
  link->mode = 0;
  EXPECT_EQ(link->Handshake(), QV5NORESPONSE);
  EXPECT_EQ(link->mode, 0);
  port.peer = [](ScriptedPort& p, auto) { p.Send(Line("SA-78")); };
  EXPECT_EQ(link->Handshake(), QV5INVALIDRESPONSE);
  EXPECT_EQ(link->mode, 0);
}

TEST_F(Commands, AGreetingWithoutPortReportsTheMissingPort) {
  link->mode = 0;
  EXPECT_EQ(link->Handshake(), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(link->mode, 0);
}

TEST_F(Commands, CommandWaitsASecondThenExpectsItsEcho) {
  ScriptedPort& port = OpenPort("P");
  AnswerLikeUnit(port);
  EXPECT_EQ(link->Command("QV5-3"), QV5SUCCESS);
  EXPECT_THAT(ports.log, ElementsAre("purge P 10", "purge P 5", "purge P 10", "purge P 5",
                                     "write P 7"));
  EXPECT_THAT(port.writes, ElementsAre(Line("QV5-3")));
  EXPECT_THAT(clock.sleeps(), ElementsAre(1000));

  port.peer = [](ScriptedPort& p, auto) { p.Send(Line("QV5-4")); };
  EXPECT_EQ(link->Command("QV5-3"), QV5INVALIDRESPONSE);
}

TEST_F(Commands, CommandWithoutPortFailsAtOnce) {
  EXPECT_EQ(link->Command("QV5-3"), QV5INVALIDHANDLEVALUE);
  EXPECT_THAT(clock.sleeps(), IsEmpty());
  EXPECT_THAT(ports.log, IsEmpty());
}

TEST_F(Commands, FinishDownloadAlwaysPausesAndOnlyActsConnectedInModeTwo) {
  ScriptedPort& port = OpenPort();
  AnswerLikeUnit(port);

  EXPECT_EQ(link->FinishDownload(), QV5NOTFOUND);  // never connected
  EXPECT_THAT(clock.sleeps(), ElementsAre(1000));
  EXPECT_THAT(port.writes, IsEmpty());

  link->connected = true;
  link->mode = 0;
  EXPECT_EQ(link->FinishDownload(), QV5INCORRECTMODE);
  EXPECT_THAT(clock.sleeps(), ElementsAre(1000, 1000));
  EXPECT_THAT(port.writes, IsEmpty());

  link->mode = 2;
  EXPECT_EQ(link->FinishDownload(), QV5SUCCESS);
  EXPECT_THAT(clock.sleeps(), ElementsAre(1000, 1000, 1000, 1000));  // its own, Command's
  EXPECT_THAT(port.writes, ElementsAre(Line("QV5-9")));
  EXPECT_EQ(link->mode, 0);
  EXPECT_TRUE(link->connected);
  const std::uint8_t package[1] = {1};
  EXPECT_EQ(link->LoadPackage(package, 1), QV5INCORRECTMODE);
  EXPECT_THAT(port.writes, ElementsAre(Line("QV5-9")));
}

TEST_F(Commands, FinishDownloadThatGetsNoEchoStaysInDownloadMode) {
  OpenPort();
  link->connected = true;
  link->mode = 2;
  EXPECT_EQ(link->FinishDownload(), QV5NORESPONSE);
  EXPECT_EQ(link->mode, 2);
}

}  // namespace
}  // namespace pantoline::testing
