// The Linux program end to end on a virtual X display without a window
// manager: RESET pressed with the pointer against the simulated unit, the
// missing package, a file error, the about box, and input given while a
// reset runs. The program is watched through its watch lines
// (PANTOLINE_TRACE), its files and the unit's output, and photographed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/gui_gtk/desktop.h"
#include "tests/support/temp_dir.h"

namespace pantoline::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kMainDialog = 102;
constexpr int kAboutBox = 100;
constexpr int kReset = 1;
constexpr int kExit = 2;
constexpr int kStatus = 1000;

constexpr char kGreeting[] = "Make sure the Lodestria is ON and CONNECTED.  Click 'RESET LODESTRIA' below.";
constexpr char kUpdated[] = "Lodestria Updated.  Click the EXIT button below.";
constexpr char kNotFoundStatus[] = "The ResetPack file not found. Please EXIT the program.";

std::string Package(std::size_t length) {
  std::string data(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<char>((i * 131 + 17) % 251);
  }
  return data;
}

// What the unit holds after receiving `package`: every byte, and a short
// last block filled with one byte 26 and zeros.
std::string Received(const std::string& package) {
  std::string blocks = package;
  if (blocks.size() % 128 != 0) {
    blocks += '\x1a';
    blocks.resize((package.size() / 128 + 1) * 128, '\0');
  }
  return blocks;
}

std::string SuccessLog(const std::string& port) {
  const std::string ok = "QV5SUCCESS: Successful";
  return std::string("PANTOLINE LOG INITIATED \n ") + "System Download was found \n " +
         "App Locate the Lodestria :: \n    " + ok + " - Current Port = " + port + "\n" +
         "Set Progress Function:: \n    " + ok + "\n" + "App Load System:: \n    " + ok + "\n" +
         "Completed in 0 minutes \n" + "PANTOLINE LOG COMPLETE \n";
}

std::vector<std::string> StatusTexts(const Process& program) {
  const std::string prefix = "text " + std::to_string(kMainDialog) + " " + std::to_string(kStatus) + " ";
  std::vector<std::string> texts;
  for (const std::string& trace : program.Traces()) {
    if (trace.starts_with(prefix)) {
      texts.push_back(trace.substr(prefix.size()));
    }
  }
  return texts;
}

// Index of the first trace at or after `from` that starts with `prefix`,
// or the count of traces.
std::size_t Find(const std::vector<std::string>& traces, const std::string& prefix, std::size_t from = 0) {
  for (std::size_t i = from; i < traces.size(); ++i) {
    if (traces[i].starts_with(prefix)) {
      return i;
    }
  }
  return traces.size();
}

class GtkProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { display_ = new VirtualDisplay; }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(display_->ok()) << "no virtual display: is Xvfb installed?";
    fs::create_directories(work());
    fs::create_directories(config());
    fs::create_directories(PANTOLINE_ARTEFACTS);
  }

  fs::path work() const { return dir_.path() / "work"; }
  fs::path config() const { return dir_.path() / "config"; }
  fs::path received() const { return dir_.path() / "received.bin"; }
  std::string Log() const { return ReadFile(work() / "ResetSystemLog.doc"); }

  // The simulated unit, found by the program as "\\.\Com1".
  std::unique_ptr<Process> StartUnit(std::vector<std::string> options = {}) {
    std::vector<std::string> argv{SIMUNIT_PROGRAM, "--port", "1", "--config-home", config().string(),
                                  "--output", received().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    auto unit = std::make_unique<Process>(argv, dir_.path());
    const auto device = unit->StdoutLine(kWindowWait);
    EXPECT_TRUE(device && device->starts_with("/dev/")) << "the simulated unit did not start";
    return unit;
  }

  std::unique_ptr<Process> StartProgram(const std::string& program = PANTOLINE_PROGRAM) {
    return std::make_unique<Process>(
        std::vector<std::string>{program}, work(),
        std::map<std::string, std::string>{
            {"XDG_CONFIG_HOME", config().string()},
            {"PANTOLINE_TRACE", "1"},
            // No accessibility bus or settings daemon on the virtual display.
            {"NO_AT_BRIDGE", "1"},
            {"GSETTINGS_BACKEND", "memory"},
            // Under AddressSanitizer: fontconfig's caches live as long as the
            // process and are never freed; nothing of the program's own is
            // suppressed.
            {"LSAN_OPTIONS", "suppressions=" PANTOLINE_LSAN_SUPPRESSIONS ":print_suppressions=0"},
        });
  }

  // The main dialog, checked for what every start shows.
  ShownWindow WaitForMainDialog(Process& program) {
    const auto window = WaitForWindow(program, kMainDialog);
    EXPECT_TRUE(window) << "the main dialog did not show";
    if (!window) {
      return {};
    }
    EXPECT_EQ(WindowName(window->xid), "Lodestria - Reset Lodestria");
    for (int id : {kReset, kExit, kStatus, 1001, 1005}) {
      EXPECT_TRUE(window->controls.contains(id)) << "control " << id << " not shown";
    }
    // The combo box, the file edit and Browse exist but never show.
    for (int id : {1003, 1004, 1007}) {
      EXPECT_FALSE(window->controls.contains(id)) << "hidden control " << id << " shown";
    }
    return *window;
  }

  static VirtualDisplay* display_;
  TempDir dir_;
};

