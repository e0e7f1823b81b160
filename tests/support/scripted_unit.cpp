#include "tests/support/scripted_unit.h"

#include <algorithm>

#include "link/crc16.h"

namespace pantoline::testing {

Bytes Line(std::string_view text) {
  Bytes line = B(text);
  line.push_back('\n');
  line.push_back('\r');
  return line;
}

void AnswerLikeUnit(ScriptedPort& port, std::int64_t replyDelayMs, ScriptedReceiver* receiver,
                    std::int64_t requestAfterMs) {
  port.peer = [replyDelayMs, receiver, requestAfterMs](ScriptedPort& p,
                                                       std::span<const std::uint8_t> bytes) {
    const Bytes written(bytes.begin(), bytes.end());
    if (written == Line("SA-28")) {
      p.Send(Line("SA-77"), replyDelayMs);
    } else if (written == Line("QV5-9")) {
      p.Send(Line("QV5-9"), replyDelayMs);
    } else if (written == Line("QV5-3")) {
      p.Send(Line("QV5-3"), replyDelayMs);
      if (receiver != nullptr) {
        receiver->Attach(p);
        receiver->Start('C', replyDelayMs + requestAfterMs);
      }
    }
  };
}

ScriptedReceiver::ScriptedReceiver(ScriptedPort& port) { Attach(port); }

void ScriptedReceiver::Attach(ScriptedPort& port) {
  port_ = &port;
  port.peer = [this](ScriptedPort& p, std::span<const std::uint8_t> bytes) { OnWrite(p, bytes); };
}

void ScriptedReceiver::Start(std::uint8_t request, std::int64_t delayMs) {
  port_->Send(Bytes{request}, delayMs);
}

int ScriptedReceiver::eots() const {
  return static_cast<int>(std::count(singles.begin(), singles.end(), 4));
}

bool ScriptedReceiver::Valid(std::span<const std::uint8_t> block) const {
  if (block.size() != 133 && block.size() != 132) {
    return false;
  }
  if (block[0] != 1 || block[2] != 255 - block[1]) {
    return false;
  }
  const std::uint8_t* area = block.data() + 3;
  if (block.size() == 133) {
    const std::uint16_t crc = Crc16(area, 128);
    return block[131] == (crc >> 8) && block[132] == (crc & 0xFF);
  }
  std::uint8_t sum = 0;
  for (int i = 0; i < 128; ++i) {
    sum = static_cast<std::uint8_t>(sum + area[i]);
  }
  return block[131] == sum;
}

void ScriptedReceiver::OnWrite(ScriptedPort& port, std::span<const std::uint8_t> bytes) {
  Bytes answer;
  const bool isBlock = bytes.size() > 1;
  int fault = -1;  // the block whose first send this is, if any
  if (!isBlock) {
    singles.push_back(bytes[0]);
    if (bytes[0] == 4) {
      answer = {6};
      fault = sends_++ == 0 ? 0 : -1;
    }
  } else {
    blocks.emplace_back(bytes.begin(), bytes.end());
    if (bytes[1] == expected_ && sends_++ == 0) {
      fault = distinct_;
    }
    const bool hurt = fault > 0 && std::ranges::count(damaged, fault) > 0;
    answer = {static_cast<std::uint8_t>(Valid(bytes) && !hurt ? 6 : 21)};
  }
  if (!script.empty()) {
    answer = script.front();
    script.pop_front();
  }
  // A block counts as received once it is acknowledged; a repeat of the
  // block before is acknowledged and dropped.
  if (isBlock && !answer.empty() && answer[0] == 6 && bytes[1] == expected_) {
    received.insert(received.end(), bytes.begin() + 3, bytes.begin() + 131);
    ++expected_;
    ++distinct_;
    sends_ = 0;
  }
  if (fault >= 0 && std::ranges::count(noiseInstead, fault) > 0) {
    answer = kNoise;
  } else if (fault >= 0 && std::ranges::count(noiseBefore, fault) > 0) {
    answer.insert(answer.begin(), kNoise.begin(), kNoise.end());
  }
  const bool isLate = fault >= 0 && std::ranges::count(late, fault) > 0;
  port.Send(answer, isLate ? 400'000 : 0);
}

}  // namespace pantoline::testing
