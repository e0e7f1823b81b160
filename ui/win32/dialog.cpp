// Dialog on plain Win32: a modal run from the resource template through
// DialogBoxParam, with one dialog procedure that hands the messages the
// program's dialogs care about to their virtual operations. Other threads
// wake the dialog's thread with a private message posted to the dialog.
#include "ui/dialog.h"

#include <iterator>
#include <string>
#include <utility>

#include "ui/application.h"
#include "ui/win32/app_name.h"
#include "ui/win32/dialog_init.h"
#include "ui/win32/window.h"

namespace pantoline::ui {

namespace {

HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

// Dialog::Wake's message, and the timer of Dialog::StartTicks.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;
// Ticks more often than the fastest consumer wants them (20 a second), so
// that timer jitter does not halve its rate.
constexpr UINT kTickMs = 25;

HWND HandleOf(const Dialog* dialog) {
  return dialog && dialog->window() ? dialog->window()->handle : nullptr;
}

class Win32ColorContext final : public ColorContext {
 public:
  explicit Win32ColorContext(HDC dc) : dc_(dc) {}
  void SetTextBackground(Color color) override { SetBkColor(dc_, color); }
  void SetTextColor(Color color) override { ::SetTextColor(dc_, color); }

 private:
  HDC dc_;
};

// Over the owner when it is on the screen, otherwise in the middle of the
// work area; never partly off the work area.
void CenterWindow(HWND window, HWND owner) {
  const bool overOwner = owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromWindow(overOwner ? owner : window, MONITOR_DEFAULTTOPRIMARY),
                       &monitor)) {
    return;
  }
  const RECT area = monitor.rcWork;
  RECT center = area;
  if (overOwner) {
    GetWindowRect(owner, &center);
  }
  RECT rect;
  GetWindowRect(window, &rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  LONG x = center.left + (center.right - center.left - width) / 2;
  LONG y = center.top + (center.bottom - center.top - height) / 2;
  if (x + width > area.right) x = area.right - width;
  if (y + height > area.bottom) y = area.bottom - height;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Fills the dialog's list and combo boxes from the template's initial data.
void ApplyDialogInit(HWND dialog, int templateId) {
  const HINSTANCE instance = ProgramInstance();
  const HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(templateId),
                                       MAKEINTRESOURCEA(kDialogInitResourceType));
  if (resource == nullptr) {
    return;
  }
  const HGLOBAL loaded = LoadResource(instance, resource);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    return;
  }
  const auto strings = ParseDialogInit(static_cast<const std::uint8_t*>(data),
                                       SizeofResource(instance, resource));
  for (const DialogInitString& string : strings) {
    const UINT message =
        string.target == DialogInitString::Target::kComboBox ? CB_ADDSTRING : LB_ADDSTRING;
    SendDlgItemMessageA(dialog, string.controlId, message, 0,
                        reinterpret_cast<LPARAM>(string.text.c_str()));
  }
}

std::string DefaultCaption() {
  const Application* application = Application::Current();
  if (application != nullptr && !application->AppName().empty()) {
    return application->AppName();
  }
  return ModuleAppName();
}

}  // namespace

// ---------------------------------------------------------------------------
// Icons, strings and control objects.

Icon Icon::Load(int resourceId) {
  // A shared resource icon: the system owns it and it is never destroyed.
  return Icon(LoadIconA(ProgramInstance(), MAKEINTRESOURCEA(resourceId)));
}

