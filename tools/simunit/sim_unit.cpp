#include "tools/simunit/sim_unit.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "link/clock.h"
#include "link/port_names_posix.h"

namespace pantoline::simunit {
namespace {

using Nanos = std::int64_t;  // CLOCK_MONOTONIC nanoseconds
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
constexpr Nanos kMs = 1'000'000;
constexpr Nanos kUs = 1'000;

// Waits shorter than this are slept out with an absolute-deadline sleep, so
// that line-rate pacing keeps to the nanosecond schedule; longer ones wait
// on the line and the stop signal until this close to the deadline.
constexpr Nanos kPacingHorizon = 20 * kMs;

constexpr std::uint8_t kSoh = 1;
constexpr std::uint8_t kEot = 4;
constexpr std::uint8_t kAck = 6;
constexpr std::uint8_t kNak = 21;
constexpr std::uint8_t kCan = 24;
constexpr std::uint8_t kCrcRequest = 'C';
constexpr std::uint8_t kLf = 10;
constexpr std::uint8_t kCr = 13;
constexpr int kDataSize = 128;
constexpr std::size_t kMaxLine = 16;  // longer lines are no command of the unit

void SleepUntil(Nanos deadline) {
  const timespec at{static_cast<time_t>(deadline / 1'000'000'000),
                    static_cast<long>(deadline % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// CRC-16/XMODEM bit by bit: the unit's own, so that a fault in the link's
// table-driven CRC cannot hide behind a shared implementation.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

}  // namespace

const char* Describe(TransferEnd end) {
  switch (end) {
    case TransferEnd::kCompleted: return "completed";
    case TransferEnd::kUnitCancelled: return "cancelled by the unit";
    case TransferEnd::kSenderCancelled: return "cancelled by the sender";
    case TransferEnd::kNoBlock: return "no block came";
    case TransferEnd::kTimedOut: return "timed out waiting for blocks";
    case TransferEnd::kFellSilent: return "unit fell silent";
  }
  return "?";
}

// The unit's thread: the line with its pacing, and the protocol on top.
//
// Every received byte is given the time at which it counts as arrived and
// is acted on as of that time; every byte to send is queued with the time
// at which it may go out. In line-rate mode each direction carries a byte
// no sooner than 86.8 us after the one before it: a received byte arrives
// at max(seen, previous arrival + 86.8 us), a sent byte goes out at
// max(due, previous departure + 86.8 us). The first byte of a burst thus
// counts as arriving when it is seen: the pseudo-terminal's own delivery
// delay stands in for that byte's time on the wire. Outside line-rate mode
// bytes count as arriving when read and go out when due.
class SimUnit::Engine {
 public:
  explicit Engine(SimUnit& unit) : unit_(unit), o_(unit.options_) {}

  void Run() {
    if (o_.lineRate) {
      // The default 50 us of timer slack would be half a byte time.
      prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
    while (!unit_.stopping_.load()) {
      const Nanos now = MonotonicNs();
      WriteDue(now);
      if (timer_ <= now) {
        const Nanos deadline = timer_;
        timer_ = kNever;
        OnTimer(deadline);
        continue;
      }
      if (pending_ && out_.empty()) {
        PublishPending();
      }
      Wait(now);
    }
    if (pending_) {
      PublishPending();
    }
  }

 private:
  enum class State { kCommand, kAwaitFirst, kReceiving, kDead };

  struct Out {
    std::uint8_t byte;
    Nanos due;
  };

  // --- The line ----------------------------------------------------------

  void Wait(Nanos now) {
    const Nanos next = std::min(out_.empty() || writeBlocked_ ? kNever : out_.front().due, timer_);
    if (next != kNever && next - now <= kPacingHorizon) {
      ReadInput();  // what is already here is timed before the sleep
      SleepUntil(next);
      return;
    }
    pollfd fds[2] = {{unit_.master_, static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0},
                     {unit_.wake_, POLLIN, 0}};
    timespec wait{};
    timespec* timeout = nullptr;
    if (next != kNever) {
      const Nanos left = next - now - kPacingHorizon / 2;
      wait = {static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
      timeout = &wait;
    }
    if (ppoll(fds, 2, timeout, nullptr) <= 0) {
      return;
    }
    if (fds[0].revents & POLLOUT) {
      writeBlocked_ = false;
    }
    if (fds[0].revents & POLLIN) {
      ReadInput();
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // Cannot happen while the slave is held open; do not spin if it does.
      SleepUntil(MonotonicNs() + kMs);
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = read(unit_.wake_, &count, sizeof count);
    }
  }

  void ReadInput() {
    std::uint8_t buffer[4096];
    for (;;) {
      const ssize_t got = read(unit_.master_, buffer, sizeof buffer);
      if (got <= 0) {
        return;
      }
      const Nanos seen = MonotonicNs();
      unit_.received_.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
      for (ssize_t i = 0; i < got; ++i) {
        Nanos at = seen;
        if (o_.lineRate) {
          at = std::max(seen, lastArrival_ + kByteNs);
          lastArrival_ = at;
        }
        OnByte(buffer[i], at);
      }
    }
  }

  // Queues `size` bytes to go out no earlier than `earliest`. Returns the
  // time the last of them goes out.
  Nanos Send(const std::uint8_t* bytes, std::size_t size, Nanos earliest) {
    Nanos due = earliest;
    for (std::size_t i = 0; i < size; ++i) {
      if (o_.lineRate) {
        due = std::max(earliest, lastDeparture_ + kByteNs);
        lastDeparture_ = due;
      } else if (!out_.empty()) {
        due = std::max(due, out_.back().due);
      }
      out_.push_back({bytes[i], due});
    }
    return due;
  }
  Nanos Send(std::uint8_t byte, Nanos earliest) { return Send(&byte, 1, earliest); }

  void WriteDue(Nanos now) {
    if (writeBlocked_) {
      return;
    }
    std::uint8_t buffer[256];
    while (!out_.empty() && out_.front().due <= now) {
      std::size_t n = 0;
      for (auto it = out_.begin(); it != out_.end() && it->due <= now && n < sizeof buffer; ++it) {
        buffer[n++] = it->byte;
      }
      const ssize_t put = write(unit_.master_, buffer, n);
      if (put <= 0) {
        writeBlocked_ = put < 0 && errno == EAGAIN;
        if (!writeBlocked_) {
          out_.clear();  // the line is broken: nothing can be delivered
        }
        return;
      }
      unit_.sent_.fetch_add(static_cast<std::uint64_t>(put), std::memory_order_relaxed);
      out_.erase(out_.begin(), out_.begin() + put);
    }
  }

  // --- Command lines -------------------------------------------------------

  void LineByte(std::uint8_t b, Nanos at) {
    if (sawLf_) {
      sawLf_ = false;
      if (b == kCr) {
        if (!lineTooLong_) {
          Dispatch(std::string_view(line_, lineLength_), at);
        }
        lineLength_ = 0;
        lineTooLong_ = false;
        return;
      }
      lineLength_ = 0;  // LF not followed by CR: no line; this byte starts anew
      lineTooLong_ = false;
    }
    if (b == kLf) {
      sawLf_ = true;
    } else if (b == kCr) {
      lineLength_ = 0;  // CR without LF before it ends no command line
      lineTooLong_ = false;
    } else if (b < 0x20 || b >= 0x7F) {
      // Control bytes are no part of a command: a stray ACK or CAN left
      // over from a cancelled transfer must not spoil the next line.
    } else if (lineLength_ < kMaxLine) {
      line_[lineLength_++] = static_cast<char>(b);
    } else {
      lineTooLong_ = true;
    }
  }

  void Dispatch(std::string_view command, Nanos at) {
    if (state_ == State::kAwaitFirst) {
      End(TransferEnd::kNoBlock);  // the link has moved on without sending
    }
    if (command == "SA-28" && o_.vanish == Options::Vanish::kGreeting) {
      Vanish();
    } else if (command == "SA-28") {
      Log("greeting: %s", Name(o_.greeting));
      Reply(o_.greeting, "SA-77", at);
    } else if (command == "QV5-3") {
      Log("download command: echo %s", Name(o_.echo));
      BeginReceiver(Reply(o_.echo, "QV5-3", at));
    } else if (command == "QV5-9") {
      Log("finish command: echo %s", Name(o_.echo));
      Reply(o_.echo, "QV5-9", at);
    } else {
      Log("unknown command line \"%.*s\" ignored", static_cast<int>(command.size()), command.data());
    }
  }

  // Answers with `text` LF CR as `how` says; returns when its last byte
  // goes out (or `at` when there is none).
  Nanos Reply(Answer how, std::string_view text, Nanos at) {
    std::uint8_t answer[kMaxLine + 2];
    const std::size_t size = text.size() + 2;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      answer[i] = static_cast<std::uint8_t>(how == Answer::kWrong ? std::tolower(c) : c);
    }
    answer[text.size()] = kLf;
    answer[text.size() + 1] = kCr;
    const Nanos earliest = at + o_.replyDelayUs * kUs;
    switch (how) {
      case Answer::kSilent:
        return at;
      case Answer::kNormal:
      case Answer::kWrong:
        return Send(answer, size, earliest);
      case Answer::kSplit: {
        const Nanos first = Send(answer, 3, earliest);
        return Send(answer + 3, size - 3, first + o_.splitGapMs * kMs);
      }
      case Answer::kLate:
        return Send(answer, size, earliest + o_.lateMs * kMs);
    }
    return at;
  }

  static const char* Name(Answer how) {
    switch (how) {
      case Answer::kNormal: return "normal";
      case Answer::kSilent: return "silent";
      case Answer::kWrong: return "wrong";
      case Answer::kSplit: return "split";
      case Answer::kLate: return "late";
    }
    return "?";
  }

  // --- XModem receiver -----------------------------------------------------

  void BeginReceiver(Nanos echoed) {
    state_ = State::kAwaitFirst;
    current_ = Transfer{};
    current_.crc = !o_.checksum;
    current_.data.reserve(1 << 20);  // a reset package fits without regrowing
    expected_ = 1;
    cans_ = 0;
    timeouts_ = 0;
    naked_ = 0;
    ackLost_ = false;
    ackedTwice_ = false;
    blockLength_ = 0;
    // The link reads the echo a second after its command and only then
    // listens for a request: asking earlier would be lost in that read.
    timer_ = echoed + o_.firstRequestMs * kMs;
  }

  void OnByte(std::uint8_t b, Nanos at) {
    switch (state_) {
      case State::kDead:
        return;
      case State::kCommand:
        LineByte(b, at);
        return;
      case State::kAwaitFirst:
        if (b == kSoh) {
          state_ = State::kReceiving;
          ReceiverByte(b, at);
        } else if (b == kEot) {
          Eot(at);
        } else if (b == kCan) {
          SenderCan();
        } else {
          cans_ = 0;
          LineByte(b, at);
        }
        return;
      case State::kReceiving:
        ReceiverByte(b, at);
        return;
    }
  }

  void ReceiverByte(std::uint8_t b, Nanos at) {
    timer_ = at + o_.blockTimeoutMs * kMs;
    timeouts_ = 0;
    if (blockLength_ > 0) {
      block_[blockLength_++] = b;
      if (blockLength_ == BlockSize()) {
        blockLength_ = 0;
        JudgeBlock(at);
      }
      return;
    }
    if (b == kSoh) {
      cans_ = 0;
      block_[blockLength_++] = b;
    } else if (b == kEot) {
      cans_ = 0;
      Eot(at);
    } else if (b == kCan) {
      SenderCan();
    } else {
      cans_ = 0;  // noise between blocks
    }
  }

  std::size_t BlockSize() const { return 3 + kDataSize + (current_.crc ? 2 : 1); }

  bool CheckValueMatches() const {
    const std::uint8_t* data = block_ + 3;
    if (current_.crc) {
      const std::uint16_t crc = Crc16(data, kDataSize);
      return block_[3 + kDataSize] == (crc >> 8) && block_[3 + kDataSize + 1] == (crc & 0xFF);
    }
    std::uint8_t sum = 0;
    for (int i = 0; i < kDataSize; ++i) {
      sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    return block_[3 + kDataSize] == sum;
  }

  void JudgeBlock(Nanos at) {
    const Nanos earliest = at + o_.replyDelayUs * kUs;
    const std::uint8_t number = block_[1];
    if (number != static_cast<std::uint8_t>(255 - block_[2]) || !CheckValueMatches()) {
      Log("block %u damaged: NAK", number);
      Nak(earliest);
      return;
    }
    if (number != expected_) {
      if (current_.blocksAccepted > 0 && number == static_cast<std::uint8_t>(expected_ - 1)) {
        ++current_.duplicatesDropped;
        Log("block %d repeated: ACK, dropped", current_.blocksAccepted);
        ArmBlockTimer(Send(kAck, earliest));
      } else {
        Log("block number %u out of order (expected %u): NAK", number, expected_);
        Nak(earliest);
      }
      return;
    }
    const int ordinal = current_.blocksAccepted + 1;
    if (ordinal == o_.vanishBlock) {
      Vanish();
      return;
    }
    if (ordinal == o_.silentBlock) {
      Log("block %d: falling silent", ordinal);
      End(TransferEnd::kFellSilent);
      return;
    }
    if (ordinal == o_.cancelBlock) {
      Log("block %d: cancelling", ordinal);
      const std::uint8_t cancel[] = {kCan, kCan};
      Send(cancel, sizeof cancel, earliest);
      End(TransferEnd::kUnitCancelled);
      return;
    }
    if (ordinal == o_.nakBlock && naked_ < o_.nakTimes) {
      ++naked_;
      Log("block %d refused (%d of %d): NAK", ordinal, naked_, o_.nakTimes);
      Nak(earliest);
      return;
    }
    current_.data.insert(current_.data.end(), block_ + 3, block_ + 3 + kDataSize);
    ++current_.blocksAccepted;
    ++expected_;
    if (ordinal == o_.loseAckBlock && !ackLost_) {
      ackLost_ = true;
      Log("block %d accepted, its ACK lost", ordinal);
      ArmBlockTimer(at);
      return;
    }
    if (ordinal == o_.ackTwiceBlock && !ackedTwice_) {
      ackedTwice_ = true;
      Log("block %d accepted: ACK ACK", ordinal);
      const std::uint8_t twice[] = {kAck, kAck};
      ArmBlockTimer(Send(twice, sizeof twice, earliest));
      return;
    }
    ArmBlockTimer(Send(kAck, earliest));
  }

  void Vanish() {
    Log("vanishing");
    state_ = State::kDead;
    timer_ = kNever;
    out_.clear();
    unit_.Hangup(MonotonicNs());
  }

  void Nak(Nanos earliest) {
    ++current_.naksSent;
    ArmBlockTimer(Send(kNak, earliest));
  }

  void ArmBlockTimer(Nanos from) { timer_ = from + o_.blockTimeoutMs * kMs; }

  void Eot(Nanos at) {
    if (o_.vanish == Options::Vanish::kEot) {
      Vanish();
      return;
    }
    if (o_.ignoreEotAlways || current_.eotsIgnored < o_.ignoreEot) {
      ++current_.eotsIgnored;
      Log("EOT ignored (%d)", current_.eotsIgnored);
      return;  // the block time-out (or the next request) answers for it
    }
    Send(kAck, at + o_.replyDelayUs * kUs);
    Log("EOT: ACK; %d blocks, %zu bytes", current_.blocksAccepted, current_.data.size());
    End(TransferEnd::kCompleted);
  }

  void SenderCan() {
    if (++cans_ >= 2) {
      Log("sender cancelled");
      End(TransferEnd::kSenderCancelled);
    }
  }

  void OnTimer(Nanos deadline) {
    if (state_ == State::kAwaitFirst) {
      if (o_.cancelFirst) {
        Log("cancelling before the first block");
        const std::uint8_t cancel[] = {kCan, kCan};
        Send(cancel, sizeof cancel, deadline);
        End(TransferEnd::kUnitCancelled);
      } else if (o_.vanish == Options::Vanish::kRequest) {
        Vanish();
      } else if (o_.neverAsk) {
        Log("not asking for the package");
      } else if (current_.requestsSent < o_.requests) {
        ++current_.requestsSent;
        Log("request %d: %s", current_.requestsSent, current_.crc ? "C" : "NAK");
        Send(current_.crc ? kCrcRequest : kNak, deadline);
        timer_ = deadline + o_.requestIntervalMs * kMs;
      } else {
        Log("no block after %d requests", current_.requestsSent);
        End(TransferEnd::kNoBlock);
      }
    } else if (state_ == State::kReceiving) {
      blockLength_ = 0;  // a block cut short is dropped whole
      if (++timeouts_ > o_.blockTimeouts) {
        Log("nothing after %d time-outs: cancelling", o_.blockTimeouts);
        const std::uint8_t cancel[] = {kCan, kCan};
        Send(cancel, sizeof cancel, deadline);
        End(TransferEnd::kTimedOut);
        return;
      }
      Log("time-out waiting for block %d: NAK", current_.blocksAccepted + 1);
      ++current_.naksSent;
      timer_ = Send(kNak, deadline) + o_.blockTimeoutMs * kMs;
    }
  }

  void End(TransferEnd how) {
    if (pending_) {
      PublishPending();
    }
    current_.end = how;
    pendingTransfer_ = std::move(current_);
    current_ = Transfer{};
    pending_ = true;
    state_ = how == TransferEnd::kFellSilent ? State::kDead : State::kCommand;
    timer_ = kNever;
    blockLength_ = 0;
    cans_ = 0;
  }

  // Made public only once the last answer of the transfer is on the line,
  // so that whoever waits for the transfer also finds its last byte sent.
  void PublishPending() {
    pending_ = false;
    Log("transfer %s", Describe(pendingTransfer_.end));
    if (!o_.outputPath.empty()) {
      WriteOutput(pendingTransfer_.data);
    }
    unit_.Publish(std::move(pendingTransfer_));
    pendingTransfer_ = Transfer{};
  }

  void WriteOutput(const std::vector<std::uint8_t>& data) {
    const int fd = open(o_.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < data.size();) {
      const ssize_t put = write(fd, data.data() + done, data.size() - done);
      ok = put > 0;
      done += ok ? static_cast<std::size_t>(put) : 0;
    }
    if (fd >= 0) {
      ok = close(fd) == 0 && ok;
    }
    if (!ok) {
      std::fprintf(stderr, "pantoline-simunit: cannot write %s: %s\n", o_.outputPath.c_str(),
                   std::strerror(errno));
    }
  }

  __attribute__((format(printf, 2, 3))) void Log(const char* format, ...) {
    if (!o_.verbose) {
      return;
    }
    const Nanos since = MonotonicNs() - started_;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "[%5lld.%03lld] %s\n", static_cast<long long>(since / 1'000'000'000),
                 static_cast<long long>(since / kMs % 1000), text);
  }

  SimUnit& unit_;
  const Options& o_;
  const Nanos started_ = MonotonicNs();

  std::deque<Out> out_;
  bool writeBlocked_ = false;
  // Line-rate mode: the last byte's arrival and departure times.
  Nanos lastArrival_ = std::numeric_limits<Nanos>::min() / 2;
  Nanos lastDeparture_ = std::numeric_limits<Nanos>::min() / 2;
  Nanos timer_ = kNever;

  State state_ = State::kCommand;
  char line_[kMaxLine] = {};
  std::size_t lineLength_ = 0;
  bool lineTooLong_ = false;
  bool sawLf_ = false;

  Transfer current_;
  Transfer pendingTransfer_;
  bool pending_ = false;
  std::uint8_t block_[3 + kDataSize + 2] = {};
  std::size_t blockLength_ = 0;  // 0: not inside a block
  std::uint8_t expected_ = 1;    // number of the next new block, wrapping
  int cans_ = 0;                 // CAN received in a row
  int timeouts_ = 0;             // block time-outs in a row
  int naked_ = 0;                // refusals of the block chosen by nakBlock
  bool ackLost_ = false;
  bool ackedTwice_ = false;
};

SimUnit::SimUnit(Options options) : options_(std::move(options)) {}

SimUnit::~SimUnit() {
  Stop();
  RemoveLinks();
  for (int fd : {master_, slave_, wake_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool SimUnit::Start(std::string* error) {
  auto fail = [error](const char* what) {
    *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    return fail("posix_openpt");
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    return fail("pseudo-terminal slave");
  }
  devicePath_ = name;
  // Raw from the start: whatever opens the slave before configuring it
  // must not see echo or line editing.
  termios tty{};
  if (tcgetattr(master_, &tty) != 0) {
    return fail("tcgetattr");
  }
  cfmakeraw(&tty);
  cfsetispeed(&tty, B115200);
  cfsetospeed(&tty, B115200);
  if (tcsetattr(master_, TCSANOW, &tty) != 0) {
    return fail("tcsetattr");
  }
  // Holding the slave keeps the master readable and writable while the link
  // closes and reopens the port; the unit never reads it.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    return fail(name);
  }
  if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
    return fail("fcntl");
  }
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    return fail("eventfd");
  }
  engine_ = std::make_unique<Engine>(*this);
  thread_ = std::thread([this] { engine_->Run(); });
  return true;
}

void SimUnit::Hangup(std::int64_t atNs) {
  close(slave_);
  close(master_);
  slave_ = -1;
  master_ = -1;
  vanishedNs_.store(atNs);
  stopping_.store(true);
}

void SimUnit::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  stopping_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t put = write(wake_, &one, sizeof one);
  thread_.join();
}

namespace {

bool PlaceLink(const std::filesystem::path& folder, const std::string& name,
               const std::string& target, std::vector<SimUnit::PlacedLink>* placed,
               std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    *error = folder.string() + ": " + ec.message();
    return false;
  }
  SimUnit::PlacedLink link{(folder / name).string(), {}};
  // A link already there (a Wine prefix's own comN, a user's pin) is
  // remembered and put back when the unit ends; anything else is not ours
  // to replace.
  char previous[4096];
  const ssize_t size = readlink(link.path.c_str(), previous, sizeof previous);
  if (size > 0 && size < static_cast<ssize_t>(sizeof previous)) {
    link.previous.assign(previous, static_cast<std::size_t>(size));
    if (unlink(link.path.c_str()) != 0) {
      *error = link.path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (symlink(target.c_str(), link.path.c_str()) != 0) {
    *error = link.path + ": " + std::strerror(errno);
    return false;
  }
  placed->push_back(std::move(link));
  return true;
}

}  // namespace

bool SimUnit::PlacePortLink(int n, const std::string& configHome, std::string* error) {
  // Where the link looks for the user's pins, so that the two cannot drift.
  const std::filesystem::path pin = PortPinPath(n, configHome);
  if (pin.empty()) {
    *error = "no configuration folder: neither XDG_CONFIG_HOME nor HOME is set";
    return false;
  }
  return PlaceLink(pin.parent_path(), pin.filename().string(), devicePath_, &links_, error);
}

bool SimUnit::PlaceWineLink(const std::string& prefix, int n, std::string* error) {
  return PlaceLink(std::filesystem::path(prefix) / "dosdevices", "com" + std::to_string(n),
                   devicePath_, &links_, error);
}

void SimUnit::RemoveLinks() {
  for (const PlacedLink& link : links_) {
    char target[4096];
    const ssize_t size = readlink(link.path.c_str(), target, sizeof target - 1);
    // Someone may have pointed it elsewhere since: then it is theirs.
    if (size > 0 && std::string_view(target, static_cast<std::size_t>(size)) == devicePath_ &&
        unlink(link.path.c_str()) == 0 && !link.previous.empty()) {
      [[maybe_unused]] const int restored = symlink(link.previous.c_str(), link.path.c_str());
    }
  }
  links_.clear();
}

void SimUnit::Publish(Transfer&& transfer) {
  std::lock_guard lock(mutex_);
  ++transfersEnded_;
  if (transfer.end == TransferEnd::kCompleted) {
    ++transfersCompleted_;
  }
  last_ = std::move(transfer);
  ended_.notify_all();
}

bool SimUnit::WaitForTransfers(int count, int timeoutMs, Transfer* last) {
  std::unique_lock lock(mutex_);
  const bool ended = ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return transfersEnded_ >= count; });
  if (ended && last != nullptr) {
    *last = last_;
  }
  return ended;
}

int SimUnit::TransfersEnded() const {
  std::lock_guard lock(mutex_);
  return transfersEnded_;
}

int SimUnit::TransfersCompleted() const {
  std::lock_guard lock(mutex_);
  return transfersCompleted_;
}

}  // namespace pantoline::simunit