VirtualDisplay* GtkProgram::display_ = nullptr;

TEST_F(GtkProgram, ResetPressedLoadsTheUnitShowsEachStageAndExitEndsTheProgram) {
  const std::string package = Package(3000);
  WriteFile(work() / "ResetPack.qv5", package);
  auto unit = StartUnit();
  auto program = StartProgram();
  const ShownWindow dialog = WaitForMainDialog(*program);
  ASSERT_FALSE(dialog.xid.empty());

  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kReset)));
  ASSERT_TRUE(program->WaitForTrace(std::string("text 102 1000 ") + kUpdated)) << "the reset did not end";
  ASSERT_TRUE(program->WaitForTrace("handled 102 1"));

  EXPECT_EQ(Log(), SuccessLog("\\\\.\\Com1"));
  EXPECT_EQ(ReadFile(received()), Received(package));

  // Every stage, and every block's byte count, reached the screen.
  std::vector<std::string> expected{kGreeting, "...Attempting to locate the Lodestria...", "...Lodestria Found...",
                                    "...Loading Initialized, Please wait..."};
  for (int bytes = 0; bytes <= 3072; bytes += 128) {
    expected.push_back(std::to_string(bytes) + " bytes Sent");
  }
  expected.push_back("-1 bytes Sent");
  expected.push_back(kUpdated);
  EXPECT_EQ(StatusTexts(*program), expected);
  const std::vector<std::string> traces = program->Traces();
  EXPECT_LT(Find(traces, "enable 102 1 0"), Find(traces, "text 102 1000 ...Attempting"))
      << "RESET is disabled first";
  EXPECT_LT(Find(traces, "range 0 2"), traces.size());
  EXPECT_LT(Find(traces, "position 2"), traces.size()) << "the bar never reached its end";

  // The dialog after the run: the status line alone red on light yellow.
  const auto shot = TakeScreenshot(fs::path(PANTOLINE_ARTEFACTS) / "dialog-after-reset.png");
  const auto onScreen = WindowOnScreen(dialog.xid);
  ASSERT_TRUE(shot && onScreen);
  Box status = dialog.controls.at(kStatus);
  status.x += onScreen->x;
  status.y += onScreen->y;
  int yellowInside = 0;
  int yellowOutside = 0;
  int redInside = 0;
  for (int y = 0; y < shot->height; ++y) {
    for (int x = 0; x < shot->width; ++x) {
      const std::uint32_t pixel = shot->Pixel(x, y);
      const bool inside = status.Contains(x, y);
      if (pixel == 0xFFFF64) {
        (inside ? yellowInside : yellowOutside) += 1;
      }
      const int red = pixel >> 16;
      const int green = (pixel >> 8) & 0xFF;
      const int blue = pixel & 0xFF;
      if (inside && red > 200 && green < 80 && blue < 80) {
        ++redInside;
      }
    }
  }
  EXPECT_GT(yellowInside, 500) << "no light yellow behind the status text";
  EXPECT_EQ(yellowOutside, 0) << "light yellow outside the status line";
  EXPECT_GT(redInside, 50) << "no red status text";

  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kExit)));
  EXPECT_EQ(program->WaitForExit(), 0);
  EXPECT_LT(Find(program->Traces(), "end 102 2"), program->Traces().size());
}

