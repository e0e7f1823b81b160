// The package transfer against a scripted XModem receiver.
#include <gtest/gtest.h>

#include <numeric>

#include "link/crc16.h"
#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr std::uint8_t kAck = 6, kNak = 21, kCan = 24, kEot = 4;

Bytes Package(std::size_t length) {
  Bytes data(length);
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return data;
}

TEST(Crc16, IsXmodemsCrc) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits, 9), 0x31C3);
  std::uint8_t padOnly[128] = {26};
  EXPECT_EQ(Crc16(padOnly, 128), 0x595E);
  EXPECT_EQ(Crc16(digits, 0), 0);
  EXPECT_EQ(Crc16(digits, -5), 0);
}

class Transfer : public LinkTest {
 protected:
  Transfer() : port(OpenPort("P")), receiver(port) {}

  std::int32_t Send(const Bytes& data, std::uint8_t request = 'C') {
    receiver.Start(request);
    return link->XmodemSend(data.data(), static_cast<std::int32_t>(data.size()));
  }

  static void Record(void* context, std::int32_t bytes, std::int32_t serial) {
    auto* self = static_cast<Transfer*>(context);
    self->reports.push_back(bytes);
    self->serials.push_back(serial);
  }

  ScriptedPort& port;
  ScriptedReceiver receiver;
  std::vector<std::int32_t> reports;
  std::vector<std::int32_t> serials;
};

struct SizeCase {
  std::size_t length;
  std::size_t blocks;
};

class PackageSizes : public Transfer, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PackageSizes, CarryEveryByteInOrderThenOnePadByteAndZeros) {
  const auto [length, blocks] = GetParam();
  const Bytes data = Package(length);
  EXPECT_EQ(Send(data), static_cast<std::int32_t>(128 * blocks));
  ASSERT_EQ(receiver.blocks.size(), blocks);

  Bytes expected = data;
  if (length % 128 != 0) {
    expected.push_back(26);
    expected.resize(128 * blocks, 0);
  }
  EXPECT_EQ(receiver.received, expected);
  for (std::size_t k = 0; k < blocks; ++k) {
    const Bytes& block = receiver.blocks[k];
    ASSERT_EQ(block.size(), 133u);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], k + 1);
    EXPECT_EQ(block[2], 254 - k);
    const std::uint16_t crc = Crc16(block.data() + 3, 128);
    EXPECT_EQ(block[131], crc >> 8);  // high byte first
    EXPECT_EQ(block[132], crc & 0xFF);
  }
  EXPECT_EQ(receiver.eots(), 1);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PackageSizes,
                         ::testing::Values(SizeCase{0, 0}, SizeCase{1, 1}, SizeCase{127, 1},
                                           SizeCase{128, 1}, SizeCase{129, 2}, SizeCase{300, 3}),
                         [](const auto& info) { return std::to_string(info.param.length) + "Bytes"; });

TEST_F(Transfer, NakFirstMeansChecksumBlocksForTheWholeTransfer) {
  receiver.script = {{kAck, 'C'}};  // a late C must not switch modes
  const Bytes data = Package(300);
  EXPECT_EQ(Send(data, kNak), 384);
  ASSERT_EQ(receiver.blocks.size(), 3u);
  for (const Bytes& block : receiver.blocks) {
    ASSERT_EQ(block.size(), 132u);
    const std::uint8_t sum = static_cast<std::uint8_t>(
        std::accumulate(block.begin() + 3, block.begin() + 131, 0u));
    EXPECT_EQ(block[131], sum);
  }
  EXPECT_EQ(Head(receiver.received, 300), data);
}

TEST_F(Transfer, ALoneCanDuringSynchronisationSwallowsTheNextByte) {
  port.Send(Bytes{kCan, 'C'});  // the C is dropped with the CAN
  port.Send(Bytes{kNak}, 1000);
  EXPECT_EQ(link->XmodemSend(Package(10).data(), 10), 128);
  ASSERT_EQ(receiver.blocks.size(), 1u);
  EXPECT_EQ(receiver.blocks[0].size(), 132u);  // checksum: the C never counted
}

