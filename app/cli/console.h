// What a person at pantoline-cli sees: the status lines of one or several
// units, and on a terminal one progress line per unit in transfer, redrawn
// in place at the foot of the output at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace pantoline::cli {

class Console {
 public:
  // `out`: where status lines and progress go (stdout, or stderr when
  // stdout carries JSON); `terminal`: whether `out` redraws in place
  // (its progress lines are kept narrower than it, so that none wraps);
  // `quiet`: errors only. Errors always go to stderr.
  Console(std::FILE* out, bool terminal, bool quiet);

  // Adds a unit whose lines are prefixed with `prefix` ("COM3: ", or empty
  // for a single unit) and returns its number. Before any run starts.
  int AddUnit(std::string prefix, std::int32_t packageLength);

  // Thread-safe: called from each unit's run.
  void Status(int unit, const char* text);
  // `bytes` as the link reports them: 0 at the start, the bytes
  // acknowledged, -1 at the end.
  void Progress(int unit, std::int32_t bytes);
  void Error(const std::string& text);
  // Lines of text that belong to no unit (the summary).
  void Line(const std::string& text);

 private:
  struct Unit {
    std::string prefix;
    std::int32_t length;
    std::int32_t bytes = -1;  // -1: no transfer in progress
    std::chrono::steady_clock::time_point started;
  };
  std::string ProgressLine(const Unit& unit) const;
  // What takes the progress lines off the terminal; they count as gone.
  // Called with mutex_ held.
  std::string TakeDown();
  // Clears the progress lines, writes `permanent` (whole lines) above
  // them and draws them again. Called with mutex_ held.
  void Redraw(const std::string& permanent);

  std::FILE* out_;
  bool terminal_;
  bool quiet_;
  std::mutex mutex_;
  std::vector<Unit> units_;
  int drawn_ = 0;  // progress lines now on the terminal
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace pantoline::cli
