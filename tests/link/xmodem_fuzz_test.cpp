// The sender against a hostile XModem receiver, in virtual time: thousands
// of seeded cases, each a package and a receiver with a few kinds of fault.
// Whatever the receiver does, the sender keeps its retry budgets, reports a
// success only when the receiver holds the whole package and accepted the
// end of transfer, and what it writes last (its cancel, or its ACK of the
// receiver's) reaches the line. An answer no sender can tell from a true one
// (one later than the sender's wait, a noise byte equal to ACK where an
// answer is due) is counted and printed, not failed.
//
// PANTOLINE_FUZZ_SEED and PANTOLINE_FUZZ_CASES pick another run.
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/support/link_fixture.h"

namespace pantoline::testing {
namespace {

enum Fault {
  kDoubleAck, kNoiseBefore, kNoiseAfter, kControlNoise, kDamagedBlock, kLostAnswer,
  kLateAnswer, kPastTheWait, kNakedEot, kFallsSilent, kHangsUp, kStrayRequests, kFaultKinds,
};
const char* const kFaultNames[kFaultKinds] = {
    "duplicate ACK", "noise before answers", "noise after answers", "noise equal to ACK, NAK, CAN",
    "damaged blocks", "lost answers", "late answers", "answers past the wait", "NAKed EOT",
    "falls silent", "hangs up", "stray requests",
};

// The sender's waits for an answer, in virtual ms: a block's, the EOT's.
constexpr std::int64_t kBlockWaitMs = 399'990, kEotWaitMs = 799'990;

struct HostileReceiver {
  HostileReceiver(ScriptedPort& line, std::uint64_t seed, bool crc) : port(line), rng(seed), crc(crc) {
    port.peer = [this](ScriptedPort&, std::span<const std::uint8_t> bytes) { OnWrite(bytes); };
  }

  bool Roll(Fault fault) { return faults[fault] && rng() % 3 == 0; }
  std::int64_t Below(std::int64_t ms) { return static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(ms)); }

  // Asks for the package, perhaps more than once before the first block.
  void Start() {
    const bool mute = Mute();
    const Bytes request = {crc ? std::uint8_t{'C'} : kNak};
    if (!left) port.Send(request, mute ? 1'000'000 : Below(3000));
    for (int k = 0; !left && faults[kStrayRequests] && k < 3; ++k) port.Send(request, rng() % 2 ? 0 : 1000 * k);
  }

  Bytes Noise() {
    Bytes noise(1 + rng() % 3);
    for (std::uint8_t& b : noise) {
      constexpr std::uint8_t kControls[] = {kAck, kNak, kCan};
      do {
        b = Roll(kControlNoise) ? kControls[rng() % 3] : static_cast<std::uint8_t>(rng());
      } while (!faults[kControlNoise] && (b == kAck || b == kNak || b == kCan));
    }
    return noise;
  }

  void Answer(Bytes answer, std::int64_t waitMs) {
    if (Roll(kLostAnswer)) return;
    if (answer == Bytes{kAck} && Roll(kDoubleAck)) answer.push_back(kAck);
    std::int64_t delay = 0;
    if (Roll(kLateAnswer)) {
      delay = Below(waitMs - 1000);
    } else if (Roll(kPastTheWait)) {
      delay = waitMs + 1 + Below(waitMs);
      beyondAnySender = true;
    }
    Bytes line = Roll(kNoiseBefore) || Roll(kControlNoise) ? Noise() : Bytes{};
    beyondAnySender |= std::ranges::count(line, kAck) > 0;
    line.insert(line.end(), answer.begin(), answer.end());
    const Bytes after = Roll(kNoiseAfter) || Roll(kControlNoise) ? Noise() : Bytes{};
    line.insert(line.end(), after.begin(), after.end());
    port.Send(line, delay);
  }

  // Once its answers are used up it hangs up, or falls silent for a few of
  // the sender's writes or (rarely, as each costs the sender minutes of
  // waiting for up to 50 sends) for good. True while it does not answer.
  bool Mute() {
    if (!left && (faults[kFallsSilent] || faults[kHangsUp]) && answersLeft-- == 0) {
      left = faults[kHangsUp] || silentWrites < 0;
      port.gone = faults[kHangsUp];
    }
    if (!left && answersLeft < 0 && silentWrites > 0) {
      --silentWrites;
      return true;
    }
    return left;
  }

  void OnWrite(std::span<const std::uint8_t> bytes) {
    ++delivered;
    if (bytes.size() == 1) return OnSingle(bytes[0]);
    const Bytes block(bytes.begin(), bytes.end());
    sameBlockSends = block == lastBlock ? sameBlockSends + 1 : 1;
    mostBlockSends = std::max(mostBlockSends, sameBlockSends);
    lastBlock = block;
    wrongBlocks += block.size() != (crc ? 133u : 132u);
    cans = 0;
    if (Mute()) return;
    if (Roll(kDamagedBlock)) {
      Answer({kNak}, kBlockWaitMs);
    } else if (block[1] == expected) {
      held.insert(held.end(), block.begin() + 3, block.begin() + 131);
      ++expected;
      Answer({kAck}, kBlockWaitMs);
    } else if (!held.empty() && block[1] == static_cast<std::uint8_t>(expected - 1)) {
      Answer({kAck}, kBlockWaitMs);  // a repeat: dropped
    } else {
      sequenceError = left = true;
      port.Send(Bytes{kCan, kCan});
    }
  }

