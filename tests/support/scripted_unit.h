// Scripted peers for ScriptedPort: a unit that answers the text commands,
// and an XModem receiver whose every answer a test can script.
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

// A receiver's answer to one write of the sender: bytes that arrive
// `delayMs` later, or the device vanishing with that write.
struct Reply {
  Reply(Bytes bytes = {}, std::int64_t delayMs = 0, bool vanish = false)
      : bytes(std::move(bytes)), delayMs(delayMs), vanish(vanish) {}
  Bytes bytes;
  std::int64_t delayMs;
  bool vanish;
};

// An XModem receiver. Each write of the sender gets the next reply of
// `script` while there is one, else what a receiver that takes every block
// answers: ACK to a block or an EOT, nothing to the sender's CAN or ACK.
// A block counts as received when the reply to it holds an ACK and it is
// the block expected; a repeat of an acknowledged block is dropped.
class ScriptedReceiver {
 public:
  // Installs itself as `port`'s peer.
  explicit ScriptedReceiver(ScriptedPort& port) { Attach(port); }
  void Attach(ScriptedPort& port);

  std::deque<Reply> script;
  std::vector<Bytes> blocks;  // every block written, resends included
  Bytes singles;              // every one-byte write
  Bytes received;             // data areas of the blocks received, in order

 private:
  std::uint8_t expected_ = 1;
};

}  // namespace pantoline::testing
