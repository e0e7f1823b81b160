// The package transfer: progress reports and the XModem sender.
#include <algorithm>
#include <cstring>

#include "link/crc16.h"
#include "link/device_link.h"

namespace pantoline {
namespace {

constexpr std::uint8_t kSoh = 1;
constexpr std::uint8_t kEot = 4;
constexpr std::uint8_t kAck = 6;
constexpr std::uint8_t kNak = 21;
constexpr std::uint8_t kCan = 24;
constexpr std::uint8_t kCrcRequest = 'C';
constexpr std::uint8_t kPad = 26;

constexpr std::int32_t kBlockData = 128;
constexpr int kSyncTries = 16;
constexpr int kBlockSends = 50;
constexpr int kEotSends = 40;
// ReadByte budgets: about 800 s for the receiver to ask or acknowledge the
// end, about 400 s for a block's answer.
constexpr std::uint16_t kLongBudget = 10000;
constexpr std::uint16_t kShortBudget = 5000;

// Bytes LetLineFallQuiet drops at most before a resend.
constexpr int kQuietLimit = 256;

constexpr char kDownloadCommand[] = "QV5-3";

}  // namespace

ResultCode DeviceLink::SetProgressCallback(void* context, ProgressCallback callback) {
  if (callback == nullptr) {
    return lastResult = QV5NULLFUNCTIONPOINTER;
  }
  progressCallback = callback;
  progressContext = context;
  return lastResult = QV5SUCCESS;
}

void DeviceLink::ReportProgress(std::int32_t bytes) {
  if (progressCallback != nullptr) {
    progressCallback(progressContext, bytes, serialNumber);
  }
}

ResultCode TransferResult(XmodemOutcome outcome) {
  switch (outcome) {
    case XmodemOutcome::kDelivered:
      return QV5SUCCESS;
    case XmodemOutcome::kRemoteCancel:
      return QV5XMODEMCANCELEDERROR;
    case XmodemOutcome::kNoSync:
      return QV5XMODEMSYNCERROR;
    case XmodemOutcome::kGone:
      return QV5NOCONNECTION;
    case XmodemOutcome::kBlockRefused:
    case XmodemOutcome::kEotUnanswered:
    case XmodemOutcome::kStopped:
      break;
  }
  return QV5XMODEMUNKNOWNERROR;
}

XmodemOutcome DeviceLink::XmodemSend(const std::uint8_t* data, std::int32_t length) {
  using enum XmodemOutcome;
  // Every way out tells the receiver that the transfer is over: a remote
  // cancel is acknowledged, the sender's own give-ups cancel with three
  // CAN, and both driver buffers are left empty. What was written last
  // drains first: a UART's purge drops bytes it took but has not sent yet.
  auto finish = [this](XmodemOutcome outcome) {
    if (outcome == kRemoteCancel) {
      WriteByte(kAck);
    } else if (outcome == kNoSync || outcome == kBlockRefused || outcome == kStopped) {
      for (int i = 0; i < 3; ++i) {
        WriteByte(kCan);
      }
    }
    ports_.Drain(portHandle);
    PurgeInput();
    PurgeOutput();
    ReportProgress(kProgressEnded);
    return outcome;
  };
  // The receiver cancels with two CAN in a row; a lone CAN is line noise.
  auto remoteCancelled = [this] { return ReadByte(kShortBudget) == kCan; };

  ReportProgress(0);

  bool crcMode = false;
  bool synchronised = false;
  for (int tries = 0; tries < kSyncTries && !synchronised; ++tries) {
    const std::int32_t reply = ReadByte(kLongBudget);
    if (reply == kCrcRequest || reply == kNak) {
      crcMode = reply == kCrcRequest;
      synchronised = true;
    } else if (reply == kCan && remoteCancelled()) {
      return finish(kRemoteCancel);
    } else if (reply == kNoByte && PortGone()) {
      return finish(kGone);
    } else if (reply == kNoByte && StopRequested()) {
      return finish(kStopped);
    }
  }
  if (!synchronised) {
    return finish(kNoSync);
  }

  // SOH, number, complement, 128 data bytes, CRC (2) or checksum (1).
  std::uint8_t block[3 + kBlockData + 2];
  const std::uint32_t blockSize = crcMode ? sizeof block : sizeof block - 1;
  std::uint8_t blockNumber = 1;
  std::int32_t acknowledged = 0;
  for (std::int32_t remaining = length; remaining > 0; remaining -= kBlockData) {
    const std::int32_t chunk = std::min(remaining, kBlockData);
    std::uint8_t* area = block + 3;
    block[0] = kSoh;
    block[1] = blockNumber;
    block[2] = static_cast<std::uint8_t>(255 - blockNumber);
    std::memset(area, 0, kBlockData);
    std::memcpy(area, data + acknowledged, static_cast<std::size_t>(chunk));
    if (chunk < kBlockData) {
      area[chunk] = kPad;
    }
    if (crcMode) {
      const std::uint16_t crc = Crc16(area, kBlockData);
      block[3 + kBlockData] = static_cast<std::uint8_t>(crc >> 8);
      block[3 + kBlockData + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    } else {
      std::uint8_t sum = 0;
      for (std::int32_t i = 0; i < kBlockData; ++i) {
        sum = static_cast<std::uint8_t>(sum + area[i]);
      }
      block[3 + kBlockData] = sum;
    }

    XmodemOutcome answer = kBlockRefused;
    for (int sends = 0; sends < kBlockSends && answer == kBlockRefused; ++sends) {
      // A unit that acknowledges every block never lets a wait run out.
      if (StopRequested()) {
        return finish(kStopped);
      }
      // An answer belongs to one send: what came before it (a second ACK,
      // noise after an answer) is dropped, a cancel among it taken.
      if (sends > 0 ? LetLineFallQuiet(false) : ClearInput(false)) {
        return finish(kRemoteCancel);
      }
      WriteBytes(block, blockSize);
      // A NAK, or a wait that ran out (kBlockRefused), sends it again.
      answer = AwaitAnswer(kShortBudget, false);
    }
    if (answer != kDelivered) {
      return finish(answer);
    }
    ++blockNumber;  // wraps: the 256th block carries 0
    acknowledged += kBlockData;
    ReportProgress(acknowledged);
  }

  for (int sends = 0; sends < kEotSends; ++sends) {
    if (sends > 0) {
      LetLineFallQuiet(true);
    } else {
      ClearInput(true);
    }
    WriteByte(kEot);
    // ACK, or the device gone, or a stop; a NAK or silence sends it again.
    if (const XmodemOutcome answer = AwaitAnswer(kLongBudget, true); answer != kEotUnanswered) {
      return finish(answer);
    }
  }
  return finish(kEotUnanswered);
}

XmodemOutcome DeviceLink::AwaitAnswer(std::uint16_t budget, bool eot) {
  using enum XmodemOutcome;
  const XmodemOutcome unanswered = eot ? kEotUnanswered : kBlockRefused;
  std::uint32_t attempts = 2u * budget;
  bool cancelling = false;  // the byte before was a CAN
  for (;;) {
    const std::int32_t byte = ReadByteWithin(&attempts);
    if (byte == kNoByte) {
      return PortGone() ? kGone : StopRequested() ? kStopped : unanswered;
    }
    if (byte == kAck || byte == kNak) {
      return byte == kAck ? kDelivered : unanswered;
    }
    if (byte == kCan && !eot) {
      if (cancelling) {
        return kRemoteCancel;
      }
      cancelling = true;
      continue;
    }
    cancelling = false;  // noise: dropped, the wait goes on
  }
}

bool DeviceLink::LetLineFallQuiet(bool eot) {
  // One-byte reads end after one read time-out of silence. A line that
  // never falls quiet is given up on after a block's worth of bytes: the
  // answer wait drops noise anyway.
  std::uint8_t byte = 0;
  int cans = 0;
  for (int dropped = 0; dropped < kQuietLimit && ReadBytes(&byte, 1) == 1; ++dropped) {
    cans = byte == kCan && !eot ? cans + 1 : 0;
    if (cans == 2) {
      return true;
    }
  }
  PurgeInput();
  return false;
}

bool DeviceLink::ClearInput(bool eot) {
  // Only what has arrived is read, so that the line keeps its rate; reading
  // it, rather than purging, leaves no moment in which a cancel that
  // arrives is dropped unseen.
  std::uint8_t bytes[32];
  int cans = 0;
  for (int dropped = 0; dropped < kQuietLimit;) {
    const std::uint32_t waiting = std::min<std::uint32_t>(ports_.Waiting(portHandle), sizeof bytes);
    const std::uint32_t got = waiting == 0 ? 0 : ReadBytes(bytes, waiting);
    if (got == 0) {
      return false;
    }
    for (std::uint32_t i = 0; i < got; ++i) {
      cans = bytes[i] == kCan && !eot ? cans + 1 : 0;
      if (cans == 2) {
        return true;
      }
    }
    dropped += static_cast<int>(got);
  }
  return false;
}

ResultCode DeviceLink::SendPackage(const std::uint8_t* data, std::int32_t length) {
  // The whole package, last byte included.
  return lastResult = TransferResult(XmodemSend(data, length));
}

ResultCode DeviceLink::LoadPackage(const std::uint8_t* data, std::int32_t length) {
  if (RequireDownloadMode() == QV5SUCCESS && Command(kDownloadCommand) == QV5SUCCESS) {
    SendPackage(data, length);
  }
  return lastResult;
}

}  // namespace pantoline
