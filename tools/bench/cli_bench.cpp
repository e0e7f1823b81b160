// pantoline-cli-bench: what resetting several units at once costs.
//
// Runs pantoline-cli twice on a pseudo-terminal of its own, as a bench
// technician would watch it (the progress lines are drawn): first
// `reset` with one simulated unit alone, then `reset --all` with several,
// each unit running in this process at line rate (115200 baud 8N1) on a
// pseudo-terminal pinned as COM1, COM2, ... in a configuration folder of
// the run's own, where every other COMn is pinned to nothing, so that no
// real serial port is ever opened. For each run it takes the program's
// whole wall time, from its start to its exit, and its CPU time (user and
// system, all threads), and checks that every unit received the package
// intact.
#include <pty.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "reset/reset_procedure.h"
#include "tools/bench/bench_package.h"
#include "tools/simunit/sim_unit.h"

namespace {

using pantoline::bench::NowSeconds;

namespace fs = std::filesystem;
namespace simunit = pantoline::simunit;

constexpr double kWallGoal = 1.05;       // --all against one unit alone
constexpr double kCpuGoalPercent = 1.0;  // per unit, of the run's wall time
constexpr int kSearchedPorts = 32;

struct Run {
  int status = -1;  // the program's exit status; -1 when it did not exit
  double wall = 0;  // seconds
  double cpu = 0;   // seconds, user and system
  int intact = 0;   // units that received the package whole
  std::string screen;  // what the terminal showed, raw
};

// The unit holds ceil(L / 128) blocks: the package, then one pad byte 26
// and zeros.
bool Intact(const std::vector<std::uint8_t>& package, const simunit::Transfer& got) {
  std::vector<std::uint8_t> padded = package;
  if (padded.size() % 128 != 0) {
    padded.push_back(26);
    padded.resize((padded.size() + 127) / 128 * 128, 0);
  }
  return got.end == simunit::TransferEnd::kCompleted && got.data == padded;
}

// Starts `units` simulated units as COM1 onwards in `folder`'s
// configuration and runs `cli` with `arguments` on a pseudo-terminal of 80
// columns until it exits.
Run RunCli(const std::string& cli, const std::vector<const char*>& arguments, int units,
           const std::vector<std::uint8_t>& package, const std::string& folder) {
  Run run;
  simunit::Options options;
  options.lineRate = true;
  std::vector<std::unique_ptr<simunit::SimUnit>> sims;
  for (int n = 1; n <= units; ++n) {
    auto unit = std::make_unique<simunit::SimUnit>(options);
    std::string error;
    if (!unit->Start(&error) || !unit->PlacePortLink(n, folder, &error)) {
      std::fprintf(stderr, "pantoline-cli-bench: %s\n", error.c_str());
      return run;
    }
    sims.push_back(std::move(unit));
  }
  std::vector<char*> argv{const_cast<char*>(cli.c_str())};
  for (const char* a : arguments) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);

  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  int terminal = -1;
  const double start = NowSeconds();
  const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
  if (child < 0) {
    std::perror("pantoline-cli-bench: forkpty");
    return run;
  }
  if (child == 0) {
    setenv("TERM", "xterm", 1);
    execv(argv[0], argv.data());
    std::perror("pantoline-cli-bench: exec");
    _exit(127);
  }
  // Read what the terminal shows until the program has gone (EIO).
  char buffer[4096];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) != 0;) {
    if (got > 0) {
      run.screen.append(buffer, static_cast<std::size_t>(got));
    } else if (errno != EINTR) {
      break;
    }
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  run.wall = NowSeconds() - start;
  close(terminal);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (auto& unit : sims) {
    simunit::Transfer received;
    run.intact += unit->WaitForTransfers(1, 10'000, &received) && Intact(package, received);
    unit->Stop();
    unit->RemoveLinks();
  }
  return run;
}

const char* Verdict(bool pass) { return pass ? "PASS" : "MISS"; }

constexpr char kHelp[] = R"(Usage: pantoline-cli-bench [OPTION]...
Runs pantoline-cli on a pseudo-terminal: `reset` with one simulated unit
alone, then `reset --all` with several at once, all at line rate (115200
baud 8N1), and prints each run's wall time and CPU time. With the default
458,751-byte package a run takes about 45 s, the two together 90 s.

  --units N      units for --all, 2 to 32 (default 4)
  --size BYTES   the package length, 1 to 458751 (default 458751)
  --cli EXE      the pantoline-cli to run (default the one of this build)
  --show         print what the terminal showed of each run, as it came
  --help         this text

Exit status 0 when every unit received the package intact and both goals
were met: --all takes at most 1.05 times one unit's wall time, and at most
1 % CPU per unit.
)";

}  // namespace

