// The package transfer against a scripted XModem receiver.
#include <numeric>

#include "link/crc16.h"
#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

// The blocks that carry `data`, built from the wire format: SOH, number
// (wrapping after 255), its complement, 128 bytes, then the CRC high byte
// first or the 8-bit sum.
std::vector<Bytes> Blocks(const Bytes& data, bool crc) {
  std::vector<Bytes> blocks;
  const Bytes padded = Padded(data);
  for (auto area = padded.begin(); area != padded.end(); area += 128) {
    const auto n = static_cast<std::uint8_t>(blocks.size() + 1);
    Bytes block(crc ? 133 : 132);
    block[0] = 1;
    block[1] = n;
    block[2] = static_cast<std::uint8_t>(255 - n);
    std::copy(area, area + 128, block.begin() + 3);
    const unsigned check = crc ? Crc16(&*area, 128) : std::accumulate(area, area + 128, 0u) << 8;
    block[131] = static_cast<std::uint8_t>(check >> 8);
    if (crc) block[132] = static_cast<std::uint8_t>(check);
    blocks.push_back(block);
  }
  return blocks;
}

TEST(Crc16, IsXmodemsCrc) {
  EXPECT_EQ(Crc16(B("123456789").data(), 9), 0x31C3);
}

// A receiver's behaviour and what the sender makes of it. Times are
// virtual and count from the sender's start: a read budget b gives up
// after 2b attempts of 30 ms, 10 ms apart (80b - 10 ms), a byte that
// arrives taking one attempt; a resend first waits one read time-out
// (30 ms) for the line to fall quiet.
struct Behaviour {
  const char* name;
  Bytes request = {'C'};           // what the receiver sends first: C for CRC, NAK for checksum
  std::vector<Reply> script = {};  // its first replies, one per write
  std::int32_t length = 10;        // of the package
  ResultCode code = QV5SUCCESS;
  std::size_t blocks = 1;  // written, resends included
  Bytes singles = {kEot};  // the one-byte writes
  int acknowledged = 1;    // blocks, as progress reports
  std::int64_t ms = 0;
  bool goneAtStart = false;
  int stopAfter = -1;  // acknowledged blocks after which the run is asked to stop
};

const Bytes kNoise = {'x', kCan, 0x80, 0}, kCancel = {kCan, kCan, kCan};
Bytes Noisy(std::uint8_t answer) { return {'x', kCan, 0x80, 0, answer}; }  // kNoise, then it
const Reply kAcked(Bytes{kAck}), kVanish({}, 0, true);

