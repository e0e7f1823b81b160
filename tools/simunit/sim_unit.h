// A simulated Lodestria unit on a pseudo-terminal.
//
// The unit owns a pseudo-terminal pair and plays the device on its master
// side, on a thread of its own: it answers the greeting, echoes the download
// and finish commands, and after the download command acts as an XModem
// receiver. The link under test opens the slave side like any serial port,
// usually through a symbolic link that the unit places where the link looks
// for "\\.\ComN" (the ports folder on Linux, a Wine prefix's dosdevices).
//
// Every misbehaviour that a real unit or its cable can show is an option,
// so that tests and the benchmark can drive the link's failure paths over a
// real serial device node. In line-rate mode the unit takes in and gives out
// bytes no faster than 115200 baud 8N1 carries them, which makes it a fair
// stand-in for the wire when the link's speed is measured.
//
// POSIX only. Times are in milliseconds unless a name says otherwise.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/device_link.h"

namespace pantoline::simunit {

// How the unit answers one kind of command line.
enum class Answer {
  kNormal,  // the expected text, then LF CR, at once
  kSilent,  // nothing at all
  kWrong,   // the expected text in lower case, then LF CR
  kSplit,   // the first 3 bytes, then the rest splitGapMs later
  kLate,    // the whole answer, lateMs later
};

struct Options {
  // --- Command lines ---------------------------------------------------
  Answer greeting = Answer::kNormal;  // "SA-28" answered by "SA-77"
  Answer echo = Answer::kNormal;      // "QV5-3" and "QV5-9" echoed
  int splitGapMs = 100;               // more than the link's 25 ms interval
  int lateMs = 6000;                  // more than the link's ~4.8 s of waiting

  // --- XModem receiver ----------------------------------------------------
  bool checksum = false;         // ask with NAK (8-bit sum) instead of C (CRC-16)
  int firstRequestMs = 1100;     // from the echo of "QV5-3" to the first request
  int requestIntervalMs = 1000;  // between requests until the first block starts
  int requests = 10;             // requests before giving up (back to commands)
  int blockTimeoutMs = 10000;    // silence while a block is due, then NAK
  int blockTimeouts = 10;        // consecutive such NAKs, then cancel

  // Misbehaviours. Block numbers k count the distinct blocks of a transfer
  // from 1 (not the wrapping number on the wire); 0 means never.
  bool neverAsk = false;      // sends no request at all
  int nakBlock = 0;           // NAKs block k ...
  int nakTimes = 0;           // ... this many times before taking it
  int loseAckBlock = 0;       // takes block k but its ACK is lost, once
  int ackTwiceBlock = 0;      // takes block k and acknowledges it twice, once
  bool cancelFirst = false;   // cancels (CAN CAN) instead of the first request
  int cancelBlock = 0;        // cancels (CAN CAN) instead of answering block k
  int ignoreEot = 0;          // lets this many EOT go unanswered
  bool ignoreEotAlways = false;
  int silentBlock = 0;        // at block k, falls silent for good (present, but mute)
  // Vanishes: closes its end of the line for good, as a pulled adapter does,
  // on the greeting, instead of its first request, or on the first EOT;
  // or on block k.
  enum class Vanish { kNever, kGreeting, kRequest, kEot };
  Vanish vanish = Vanish::kNever;
  int vanishBlock = 0;

  // --- The line -----------------------------------------------------------
  bool lineRate = false;  // 86.8 us a byte, both directions
  int replyDelayUs = 0;   // added before every reply (16000 for a common USB adapter)

