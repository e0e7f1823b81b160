// The program's working window: a progress bar, one status line, RESET
// LODESTRIA and EXIT. RESET runs the reset on a worker thread beside the
// window (see reset_run.h), each display call reaching this dialog on the
// window's thread, so that the window answers the desktop all through the
// run. The window changes during the run only through ShowStatus,
// ShowProgress and OnProgress. RESET works once per start of the program.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "reset/reset_display.h"
#include "ui/dialog.h"
#include "ui/reset_run.h"

namespace pantoline::ui {

class ResetDialog : public Dialog, public ResetDisplay {
 public:
  ResetDialog();
  ~ResetDialog() override;

  // Replaces the status line with `text` and repaints.
  void ShowStatus(std::string text);
  void ShowStatus(const char* text) override { ShowStatus(std::string(text)); }
  // Moves the bar to `bytes` / 1028 and shows "<bytes> bytes Sent".
  void ShowProgress(std::int32_t bytes);
  // The progress receiver the reset installs on its link: acts for the
  // link numbered 1 only, with `context` the ResetDialog.
  static void OnProgress(void* context, std::int32_t bytes, std::int32_t serial);

  // Where a minimised window of `clientWidth` x `clientHeight` pixels
  // draws an icon of `iconWidth` x `iconHeight`: centred, rounding up.
  static int IconOrigin(int clientSize, int iconSize) { return (clientSize - iconSize + 1) / 2; }

  // What the desktop shows of why it may not end the session or sleep
  // while a reset runs.
  static constexpr char kSessionHoldReason[] = "Pantoline is resetting your Lodestria. Please wait.";
  // The greeting shown when the dialog opens.
  static constexpr char kGreeting[] =
      "Make sure the Lodestria is ON and CONNECTED.  Click 'RESET LODESTRIA' below.";
  // The status line's colours: red on light yellow.
  static constexpr Color kStatusText = Rgb(255, 0, 0);
  static constexpr Color kStatusBackground = Rgb(255, 255, 100);

 protected:
  void DoDataExchange(DataExchange& exchange) override;
  bool OnInitDialog() override;
  // RESET: the reset itself.
  void OnOK() override;
  // EXIT, Escape, Enter on EXIT, the title bar's close and the window
  // menu's Close all come here: while the reset runs they are held, and
  // carried out once it is over.
  void OnCancel() override;
  void OnSysCommand(unsigned command) override;
  void OnPaint() override;
  Icon OnQueryDragIcon() override { return appIcon; }
  void OnCtlColor(ColorContext& context, int controlId) override;
  void OnWake() override;
  void OnTick(std::int64_t nowUs) override;

  // Runs `reset` on a worker thread with this dialog's display, once per
  // dialog: RESET's work. What escapes it is reported on the window's
  // thread, a FileError in a stop box. A thread that cannot be started is
  // reported in a stop box too, RESET disabled, and nothing runs.
  void RunReset(std::function<void(ResetDisplay&)> reset);
  // The running reset, asked to end early and soundly; nothing when none
  // runs.
  void RequestStop();

  // The rest of what the reset uses of the window.
  void DisableReset() override;
  void SetProgressRange(int upper) override;
  void ShowMessage(const char* text) override;
  ProgressCallback ProgressReceiver() override { return &OnProgress; }
  void* ProgressContext() override { return this; }

 private:
  ProgressBar progressBar;  // control 1001
  std::string statusText;   // edit 1000
  std::string fileText;     // hidden edit 1004, always empty
  Icon appIcon;

  void RunFinished(std::exception_ptr escaped);
  std::unique_ptr<ResetRun> run_;
  bool running_ = false;
  bool cancelHeld_ = false;  // a cancel command came while the reset ran
  // The program was asked to end while the reset ran (a signal, the
  // session ending): it ends once the run has.
  bool endRequested_ = false;
};

}  // namespace pantoline::ui