const Behaviour kBehaviours[] = {
    {.name = "BlockNumbersWrapAfter255", .length = 257 * 128, .blocks = 257, .acknowledged = 257},
    {.name = "AResendIsNotProgress", .script = {Bytes{kNak}}, .length = 300, .blocks = 4, .acknowledged = 3,
     .ms = 30},
    // A stray C after each ACK must not switch to CRC.
    {.name = "NakFirstMeansChecksumForGood", .request = {kNak}, .script = {Bytes{kAck, 'C'}, Bytes{kAck, 'C'},
     Bytes{kAck, 'C'}}, .length = 300, .blocks = 3, .acknowledged = 3},
    {.name = "ALoneCanSwallowsTheNextByte", .request = {kCan, 'C', kNak}},
    {.name = "SilenceIsCancelledAfterSixteenWaits", .request = {}, .code = QV5XMODEMSYNCERROR, .blocks = 0,
     .singles = kCancel, .acknowledged = 0, .ms = 16 * 799'990},
    {.name = "SecondCanOfSynchronisationWaits5000", .request = {kCan}, .code = QV5XMODEMSYNCERROR,
     .blocks = 0, .singles = kCancel, .acknowledged = 0, .ms = 399'990 + 15 * 799'990},
    {.name = "BlockAnswerWaits5000", .script = {Reply()}, .blocks = 2, .ms = 399'990 + 30},
    {.name = "ABlockRefusedFiftyTimes", .script = std::vector<Reply>(50, Bytes{kNak}),
     .code = QV5XMODEMUNKNOWNERROR, .blocks = 50, .singles = kCancel, .acknowledged = 0, .ms = 49 * 30},
    // An empty package is a success once its EOT is acknowledged.
    {.name = "EotRepeatedUpToForty", .script = std::vector<Reply>(39, Bytes{kNak}), .length = 0, .blocks = 0,
     .singles = Bytes(40, kEot), .acknowledged = 0, .ms = 39 * 30},
    {.name = "EotUnansweredWaits10000", .script = std::vector<Reply>(40, Reply()), .length = 0,
     .code = QV5XMODEMUNKNOWNERROR, .blocks = 0, .singles = Bytes(40, kEot), .acknowledged = 0,
     .ms = 40 * 799'990 + 39 * 30},
    {.name = "CancelledAtTheSecondBlock", .script = {kAcked, Bytes{kCan, kCan}}, .length = 300,
     .code = QV5XMODEMCANCELEDERROR, .blocks = 2, .singles = {kAck}},
    {.name = "CancelledBeforeAnyBlock", .request = {kCan, kCan}, .code = QV5XMODEMCANCELEDERROR, .blocks = 0,
     .singles = {kAck}, .acknowledged = 0},
    // Noise on the line never makes a short package pass as sent. Each
    // noise byte takes one attempt of the wait.
    {.name = "NoiseBeforeAnAckAndARefusal", .script = {Noisy(kAck), Noisy(kNak), kAcked, Noisy(kNak)},
     .length = 512, .blocks = 6, .acknowledged = 4, .ms = 2 * 30},
    {.name = "AnAnswerLostInNoise", .script = {kAcked, kNoise, Bytes{kNak}}, .length = 512, .blocks = 6,
     .acknowledged = 4, .ms = 9996 * 30 + 9995 * 10 + 2 * 30},
    {.name = "TheEotAnswerLostInNoise", .script = {kAcked, kAcked, kAcked, kAcked, kNoise}, .length = 512,
     .blocks = 4, .singles = {kEot, kEot}, .acknowledged = 4, .ms = 19996 * 30 + 19995 * 10 + 30},
    // The ACK comes just after the wait ran out: the wait for a quiet line
    // drops it, and the block goes again.
    {.name = "ALateAck", .script = {kAcked, Reply(Bytes{kAck}, 400'000)}, .length = 512, .blocks = 5,
     .acknowledged = 4, .ms = 400'000 + 30},
    // An answer belongs to one send: a second ACK is no answer to the next
    // block, and a cancel is never dropped as noise, behind a NAK (in the
    // wait for a quiet line) or behind an ACK (cleared before the next block).
    {.name = "AckAckThenNakIsOneAnswerEach", .script = {kAcked, kAcked, Bytes{kAck, kAck}, Bytes{kNak}},
     .length = 600, .blocks = 6, .acknowledged = 5, .ms = 30},
    {.name = "ACancelBehindANak", .script = {kAcked, Bytes{kNak, kCan, kCan}}, .length = 600,
     .code = QV5XMODEMCANCELEDERROR, .blocks = 2, .singles = {kAck}},
    {.name = "ACancelBehindAnAck", .script = {Bytes{kAck, kCan, kCan}}, .length = 600,
     .code = QV5XMODEMCANCELEDERROR, .blocks = 1, .singles = {kAck}},
    {.name = "GoneBeforeItAsks", .request = {}, .code = QV5NOCONNECTION, .blocks = 0, .singles = {},
     .acknowledged = 0, .goneAtStart = true},
    {.name = "GoneWithABlock", .script = {kAcked, kVanish}, .length = 512, .code = QV5NOCONNECTION,
     .singles = {}},
    // A stop ends the waits at once and cancels as the sender's own give-ups do.
    {.name = "AStopEndsTheSynchronisationWait", .request = {}, .code = QV5XMODEMUNKNOWNERROR, .blocks = 0,
     .singles = kCancel, .acknowledged = 0, .ms = 30, .stopAfter = 0},
    {.name = "AStopCancelsBetweenBlocks", .length = 512, .code = QV5XMODEMUNKNOWNERROR, .blocks = 2,
     .singles = kCancel, .acknowledged = 2, .stopAfter = 2},
    {.name = "GoneWithTheEot", .script = {kAcked, kAcked, kAcked, kAcked, kVanish}, .length = 512,
     .code = QV5NOCONNECTION, .blocks = 4, .singles = {}, .acknowledged = 4},
};

class Receivers : public LinkTest, public ::testing::WithParamInterface<Behaviour> {
 public:
  // The port's driver holds each write until time passes: what the sender
  // writes last must drain before its purges, or the receiver never gets it.
  Receivers() {
    receiver.Attach(port);
    port.holdsWrites = true;
    link->SetStop(&stop);
    link->SetProgressCallback(this, [](void* context, std::int32_t bytes, std::int32_t serial) {
      auto* test = static_cast<Receivers*>(context);
      test->reports.push_back(bytes);
      if (bytes == 128 * test->GetParam().stopAfter) test->stop.Request();
      EXPECT_EQ(serial, 1);
    });
  }

  ScriptedPort& port = OpenPort("P");
  ScriptedReceiver receiver;
  std::vector<std::int32_t> reports;
  RunStop stop;
};

TEST_P(Receivers, MeetTheirOutcome) {
  const Behaviour& b = GetParam();
  receiver.script.assign(b.script.begin(), b.script.end());
  port.Send(b.request);
  port.gone = b.goneAtStart;
  const Bytes data = Package(static_cast<std::size_t>(b.length));
  const std::int64_t start = clock.now;
  EXPECT_EQ(link->SendPackage(data.data(), b.length), b.code);
  EXPECT_EQ(link->lastResult, b.code);
  EXPECT_EQ(clock.now - start, b.ms);
  EXPECT_EQ(receiver.blocks.size(), b.blocks);
  // Each block written, resends aside, is the next of the package's blocks.
  std::vector<Bytes> written = receiver.blocks;
  written.erase(std::unique(written.begin(), written.end()), written.end());
  std::vector<Bytes> expected = Blocks(data, b.request.empty() || b.request.back() != kNak);
  expected.resize(std::min(expected.size(), written.size()));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(receiver.singles, b.singles);
  EXPECT_EQ(reports, Progress(b.acknowledged));
  if (b.code == QV5SUCCESS) {
    EXPECT_EQ(receiver.received, Padded(data));
  }
  // Every way out leaves both sides purged, once the line has what was written.
  ports.log.erase(ports.log.begin(), ports.log.end() - std::min<std::ptrdiff_t>(3, std::ssize(ports.log)));
  EXPECT_EQ(ports.log, (std::vector<std::string>{"drain P", "purge P input", "purge P output"}));
}

INSTANTIATE_TEST_SUITE_P(Table, Receivers, ::testing::ValuesIn(kBehaviours),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, AMissingProgressReceiverIsRefusedAndKeepsTheOneBefore) {
  int calls = 0;
  link->SetProgressCallback(&calls, [](void* c, std::int32_t, std::int32_t) { ++*static_cast<int*>(c); });
  EXPECT_EQ(link->SetProgressCallback(nullptr, nullptr), QV5NULLFUNCTIONPOINTER);
  link->ReportProgress(7);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace pantoline::testing