TEST_F(Transfer, ASilentReceiverIsCancelledAfterSixteenTries) {
  link->SetProgressCallback(this, Record);
  const std::int64_t took = Elapsed([&] {
    EXPECT_EQ(link->XmodemSend(Package(10).data(), 10), -2);
  });
  EXPECT_THAT(port.writes, ElementsAre(Bytes{kCan}, Bytes{kCan}, Bytes{kCan}));
  // Sixteen reads of budget 10000: 20000 attempts of 30 ms, 10 ms apart.
  EXPECT_EQ(took, 16 * (20000 * 30 + 19999 * 10));
  EXPECT_THAT(reports, ElementsAre(0, -1));
  EXPECT_EQ(link->SendPackage(Package(10).data(), 10), QV5XMODEMSYNCERROR);
  EXPECT_EQ(link->lastResult, QV5XMODEMSYNCERROR);
}

TEST_F(Transfer, ABlockRefusedFiftyTimesEndsTheTransfer) {
  receiver.script.assign(50, Bytes{kNak});
  link->SetProgressCallback(this, Record);
  EXPECT_EQ(Send(Package(200)), -4);
  ASSERT_EQ(receiver.blocks.size(), 50u);
  for (const Bytes& block : receiver.blocks) {
    EXPECT_EQ(block, receiver.blocks[0]);
  }
  EXPECT_THAT(receiver.singles, ElementsAre(kCan, kCan, kCan));
  EXPECT_THAT(reports, ElementsAre(0, -1));

  receiver.script.assign(50, Bytes{kNak});
  receiver.Start('C');
  EXPECT_EQ(link->SendPackage(Package(200).data(), 200), QV5XMODEMUNKNOWNERROR);
}

struct LineFaults {
  const char* name;
  std::vector<int> noiseBefore, noiseInstead, damaged, late;  // by block, 0 the EOT
  friend void PrintTo(const LineFaults& f, std::ostream* os) { *os << f.name; }
};

class NoisyLine : public Transfer, public ::testing::WithParamInterface<LineFaults> {};

// Whatever the line does, a transfer reported as sent has delivered every
// block; these faults all leave the receiver able to take the package.
TEST_P(NoisyLine, NeverReportsAShortPackageAsSent) {
  const LineFaults& f = GetParam();
  receiver.noiseBefore = f.noiseBefore;
  receiver.noiseInstead = f.noiseInstead;
  receiver.damaged = f.damaged;
  receiver.late = f.late;
  const Bytes data = Package(4 * 128);
  receiver.Start('C');
  EXPECT_EQ(link->SendPackage(data.data(), 4 * 128), QV5SUCCESS);
  EXPECT_EQ(receiver.received, data);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NoisyLine,
    ::testing::Values(LineFaults{"NoiseBeforeFirstAckThenLastBlockDamaged", {1}, {}, {4}, {}},
                      LineFaults{"NoiseBeforeEveryAnswer", {1, 2, 3, 4, 0}, {}, {}, {}},
                      LineFaults{"NoiseAfterEachDamagedBlock", {2, 3}, {}, {2, 3}, {}},
                      LineFaults{"AckLostInNoiseThenDamagedBlock", {}, {2}, {3}, {}},
                      LineFaults{"EotAckLostInNoise", {4}, {0}, {4}, {}},
                      LineFaults{"LateAckThenDamagedBlock", {}, {}, {3}, {2}}),
    [](const auto& info) { return std::string(info.param.name); });

class Vanishing : public Transfer, public ::testing::WithParamInterface<int> {};

