// pantoline-cli's courses, each against the simulated unit on COM1: the
// exit status, the log byte for byte (the window's for the same course),
// what the unit received, and the JSON document. The Windows build runs the
// same courses with pantoline-cli.exe under Wine (PANTOLINE_CLI_WINE).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/config_home_posix.h"
#include "tests/support/unit_courses.h"

namespace pantoline::testing {
namespace {

const bool kProgramsPlaced = setenv("PANTOLINE_CLI", PANTOLINE_CLI_PATH, 0) == 0 &&
                             setenv("PANTOLINE_SIMUNIT", PANTOLINE_SIMUNIT_PATH, 0) == 0;

int Shell(const std::string& command) {
  EXPECT_TRUE(kProgramsPlaced);
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
std::string Cli(const std::string& arguments) {
  return (PANTOLINE_CLI_WINE ? "wine \"$PANTOLINE_CLI\" " : "\"$PANTOLINE_CLI\" ") + arguments;
}
// COMn: pinned to the unit's pseudo-terminal, or a link in the prefix.
std::string Port(int n) {
  return (PANTOLINE_CLI_WINE ? "--wine-prefix \"$WINEPREFIX\" --wine-port " : "--port ") + std::to_string(n);
}
// A file of the working folder as the program names it: under Wine, on
// drive Z:, which is the host's root.
std::string Absolute(const std::string& file) {
  std::string path = std::filesystem::absolute(file).string();
  if (PANTOLINE_CLI_WINE) std::ranges::replace(path.insert(0, "Z:"), '/', '\\');
  return path;
}

enum class Pack { kNone, kCourse, kEmpty, kTooLarge };
struct Course {
  const char* name;
  std::string arguments;  // after "reset"
  Pack package;
  bool answers;      // the simulated unit answers the greeting
  const char* unit;  // its options
  int status;
  std::string log;
  std::size_t received;  // bytes the unit received, padding included
  std::string result;   // of the one unit in the document; empty: none
  std::string lastLine = {};  // of stdout without --json
};

const std::string kCancelled = "QV5XMODEMCANCELEDERROR:  XModem Failure Remote Cancel";
const Course kCourses[] = {
    {"Updated", "", Pack::kCourse, true, "", 0, kLoadedLog, 3072, "", "Lodestria Updated.  Click the EXIT button below."},
    {"UpdatedJson", "--json", Pack::kCourse, true, "", 0, kLoadedLog, 3072, "QV5SUCCESS"},
    {"GivenPort", "--json --port com1", Pack::kCourse, true, "", 0, kLoadedLog, 3072, "QV5SUCCESS"},
    {"NotFound", "--json", Pack::kCourse, false, "", 3, kNotFoundLog, 0, ""},
    {"PackageMissing", "--json", Pack::kNone, true, "", 4, kMissingLog, 0, ""},
    {"PackageEmpty", "--json", Pack::kEmpty, true, "", 4,
     "PANTOLINE LOG INITIATED \n ResetPack is empty \n PANTOLINE LOG COMPLETE \n", 0, ""},
    {"PackageTooLarge", "--json --package big.qv5 --log other.doc", Pack::kTooLarge, true, "", 4,
     "PANTOLINE LOG INITIATED \n ResetPack is too large \n PANTOLINE LOG COMPLETE \n", 0, ""},
    {"CancelledLoad", "--json", Pack::kCourse, true, "--cancel-block 2", 1, LoadFailedLog(kCancelled), 128,
     "QV5XMODEMCANCELEDERROR"},
};

// Each test in a fresh working folder, with no port pinned to a device.
class Folder : public ::testing::Test {
  ConfigHome config;
  TempDir work;
  WorkingDir cwd{work.path()};
};
class Courses : public Folder, public ::testing::WithParamInterface<Course> {};
using All = Folder;
using Interruption = Folder;

TEST_P(Courses, EndAsTheWindowsDo) {
  const Course& c = GetParam();
  const std::string package = c.arguments.find("big.qv5") != std::string::npos ? "big.qv5" : "ResetPack.qv5";
  const std::string log = c.arguments.find("other.doc") != std::string::npos ? "other.doc" : "ResetSystemLog.doc";
  if (c.package == Pack::kCourse) WriteFile(package, CoursePackage(false));
  if (c.package == Pack::kEmpty) WriteFile(package, "");
  if (c.package == Pack::kTooLarge) WriteFile(package, std::string(458'752, 'x'));
  ASSERT_EQ(Shell(StartUnit(Port(1), c.answers, c.unit)), 0) << ReadFile("unit.err");
  EXPECT_EQ(Shell(Cli("reset " + c.arguments + " >out.txt 2>err.txt")), c.status) << ReadFile("err.txt");
  Shell(kStopUnit);
  EXPECT_EQ(ReadFile(log), c.log);
  EXPECT_EQ(ReadFile(Received()), CoursePackage(true).substr(0, c.received));
  if (!c.lastLine.empty()) {
    std::string out = ReadFile("out.txt");
    // Lines end as the system's text files do: with CR LF on Windows.
    EXPECT_EQ(std::erase(out, '\r'), PANTOLINE_CLI_WINE ? std::size_t(std::ranges::count(out, '\n')) : 0u);
    EXPECT_TRUE(out.ends_with("\n" + c.lastLine + "\n")) << out;
    EXPECT_EQ(out.find_first_of("\x1b#"), std::string::npos);  // no progress off a terminal
    return;
  }
  const auto document = nlohmann::json::parse(ReadFile("out.txt"));
  EXPECT_EQ(document["units"].size(), c.result.empty() ? 0u : 1u);
  EXPECT_EQ(document.contains("error"), c.status == 3 || c.status == 4);
  if (c.result.empty()) return;
  const auto& unit = document["units"][0];
  EXPECT_EQ(unit["port"], "COM1");
  EXPECT_EQ(unit["result"], c.result);
  EXPECT_EQ(unit["updated"], c.status == 0);
  EXPECT_EQ(unit["bytes"], c.status == 0 ? 3000 : 128);
  EXPECT_EQ(unit["log"], Absolute(log));
  EXPECT_EQ(document["updated"], c.status == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Courses, ::testing::ValuesIn(kCourses),
                         [](const auto& info) { return std::string(info.param.name); });

// The same log on another port.
std::string On(std::string log, int port) { return log.replace(log.find("\\\\.\\Com1") + 7, 1, std::to_string(port)); }

// Three units at once, the second cancelling: each has its own exact log.
TEST_F(All, UpdatesEveryUnitAtOnceAndReportsTheOneThatFailed) {
  WriteFile("ResetPack.qv5", CoursePackage(false));
  for (int n = 1; n <= 3; ++n) {
    const std::string tag = "u" + std::to_string(n);
    ASSERT_EQ(Shell(StartUnit(Port(n), true, n == 2 ? "--cancel-block 2" : "", tag)), 0);
  }
  EXPECT_EQ(Shell(Cli("reset --all --json >out.txt 2>err.txt")), 1) << ReadFile("err.txt");
  for (int n = 1; n <= 3; ++n) Shell(StopUnit("u" + std::to_string(n)));
  EXPECT_EQ(ReadFile("ResetSystemLog-COM1.doc"), kLoadedLog);
  EXPECT_EQ(ReadFile("ResetSystemLog-COM2.doc"), On(LoadFailedLog(kCancelled), 2));
  EXPECT_EQ(ReadFile("ResetSystemLog-COM3.doc"), On(kLoadedLog, 3));
  EXPECT_EQ(ReadFile("u1.bin"), CoursePackage(true));
  EXPECT_EQ(ReadFile("u3.bin"), CoursePackage(true));
  const auto document = nlohmann::json::parse(ReadFile("out.txt"));
  EXPECT_EQ(document["updated"], 2);
  EXPECT_EQ(document["failed"], 1);
  ASSERT_EQ(document["units"].size(), 3u);
  EXPECT_EQ(document["units"][1]["port"], "COM2");
  EXPECT_EQ(document["units"][1]["result"], "QV5XMODEMCANCELEDERROR");
  // Not on a terminal: each status line names its unit.
  EXPECT_NE(ReadFile("err.txt").find("COM2: An error has occured."), std::string::npos);
}

// On a terminal (`script` gives the program one) each unit's progress line
// is redrawn in place: the terminal is replayed, every "\r ESC[nA ESC[J"
// taking back the n progress lines below the status lines. What stays is
// every status line, each unit's last progress line once and the summary;
// and the message that COM1's log could not be written, which comes while
// COM2, slowed, is still in transfer. A progress line must be narrower
// than the terminal, or its wrapped rows would stay behind: below 80
// columns it drops its bar.
class Terminal : public Folder, public ::testing::WithParamInterface<int> {};

TEST_P(Terminal, RedrawsOneProgressLinePerUnitInPlace) {
  if (PANTOLINE_CLI_WINE) GTEST_SKIP() << "Wine's console is no terminal of the host's";
  const int columns = GetParam();
  const Bytes package = Package(20'000);  // 1.8 s at line rate
  WriteFile("ResetPack.qv5", std::string(package.begin(), package.end()));
  std::filesystem::create_directory("ResetSystemLog-COM1.doc");
  for (int n = 1; n <= 2; ++n) {
    const std::string extra = n == 2 ? "--line-rate --reply-delay-ms 15" : "--line-rate";
    ASSERT_EQ(Shell(StartUnit(Port(n), true, extra, "u" + std::to_string(n))), 0);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Shell("TERM=xterm script -qec 'stty cols " + std::to_string(columns) + "; " + Cli("reset --all") + "' /dev/null </dev/null >out.txt 2>err.txt"), 0)
      << ReadFile("err.txt");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (int n = 1; n <= 2; ++n) Shell(StopUnit("u" + std::to_string(n)));
  std::string raw = ReadFile("out.txt");
  for (auto at = raw.find("\r\n"); at != raw.npos; at = raw.find("\r\n", at)) raw.erase(at, 1);
  std::vector<std::string> screen;
  int redraws = 0, most = 0;
  std::istringstream in(raw);
  for (std::string line; std::getline(in, line);) {
    int up = 0, erased = 0;
    while (std::sscanf(line.c_str(), "\r\x1b[%dA\x1b[J%n", &up, &erased) == 1 && erased > 0) {
      ASSERT_LE(up, static_cast<int>(screen.size()));
      screen.resize(screen.size() - up);
      most = std::max(most, up);
      ++redraws;
      line.erase(0, erased);
      erased = 0;
    }
    if (line.find("bytes") != line.npos) {
      int end = 0;
      std::sscanf(line.c_str(), columns >= 80 ? "COM%*d: [%*20[#.]] %*d/20000 bytes %*d%% %*f kB/s %*[-:0-9] left%n"
                                              : "COM%*d: %*d/20000 bytes %n", &end);
      EXPECT_GT(end, 0) << line;
      EXPECT_EQ(end, columns >= 80 ? static_cast<int>(line.size()) : end) << line;
      EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
    }
    screen.push_back(line);
  }
  EXPECT_EQ(most, 2);  // both units in transfer at once
  // Only the status lines redraw at once; progress at most ten times a second.
  EXPECT_GE(redraws, 5);
  EXPECT_LE(redraws, static_cast<int>(screen.size()) + 10 * seconds + 1);
  for (const char* unit : {"COM1", "COM2"}) {
    const std::string prefix = std::string(unit) + ": ";
    EXPECT_EQ(std::ranges::count(screen, prefix + "Lodestria Updated.  Click the EXIT button below."), 1);
    const std::string last = prefix + (columns >= 80 ? "[####################] " : "") + "20000/20000 bytes 100%";
    EXPECT_EQ(std::ranges::count_if(screen, [&](const std::string& l) { return l.starts_with(last); }), 1);
  }
  EXPECT_EQ(std::ranges::count_if(screen, [](const std::string& l) { return l.find("bytes") != l.npos; }), 2);
  EXPECT_EQ(std::ranges::count_if(screen, [](const std::string& l) { return l.starts_with("The reset log "); }), 1);
  ASSERT_GE(screen.size(), 4u);
  EXPECT_EQ(screen[screen.size() - 3], "PORT    OUTCOME       TIME");
  EXPECT_TRUE(screen.back().starts_with("COM2    updated ")) << screen.back();
  EXPECT_EQ(std::ranges::count_if(screen, [](const std::string& l) { return l.find_first_of("\r\x1b") != l.npos; }), 0);
}
INSTANTIATE_TEST_SUITE_P(Columns, Terminal, ::testing::Values(80, 50));

// SIGINT during the transfer: the sender cancels, the unit is taken out of
// download mode, the log is closed, and the status is 130.
TEST_F(Interruption, CancelsTheTransferAndClosesTheLog) {
  const Bytes package = Package(60'000);
  WriteFile("ResetPack.qv5", std::string(package.begin(), package.end()));
  ASSERT_EQ(Shell(StartUnit(Port(1), true, "--line-rate --verbose")), 0);
  Shell("(" + Cli("reset >out.txt 2>err.txt & echo $! >cli.pid; wait $!; echo $? >cli.rc") + ") &"
        " until grep -q 'request 1' unit.err; do sleep 0.05; done; sleep 1; kill -INT $(cat cli.pid);"
        " until [ -e cli.rc ]; do sleep 0.1; done");
  Shell(kStopUnit);
  EXPECT_EQ(ReadFile("cli.rc"), "130\n") << ReadFile("err.txt");
  EXPECT_EQ(ReadFile("ResetSystemLog.doc"), LoadFailedLog("QV5XMODEMUNKNOWNERROR: XModem Failure Unknown Error"));
  const std::string unit = ReadFile("unit.err");
  const auto cancelled = unit.find("sender cancelled");
  ASSERT_NE(cancelled, std::string::npos) << unit;
  EXPECT_NE(unit.find("finish command", cancelled), std::string::npos) << unit;
}

}  // namespace
}  // namespace pantoline::testing