TEST_F(GtkProgram, MissingPackageShowsOneBoxNamedAfterTheProgramThenItsStatusAndLog) {
  // A renamed program names its boxes after its new name.
  const fs::path renamed = dir_.path() / "lodestria-tool.bin";
  fs::copy_file(PANTOLINE_PROGRAM, renamed);
  auto program = StartProgram(renamed.string());
  const ShownWindow dialog = WaitForMainDialog(*program);
  ASSERT_FALSE(dialog.xid.empty());

  // RESET has the focus from the start: the space bar presses it.
  ASSERT_TRUE(Keys(dialog.xid, {"space"}));
  const auto box = WaitForMessageBox(*program);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->styleAndCaption, "plain lodestria-tool");
  EXPECT_EQ(WindowName(box->xid), "lodestria-tool");
  EXPECT_EQ(program->WaitForTrace("messagetext "), "messagetext The ResetPack file could not be found!!");
  TakeScreenshot(fs::path(PANTOLINE_ARTEFACTS) / "missing-package-box.png");
  // The status waits for the box.
  EXPECT_EQ(StatusTexts(*program), std::vector<std::string>{kGreeting});

  ASSERT_TRUE(ClickMessageBoxOk(*program, *box));
  ASSERT_TRUE(program->WaitForTrace(std::string("text 102 1000 ") + kNotFoundStatus));

  // Escape ends the program like EXIT; the log is complete by then.
  ASSERT_TRUE(Keys(dialog.xid, {"Escape"}));
  EXPECT_EQ(program->WaitForExit(), 0);
  EXPECT_EQ(Log(), "PANTOLINE LOG INITIATED \n ResetPack was NOT found \n PANTOLINE LOG COMPLETE \n");
  const std::vector<std::string> traces = program->Traces();
  EXPECT_EQ(std::count_if(traces.begin(), traces.end(),
                          [](const std::string& t) { return t.starts_with("messagetext "); }),
            1);
  EXPECT_EQ(StatusTexts(*program), (std::vector<std::string>{kGreeting, kNotFoundStatus}));
}

TEST_F(GtkProgram, FileErrorLeavingTheResetIsShownInAStopBoxAndTheDialogCarriesOn) {
  // Every write to the log fails: the disk is full.
  fs::create_symlink("/dev/full", work() / "ResetSystemLog.doc");
  auto program = StartProgram();
  const ShownWindow dialog = WaitForMainDialog(*program);
  ASSERT_FALSE(dialog.xid.empty());

  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kReset)));
  for (const char* style : {"plain", "stop"}) {
    const auto box = WaitForMessageBox(*program);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->styleAndCaption, std::string(style) + " pantoline");
    const auto text = program->WaitForTrace("messagetext ");
    ASSERT_TRUE(text);
    if (std::string(style) == "stop") {
      EXPECT_TRUE(text->starts_with("messagetext The disk is full.|")) << *text;
      EXPECT_NE(text->find("ResetSystemLog.doc"), std::string::npos) << *text;
      TakeScreenshot(fs::path(PANTOLINE_ARTEFACTS) / "file-error-box.png");
    }
    ASSERT_TRUE(ClickMessageBoxOk(*program, *box));
    ASSERT_TRUE(program->WaitForTrace("message closed"));
  }

  // Handled: the dialog still answers, with RESET disabled.
  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kExit)));
  EXPECT_EQ(program->WaitForExit(), 0);
  const std::vector<std::string> traces = program->Traces();
  EXPECT_EQ(Find(traces, "enable 102 1 1"), traces.size());
}

