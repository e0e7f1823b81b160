#include "app/cli/console.h"

#include <algorithm>

#include "app/cli/cli_platform.h"

namespace pantoline::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 20;

}  // namespace

Console::Console(std::FILE* out, bool terminal, bool quiet) : out_(out), terminal_(terminal), quiet_(quiet) {}

int Console::AddUnit(std::string prefix, std::int32_t packageLength) {
  units_.push_back({std::move(prefix), packageLength, -1, {}});
  return static_cast<int>(units_.size()) - 1;
}

void Console::Status(int unit, const char* text) {
  if (quiet_) return;
  std::lock_guard lock(mutex_);
  Redraw(units_[unit].prefix + text + "\n");
}

void Console::Progress(int unit, std::int32_t bytes) {
  if (quiet_ || !terminal_) return;
  std::lock_guard lock(mutex_);
  Unit& u = units_[unit];
  const auto now = std::chrono::steady_clock::now();
  if (bytes == 0) {
    u.started = now;
  }
  if (bytes < 0) {
    // The transfer's last state stays on screen as an ordinary line.
    const std::string last = u.bytes >= 0 ? ProgressLine(u) + "\n" : std::string();
    u.bytes = -1;
    Redraw(last);
    return;
  }
  u.bytes = bytes;
  if (now - lastDraw_ >= kRedrawInterval) {
    Redraw({});
  }
}

void Console::Error(const std::string& text) {
  std::lock_guard lock(mutex_);
  // Where both streams share the terminal, a message written below the
  // progress lines would be taken back by the next redraw in their place:
  // they come down first and are drawn again below it.
  const bool drawn = drawn_ > 0;
  if (drawn) {
    std::fputs(TakeDown().c_str(), out_);
    std::fflush(out_);
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  if (drawn) Redraw({});
}

void Console::Line(const std::string& text) {
  if (quiet_) return;
  std::lock_guard lock(mutex_);
  Redraw(text + "\n");
}

std::string Console::ProgressLine(const Unit& u) const {
  const std::int32_t shown = std::min(u.bytes, u.length);
  const double fraction = u.length > 0 ? static_cast<double>(shown) / u.length : 1.0;
  const int filled = static_cast<int>(fraction * kBarWidth);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - u.started).count();
  const double rate = seconds > 0 ? shown / seconds : 0;
  char left[48] = "--:--";
  if (rate > 0) {
    const long rest = static_cast<long>((u.length - shown) / rate + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld", rest / 60, rest % 60);
  }
  char figures[120];
  std::snprintf(figures, sizeof figures, "%d/%d bytes %3d%% %6.1f kB/s %s left", shown, u.length,
                static_cast<int>(fraction * 100), rate / 1000, left);
  std::string line =
      u.prefix + "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " + figures;
  // A line as wide as the terminal would wrap, and the redraw, which goes
  // up by lines, not rows, would leave rows of it behind: on a narrow
  // terminal the bar goes first, then the line's end.
  const std::size_t columns = static_cast<std::size_t>(TerminalColumns(out_));
  if (columns > 0 && line.size() >= columns) {
    line = u.prefix + figures;
    line.resize(std::min(line.size(), columns - 1));
  }
  return line;
}

std::string Console::TakeDown() {
  if (!terminal_ || drawn_ == 0) return {};
  // Up to the first progress line, and clear from there down.
  std::string text = "\r\033[" + std::to_string(drawn_) + "A\033[J";
  drawn_ = 0;
  return text;
}

void Console::Redraw(const std::string& permanent) {
  std::string text = TakeDown() + permanent;
  if (terminal_) {
    for (const Unit& u : units_) {
      if (u.bytes >= 0) {
        text += ProgressLine(u) + "\n";
        ++drawn_;
      }
    }
    lastDraw_ = std::chrono::steady_clock::now();
  }
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

}  // namespace pantoline::cli
