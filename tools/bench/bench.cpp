// pantoline-bench: how close the link's package transfer comes to the line.
//
// Loads a reset package of 458,751 pseudo-random bytes through FindDevice
// and LoadPackage into the simulated unit, which runs in this process on a
// thread of its own in line-rate mode: it takes in and gives out bytes no
// faster than 115200 baud 8N1 carries them. The measured span is
// XmodemSend's, from its start report (progress 0) to its end report (-1),
// both seen by the progress receiver on the sending thread. Within it the
// benchmark takes the wall time, the bytes that crossed the line in both
// directions (counted by the unit), the sending thread's CPU time and the
// allocations the sending thread made (global operator new is replaced
// below and counts only between the two reports).
//
// With --wine, the same transfer is then made by the Windows program's link
// under Wine (pantoline-bench-load.exe, built by the Windows build), with
// the unit on COM1 of a Wine prefix, and its time is set beside the Linux
// one against the same line-rate bound. With --wine-dialog as well, the
// Windows program's own dialog then makes a whole reset under Wine
// (pantoline-bench-dialog.exe), and its transfer is set beside the link's.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "link/device_link.h"
#include "reset/reset_procedure.h"
#include "tools/bench/bench_package.h"
#include "tools/simunit/sim_unit.h"

namespace {

// Set by the progress receiver, so only on the sending thread: the unit's
// own thread may allocate as it pleases.
thread_local bool tCountAllocations = false;
std::uint64_t gAllocations = 0;  // touched only where tCountAllocations is set

void* CountedAllocation(std::size_t size) {
  if (tCountAllocations) {
    ++gAllocations;
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using pantoline::DeviceLink;
using pantoline::ResultCode;
using pantoline::MonotonicNs;
namespace simunit = pantoline::simunit;

constexpr double kLineBytesPerSecond = pantoline::kUnitBytesPerSecond;
constexpr double kRatioGoal = 1.02;
constexpr double kCpuGoalPercent = 2.0;
// What the desktop dialog may add to the link's own transfer time under
// Wine: it takes the progress without making the transfer wait.
constexpr double kDialogGoalPercent = 0.5;

std::int64_t ThreadCpuNs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  auto ns = [](const timeval& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_usec * 1000; };
  return ns(usage.ru_utime) + ns(usage.ru_stime);
}

// What the progress receiver records; it must neither allocate nor block.
struct Measure {
  simunit::SimUnit* unit = nullptr;
  std::int64_t startNs = 0, endNs = 0;
  std::int64_t startCpuNs = 0, endCpuNs = 0;
  simunit::LineCounts startCounts, endCounts;
  std::int32_t lastCount = 0;
  int reports = 0;
  pantoline::bench::BlockTimes blocks;
};

void OnProgress(void* context, std::int32_t bytes, std::int32_t /*serial*/) {
  auto* m = static_cast<Measure*>(context);
  ++m->reports;
  m->blocks.Record(MonotonicNs());
  if (bytes == 0) {
    m->startCounts = m->unit->Counts();
    m->startCpuNs = ThreadCpuNs();
    m->startNs = MonotonicNs();
    gAllocations = 0;
    tCountAllocations = true;
  } else if (bytes == pantoline::kProgressEnded) {
    tCountAllocations = false;
    m->endNs = MonotonicNs();
    m->endCpuNs = ThreadCpuNs();
    m->endCounts = m->unit->Counts();
  } else {
    m->lastCount = bytes;
  }
}

// The unit holds ceil(L / 128) blocks: the package, then (after a short
// last chunk) one pad byte 26 and zeros.
bool Intact(const std::vector<std::uint8_t>& package, const std::vector<std::uint8_t>& got) {
  const std::size_t blocks = (package.size() + 127) / 128;
  if (got.size() != blocks * 128 || !std::equal(package.begin(), package.end(), got.begin())) {
    return false;
  }
  for (std::size_t i = package.size(); i < got.size(); ++i) {
    if (got[i] != (i == package.size() ? 26 : 0)) {
      return false;
    }
  }
  return true;
}

const char* Verdict(bool pass) { return pass ? "PASS" : "MISS"; }

// What the Wine run measured.
struct WineRun {
  bool ran = false;
  int found = -1, loaded = -1;
  double seconds = 0;
  double medianMs = 0;
  simunit::Transfer received;
};

// Loads the package with `exe` under Wine, in `prefix` (which must keep
// Wine's mount manager from mapping real ports, as the Windows tests'
// prefix does), with a fresh unit on its COM1.
WineRun RunUnderWine(const simunit::Options& options, const std::string& exe,
                     const std::string& prefix, std::int32_t size) {
  WineRun run;
  simunit::SimUnit unit(options);
  std::string error;
  if (!unit.Start(&error) || !unit.PlaceWineLink(prefix, 1, &error)) {
    std::fprintf(stderr, "pantoline-bench: %s\n", error.c_str());
    return run;
  }
  // Wine's own messages only when asked for with WINEDEBUG (its channels
  // with timestamps show where the time goes).
  const char* debug = std::getenv("WINEDEBUG");
  const bool traced = debug != nullptr && std::string_view(debug) != "-all";
  const std::string command = "WINEPREFIX='" + prefix + "' WINEDLLOVERRIDES='mscoree,mshtml=;mountmgr.sys=d' " +
                              "wine '" + exe + "' " + std::to_string(size) + (traced ? "" : " 2>/dev/null");
  if (std::FILE* output = popen(command.c_str(), "r")) {
    run.ran = std::fscanf(output, "found %d loaded %d seconds %lf median %lf", &run.found,
                          &run.loaded, &run.seconds, &run.medianMs) == 4;
    pclose(output);
  }
  if (run.ran && run.found == 0) {
    unit.WaitForTransfers(1, 10'000, &run.received);
  }
  unit.Stop();
  unit.RemoveLinks();
  return run;
}

constexpr char kHelp[] = R"(Usage: pantoline-bench [OPTION]...
Loads a 458,751-byte package through FindDevice and LoadPackage into the
simulated unit running at line rate (115200 baud 8N1) on a pseudo-terminal,
and prints how the transfer compares with the line. A run takes about 42 s.

  --reply-delay-ms MS  the unit waits MS before every reply (16 is a common
                       USB adapter's latency; the ratio goal then cannot hold)
  --checksum           the unit asks for the 8-bit checksum instead of CRC-16
  --size BYTES         another package length, 1 to 458751 (the largest the
                       program takes)
  --wine EXE           then the same with the Windows program's link under Wine:
                       EXE is pantoline-bench-load.exe of the Windows build, the
                       prefix $WINEPREFIX (the Windows tests' own serves)
  --wine-dialog EXE    with --wine, then a whole reset by the Windows program's
                       dialog under Wine: EXE is pantoline-bench-dialog.exe of
                       the Windows build; it needs a display (run the benchmark
                       through tests/gui_gtk/with_display.sh wine PREFIX)
  --help               this text

Exit status 0 when the package arrived intact and every goal was met.
)";

}  // namespace

int main(int argc, char** argv) {
  simunit::Options options;
  options.lineRate = true;
  std::int32_t size = pantoline::kPackageCapacity;  // the largest reset package
  std::string wineExe;
  std::string dialogExe;
  enum : int { kChecksum = 256, kReplyDelayMs, kSize, kWine, kWineDialog };
  constexpr pantoline::CommandOption kOptions[] = {
      {"reply-delay-ms", true, kReplyDelayMs},
      {"checksum", false, kChecksum},
      {"size", true, kSize},
      {"wine", true, kWine},
      {"wine-dialog", true, kWineDialog},
  };
  auto take = [&](int id, const char* text) {
    if (id == kWine || id == kWineDialog) {
      (id == kWine ? wineExe : dialogExe) = std::filesystem::absolute(text).string();
      return true;
    }
    if (id == kChecksum) {
      options.checksum = true;
      return true;
    }
    const std::string_view digits = text;
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value < 0) {
      std::fprintf(stderr, "pantoline-bench: bad value \"%s\"; see --help\n", text);
      return false;
    }
    if (id == kSize) {
      // An empty package measures nothing, and the program refuses one
      // beyond its buffer.
      if (value == 0 || value > pantoline::kPackageCapacity) {
        std::fprintf(stderr, "pantoline-bench: --size must be 1 to %d bytes, not %s\n",
                     static_cast<int>(pantoline::kPackageCapacity), text);
        return false;
      }
      size = value;
    } else {
      options.replyDelayUs = value * 1000;
    }
    return true;
  };
  if (const auto status = pantoline::ParseCommandLine(argc, argv, kOptions, kHelp, take)) {
    return *status;
  }

  // The unit is pinned as com1 in a configuration folder of the run's own,
  // so that no real serial port is ever opened.
  std::string folder = (std::filesystem::temp_directory_path() / "pantoline-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("pantoline-bench: mkdtemp");
    return 2;
  }
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

  simunit::SimUnit unit(options);
  std::string error;
  if (!unit.Start(&error) || !unit.PlacePortLink(1, folder, &error)) {
    std::fprintf(stderr, "pantoline-bench: %s\n", error.c_str());
    std::filesystem::remove_all(folder);
    return 2;
  }

  const char* winePrefix = std::getenv("WINEPREFIX");
  if (!wineExe.empty() && (winePrefix == nullptr || winePrefix[0] != '/')) {
    std::fprintf(stderr, "pantoline-bench: --wine needs WINEPREFIX, an absolute path\n");
    return 2;
  }
  if (!dialogExe.empty() && wineExe.empty()) {
    std::fprintf(stderr, "pantoline-bench: --wine-dialog goes with --wine; see --help\n");
    return 2;
  }
  const std::vector<std::uint8_t> package = pantoline::bench::MakePackage(size);
  Measure m;
  m.unit = &unit;
  ResultCode found = 0;
  ResultCode loaded = 0;
  {
    DeviceLink link;
    found = link.FindDevice();
    if (found == pantoline::QV5SUCCESS) {
      link.SetProgressCallback(&m, OnProgress);
      loaded = link.LoadPackage(package.data(), size);
    }
  }
  simunit::Transfer received;
  const bool ended = found == 0 && unit.WaitForTransfers(1, 10'000, &received);
  unit.Stop();
  unit.RemoveLinks();
  std::filesystem::remove_all(folder);

  if (found != pantoline::QV5SUCCESS) {
    std::printf("FindDevice did not find the simulated unit: result %d\n", found);
    return 1;
  }

  const double wallS = static_cast<double>(m.endNs - m.startNs) / 1e9;
  const std::uint64_t lineBytes = (m.endCounts.received - m.startCounts.received) +
                                  (m.endCounts.sent - m.startCounts.sent);
  const double boundS = static_cast<double>(lineBytes) / kLineBytesPerSecond;
  const double ratio = boundS > 0 ? wallS / boundS : 0;
  const double cpuS = static_cast<double>(m.endCpuNs - m.startCpuNs) / 1e9;
  const double cpuPercent = wallS > 0 ? 100 * cpuS / wallS : 0;
  const bool intact = ended && received.end == simunit::TransferEnd::kCompleted &&
                      Intact(package, received.data);
  const bool ratioPass = loaded == 0 && ratio <= kRatioGoal;
  const bool cpuPass = loaded == 0 && cpuPercent <= kCpuGoalPercent;
  const bool allocPass = loaded == 0 && gAllocations == 0;

  std::printf("pantoline-bench: LoadPackage into the simulated unit at line rate (115200 8N1)\n");
  std::printf("  package              %d bytes in %d blocks, %s, reply delay %d ms\n", size,
              (size + 127) / 128, options.checksum ? "checksum" : "CRC-16",
              options.replyDelayUs / 1000);
  std::printf("  LoadPackage          %d%s\n", loaded, loaded == 0 ? " (success)" : " (FAILED)");
  std::printf("  wall time            %.3f s   XmodemSend from its start report (0) to its end report (-1)\n",
              wallS);
  std::printf("  block and ACK        %.3f ms   median between progress reports; the line's own %.3f ms\n",
              m.blocks.MedianMs(), 1000 * ((options.checksum ? 132 : 133) + 1) / kLineBytesPerSecond);
  std::printf("  bytes on the line    %llu   both directions, counted by the unit (%llu in, %llu out)\n",
              static_cast<unsigned long long>(lineBytes),
              static_cast<unsigned long long>(m.endCounts.received - m.startCounts.received),
              static_cast<unsigned long long>(m.endCounts.sent - m.startCounts.sent));
  std::printf("  line-rate bound      %.3f s   those bytes at 11,520 bytes a second\n", boundS);
  std::printf("  ratio                %.4f    goal <= %.2f   %s\n", ratio, kRatioGoal,
              Verdict(ratioPass));
  std::printf("  sender CPU time      %.3f s = %.2f %% of wall time   goal <= %.0f %%   %s\n", cpuS,
              cpuPercent, kCpuGoalPercent, Verdict(cpuPass));
  std::printf("  allocations          %llu   by the sending thread during the transfer   goal 0   %s\n",
              static_cast<unsigned long long>(gAllocations), Verdict(allocPass));
  std::printf("  package intact       %s   (%d blocks accepted, %d repeats, %d NAKs)\n",
              intact ? "yes" : "NO", received.blocksAccepted, received.duplicatesDropped,
              received.naksSent);
  bool dialogPass = true;
  if (!wineExe.empty()) {
    const WineRun wine = RunUnderWine(options, wineExe, winePrefix, size);
    const bool wineIntact = wine.received.end == simunit::TransferEnd::kCompleted &&
                            Intact(package, wine.received.data);
    // Same package, same blocks: the same bytes on the line, unless either
    // run repeated a block.
    const bool sameBytes = wine.received.duplicatesDropped == received.duplicatesDropped &&
                           wine.received.naksSent == received.naksSent;
    const double wineRatio = boundS > 0 ? wine.seconds / boundS : 0;
    std::printf("pantoline-bench: the same with the Windows program's link under Wine (%s)\n",
                wineExe.c_str());
    if (!wine.ran || wine.found != 0 || wine.loaded != 0) {
      std::printf("  FindDevice %d, LoadPackage %d: no figure\n", wine.found, wine.loaded);
      return 1;
    }
    std::printf("  wall time            %.3f s   Linux %.3f s\n", wine.seconds, wallS);
    std::printf("  block and ACK        %.3f ms   Linux %.3f ms\n", wine.medianMs, m.blocks.MedianMs());
    std::printf("  ratio                %.4f    against the line-rate bound above%s; Linux %.4f\n",
                wineRatio, sameBytes ? "" : " (NOT the same bytes: blocks were repeated)", ratio);
    std::printf("  package intact       %s   (%d blocks accepted, %d repeats, %d NAKs)\n",
                wineIntact ? "yes" : "NO", wine.received.blocksAccepted,
                wine.received.duplicatesDropped, wine.received.naksSent);
    if (!wineIntact) {
      return 1;
    }
    if (!dialogExe.empty()) {
      const WineRun dialog = RunUnderWine(options, dialogExe, winePrefix, size);
      const bool dialogIntact = dialog.received.end == simunit::TransferEnd::kCompleted &&
                                Intact(package, dialog.received.data);
      const double dialogRatio = boundS > 0 ? dialog.seconds / boundS : 0;
      const double addsPercent = wineRatio > 0 ? 100 * (dialogRatio / wineRatio - 1) : 0;
      std::printf("pantoline-bench: a whole reset by the Windows program's dialog under Wine (%s)\n",
                  dialogExe.c_str());
      if (!dialog.ran || dialog.found != 0 || !dialogIntact) {
        std::printf("  the reset did not load the unit: no figure\n");
        return 1;
      }
      std::printf("  wall time            %.3f s   on the window's thread, \"0 bytes Sent\" to \"-1 bytes Sent\"\n",
                  dialog.seconds);
      std::printf("  progress shown       every %.1f ms   median between two progress texts\n", dialog.medianMs);
      std::printf("  ratio                %.4f    link only under Wine %.4f: the dialog adds %.2f %%   goal <= %.1f %%   %s\n",
                  dialogRatio, wineRatio, addsPercent, kDialogGoalPercent, Verdict(addsPercent <= kDialogGoalPercent));
      dialogPass = addsPercent <= kDialogGoalPercent;
    }
  }
  return intact && ratioPass && cpuPass && allocPass && dialogPass ? 0 : 1;
}
