// The link record, Open, the byte primitives, the text commands and the
// states in which the greeting, the download and its end may go out.
#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(LinkTest, OpenAppliesTheUnitsLineFromScratchAndSettlesOnlyWhenItOpened) {
  ScriptedPort& port = ports.Add("P");
  link->lastResult = QV5NORESPONSE;
  ports.Close(link->Open("P"));
  EXPECT_EQ(link->lastResult, QV5SUCCESS);
  // Every field given, so that a default of the record cannot hide here.
  const LineSettings onlyThose{115200, 8, Parity::kNone, StopBits::kOne, true, true};
  EXPECT_EQ(port.settings, onlyThose);
  EXPECT_EQ(link->portSettings, onlyThose);
  EXPECT_EQ(port.timeouts, (SerialTimeouts{25, 15, 15, 15, 15}));
  port.openResult = QV5SETCOMMTIMEOUTERROR;  // the platform's code is the result
  EXPECT_EQ(link->Open("P"), nullptr);
  EXPECT_EQ(link->lastResult, QV5SETCOMMTIMEOUTERROR);
  EXPECT_EQ(link->Open("Missing"), nullptr);
  EXPECT_EQ(link->lastResult, QV5INVALIDHANDLEVALUE);
  EXPECT_THAT(clock.sleeps, ElementsAre(300));
  EXPECT_EQ(link->portHandle, nullptr);  // the caller stores the port
}