  void OnSingle(std::uint8_t b) {
    cans = b == kCan ? cans + 1 : 0;
    left = left || cans >= 2;
    eots += b == kEot;
    if (b != kEot || (left && !eotAccepted)) return;
    if (eotAccepted) {
      port.Send(Bytes{kAck});  // its ACK was lost: it says it again
    } else if (!Mute()) {
      eotAccepted = !Roll(kNakedEot);
      Answer({eotAccepted ? kAck : kNak}, kEotWaitMs);
    }
  }

  ScriptedPort& port;
  std::mt19937_64 rng;
  bool crc;
  std::bitset<kFaultKinds> faults;
  int answersLeft = 0;   // before it falls silent or hangs up
  int silentWrites = 0;  // unanswered once silent; -1 for good

  Bytes held;
  std::uint8_t expected = 1;
  int cans = 0;
  bool eotAccepted = false, left = false, sequenceError = false, beyondAnySender = false;
  Bytes lastBlock;
  int sameBlockSends = 0, mostBlockSends = 0, eots = 0, wrongBlocks = 0;
  std::size_t delivered = 0;
};

std::uint64_t FromEnvironment(const char* name, std::uint64_t otherwise) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : otherwise;
}

TEST(XmodemFuzz, NoHostileReceiverMakesTheSenderLieOrOverrunItsBudgets) {
  const std::uint64_t seed = FromEnvironment("PANTOLINE_FUZZ_SEED", 20);
  const std::uint64_t cases = FromEnvironment("PANTOLINE_FUZZ_CASES", 5000);
  std::printf("seed %llu, %llu cases (PANTOLINE_FUZZ_SEED, PANTOLINE_FUZZ_CASES)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(cases));
  // A row per kind of receiver; a case counts in every row its receiver fits.
  constexpr int kAll = 0, kNone = 1, kWithFaults = 2, kBeyondAnySender = 3 + kFaultKinds;
  // Its counts: cases, false successes, of them without EOT, sequence errors, budgets, lost writes.
  struct Row { std::string kind; int counts[6] = {}; };
  std::vector<Row> rows = {{"all cases"}, {"none"}, {"with faults:"}};
  for (const char* name : kFaultNames) rows.push_back({std::string("  ") + name});
  rows.push_back({"(no sender can tell)"});
  for (std::uint64_t i = 0; i < cases; ++i) {
    std::mt19937_64 rng(seed * 1'000'003 + i);
    VirtualClock clock;
    ScriptedPorts ports(clock);
    ScriptedPort& port = ports.Add("P");
    port.holdsWrites = true;
    DeviceLink link(ports, clock);
    link.portHandle = link.Open("P");
    HostileReceiver receiver(port, rng(), rng() % 2 == 0);
    for (int n = rng() % 20 == 0 ? 0 : 1 + static_cast<int>(rng() % 2); n > 0; --n) {
      receiver.faults.set(rng() % kFaultKinds);
    }
    const Bytes data = Package(rng() % 1300);
    receiver.answersLeft = static_cast<int>(rng() % (data.size() / 128 + 3));
    receiver.silentWrites = rng() % 25 == 0 ? -1 : 1 + static_cast<int>(rng() % 4);
    receiver.Start();

    const ResultCode code = link.SendPackage(data.data(), static_cast<std::int32_t>(data.size()));

    const bool falseSuccess = code == QV5SUCCESS && (receiver.held != Padded(data) || !receiver.eotAccepted);
    const bool budgets = receiver.mostBlockSends > 50 || receiver.eots > 40 || receiver.wrongBlocks > 0;
    const bool lost = !port.gone && receiver.delivered != port.writes.size();
    std::vector<int> kinds = {kAll, receiver.faults.none() ? kNone : kWithFaults};
    for (int f = 0; f < kFaultKinds; ++f) {
      if (receiver.faults[f]) kinds.push_back(3 + f);
    }
    if (receiver.beyondAnySender) kinds = {kAll, kBeyondAnySender};
    const bool counts[6] = {true, falseSuccess, falseSuccess && !receiver.eotAccepted, receiver.sequenceError,
                            budgets, lost};
    for (const int kind : kinds) {
      for (int c = 0; c < 6; ++c) rows[kind].counts[c] += counts[c];
    }
    if (!receiver.beyondAnySender) {
      EXPECT_FALSE(falseSuccess) << "case " << i << ": a success, yet the receiver holds " << receiver.held.size()
                                 << " of " << Padded(data).size() << " bytes, EOT accepted " << receiver.eotAccepted;
      EXPECT_FALSE(budgets) << "case " << i << ": " << receiver.mostBlockSends << " sends of a block, "
                            << receiver.eots << " EOT, " << receiver.wrongBlocks << " blocks of the wrong size";
      EXPECT_FALSE(lost) << "case " << i << ": " << port.writes.size() - receiver.delivered
                         << " writes never reached the line";
    }
  }
  std::printf("%-30s %6s %8s %8s %8s %8s %8s\n", "receiver's faults", "cases", "false ok", "no EOT",
              "seq.err", "budgets", "lost");
  for (const Row& row : rows) {
    std::printf("%-30s %6d %8d %8d %8d %8d %8d\n", row.kind.c_str(), row.counts[0], row.counts[1], row.counts[2],
                row.counts[3], row.counts[4], row.counts[5]);
  }
}

}  // namespace
}  // namespace pantoline::testing
