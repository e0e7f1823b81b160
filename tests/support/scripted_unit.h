// Scripted peers for ScriptedPort: a unit that answers the text commands,
// and an XModem receiver whose every answer a test can override.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "tests/support/scripted_ports.h"

namespace pantoline::testing {

// Command lines as the link sends them: text, LF, CR.
Bytes Line(std::string_view text);

// Makes `port` answer like a unit: "SA-28" with "SA-77" LF CR, and echo
// "QV5-3" and "QV5-9" (text, LF, CR), each `replyDelayMs` after the command.
// After "QV5-3", `receiver` (if given) takes over the line and asks for the
// package `requestAfterMs` after the echo (by default just past the
// sender's second of waiting for it, as a real receiver's first request).
class ScriptedReceiver;
void AnswerLikeUnit(ScriptedPort& port, std::int64_t replyDelayMs = 0,
                    ScriptedReceiver* receiver = nullptr, std::int64_t requestAfterMs = 1100);

// An XModem receiver. Each write of the sender gets an answer: the next
// entry of `script` while there is one (an empty entry: silence), else what
// a correct receiver answers (ACK for a good block or EOT, NAK for a bad
// block, nothing for the sender's own CAN or ACK).
class ScriptedReceiver {
 public:
  // Installs itself as `port`'s peer; Start() asks for the first block.
  explicit ScriptedReceiver(ScriptedPort& port);
  void Attach(ScriptedPort& port);

  // Queues `request` (C or NAK) to arrive `delayMs` from now.
  void Start(std::uint8_t request = 'C', std::int64_t delayMs = 0);

  std::deque<Bytes> script;

  // Line faults, by block (1 for the first distinct block, 0 for the EOT),
  // each on that block's first send only: noise arrives before its answer,
  // noise arrives instead of its answer, the block arrives damaged (and is
  // NAKed), or its answer comes 400 s late, just after a block's answer
  // wait has run out.
  std::vector<int> noiseBefore, noiseInstead, damaged, late;
  static inline const Bytes kNoise = {'x', 24, 0x80, 0};

  // What the sender wrote: every block (in order, resends included), every
  // one-byte write.
  std::vector<Bytes> blocks;
  Bytes singles;
  int eots() const;
  // Data areas of the blocks a correct receiver accepted, in order.
  Bytes received;

 private:
  void OnWrite(ScriptedPort& port, std::span<const std::uint8_t> bytes);
  bool Valid(std::span<const std::uint8_t> block) const;

  ScriptedPort* port_ = nullptr;
  std::uint8_t expected_ = 1;
  int distinct_ = 1;  // the block expected, counted without wrapping
  int sends_ = 0;     // sends of it so far
};

}  // namespace pantoline::testing