TEST_F(LinkTest, CommandLinesEndInLfThenCrAfterPurgingBothSides) {
  EXPECT_EQ(link->SendCommand("SA-28"), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(link->CheckReply("SA-77"), QV5INVALIDHANDLEVALUE);
  EXPECT_EQ(link->WriteByte(9), QV5COMMANDNOTSENT);
  ScriptedPort& port = OpenPort();
  EXPECT_EQ(link->SendCommand("SA-28"), QV5SUCCESS);
  EXPECT_THAT(ports.log, ElementsAre("purge P input", "purge P output", "write P 7"));
  EXPECT_EQ(link->SendCommand("0123456789"), QV5SUCCESS);
  EXPECT_EQ(link->SendCommand("01234567890"), QV5COMMANDNOTSENT);  // too long: nothing goes
  EXPECT_THAT(port.writes, ElementsAre(Line("SA-28"), Line("0123456789")));
  port.writeResult = QV5GETOVERLAPPEDRESULTERROR;  // the platform's code is the result
  EXPECT_EQ(link->SendCommand("SA-28"), QV5GETOVERLAPPEDRESULTERROR);
  EXPECT_EQ(link->lastResult, QV5GETOVERLAPPEDRESULTERROR);
}

TEST_F(LinkTest, RepliesAreJudgedOnTheStartOfTheFirstPiece) {
  const struct {
    Bytes reply;
    std::int64_t secondPieceAfterMs;
    Bytes secondPiece;
    ResultCode expected;
    const char* expect = "SA-77";
  } cases[] = {
      {Line("SA-77"), 0, {}, QV5SUCCESS},
      {B({"SA-77\xff\x00xy", 9}), 0, {}, QV5SUCCESS},  // nine bytes, any tail
      {Line("sa-77"), 0, {}, QV5INVALIDRESPONSE},
      {B("SA-7"), 0, {}, QV5INVALIDRESPONSE},
      {B("\nSA-77"), 0, {}, QV5INVALIDRESPONSE},
      {B("SA-"), 40, Line("77"), QV5INVALIDRESPONSE},  // two pieces, far apart
      {B("SA-"), 20, Line("77"), QV5SUCCESS},
      {B("SA-7"), 0, B("7"), QV5SUCCESS},  // more than one read takes
      // 30 reads of up to 9 bytes, 150 ms each, 10 ms apart.
      {{}, 4790, Line("SA-77"), QV5SUCCESS},
      {{}, 4800, Line("SA-77"), QV5NORESPONSE},
      {B("ABCDEFGHI"), 0, {}, QV5INVALIDRESPONSE, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},  // never matches
  };
  for (const auto& c : cases) {
    ScriptedPort& port = OpenPort(std::to_string(&c - cases));
    port.Send(c.reply);
    port.Send(c.secondPiece, c.secondPieceAfterMs);
    EXPECT_EQ(link->CheckReply(c.expect), c.expected) << "case " << &c - cases;
    EXPECT_EQ(link->lastResult, c.expected);
  }
}

// What Handshake, FinishDownload and LoadPackage give in each state of the
// link, against a unit that answers everything.
struct State {
  LinkMode mode;
  bool connected;
  ResultCode handshake, finish, load;
};

class States : public LinkTest, public ::testing::WithParamInterface<State> {};

TEST_P(States, DecideWhatGoesOut) {
  const State& s = GetParam();
  ScriptedPort& port = OpenPort();
  ScriptedReceiver receiver;
  AnswerLikeUnit(port, 0, &receiver);
  const Bytes package(300, 'x');
  const ResultCode expected[] = {s.handshake, s.finish, s.load};
  const char* const lines[] = {"SA-28", "QV5-9", "QV5-3"};
  const std::vector<std::string> purges = {"purge P input", "purge P output"},
                                 command = {purges[0], purges[1], purges[0], purges[1], "write P 7"};
  for (int op = 0; op < 3; ++op) {
    SCOPED_TRACE(lines[op]);
    link->mode = s.mode;
    link->connected = s.connected;
    port.writes.clear();
    ports.log.clear();
    clock.sleeps.clear();
    EXPECT_EQ(op == 0   ? link->Handshake()
              : op == 1 ? link->FinishDownload()
                        : link->LoadPackage(package.data(), 300),
              expected[op]);
    EXPECT_EQ(link->lastResult, expected[op]);
    const bool ok = expected[op] == QV5SUCCESS;
    EXPECT_EQ(link->mode, ok ? (op == 1 ? LinkMode::kSearching : LinkMode::kDownload) : s.mode);
    EXPECT_EQ(port.writes.empty() ? Bytes{} : port.writes[0], ok ? Line(lines[op]) : Bytes{});
    // A line goes out after the command's purge and the line's own;
    // Handshake purges both sides first even when it is refused.
    ports.log.resize(std::min<std::size_t>(ports.log.size(), 5));
    EXPECT_EQ(ports.log, ok ? command : op == 0 ? purges : std::vector<std::string>{});
    // FinishDownload pauses a second first, refused or not; a command
    // gives the unit a second before it reads the echo.
    EXPECT_EQ(clock.sleeps.empty() ? 0 : clock.sleeps[0], op == 1 || (ok && op == 2) ? 1000u : 0u);
  }
  EXPECT_EQ(receiver.received.size(), s.load == QV5SUCCESS ? 384u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, States,
                         ::testing::Values(State{LinkMode::kSearching, false, QV5SUCCESS, QV5NOTFOUND, QV5NOTFOUND},
                                           State{LinkMode::kSearching, true, QV5SUCCESS, QV5INCORRECTMODE, QV5INCORRECTMODE},
                                           State{LinkMode::kNew, false, QV5NOTFOUND, QV5NOTFOUND, QV5NOTFOUND},
                                           State{LinkMode::kNew, true, QV5INCORRECTMODE, QV5INCORRECTMODE, QV5INCORRECTMODE},
                                           State{LinkMode::kDownload, false, QV5NOTFOUND, QV5NOTFOUND, QV5NOTFOUND},
                                           State{LinkMode::kDownload, true, QV5SUCCESS, QV5SUCCESS, QV5SUCCESS}),
                         [](const auto& i) { return (std::array{"New", "Searching", "Download"})[int(i.param.mode)] + std::string(i.param.connected ? "Found" : ""); });

}  // namespace
}  // namespace pantoline::testing
