// What a running Dialog holds of the platform: its window and the state of
// the message being dispatched. Private to the Win32 toolkit layer.
#pragma once

#include <functional>

#include "ui/dialog.h"
#include "ui/win32/win32.h"

namespace pantoline::ui {

// The paint context of one WM_PAINT, between BeginPaint and EndPaint.
class Win32PaintContext final : public PaintContext {
 public:
  void EraseIconBackground() override;
  void DrawIcon(int x, int y, Icon icon) override;

  HWND window = nullptr;
  PAINTSTRUCT paint{};
};

struct Dialog::Window {
  explicit Window(HWND owner) : owner(owner) {}

  HWND handle = nullptr;  // set when WM_INITDIALOG arrives
  HWND owner;             // disabled by the platform while this one runs
  // Set by the base class's handlers that leave the message being
  // dispatched to the platform's default dialog handling.
  bool defaultHandling = false;
  Win32PaintContext paintContext;
  // Between HoldSession and ReleaseSession: the session's end is refused,
  // and when it comes all the same, `endRequested` runs and the end waits.
  bool sessionHeld = false;
  bool endRequestedOnce = false;
  std::function<void()> endRequested;
};

}  // namespace pantoline::ui
