// The text layer: command lines, replies, the greeting and download mode.
#include <cstring>

#include "link/device_link.h"

namespace pantoline {
namespace {

constexpr char kGreeting[] = "SA-28";
constexpr char kGreetingReply[] = "SA-77";
constexpr char kFinishCommand[] = "QV5-9";

constexpr int kReplyAttempts = 30;
constexpr std::uint32_t kReplyRead = 9;

}  // namespace

ResultCode DeviceLink::SendCommand(const char* text) {
  PurgeBoth();
  if (portHandle == nullptr) {
    return lastResult = QV5INVALIDHANDLEVALUE;
  }
  const std::size_t length = std::strlen(text);
  if (length > kMaxCommand) {
    return lastResult = QV5COMMANDNOTSENT;
  }
  // The unit ends a line on LF then CR, in that order.
  std::uint8_t line[kMaxCommand + 2];
  std::memcpy(line, text, length);
  line[length] = '\n';
  line[length + 1] = '\r';
  return WriteBytes(line, static_cast<std::uint32_t>(length + 2));
}

ResultCode DeviceLink::CheckReply(const char* expected) {
  if (portHandle == nullptr) {
    return lastResult = QV5INVALIDHANDLEVALUE;
  }
  // Zeros after whatever arrives: an expected text longer than the reply
  // meets a 0 at the latest at offset 9 and fails to match there.
  std::uint8_t reply[20] = {};
  for (int attempt = 1;; ++attempt) {
    if (ReadBytes(reply, kReplyRead) > 0) {
      break;
    }
    if (PortGone()) {
      return lastResult = QV5NORESPONSE;  // nothing will come
    }
    clock_.SleepMs(10);
    if (attempt == kReplyAttempts) {
      return lastResult = QV5NORESPONSE;
    }
  }
  for (std::size_t i = 0; expected[i] != '\0'; ++i) {
    if (reply[i] != static_cast<std::uint8_t>(expected[i])) {
      return lastResult = QV5INVALIDRESPONSE;
    }
  }
  return lastResult = QV5SUCCESS;
}

ResultCode DeviceLink::Handshake() {
  PurgeBoth();
  const bool greet = mode == LinkMode::kSearching || (mode == LinkMode::kDownload && connected);
  if (!greet) {
    return lastResult = connected ? QV5INCORRECTMODE : QV5NOTFOUND;
  }
  if (SendCommand(kGreeting) != QV5SUCCESS) {
    return lastResult;
  }
  if (CheckReply(kGreetingReply) != QV5SUCCESS) {
    return lastResult;
  }
  mode = LinkMode::kDownload;
  return QV5SUCCESS;
}

ResultCode DeviceLink::Command(const char* text) {
  PurgeBoth();
  if (portHandle == nullptr) {
    return lastResult = QV5INVALIDHANDLEVALUE;
  }
  if (SendCommand(text) != QV5SUCCESS) {
    return lastResult;
  }
  // The unit needs a second to act on a command before it echoes it.
  clock_.SleepMs(1000);
  return CheckReply(text);
}

ResultCode DeviceLink::RequireDownloadMode() {
  if (!connected) {
    return lastResult = QV5NOTFOUND;
  }
  return lastResult = mode == LinkMode::kDownload ? QV5SUCCESS : QV5INCORRECTMODE;
}

ResultCode DeviceLink::FinishDownload() {
  clock_.SleepMs(1000);
  if (RequireDownloadMode() == QV5SUCCESS && Command(kFinishCommand) == QV5SUCCESS) {
    mode = LinkMode::kSearching;
  }
  return lastResult;
}

}  // namespace pantoline