int main(int argc, char** argv) {
  int units = 4;
  std::int32_t size = pantoline::kPackageCapacity;
  std::string cli = PANTOLINE_CLI_PATH;
  bool show = false;
  enum : int { kUnits = 256, kSize, kCli, kShow };
  constexpr pantoline::CommandOption kOptions[] = {
      {"units", true, kUnits}, {"size", true, kSize}, {"cli", true, kCli}, {"show", false, kShow}};
  auto take = [&](int id, const char* text) {
    if (id == kCli) {
      cli = fs::absolute(text).string();
      return true;
    }
    if (id == kShow) {
      return show = true;
    }
    const std::string_view digits = text;
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    const int most = id == kUnits ? kSearchedPorts : pantoline::kPackageCapacity;
    const int least = id == kUnits ? 2 : 1;
    if (ec != std::errc() || end != digits.data() + digits.size() || value < least || value > most) {
      std::fprintf(stderr, "pantoline-cli-bench: --%s must be %d to %d, not %s\n", id == kUnits ? "units" : "size",
                   least, most, text);
      return false;
    }
    (id == kUnits ? units : size) = value;
    return true;
  };
  if (const auto status = pantoline::ParseCommandLine(argc, argv, kOptions, kHelp, take)) {
    return *status;
  }

  std::string folder = (fs::temp_directory_path() / "pantoline-cli-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("pantoline-cli-bench: mkdtemp");
    return 2;
  }
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  // Every COMn pinned to nothing; the units replace their own pins.
  fs::create_directories(fs::path(folder) / "pantoline" / "ports");
  for (int n = 1; n <= kSearchedPorts; ++n) {
    fs::create_symlink(fs::path(folder) / "no-device",
                       fs::path(folder) / "pantoline" / "ports" / ("com" + std::to_string(n)));
  }
  const std::vector<std::uint8_t> package = pantoline::bench::MakePackage(size);
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  std::ofstream("ResetPack.qv5", std::ios::binary)
      .write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));

  const Run one = RunCli(cli, {"reset"}, 1, package, folder);
  const Run all = RunCli(cli, {"reset", "--all"}, units, package, folder);
  fs::current_path(previous);
  fs::remove_all(folder);
  if (show) {
    std::printf("--- pantoline-cli reset (one unit)\n%s--- pantoline-cli reset --all (%d units)\n%s---\n",
                one.screen.c_str(), units, all.screen.c_str());
  }

  const double ratio = one.wall > 0 ? all.wall / one.wall : 0;
  const double cpuPercent = all.wall > 0 ? 100 * all.cpu / units / all.wall : 0;
  const bool whole = one.status == 0 && all.status == 0 && one.intact == 1 && all.intact == units;
  std::printf("pantoline-cli-bench: %d bytes at line rate (115200 8N1), pantoline-cli on a terminal\n", size);
  std::printf("  reset, one unit      exit %d, %d of 1 intact    wall %7.3f s   CPU %.3f s = %.2f %%\n", one.status,
              one.intact, one.wall, one.cpu, one.wall > 0 ? 100 * one.cpu / one.wall : 0);
  std::printf("  reset --all, %2d      exit %d, %d of %d intact   wall %7.3f s   CPU %.3f s\n", units, all.status,
              all.intact, units, all.wall, all.cpu);
  std::printf("  wall time            %.4f x one unit's         goal <= %.2f   %s\n", ratio, kWallGoal,
              Verdict(whole && ratio <= kWallGoal));
  std::printf("  CPU per unit         %.3f s = %.3f %% of the wall time   goal <= %.0f %%   %s\n", all.cpu / units,
              cpuPercent, kCpuGoalPercent, Verdict(whole && cpuPercent <= kCpuGoalPercent));
  if (!whole) {
    std::printf("  NOT every unit was updated: see --show\n");
  }
  return whole && ratio <= kWallGoal && cpuPercent <= kCpuGoalPercent ? 0 : 1;
}
