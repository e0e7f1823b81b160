// pantoline-simunit: a simulated Lodestria unit on a pseudo-terminal, for
// trying Pantoline without a unit and for driving its failure paths.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "tools/simunit/sim_unit.h"

namespace {

using pantoline::simunit::Answer;
using pantoline::simunit::Options;
using pantoline::simunit::SimUnit;

constexpr char kHelp[] = R"(Usage: pantoline-simunit [OPTION]...
Plays a Lodestria unit on a new pseudo-terminal. Prints the terminal's device
path as the first line on standard output, then serves the link until SIGINT
or SIGTERM (or, with --once, until one transfer has completed), removes the
links it placed and puts back those they replaced. Options take their value
as --name=VALUE or --name VALUE.

Where Pantoline finds the unit:
  --port N                place <config>/pantoline/ports/comN -> the device, so
                          that Pantoline on Linux finds it as "\\.\ComN"
                          (N from 1 to 32, the ports Pantoline searches)
  --config-home DIR       <config> for --port (default $XDG_CONFIG_HOME, else
                          ~/.config)
  --wine-prefix DIR       with --wine-port: place DIR/dosdevices/comN -> the
  --wine-port N           device, for Pantoline.exe under Wine (DIR must
                          exist; N from 1 to 32)
                          (a comN link already there is put back at the end)

Command lines (text, LF, CR). MODE is normal, silent, wrong (lower case),
split (two pieces) or late:
  --greeting MODE         how "SA-28" is answered with "SA-77" (default normal)
  --echo MODE             how "QV5-3" and "QV5-9" are echoed (default normal)
  --split-gap-ms MS       split: pause between the pieces (default 100)
  --late-ms MS            late: delay of the answer (default 6000)

XModem receiver, after echoing "QV5-3":
  --checksum              ask with NAK for the 8-bit checksum (default: ask
                          with C for CRC-16)
  --first-request-ms MS   from the echo to the first request (default 1100)
  --request-interval-ms MS  between requests until a block starts (default 1000)
  --requests N            requests before giving up (default 10)
  --block-timeout-ms MS   silence while a block is due, then NAK (default 10000)
  --block-timeouts N      such NAKs in a row, then cancel (default 10)
  --output FILE           write each transfer's bytes to FILE: the data areas of
                          the accepted blocks as received, padding included
  --once                  exit after one completed transfer

Misbehaviour (K counts the blocks of a transfer from 1):
  --never-ask             never ask for the package
  --nak-block K           NAK block K ...
  --nak-times N           ... N times before accepting it (default 1)
  --lose-ack K            accept block K but lose its ACK, once (the block
                          time-out's NAK then has the link send it again)
  --ack-twice K           accept block K and acknowledge it twice (ACK ACK),
                          once: the second ACK is no answer to block K+1
  --cancel-first          cancel (CAN CAN) instead of the first request
  --cancel-block K        cancel (CAN CAN) instead of answering block K
  --ignore-eot N          leave the first N EOT unanswered (the block
                          time-out's NAK asks for the next)
  --ignore-eot-always     never answer EOT
  --silent-block K        fall silent for good at block K
  --vanish-block K        close the line for good at block K, as a pulled
                          adapter does
The link waits minutes for a request or an answer before it gives up, so
--never-ask and --silent-block keep it busy for that long.

The line:
  --line-rate             take in and send bytes no faster than 115200 baud
                          8N1 carries them (86.8 us a byte)
  --reply-delay-ms MS     wait MS before every reply (16 is a common USB
                          adapter's latency)
  --verbose               one line per event on standard error
  --help                  this text

By hand: start it with --verbose, then in another terminal
  head -c 7 DEVICE | od -c &  printf 'SA-28\n\r' > DEVICE
shows the answer "SA-77\n\r".
)";

bool ParseInt(std::string_view text, int* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && *value >= 0;
}

bool ParseAnswer(std::string_view text, Answer* how) {
  constexpr std::pair<std::string_view, Answer> kModes[] = {
      {"normal", Answer::kNormal}, {"silent", Answer::kSilent}, {"wrong", Answer::kWrong},
      {"split", Answer::kSplit},   {"late", Answer::kLate},
  };
  for (const auto& [name, mode] : kModes) {
    if (text == name) {
      *how = mode;
      return true;
    }
  }
  return false;
}

struct Command {
  Options options;
  int port = 0;  // 0: none
  std::string configHome;
  std::string winePrefix;
  int winePort = 0;  // 0: none
  bool once = false;
  int nakTimes = 1;
};

enum Id : int {
  kChecksum = 256, kNeverAsk, kCancelFirst, kIgnoreEotAlways, kLineRate, kVerbose, kOnce,
  kGreeting, kEcho, kPort, kWinePort, kSplitGapMs, kLateMs, kFirstRequestMs,
  kRequestIntervalMs, kRequests, kBlockTimeoutMs, kBlockTimeouts, kNakBlock, kNakTimes,
  kLoseAck, kAckTwice, kCancelBlock, kIgnoreEot, kSilentBlock, kVanishBlock, kReplyDelayMs, kConfigHome,
  kWinePrefix, kOutput,
};

constexpr pantoline::CommandOption kOptions[] = {
    {"checksum", false, kChecksum},
    {"never-ask", false, kNeverAsk},
    {"cancel-first", false, kCancelFirst},
    {"ignore-eot-always", false, kIgnoreEotAlways},
    {"line-rate", false, kLineRate},
    {"verbose", false, kVerbose},
    {"once", false, kOnce},
    {"greeting", true, kGreeting},
    {"echo", true, kEcho},
    {"port", true, kPort},
    {"wine-port", true, kWinePort},
    {"split-gap-ms", true, kSplitGapMs},
    {"late-ms", true, kLateMs},
    {"first-request-ms", true, kFirstRequestMs},
    {"request-interval-ms", true, kRequestIntervalMs},
    {"requests", true, kRequests},
    {"block-timeout-ms", true, kBlockTimeoutMs},
    {"block-timeouts", true, kBlockTimeouts},
    {"nak-block", true, kNakBlock},
    {"nak-times", true, kNakTimes},
    {"lose-ack", true, kLoseAck},
    {"ack-twice", true, kAckTwice},
    {"cancel-block", true, kCancelBlock},
    {"ignore-eot", true, kIgnoreEot},
    {"silent-block", true, kSilentBlock},
    {"vanish-block", true, kVanishBlock},
    {"reply-delay-ms", true, kReplyDelayMs},
    {"config-home", true, kConfigHome},
    {"wine-prefix", true, kWinePrefix},
    {"output", true, kOutput},
};

// Stores one option's value; false (reported) when the value is refused.
bool Take(Command* c, int id, const char* text) {
  Options& o = c->options;
  int* number = nullptr;
  switch (id) {
    case kChecksum: o.checksum = true; return true;
    case kNeverAsk: o.neverAsk = true; return true;
    case kCancelFirst: o.cancelFirst = true; return true;
    case kIgnoreEotAlways: o.ignoreEotAlways = true; return true;
    case kLineRate: o.lineRate = true; return true;
    case kVerbose: o.verbose = true; return true;
    case kOnce: c->once = true; return true;
    case kConfigHome: c->configHome = text; return true;
    case kWinePrefix: c->winePrefix = text; return true;
    case kOutput: o.outputPath = text; return true;
    case kGreeting:
    case kEcho:
      if (ParseAnswer(text, id == kGreeting ? &o.greeting : &o.echo)) {
        return true;
      }
      break;
    case kReplyDelayMs: {
      int ms = 0;
      if (ParseInt(text, &ms)) {
        o.replyDelayUs = ms * 1000;
        return true;
      }
      break;
    }
    case kPort: number = &c->port; break;
    case kWinePort: number = &c->winePort; break;
    case kSplitGapMs: number = &o.splitGapMs; break;
    case kLateMs: number = &o.lateMs; break;
    case kFirstRequestMs: number = &o.firstRequestMs; break;
    case kRequestIntervalMs: number = &o.requestIntervalMs; break;
    case kRequests: number = &o.requests; break;
    case kBlockTimeoutMs: number = &o.blockTimeoutMs; break;
    case kBlockTimeouts: number = &o.blockTimeouts; break;
    case kNakBlock: number = &o.nakBlock; break;
    case kNakTimes: number = &c->nakTimes; break;
    case kLoseAck: number = &o.loseAckBlock; break;
    case kAckTwice: number = &o.ackTwiceBlock; break;
    case kCancelBlock: number = &o.cancelBlock; break;
    case kIgnoreEot: number = &o.ignoreEot; break;
    case kSilentBlock: number = &o.silentBlock; break;
    case kVanishBlock: number = &o.vanishBlock; break;
  }
  // Pantoline searches COM1 to COM32 only; a pin elsewhere would never be
  // found.
  const bool port = id == kPort || id == kWinePort;
  if (number != nullptr && ParseInt(text, number) && (!port || (*number >= 1 && *number <= 32))) {
    return true;
  }
  for (const auto& option : kOptions) {
    if (option.id == id) {
      std::fprintf(stderr, "pantoline-simunit: bad value \"%s\" for --%s%s\n", text, option.name,
                   port ? " (a port from 1 to 32)" : "");
    }
  }
  return false;
}

// Nothing to run, or the status to exit with (0 after --help, 2 on a
// usage error, reported).
std::optional<int> Parse(int argc, char** argv, Command* c) {
  auto take = [c](int id, const char* value) { return Take(c, id, value); };
  if (auto status = pantoline::ParseCommandLine(argc, argv, kOptions, kHelp, take)) {
    return status;
  }
  Options& o = c->options;
  o.nakTimes = o.nakBlock > 0 ? c->nakTimes : 0;
  if (c->winePrefix.empty() != (c->winePort == 0)) {
    std::fprintf(stderr, "pantoline-simunit: --wine-prefix and --wine-port go together\n");
    return 2;
  }
  // A mistyped prefix would otherwise be made, and Wine never looks there.
  std::error_code error;
  if (!c->winePrefix.empty() && !std::filesystem::is_directory(c->winePrefix, error)) {
    std::fprintf(stderr, "pantoline-simunit: no Wine prefix \"%s\" (--wine-prefix)\n", c->winePrefix.c_str());
    return 2;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Command command;
  if (const std::optional<int> status = Parse(argc, argv, &command)) {
    return *status;
  }

  // Blocked before the unit's thread starts, so that only the wait below
  // takes them: the thread is never interrupted in the middle of a pace.
  // Blocked signals stay pending even where the shell that started the
  // program in the background set SIGINT to be ignored.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SimUnit unit(command.options);
  std::string error;
  if (!unit.Start(&error)) {
    std::fprintf(stderr, "pantoline-simunit: %s\n", error.c_str());
    return 1;
  }
  if (command.port != 0 && !unit.PlacePortLink(command.port, command.configHome, &error)) {
    std::fprintf(stderr, "pantoline-simunit: %s\n", error.c_str());
    return 1;
  }
  if (command.winePort != 0 &&
      !unit.PlaceWineLink(command.winePrefix, command.winePort, &error)) {
    std::fprintf(stderr, "pantoline-simunit: %s\n", error.c_str());
    return 1;  // the unit's destructor removes the port link placed above
  }
  // Printed once the links are in place: whoever reads the line may use
  // them at once.
  std::printf("%s\n", unit.DevicePath().c_str());
  std::fflush(stdout);

  const timespec poll{0, 100'000'000};
  for (;;) {
    if (sigtimedwait(&stopSignals, nullptr, &poll) > 0) {
      break;
    }
    if (command.once && unit.TransfersCompleted() > 0) {
      break;
    }
  }
  unit.Stop();
  unit.RemoveLinks();
  return 0;
}
