#include "tests/support/scripted_unit.h"

#include <algorithm>

namespace pantoline::testing {

Bytes Line(std::string_view text) {
  Bytes line = B(text);
  line.push_back('\n');
  line.push_back('\r');
  return line;
}

void AnswerLikeUnit(ScriptedPort& port, std::int64_t replyDelayMs, ScriptedReceiver* receiver,
                    std::int64_t requestAfterMs) {
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

void ScriptedReceiver::Attach(ScriptedPort& port) {
  port.peer = [this](ScriptedPort& p, std::span<const std::uint8_t> bytes) {
    const bool isBlock = bytes.size() > 1;
    // ACK to a block or an EOT, nothing to other single bytes.
    Reply reply(isBlock || bytes[0] == 4 ? Bytes{6} : Bytes{});
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
      if (bytes[1] == expected_ && std::ranges::count(reply.bytes, 6) > 0) {
        received.insert(received.end(), bytes.begin() + 3, bytes.begin() + 131);
        ++expected_;
      }
    }
    p.Send(reply.bytes, reply.delayMs);
  };
}

}  // namespace pantoline::testing
