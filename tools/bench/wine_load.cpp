// pantoline-bench-load.exe: the Windows program's side of the benchmark's
// Wine run. The benchmark starts it under Wine with the simulated unit on
// COM1; it finds the unit and loads the benchmark's package with the link
// of the Windows program, and prints one line:
//   found F loaded L seconds S median M
// F and L being FindDevice's and LoadPackage's results, S the time from
// the transfer's start report (progress 0) to its end report (-1), M the
// median time in ms between two progress reports.
#include <cstdio>
#include <cstdlib>

#include "link/device_link.h"
#include "tools/bench/bench_package.h"

namespace {

struct Span {
  std::int64_t startNs = 0, endNs = 0;
  pantoline::bench::BlockTimes blocks;
};

void OnProgress(void* context, std::int32_t bytes, std::int32_t /*serial*/) {
  auto* span = static_cast<Span*>(context);
  const std::int64_t now = pantoline::MonotonicNs();
  if (bytes == 0) {
    span->startNs = now;
  } else if (bytes == pantoline::kProgressEnded) {
    span->endNs = now;
  }
  span->blocks.Record(now);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: pantoline-bench-load.exe BYTES\n", stderr);
    return 2;
  }
  const std::vector<std::uint8_t> package = pantoline::bench::MakePackage(std::atoi(argv[1]));
  static Span span;
  pantoline::DeviceLink link;
  const pantoline::ResultCode found = link.FindDevice();
  pantoline::ResultCode loaded = -1;
  if (found == pantoline::QV5SUCCESS) {
    link.SetProgressCallback(&span, OnProgress);
    loaded = link.LoadPackage(package.data(), static_cast<std::int32_t>(package.size()));
  }
  const double seconds = static_cast<double>(span.endNs - span.startNs) / 1e9;
  std::printf("found %d loaded %d seconds %.6f median %.4f\n", found, loaded, seconds,
              span.blocks.MedianMs());
  return found == 0 && loaded == 0 ? 0 : 1;
}
