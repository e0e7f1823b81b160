// pantoline-simunit: a simulated Lodestria unit on a pseudo-terminal, for
// trying Pantoline without a unit and for driving its failure paths.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/simunit/sim_unit.h"

namespace {

using pantoline::simunit::Answer;
using pantoline::simunit::Options;
using pantoline::simunit::SimUnit;

constexpr char kHelp[] = R"(Usage: pantoline-simunit [OPTION]...
Plays a Lodestria unit on a new pseudo-terminal. Prints the terminal's device
path as the first line on standard output, then serves the link until SIGINT
or SIGTERM (or, with --once, until one transfer has completed) and removes the
links it placed. Options take their value as --name=VALUE or --name VALUE.

Where Pantoline finds the unit:
  --port N                place <config>/pantoline/ports/comN -> the device, so
                          that Pantoline on Linux finds it as "\\.\ComN"
  --config-home DIR       <config> for --port (default $XDG_CONFIG_HOME, else
                          ~/.config)
  --wine-prefix DIR       with --wine-port: place DIR/dosdevices/comN -> the
  --wine-port N           device, for Pantoline.exe under Wine
                          (a comN already there is replaced)

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
  cat DEVICE | od -c &  printf 'SA-28\n\r' > DEVICE
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
  int port = 0;
  std::string configHome;
  std::string winePrefix;
  int winePort = 0;
  bool once = false;
  int nakTimes = 1;
};

// Returns 0 to run, 1 after --help, 2 on a usage error (reported).
int Parse(int argc, char** argv, Command* c) {
  Options& o = c->options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool hasValue = false;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    }
    auto flag = [&](std::string_view name, bool* target) {
      if (arg != name || hasValue) {
        return false;
      }
      *target = true;
      return true;
    };
    // Takes the option's value from "=VALUE" or from the next argument.
    auto takeValue = [&](std::string_view name) {
      if (arg != name) {
        return false;
      }
      if (!hasValue) {
        if (i + 1 >= argc) {
          return false;
        }
        value = argv[++i];
        hasValue = true;
      }
      return true;
    };
    auto number = [&](std::string_view name, int* target, bool* bad) {
      if (!takeValue(name)) {
        return false;
      }
      *bad = !ParseInt(value, target);
      return true;
    };
    auto answer = [&](std::string_view name, Answer* target, bool* bad) {
      if (!takeValue(name)) {
        return false;
      }
      *bad = !ParseAnswer(value, target);
      return true;
    };
    bool bad = false;
    int replyDelayMs = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 1;
    }
    if (flag("--checksum", &o.checksum) || flag("--never-ask", &o.neverAsk) ||
        flag("--cancel-first", &o.cancelFirst) ||
        flag("--ignore-eot-always", &o.ignoreEotAlways) || flag("--line-rate", &o.lineRate) ||
        flag("--verbose", &o.verbose) || flag("--once", &c->once)) {
      continue;
    }
    if (answer("--greeting", &o.greeting, &bad) || answer("--echo", &o.echo, &bad) ||
        number("--port", &c->port, &bad) || number("--wine-port", &c->winePort, &bad) ||
        number("--split-gap-ms", &o.splitGapMs, &bad) || number("--late-ms", &o.lateMs, &bad) ||
        number("--first-request-ms", &o.firstRequestMs, &bad) ||
        number("--request-interval-ms", &o.requestIntervalMs, &bad) ||
        number("--requests", &o.requests, &bad) ||
        number("--block-timeout-ms", &o.blockTimeoutMs, &bad) ||
        number("--block-timeouts", &o.blockTimeouts, &bad) ||
        number("--nak-block", &o.nakBlock, &bad) || number("--nak-times", &c->nakTimes, &bad) ||
        number("--lose-ack", &o.loseAckBlock, &bad) ||
        number("--cancel-block", &o.cancelBlock, &bad) ||
        number("--ignore-eot", &o.ignoreEot, &bad) ||
        number("--silent-block", &o.silentBlock, &bad) ||
        number("--vanish-block", &o.vanishBlock, &bad)) {
      if (bad) {
        std::fprintf(stderr, "pantoline-simunit: bad value \"%.*s\" for %.*s\n",
                     static_cast<int>(value.size()), value.data(), static_cast<int>(arg.size()),
                     arg.data());
        return 2;
      }
      continue;
    }
    if (number("--reply-delay-ms", &replyDelayMs, &bad)) {
      if (bad) {
        std::fprintf(stderr, "pantoline-simunit: bad value for --reply-delay-ms\n");
        return 2;
      }
      o.replyDelayUs = replyDelayMs * 1000;
      continue;
    }
    if (takeValue("--config-home")) {
      c->configHome = value;
      continue;
    }
    if (takeValue("--wine-prefix")) {
      c->winePrefix = value;
      continue;
    }
    if (takeValue("--output")) {
      o.outputPath = value;
      continue;
    }
    std::fprintf(stderr,
                 "pantoline-simunit: unknown option or missing value: %s\n"
                 "Try 'pantoline-simunit --help'.\n",
                 argv[i]);
    return 2;
  }
  o.nakTimes = o.nakBlock > 0 ? c->nakTimes : 0;
  if (c->winePrefix.empty() != (c->winePort == 0)) {
    std::fprintf(stderr, "pantoline-simunit: --wine-prefix and --wine-port go together\n");
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Command command;
  if (const int parsed = Parse(argc, argv, &command); parsed != 0) {
    return parsed == 1 ? 0 : 2;
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
