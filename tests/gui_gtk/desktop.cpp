#include "tests/gui_gtk/desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <thread>

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// fork and exec `argv` with `configure` run in the child first.
template <typename Configure>
pid_t Spawn(const std::vector<std::string>& argv, Configure configure) {
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    configure();
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int MsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

// ---- VirtualDisplay -----------------------------------------------------------

VirtualDisplay::VirtualDisplay() {
  int fds[2];
  if (pipe(fds) != 0) {
    return;
  }
  const std::string fd = std::to_string(fds[1]);
  pid_ = Spawn({"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, [&] {
    close(fds[0]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  });
  close(fds[1]);
  // Xvfb writes the number of the display it chose once it accepts clients.
  std::string number;
  const auto deadline = SteadyClock::now() + kWindowWait;
  for (;;) {
    pollfd entry{fds[0], POLLIN, 0};
    if (poll(&entry, 1, MsLeft(deadline)) <= 0) {
      break;
    }
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') {
      break;
    }
    number += c;
  }
  close(fds[0]);
  if (!number.empty()) {
    number_ = std::stoi(number);
    setenv("DISPLAY", name().c_str(), 1);
  }
}

VirtualDisplay::~VirtualDisplay() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

// ---- Process ----------------------------------------------------------------------

Process::Process(const std::vector<std::string>& argv, const fs::path& workDir,
                 const std::map<std::string, std::string>& environment) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = Spawn(argv, [&] {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (chdir(workDir.c_str()) != 0) {
      _exit(126);
    }
    for (const auto& [name, value] : environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
  });
  close(out[1]);
  close(err[1]);
  stdoutFd_ = out[0];
  stderrFd_ = err[0];
}

Process::~Process() {
  Terminate();
  if (stdoutFd_ >= 0) {
    close(stdoutFd_);
  }
  if (stderrFd_ >= 0) {
    close(stderrFd_);
  }
}

void Process::Terminate() {
  if (pid_ > 0 && !exitStatus_) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitStatus_ = -1;
  }
}

bool Process::ReadSome(int fd, std::string& buffer, std::vector<std::string>& lines,
                       SteadyClock::time_point deadline) {
  if (fd < 0) {
    return false;
  }
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, MsLeft(deadline)) <= 0) {
    return false;
  }
  char chunk[4096];
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got <= 0) {
    return false;
  }
  buffer.append(chunk, static_cast<std::size_t>(got));
  for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
    lines.push_back(buffer.substr(0, end));
    buffer.erase(0, end + 1);
  }
  return true;
}

std::optional<std::string> Process::StdoutLine(Seconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  while (stdoutCursor_ == stdoutLines_.size()) {
    if (!ReadSome(stdoutFd_, stdoutBuffer_, stdoutLines_, deadline)) {
      return std::nullopt;
    }
  }
  return stdoutLines_[stdoutCursor_++];
}

std::optional<std::string> Process::WaitForTrace(const std::string& prefix, Seconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  const std::string wanted = "trace: " + prefix;
  for (;;) {
    while (stderrCursor_ < stderrLines_.size()) {
      const std::string& line = stderrLines_[stderrCursor_++];
      if (line.starts_with(wanted)) {
        return line.substr(7);
      }
    }
    if (!ReadSome(stderrFd_, stderrBuffer_, stderrLines_, deadline)) {
      return std::nullopt;
    }
  }
}

std::vector<std::string> Process::Traces() const {
  std::vector<std::string> traces;
  for (const std::string& line : stderrLines_) {
    if (line.starts_with("trace: ")) {
      traces.push_back(line.substr(7));
    }
  }
  return traces;
}

