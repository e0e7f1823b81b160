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
namespace simunit = pantoline::simunit;

constexpr double kLineBytesPerSecond = 11'520;  // 115200 baud, 10 bits a byte
constexpr double kRatioGoal = 1.02;
constexpr double kCpuGoalPercent = 2.0;

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

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
};

void OnProgress(void* context, std::int32_t bytes, std::int32_t /*serial*/) {
  auto* m = static_cast<Measure*>(context);
  ++m->reports;
  if (bytes == 0) {
    m->startCounts = m->unit->Counts();
    m->startCpuNs = ThreadCpuNs();
    m->startNs = NowNs();
    gAllocations = 0;
    tCountAllocations = true;
  } else if (bytes == -1) {
    tCountAllocations = false;
    m->endNs = NowNs();
    m->endCpuNs = ThreadCpuNs();
    m->endCounts = m->unit->Counts();
  } else {
    m->lastCount = bytes;
  }
}

// The same bytes on every run: xorshift32 from a fixed seed.
std::vector<std::uint8_t> MakePackage(std::int32_t size) {
  std::vector<std::uint8_t> package(static_cast<std::size_t>(size));
  std::uint32_t state = 0x2545F491;
  for (std::uint8_t& byte : package) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return package;
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

constexpr char kHelp[] = R"(Usage: pantoline-bench [OPTION]...
Loads a 458,751-byte package through FindDevice and LoadPackage into the
simulated unit running at line rate (115200 baud 8N1) on a pseudo-terminal,
and prints how the transfer compares with the line. A run takes about 42 s.

  --reply-delay-ms MS  the unit waits MS before every reply (16 is a common
                       USB adapter's latency; the ratio goal then cannot hold)
  --checksum           the unit asks for the 8-bit checksum instead of CRC-16
  --size BYTES         another package length
  --help               this text

Exit status 0 when the package arrived intact and every goal was met.
)";

}  // namespace

int main(int argc, char** argv) {
  simunit::Options options;
  options.lineRate = true;
  std::int32_t size = pantoline::kPackageCapacity;  // the largest reset package
  enum : int { kChecksum = 256, kReplyDelayMs, kSize };
  constexpr pantoline::CommandOption kOptions[] = {
      {"reply-delay-ms", true, kReplyDelayMs},
      {"checksum", false, kChecksum},
      {"size", true, kSize},
  };
  auto take = [&](int id, const char* text) {
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

  const std::vector<std::uint8_t> package = MakePackage(size);
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
  return intact && ratioPass && cpuPass && allocPass ? 0 : 1;
}