  // --- Output ---------------------------------------------------------------
  std::string outputPath;  // if set, every transfer's bytes are written here
  bool verbose = false;    // one line per event on stderr
};

// How a transfer ended.
enum class TransferEnd {
  kCompleted,        // EOT acknowledged
  kUnitCancelled,    // the unit sent CAN CAN (an option asked for it)
  kSenderCancelled,  // the sender sent CAN CAN
  kNoBlock,          // no block came after all requests, or a command line did
  kTimedOut,         // too many silent block time-outs; the unit cancelled
  kFellSilent,       // the unit fell silent (an option asked for it)
};
const char* Describe(TransferEnd end);

struct Transfer {
  TransferEnd end = TransferEnd::kNoBlock;
  bool crc = true;            // CRC-16 (C) or checksum (NAK) requested
  int requestsSent = 0;       // C or NAK before the first block
  int blocksAccepted = 0;
  int duplicatesDropped = 0;  // blocks repeated by the sender, ACKed and dropped
  int naksSent = 0;           // for bad or refused blocks and for time-outs
  int eotsIgnored = 0;
  // The data areas of the accepted blocks, in order and as received: a
  // package of L bytes gives ceil(L / 128) * 128 bytes, padding included.
  std::vector<std::uint8_t> data;
};

// Bytes that crossed the line since the unit started.
struct LineCounts {
  std::uint64_t received = 0;  // from the link
  std::uint64_t sent = 0;      // to the link
};

class SimUnit {
 public:
  explicit SimUnit(Options options);
  // Stops the unit and removes the links it placed.
  ~SimUnit();
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;

  // Opens the pseudo-terminal, configures it raw and starts the unit's
  // thread. False with *error set when that fails. Call once.
  bool Start(std::string* error);

  // The slave side's device path (such as /dev/pts/3), once started.
  const std::string& DevicePath() const { return devicePath_; }

  // Places <configHome>/pantoline/ports/com<n> -> DevicePath(), creating
  // folders as needed and replacing a link that was there. An empty
  // configHome means $XDG_CONFIG_HOME, else ~/.config. False with *error
  // on failure, and when something other than a link has that name.
  bool PlacePortLink(int n, const std::string& configHome, std::string* error);
  // Places <prefix>/dosdevices/com<n> -> DevicePath(), likewise.
  bool PlaceWineLink(const std::string& prefix, int n, std::string* error);
  // Removes the links placed, where they still point at this unit, and
  // puts back the links they replaced.
  void RemoveLinks();

  struct PlacedLink {
    std::string path;
    std::string previous;  // the target of the link it replaced, or empty
  };

  // Ends the unit's thread; idempotent. The pseudo-terminal closes with
  // the object.
  void Stop();

  // Waits until `count` transfers have ended (a transfer starts with the
  // echo of "QV5-3") and copies the last into *last. False on time-out.
  bool WaitForTransfers(int count, int timeoutMs, Transfer* last);
  // Transfers ended so far, and those of them that completed.
  int TransfersEnded() const;
  int TransfersCompleted() const;

  // When the unit vanished (monotonic clock, ns), 0 while it has not.
  std::int64_t VanishedNs() const { return vanishedNs_.load(); }

  // Lock-free and allocation-free: may be read from a progress receiver.
  LineCounts Counts() const {
    return {received_.load(std::memory_order_relaxed), sent_.load(std::memory_order_relaxed)};
  }

  // One byte on the unit's line, to the nearest nanosecond.
  static constexpr std::int64_t kByteNs =
      (std::int64_t{1'000'000'000} * kLineBitsPerByte + kUnitBaud / 2) / kUnitBaud;

 private:
  class Engine;

  void Publish(Transfer&& transfer);
  // Closes both ends of the pseudo-terminal on the unit's thread and ends it.
  void Hangup(std::int64_t atNs);

  const Options options_;
  int master_ = -1;
  int slave_ = -1;  // held open so that the master never sees a hang-up
  int wake_ = -1;   // eventfd that interrupts the thread's waits
  std::string devicePath_;
  std::vector<PlacedLink> links_;
  std::unique_ptr<Engine> engine_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::int64_t> vanishedNs_{0};
  std::atomic<std::uint64_t> received_{0};
  std::atomic<std::uint64_t> sent_{0};

  mutable std::mutex mutex_;
  std::condition_variable ended_;
  int transfersEnded_ = 0;
  int transfersCompleted_ = 0;
  Transfer last_;
};

}  // namespace pantoline::simunit
