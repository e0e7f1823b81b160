// What the reset procedure needs of the window it runs in. The main dialog
// of each desktop program implements it; tests record it.
#pragma once

#include "link/device_link.h"

namespace pantoline {

class ResetDisplay {
 public:
  virtual ~ResetDisplay() = default;

  // Disables the RESET button for good.
  virtual void DisableReset() = 0;
  // Replaces the status line and makes it visible at once.
  virtual void ShowStatus(const char* text) = 0;
  // Sets the progress bar's range to 0..`upper`, in units of kProgressUnit
  // bytes.
  virtual void SetProgressRange(int upper) = 0;
  // A modal message box with `text`, the program's name as its caption, an
  // OK button and no icon; returns when the user has closed it.
  virtual void ShowMessage(const char* text) = 0;

  // The receiver the link reports transfer progress to, and its context.
  virtual ProgressCallback ProgressReceiver() = 0;
  virtual void* ProgressContext() = 0;
};

}  // namespace pantoline
