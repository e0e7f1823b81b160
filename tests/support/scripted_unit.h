// Scripted peers for ScriptedPort: a unit that answers the text commands,
// and an XModem receiver whose every answer a test can script.
#pragma once

#include <deque>

#include "tests/support/scripted_ports.h"

namespace pantoline::testing {

// XModem's control bytes.
constexpr std::uint8_t kEot = 4, kAck = 6, kNak = 21, kCan = 24;

// Command lines as the link sends them: text, LF, CR.
inline Bytes Line(std::string_view text) {
  Bytes line = B(text);
  line.insert(line.end(), {'\n', '\r'});
  return line;
}

// A package of `length` bytes holding every byte value, 26 and CR LF included.
inline Bytes Package(std::size_t length) {
  Bytes data(length);
  std::ranges::generate(data, [n = 0u]() mutable { return static_cast<std::uint8_t>(n++ * 31 + 7); });
  return data;
}

// What an XModem receiver holds after `data`: a short last chunk is
// followed by one pad byte 26 and zeros.
inline Bytes Padded(Bytes data) {
  if (data.size() % 128 != 0) {
    data.push_back(26);
    data.resize((data.size() + 127) / 128 * 128, 0);
  }
  return data;
}

// The progress reports of a transfer whose first `blocks` blocks were
// acknowledged: 0, 128 bytes more for each, then -1 for the end.
inline std::vector<std::int32_t> Progress(int blocks) {
  std::vector<std::int32_t> reports;
  for (int k = 0; k <= blocks; ++k) reports.push_back(128 * k);
  reports.push_back(-1);
  return reports;
}

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
struct ScriptedReceiver {
  // Installs itself as `port`'s peer.
  void Attach(ScriptedPort& port) {
    port.peer = [this](ScriptedPort& p, std::span<const std::uint8_t> bytes) {
      const bool isBlock = bytes.size() > 1;
      Reply reply(isBlock || bytes[0] == kEot ? Bytes{kAck} : Bytes{});
      if (!script.empty()) {
        reply = script.front();
        script.pop_front();
      }
      if (reply.vanish) {
        p.gone = true;
        return;
      }
      if (!isBlock) {
        singles.push_back(bytes[0]);
      } else {
        blocks.emplace_back(bytes.begin(), bytes.end());
        const bool next = bytes[1] == static_cast<std::uint8_t>(received.size() / 128 + 1);
        if (next && std::ranges::count(reply.bytes, kAck) > 0) received.insert(received.end(), &bytes[3], &bytes[131]);
      }
      p.Send(reply.bytes, reply.delayMs);
    };
  }

  std::deque<Reply> script;
  std::vector<Bytes> blocks;  // every block written, resends included
  Bytes singles;              // every one-byte write
  Bytes received;             // data areas of the blocks received, in order
};

// Makes `port` answer like a unit: "SA-28" with "SA-77" LF CR, and echo
// "QV5-3" and "QV5-9" (text, LF, CR), each `replyDelayMs` after the command.
// After "QV5-3", `receiver` (if given) takes over the line and asks for the
// package `requestAfterMs` after the echo (by default just past the
// sender's second of waiting for it, as a real receiver's first request).
inline void AnswerLikeUnit(ScriptedPort& port, std::int64_t replyDelayMs = 0,
                           ScriptedReceiver* receiver = nullptr, std::int64_t requestAfterMs = 1100) {
  port.peer = [=](ScriptedPort& p, std::span<const std::uint8_t> bytes) {
    const Bytes written(bytes.begin(), bytes.end());
    if (written == Line("SA-28")) {
      p.Send(Line("SA-77"), replyDelayMs);
    } else if (written == Line("QV5-9") || written == Line("QV5-3")) {
      p.Send(written, replyDelayMs);
      if (receiver != nullptr && written == Line("QV5-3")) {
        receiver->Attach(p);
        p.Send(Bytes{'C'}, replyDelayMs + requestAfterMs);
      }
    }
  };
}

}  // namespace pantoline::testing