std::optional<int> Process::WaitForExit(Seconds timeout) {
  if (exitStatus_) {
    return exitStatus_;
  }
  const auto deadline = SteadyClock::now() + timeout;
  // Reading on keeps a talkative program from blocking on a full pipe.
  while (ReadSome(stderrFd_, stderrBuffer_, stderrLines_, deadline)) {
  }
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
    }
    if (SteadyClock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// ---- Commands ------------------------------------------------------------------------

std::optional<std::string> RunCommand(const std::vector<std::string>& argv) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  const pid_t pid = Spawn(argv, [&] { dup2(out[1], STDOUT_FILENO); });
  close(out[1]);
  std::string output;
  char chunk[4096];
  for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;) {
    output.append(chunk, static_cast<std::size_t>(got));
  }
  close(out[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return output;
}

std::optional<ShownWindow> WaitForWindow(Process& program, int templateId) {
  const std::string id = std::to_string(templateId);
  const auto shown = program.WaitForTrace("shown " + id + " ");
  // The window's geometry lines follow, up to "ready".
  if (!shown || !program.WaitForTrace("ready " + id)) {
    return std::nullopt;
  }
  ShownWindow window;
  window.xid = shown->substr(shown->rfind(' ') + 1);
  const std::vector<std::string> traces = program.Traces();
  auto line = traces.end();
  while (line != traces.begin() && *(line - 1) != *shown) {
    --line;
  }
  for (; line != traces.end(); ++line) {
    std::istringstream fields(*line);
    std::string what;
    int ofTemplate = 0;
    int control = 0;
    Box box;
    fields >> what >> ofTemplate >> control >> box.x >> box.y >> box.width >> box.height;
    if (!fields || ofTemplate != templateId) {
      continue;
    }
    if (what == "control") {
      window.controls[control] = box;
    } else if (what == "menubutton") {
      window.menuButton = box;
    } else if (what == "closebutton") {
      window.closeButton = box;
    }
  }
  return window;
}

std::optional<ShownMessageBox> WaitForMessageBox(Process& program) {
  const auto line = program.WaitForTrace("message ");
  const std::string_view prefix = "message ";
  if (!line || line->size() <= prefix.size()) {
    return std::nullopt;
  }
  const std::size_t xidEnd = line->find(' ', prefix.size());
  if (xidEnd == std::string::npos) {
    return std::nullopt;
  }
  return ShownMessageBox{line->substr(prefix.size(), xidEnd - prefix.size()), line->substr(xidEnd + 1)};
}

bool ClickMessageBoxOk(Process& program, const ShownMessageBox& box) {
  const auto ok = program.WaitForTrace("control 0 1 ");
  Box okBox;
  return ok &&
         std::sscanf(ok->c_str(), "control 0 1 %d %d %d %d", &okBox.x, &okBox.y, &okBox.width,
                     &okBox.height) == 4 &&
         Click(box.xid, okBox);
}

bool Click(const std::string& xid, const Box& box) {
  return RunCommand({"xdotool", "mousemove", "--window", xid, std::to_string(box.x + box.width / 2),
                     std::to_string(box.y + box.height / 2), "click", "1"})
      .has_value();
}

bool Keys(const std::string& xid, const std::vector<std::string>& keys) {
  // Without a window manager the display gives the keyboard to whoever
  // asks for it: the window asks for it here.
  if (!RunCommand({"xdotool", "windowfocus", "--sync", xid})) {
    return false;
  }
  std::vector<std::string> argv{"xdotool", "key"};
  argv.insert(argv.end(), keys.begin(), keys.end());
  return RunCommand(argv).has_value();
}

std::string WindowName(const std::string& xid) {
  std::string name = RunCommand({"xdotool", "getwindowname", xid}).value_or("");
  if (!name.empty() && name.back() == '\n') {
    name.pop_back();
  }
  return name;
}

std::optional<Box> WindowOnScreen(const std::string& xid) {
  // "X=..", "Y=..", "WIDTH=..", "HEIGHT=.." lines.
  const auto output = RunCommand({"xdotool", "getwindowgeometry", "--shell", xid});
  if (!output) {
    return std::nullopt;
  }
  Box box;
  std::istringstream lines(*output);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      continue;
    }
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") {
      box.x = value;
    } else if (key == "Y") {
      box.y = value;
    } else if (key == "WIDTH") {
      box.width = value;
    } else if (key == "HEIGHT") {
      box.height = value;
    }
  }
  return box;
}

std::uint32_t Screenshot::Pixel(int x, int y) const {
  const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  return std::uint32_t{rgb[at]} << 16 | std::uint32_t{rgb[at + 1]} << 8 | rgb[at + 2];
}

std::optional<Screenshot> TakeScreenshot(const fs::path& png) {
  // The screen does not change between the two captures: the program is
  // idle by the time a test takes one.
  if (!RunCommand({"import", "-window", "root", png.string()})) {
    return std::nullopt;
  }
  const fs::path ppm = fs::path(png).replace_extension(".ppm");
  if (!RunCommand({"import", "-window", "root", "-depth", "8", "ppm:" + ppm.string()})) {
    return std::nullopt;
  }
  std::ifstream in(ppm, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Screenshot shot;
  in >> magic >> shot.width >> shot.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255 || shot.width <= 0 || shot.height <= 0) {
    return std::nullopt;
  }
  shot.rgb.resize(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height) * 3);
  in.read(reinterpret_cast<char*>(shot.rgb.data()), static_cast<std::streamsize>(shot.rgb.size()));
  const bool whole = in.gcount() == static_cast<std::streamsize>(shot.rgb.size());
  in.close();
  fs::remove(ppm);
  return whole ? std::optional(shot) : std::nullopt;
}

}  // namespace pantoline::testing
