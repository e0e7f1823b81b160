// The desktop toolkit's modal dialog, as Pantoline's dialogs use it.
//
// A small layer of the program's own with one implementation per desktop:
// plain Win32 (ui/win32) and GTK 3 (ui/gtk). A dialog is built from a
// template (a resource on Windows, a layout table on Linux) and runs
// modally; the program's dialogs override the operations below and call
// the protected ones. Only what the program's two dialogs need is here.
//
// Commands reach OnOK and OnCancel through the toolkit's dispatch; what a
// handler throws is the handler's own to catch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pantoline::ui {

// A colour as 0x00BBGGRR, the platform's own order.
using Color = std::uint32_t;
constexpr Color Rgb(int red, int green, int blue) {
  return static_cast<Color>(red) | static_cast<Color>(green) << 8 | static_cast<Color>(blue) << 16;
}

// An icon from the program's own resources: shared, never destroyed.
class Icon {
 public:
  Icon() = default;
  static Icon Load(int resourceId);  // an empty Icon when there is none
  explicit operator bool() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }

 private:
  explicit Icon(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

// The program's string resource `id`; empty when there is none.
std::string LoadResourceString(int id);

class Dialog;

// Control objects, bound to a dialog's control by DataExchange::Control on
// the first exchange. Operations on an unbound control do nothing.
class ProgressBar {
 public:
  void SetRange(int lower, int upper);
  void SetPos(int position);

 private:
  friend class DataExchange;
  void* control_ = nullptr;
};

// One exchange of member values towards a dialog's controls.
class DataExchange {
 public:
  explicit DataExchange(Dialog& dialog) : dialog_(dialog) {}
  void Control(int id, ProgressBar& control);
  // Puts `text` into the edit control `id`.
  void Text(int id, const std::string& text);

 private:
  Dialog& dialog_;
};

// What a control-colour handler may change for the control being drawn.
class ColorContext {
 public:
  virtual void SetTextBackground(Color color) = 0;
  virtual void SetTextColor(Color color) = 0;

 protected:
  ~ColorContext() = default;
};

// Painting the dialog while it is minimised.
class PaintContext {
 public:
  virtual void EraseIconBackground() = 0;
  virtual void DrawIcon(int x, int y, Icon icon) = 0;

 protected:
  ~PaintContext() = default;
};

enum class MessageStyle {
  kPlain,  // OK button, no icon
  kStop,   // OK button, stop icon
};

class Dialog {
 public:
  // The dialog of template `templateId`, with no parent window: the
  // program's main window, if there is one, owns it while it runs.
  explicit Dialog(int templateId);
  virtual ~Dialog();

  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window from the template, centres it, and runs it modally
  // until EndDialog. Returns the result given to EndDialog.
  int DoModal();

  // Ends the modal run with `result` (1 OK, 2 cancel).
  void EndDialog(int result);

  // The platform's window, once created; for the toolkit layer only.
  struct Window;
  Window* window() const { return window_.get(); }

 protected:
  // The window and its controls exist. The base puts the template's
  // initial data into its combo box and exchanges data towards the
  // controls. True lets the platform focus the first tab stop.
  virtual bool OnInitDialog();
  // Binds control objects and passes member values to the controls.
  virtual void DoDataExchange(DataExchange& exchange) { (void)exchange; }
  // The OK command (the default button, Enter): the base ends with 1.
  virtual void OnOK();
  // The cancel command (Escape, the Close item): the base ends with 2.
  virtual void OnCancel();
  // A system-menu command; the base does what the platform does.
  virtual void OnSysCommand(unsigned command);
  // Painting; the base does what the platform does.
  virtual void OnPaint();
  // The icon shown while the minimised window is dragged.
  virtual Icon OnQueryDragIcon() { return {}; }
  // Before control `controlId` (0: the dialog itself) is drawn; the base
  // keeps the platform's colours.
  virtual void OnCtlColor(ColorContext& context, int controlId) {
    (void)context;
    (void)controlId;
  }
  // On the window's thread, after Wake and on the ticks.
  virtual void OnWake() {}
  virtual void OnTick(std::int64_t nowUs) { (void)nowUs; }

  // Runs DoDataExchange: member values to the controls. The program never
  // reads its controls back.
  void UpdateData();
  // Repaints what has changed at once, before the message loop would
  // (Windows); GTK repaints on its next frame by itself.
  void UpdateWindow();
  // Has the window's thread call OnWake soon. May be called from any
  // thread while the window exists; wakes that come before OnWake runs
  // may be carried out as one.
  void Wake();
  // From StartTicks to StopTicks, OnTick runs on the window's thread some
  // 20 to 60 times a second (on its frames where the platform paints in
  // frames), with a monotonic time in microseconds.
  void StartTicks();
  void StopTicks();
  // Disabling the control that has the focus passes the focus on to the
  // next tab stop first, so that the keyboard (Escape) still reaches the
  // dialog.
  void EnableItem(int id, bool enable);
  bool IsIconic() const;
  // Sets the window's big or small icon.
  void SetIcon(Icon icon, bool big);
  // Appends a separator and the item `text` with `command` to the window's
  // system menu, after its standard items. False when it has none.
  bool AppendSystemMenuItem(unsigned command, const std::string& text);
  // Client area and system icon size, in pixels.
  int ClientWidth() const;
  int ClientHeight() const;
  static int SystemIconWidth();
  static int SystemIconHeight();
  // Runs `paint` with the window's paint context (inside OnPaint).
  template <typename Paint>
  void WithPaintContext(Paint paint);
  // A modal message box owned by this dialog; with no caption, the
  // application's name is the caption. Returns when it is closed.
  void MessageBox(const std::string& text, MessageStyle style = MessageStyle::kPlain,
                  const char* caption = nullptr);
  // From HoldSession to ReleaseSession the desktop is asked not to log out,
  // shut down, suspend or go idle, with `reason` where it shows one, and a
  // request to end the program (SIGTERM, SIGHUP or SIGINT on Linux; the
  // session ending on Windows) runs `endRequested` on the window's thread
  // in place of ending the program at once. The first such request is
  // held; a second one on Linux ends the program as the signal does. On
  // Windows the session's end waits, pumping messages, until
  // ReleaseSession. Outside a hold the requests end the program as ever. A
  // desktop that cannot be asked (no session bus) is no error.
  void HoldSession(const std::string& reason, std::function<void()> endRequested);
  void ReleaseSession();

 private:
  friend class DataExchange;
  friend struct DialogDispatch;  // the platform's message handling
  PaintContext& BeginPaint();
  void EndPaint();

  int templateId_;
  std::unique_ptr<Window> window_;
};

template <typename Paint>
void Dialog::WithPaintContext(Paint paint) {
  PaintContext& context = BeginPaint();
  paint(context);
  EndPaint();
}

}  // namespace pantoline::ui