std::string LoadResourceString(int id) {
  // With a buffer length of 0, LoadStringW gives the resource's own text
  // and its length, so that strings of any length come back whole.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(ProgramInstance(), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

void ProgressBar::SetRange(int lower, int upper) {
  if (control_ != nullptr) {
    SendMessageA(static_cast<HWND>(control_), PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
  }
}

void ProgressBar::SetPos(int position) {
  if (control_ != nullptr) {
    SendMessageA(static_cast<HWND>(control_), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
}

namespace {

// Binds `control` to the dialog's control `id` unless it is bound to it
// already; a handle left from an earlier run of the dialog is replaced.
void Bind(HWND dialog, int id, void*& control) {
  if (dialog == nullptr) {
    return;
  }
  const HWND bound = static_cast<HWND>(control);
  if (bound != nullptr && IsWindow(bound) && GetParent(bound) == dialog) {
    return;
  }
  control = GetDlgItem(dialog, id);
}

}  // namespace

void DataExchange::Control(int id, ProgressBar& control) {
  Bind(HandleOf(&dialog_), id, control.control_);
}

void DataExchange::Text(int id, const std::string& text) {
  const HWND control = GetDlgItem(HandleOf(&dialog_), id);
  if (control == nullptr) {
    return;
  }
  // An unchanged text is left alone: setting it would only make the
  // control flicker.
  const int length = GetWindowTextLengthA(control);
  std::string current(static_cast<std::size_t>(length) + 1, '\0');
  current.resize(static_cast<std::size_t>(GetWindowTextA(control, current.data(), length + 1)));
  if (current != text) {
    SetWindowTextA(control, text.c_str());
  }
}

void Win32PaintContext::EraseIconBackground() {
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.hdc), 0);
}

void Win32PaintContext::DrawIcon(int x, int y, Icon icon) {
  ::DrawIcon(paint.hdc, x, y, static_cast<HICON>(icon.handle()));
}

// ---------------------------------------------------------------------------
// The message dispatch.

struct DialogDispatch {
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept;

 private:
  static INT_PTR Handle(Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam);

  // The session ends all the same: the run is asked to end, and this
  // message is not answered before it has, since the process goes as soon
  // as it is. The window's messages go on meanwhile, the run's among them.
  static void EndHeldSession(Dialog& dialog) {
    Dialog::Window& w = *dialog.window_;
    if (!w.endRequestedOnce && w.endRequested) {
      w.endRequestedOnce = true;
      w.endRequested();
    }
    MSG message;
    while (w.sessionHeld && GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (!IsDialogMessageA(w.handle, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
  }

  // Runs one handler. Returns true when the handler left the message to
  // the platform's default handling (the base class did).
  template <typename Handler>
  static bool Run(Dialog& dialog, Handler&& handler) {
    Dialog::Window& window = *dialog.window_;
    // Handlers may run modal loops (the about box, a message box) in which
    // further messages are dispatched; each keeps its own answer.
    const bool outer = window.defaultHandling;
    window.defaultHandling = false;
    handler();
    const bool useDefault = window.defaultHandling;
    window.defaultHandling = outer;
    return useDefault;
  }
};

INT_PTR CALLBACK DialogDispatch::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) noexcept {
  Dialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    // DoModal passes the Dialog as the creation parameter.
    dialog = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->window_->handle = window;
  } else {
    dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (dialog == nullptr || !dialog->window_) {
    return FALSE;  // the messages that come before WM_INITDIALOG
  }
  return Handle(*dialog, message, wParam, lParam);
}

INT_PTR DialogDispatch::Handle(Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = dialog.window_->handle;
  switch (message) {
    case WM_INITDIALOG: {
      CenterWindow(window, dialog.window_->owner);
      bool focusFirst = true;
      Run(dialog, [&] { focusFirst = dialog.OnInitDialog(); });
      return focusFirst ? TRUE : FALSE;
    }

    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if ((id != IDOK && id != IDCANCEL) || (code != BN_CLICKED && code != 1)) {
        return FALSE;  // other notifications are accepted and ignored
      }
      // A button that is disabled does not act, even when its command is
      // sent or posted from elsewhere.
      const HWND control = reinterpret_cast<HWND>(lParam);
      if (control != nullptr && !IsWindowEnabled(control)) {
        return TRUE;
      }
      Run(dialog, [&] {
        if (id == IDOK) {
          dialog.OnOK();
        } else {
          dialog.OnCancel();
        }
      });
      return TRUE;
    }

    case WM_SYSCOMMAND:
      return Run(dialog, [&] { dialog.OnSysCommand(static_cast<unsigned>(wParam)); }) ? FALSE
                                                                                       : TRUE;

    case WM_PAINT:
      return Run(dialog, [&] { dialog.OnPaint(); }) ? FALSE : TRUE;

    case WM_QUERYENDSESSION:
      if (!dialog.window_->sessionHeld) {
        return FALSE;  // the platform's answer: the session may end
      }
      // A dialog procedure gives this message's result through the window.
      SetWindowLongPtrA(window, DWLP_MSGRESULT, FALSE);
      return TRUE;

    case WM_ENDSESSION:
      if (wParam == FALSE || !dialog.window_->sessionHeld) {
        return FALSE;
      }
      EndHeldSession(dialog);
      return TRUE;

    case kWakeMessage:
      Run(dialog, [&] { dialog.OnWake(); });
      return TRUE;

    case WM_TIMER:
      if (wParam != kTickTimer) {
        return FALSE;
      }
      Run(dialog, [&] { dialog.OnTick(static_cast<std::int64_t>(GetTickCount64()) * 1000); });
      return TRUE;

    case WM_QUERYDRAGICON: {
      Icon icon;
      Run(dialog, [&] { icon = dialog.OnQueryDragIcon(); });
      // A dialog procedure returns this message's result itself.
      return icon ? reinterpret_cast<INT_PTR>(icon.handle()) : FALSE;
    }

    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      // The platform's colours and brush first, then the program's changes
      // to the colours; the brush stays the platform's.
      const HDC dc = reinterpret_cast<HDC>(wParam);
      const HWND control = reinterpret_cast<HWND>(lParam);
      const LRESULT brush = DefWindowProcA(window, message, wParam, lParam);
      const int id = control == window ? 0 : GetDlgCtrlID(control);
      Win32ColorContext context(dc);
      Run(dialog, [&] { dialog.OnCtlColor(context, id); });
      return static_cast<INT_PTR>(brush);
    }

    default:
      return FALSE;
  }
}

// ---------------------------------------------------------------------------
// Dialog.

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  // Owned by the program's main window, unless this is it.
  HWND owner = nullptr;
  if (const Application* application = Application::Current(); application != nullptr) {
    const Dialog* main = application->MainWindow();
    if (main != this) {
      owner = HandleOf(main);
    }
  }
  window_ = std::make_unique<Window>(owner);
  const INT_PTR result =
      DialogBoxParamA(ProgramInstance(), MAKEINTRESOURCEA(templateId_), owner,
                      &DialogDispatch::Procedure, reinterpret_cast<LPARAM>(this));
  window_.reset();
  return static_cast<int>(result);
}

void Dialog::EndDialog(int result) {
  if (const HWND window = HandleOf(this)) {
    ::EndDialog(window, result);
  }
}

bool Dialog::OnInitDialog() {
  ApplyDialogInit(window_->handle, templateId_);
  UpdateData();
  return true;
}

void Dialog::OnOK() { EndDialog(IDOK); }

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::OnSysCommand(unsigned command) {
  (void)command;
  window_->defaultHandling = true;
}

void Dialog::OnPaint() { window_->defaultHandling = true; }

void Dialog::UpdateData() {
  DataExchange exchange(*this);
  DoDataExchange(exchange);
}

void Dialog::UpdateWindow() {
  if (const HWND window = HandleOf(this)) {
    // Sends WM_PAINT to the dialog and its controls now, whatever is
    // queued, instead of leaving it to the message loop.
    ::UpdateWindow(window);
  }
}

void Dialog::Wake() {
  // The dialog's thread picks the message up in whatever loop it runs:
  // the dialog's own, a message box's, the about box's.
  PostMessageA(HandleOf(this), kWakeMessage, 0, 0);
}

void Dialog::StartTicks() { SetTimer(HandleOf(this), kTickTimer, kTickMs, nullptr); }

void Dialog::StopTicks() { KillTimer(HandleOf(this), kTickTimer); }

void Dialog::EnableItem(int id, bool enable) {
  const HWND window = HandleOf(this);
  const HWND control = GetDlgItem(window, id);
  if (!enable && control != nullptr && control == GetFocus()) {
    // A disabled control loses the focus, and with no focus the dialog
    // manager no longer sees the keyboard (Escape, Tab, Enter): the focus
    // goes on to the next tab stop first.
    SendMessageA(window, WM_NEXTDLGCTL, 0, FALSE);
  }
  EnableWindow(control, enable ? TRUE : FALSE);
}

bool Dialog::IsIconic() const { return ::IsIconic(HandleOf(this)) != FALSE; }

void Dialog::SetIcon(Icon icon, bool big) {
  SendMessageA(HandleOf(this), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
               reinterpret_cast<LPARAM>(icon.handle()));
}

bool Dialog::AppendSystemMenuItem(unsigned command, const std::string& text) {
  const HWND window = HandleOf(this);
  const HMENU menu = window != nullptr ? GetSystemMenu(window, FALSE) : nullptr;
  if (menu == nullptr) {
    return false;
  }
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, command, text.c_str());
  return true;
}