// The device vanishes with the sender's n-th write (0: before it asks for
// the first block); the package has four blocks, the 5th write is the EOT.
TEST_P(Vanishing, EndsTheTransferAtOnceWithNoConnection) {
  const int vanishAt = GetParam();
  std::int64_t vanished = clock.NowMs();
  port.gone = vanishAt == 0;
  int writes = 0;
  port.peer = [&, inner = port.peer](ScriptedPort& p, std::span<const std::uint8_t> bytes) {
    if (++writes == vanishAt) {
      p.gone = true;
      vanished = clock.NowMs();
    } else {
      inner(p, bytes);
    }
  };
  link->SetProgressCallback(this, Record);
  receiver.Start('C');
  EXPECT_EQ(link->SendPackage(Package(4 * 128).data(), 4 * 128), QV5NOCONNECTION);
  EXPECT_EQ(clock.NowMs(), vanished);  // no read budget, no pause after it
  EXPECT_EQ(reports.back(), -1);
}

INSTANTIATE_TEST_SUITE_P(Moments, Vanishing, ::testing::Values(0, 3, 5));

TEST_F(Transfer, TwoCansCancelTheTransferAndAreAcknowledged) {
  link->SetProgressCallback(this, Record);
  receiver.script = {Bytes{kAck}, Bytes{kCan, kCan}};  // second block cancelled
  EXPECT_EQ(Send(Package(300)), -1);
  EXPECT_EQ(receiver.blocks.size(), 2u);
  EXPECT_THAT(receiver.singles, ElementsAre(kAck));
  EXPECT_THAT(reports, ElementsAre(0, 128, -1));

  receiver.singles.clear();
  port.Send(Bytes{kCan, kCan});  // before the first block
  EXPECT_EQ(link->SendPackage(Package(300).data(), 300), QV5XMODEMCANCELEDERROR);
  EXPECT_THAT(receiver.singles, ElementsAre(kAck));
}

TEST_F(Transfer, EndOfTransferIsRepeatedUpToFortyTimes) {
  receiver.script.assign(39, Bytes{kNak});
  EXPECT_EQ(Send(Bytes{}), 0);
  EXPECT_EQ(receiver.eots(), 40);

  receiver.singles.clear();
  receiver.script.assign(40, Bytes{});
  EXPECT_EQ(Send(Bytes{}), -5);
  EXPECT_EQ(receiver.eots(), 40);
  EXPECT_THAT(receiver.singles, ::testing::Each(kEot));  // no CAN after EOT
}

TEST_F(Transfer, BlockNumbersWrapAfter255) {
  EXPECT_EQ(Send(Package(257 * 128)), 257 * 128);
  ASSERT_EQ(receiver.blocks.size(), 257u);
  EXPECT_EQ(receiver.blocks[254][1], 255);
  EXPECT_EQ(receiver.blocks[255][1], 0);
  EXPECT_EQ(receiver.blocks[255][2], 255);
  EXPECT_EQ(receiver.blocks[256][1], 1);
  EXPECT_EQ(receiver.blocks[256][2], 254);
  EXPECT_EQ(receiver.received, Package(257 * 128));
}

TEST_F(Transfer, ProgressCountsAcknowledgedBlocksBetweenZeroAndMinusOne) {
  int context = 0;
  EXPECT_EQ(link->SetProgressCallback(&context, nullptr), QV5NULLFUNCTIONPOINTER);
  EXPECT_EQ(link->lastResult, QV5NULLFUNCTIONPOINTER);
  EXPECT_EQ(link->SetProgressCallback(this, Record), QV5SUCCESS);
  EXPECT_EQ(link->SetProgressCallback(&context, nullptr), QV5NULLFUNCTIONPOINTER);  // keeps Record

  receiver.script = {Bytes{kNak}};  // a resend does not count
  EXPECT_EQ(Send(Package(300)), 384);
  EXPECT_THAT(reports, ElementsAre(0, 128, 256, 384, -1));
  EXPECT_THAT(serials, ::testing::Each(link->serialNumber));
}

TEST_F(Transfer, EveryOutcomeLeavesBothBuffersPurged) {
  Send(Package(10));
  EXPECT_THAT(Tail(ports.log, 2),
              ElementsAre("purge P 10", "purge P 5"));
}