TEST_F(GtkProgram, AboutBoxOpensFromTheWindowMenuCentredOverTheDialogAndCloseEndsTheProgram) {
  auto program = StartProgram();
  const ShownWindow dialog = WaitForMainDialog(*program);
  ASSERT_FALSE(dialog.xid.empty());
  ASSERT_GT(dialog.menuButton.width, 0) << "no window menu";

  ASSERT_TRUE(Click(dialog.xid, dialog.menuButton));
  ASSERT_TRUE(program->WaitForTrace("menu shown 102"));
  ASSERT_TRUE(RunCommand({"xdotool", "key", "a"}));  // "_About Pantoline..."
  const auto about = WaitForWindow(*program, kAboutBox);
  ASSERT_TRUE(about);
  EXPECT_LT(Find(program->Traces(), "syscommand 102 16"), program->Traces().size());
  EXPECT_EQ(WindowName(about->xid), "About Pantoline");

  const auto shot = TakeScreenshot(fs::path(PANTOLINE_ARTEFACTS) / "about-box.png");
  const auto mainOnScreen = WindowOnScreen(dialog.xid);
  const auto aboutOnScreen = WindowOnScreen(about->xid);
  ASSERT_TRUE(shot && mainOnScreen && aboutOnScreen);
  EXPECT_NEAR(aboutOnScreen->x + aboutOnScreen->width / 2, mainOnScreen->x + mainOnScreen->width / 2, 2);
  EXPECT_NEAR(aboutOnScreen->y + aboutOnScreen->height / 2, mainOnScreen->y + mainOnScreen->height / 2, 2);
  // The icon (a unit in a blue case) at the left, then the text and OK.
  ASSERT_TRUE(about->controls.contains(1));
  int iconBlue = 0;
  for (int y = aboutOnScreen->y; y < aboutOnScreen->y + aboutOnScreen->height; ++y) {
    for (int x = aboutOnScreen->x; x < aboutOnScreen->x + aboutOnScreen->width / 4; ++x) {
      iconBlue += shot->Pixel(x, y) == 0x0000FF ? 1 : 0;
    }
  }
  EXPECT_GT(iconBlue, 100) << "no icon in the about box";

  ASSERT_TRUE(Click(about->xid, about->controls.at(1)));
  ASSERT_TRUE(program->WaitForTrace("end 100 1"));
  // The main dialog carries on, and its title bar's Close ends it.
  ASSERT_GT(dialog.closeButton.width, 0);
  ASSERT_TRUE(Click(dialog.xid, dialog.closeButton));
  EXPECT_EQ(program->WaitForExit(), 0);
  const std::vector<std::string> traces = program->Traces();
  EXPECT_LT(Find(traces, "end 100 1"), Find(traces, "end 102 2"));
  EXPECT_LT(Find(traces, "end 102 2"), traces.size());
}

TEST_F(GtkProgram, InputGivenDuringTheRunIsActedOnOnlyAfterIt) {
  // At the line's own pace the transfer takes seconds: EXIT is clicked
  // while the bar moves.
  const std::string package = Package(40000);
  WriteFile(work() / "ResetPack.qv5", package);
  auto unit = StartUnit({"--line-rate"});
  auto program = StartProgram();
  const ShownWindow dialog = WaitForMainDialog(*program);
  ASSERT_FALSE(dialog.xid.empty());

  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kReset)));
  ASSERT_TRUE(program->WaitForTrace("text 102 1000 0 bytes Sent"));
  ASSERT_TRUE(Click(dialog.xid, dialog.controls.at(kExit)));
  EXPECT_EQ(program->WaitForExit(), 0);

  const std::vector<std::string> traces = program->Traces();
  const std::size_t started = Find(traces, "text 102 1000 0 bytes Sent");
  const std::size_t held = Find(traces, "input held", started);
  const std::size_t updated = Find(traces, std::string("text 102 1000 ") + kUpdated, started);
  const std::size_t replayed = Find(traces, "input replayed", held);
  const std::size_t exit = Find(traces, "command 102 2", started);
  // The click was held while the run went on, and acted on after it.
  ASSERT_LT(held, traces.size()) << "the click never reached the program during the run";
  EXPECT_LT(Find(traces, "text 102 1000 ", held + 1), updated) << "the run did not go on after the click";
  EXPECT_LT(updated, replayed);
  EXPECT_LT(replayed, exit);
  EXPECT_LT(exit, traces.size());
  EXPECT_EQ(Log(), SuccessLog("\\\\.\\Com1"));
  EXPECT_EQ(ReadFile(received()), Received(package));
}

}  // namespace
}  // namespace pantoline::testing