int Dialog::ClientWidth() const {
  RECT rect{};
  GetClientRect(HandleOf(this), &rect);
  return rect.right - rect.left;
}

int Dialog::ClientHeight() const {
  RECT rect{};
  GetClientRect(HandleOf(this), &rect);
  return rect.bottom - rect.top;
}

int Dialog::SystemIconWidth() { return GetSystemMetrics(SM_CXICON); }

int Dialog::SystemIconHeight() { return GetSystemMetrics(SM_CYICON); }

PaintContext& Dialog::BeginPaint() {
  Win32PaintContext& context = window_->paintContext;
  context.window = window_->handle;
  ::BeginPaint(context.window, &context.paint);
  return context;
}

void Dialog::EndPaint() {
  Win32PaintContext& context = window_->paintContext;
  ::EndPaint(context.window, &context.paint);
}

void Dialog::MessageBox(const std::string& text, MessageStyle style, const char* caption) {
  const std::string name = caption != nullptr ? std::string(caption) : DefaultCaption();
  const UINT type = MB_OK | (style == MessageStyle::kStop ? MB_ICONSTOP : 0);
  MessageBoxA(HandleOf(this), text.c_str(), name.c_str(), type);
}

void Dialog::HoldSession(const std::string& reason, std::function<void()> endRequested) {
  if (window_ == nullptr || window_->handle == nullptr || window_->sessionHeld) {
    return;
  }
  window_->sessionHeld = true;
  window_->endRequested = std::move(endRequested);
  // Asleep the adapter loses power and the unit its transfer.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  wchar_t text[256];
  if (MultiByteToWideChar(CP_ACP, 0, reason.c_str(), -1, text, static_cast<int>(std::size(text))) > 0) {
    ShutdownBlockReasonCreate(window_->handle, text);
  }
}

void Dialog::ReleaseSession() {
  if (window_ == nullptr || !window_->sessionHeld) {
    return;
  }
  ShutdownBlockReasonDestroy(window_->handle);
  SetThreadExecutionState(ES_CONTINUOUS);
  window_->endRequested = nullptr;
  window_->sessionHeld = false;
}

}  // namespace pantoline::ui