// How long the sender waits for each answer, in virtual time beyond a
// transfer of one block that nothing disturbs: a read budget b gives up
// after 2b attempts of 30 ms, 10 ms apart (80b - 10 ms), a byte that
// arrives taking one attempt; a resend first waits one read time-out
// (30 ms) for the line to fall quiet.
struct AnswerWait {
  const char* name;
  std::vector<Bytes> script;  // the receiver's first answers
  bool asks;                  // whether the receiver asks for the package
  std::int32_t outcome;
  std::int64_t ms;
  friend void PrintTo(const AnswerWait& w, std::ostream* os) { *os << w.name; }
};

class AnswerWaits : public Transfer, public ::testing::WithParamInterface<AnswerWait> {};

TEST_P(AnswerWaits, LastTheirBudget) {
  const AnswerWait& w = GetParam();
  receiver.script.assign(w.script.begin(), w.script.end());
  if (w.asks) {
    receiver.Start('C');
  } else {
    port.Send(Bytes{kCan});  // a lone CAN, then silence
  }
  const std::int64_t took = Elapsed([&] { EXPECT_EQ(link->XmodemSend(Package(10).data(), 10), w.outcome); });
  EXPECT_EQ(took, w.ms);
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, AnswerWaits,
    ::testing::Values(
        AnswerWait{"Undisturbed", {}, true, 128, 0},
        AnswerWait{"BlockAnswer5000", {Bytes{}}, true, 128, 399'990 + 30},
        AnswerWait{"EotAnswer10000", {Bytes{kAck}, Bytes{}}, true, 128, 799'990 + 30},
        AnswerWait{"BlockAnswerAfterALoneCan", {Bytes{kCan}}, true, 128, 399'950 + 30},
        // The CAN's second byte gets 5000, the other 15 tries 10000 each.
        AnswerWait{"SecondCanOfSynchronisation5000", {}, false, -2, 399'990 + 15 * 799'990}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Transfer, ACancelledTransferEndsWithBothBuffersPurged) {
  receiver.script = {Bytes{kCan, kCan}};
  EXPECT_EQ(Send(Package(10)), -1);
  EXPECT_THAT(Tail(ports.log, 2),
              ElementsAre("purge P 10", "purge P 5"));
}

class Loading : public LinkTest {};

TEST_F(Loading, IsRefusedUnlessConnectedInDownloadModeAndThenSendsNothing) {
  ScriptedPort& port = OpenPort();
  const Bytes data = Package(10);
  for (int mode : {0, 1, 2}) {
    link->mode = mode;
    link->connected = false;
    EXPECT_EQ(link->LoadPackage(data.data(), 10), QV5NOTFOUND) << mode;
  }
  for (int mode : {0, 1}) {
    link->mode = mode;
    link->connected = true;
    EXPECT_EQ(link->LoadPackage(data.data(), 10), QV5INCORRECTMODE) << mode;
    EXPECT_EQ(link->mode, mode);
  }
  EXPECT_THAT(port.writes, IsEmpty());
}

TEST_F(Loading, SendsTheDownloadCommandThenTheWholePackage) {
  ScriptedPort& port = OpenPort();
  ScriptedReceiver receiver(port);
  AnswerLikeUnit(port, 0, &receiver);
  link->mode = 2;
  link->connected = true;
  const Bytes data = Package(1000);
  EXPECT_EQ(link->LoadPackage(data.data(), 1000), QV5SUCCESS);
  EXPECT_EQ(port.writes.front(), Line("QV5-3"));
  EXPECT_EQ(Head(receiver.received, 1000), data);
  EXPECT_EQ(link->mode, 2);
}

TEST_F(Loading, AMissingEchoStopsBeforeTheTransfer) {
  ScriptedPort& port = OpenPort();
  port.peer = [](ScriptedPort& p, auto) { p.Send(Line("QV5-9")); };
  link->mode = 2;
  link->connected = true;
  EXPECT_EQ(link->LoadPackage(Package(10).data(), 10), QV5INVALIDRESPONSE);
  EXPECT_THAT(port.writes, ElementsAre(Line("QV5-3")));
}

}  // namespace
}  // namespace pantoline::testing
