// The program's working window: a progress bar, one status line, RESET
// LODESTRIA and EXIT. RESET runs the reset through the toolkit's RunReset:
// inside the button's handler on Windows, each display call repainting at
// once since no message loop runs meanwhile; beside the window on Linux,
// each display call reaching this dialog on the main thread. The window
// changes during the run only through ShowStatus, ShowProgress and
// OnProgress. RESET works once per start of the program.
#pragma once

#include <cstdint>
#include <string>

#include "reset/reset_display.h"
#include "ui/dialog.h"

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
  void OnCancel() override;
  void OnSysCommand(unsigned command) override;
  void OnPaint() override;
  Icon OnQueryDragIcon() override { return appIcon; }
  void OnCtlColor(ColorContext& context, int controlId) override;

  // The rest of what the reset uses of the window.
  void DisableReset() override;
  void SetProgressRange(int upper) override;
  void ShowMessage(const char* text) override;
  ProgressCallback ProgressReceiver() override { return &OnProgress; }
  void* ProgressContext() override { return this; }

 private:
  ComboBox portList;       // hidden control 1007: filled, never read
  ProgressBar progressBar;  // control 1001
  std::string statusText;   // edit 1000
  std::string fileText;     // hidden edit 1004, always empty
  Icon appIcon;
};

}  // namespace pantoline::ui
