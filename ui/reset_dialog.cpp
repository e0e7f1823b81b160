#include "ui/reset_dialog.h"

#include <cstdio>
#include <system_error>

#include "reset/file_error.h"
#include "reset/reset_procedure.h"
#include "ui/about_dialog.h"
#include "ui/resource_ids.h"

namespace pantoline::ui {

ResetDialog::ResetDialog() : Dialog(IDD_RESET_DIALOG), appIcon(Icon::Load(IDR_MAINFRAME)) {}

ResetDialog::~ResetDialog() = default;

void ResetDialog::DoDataExchange(DataExchange& exchange) {
  exchange.Control(IDC_PROGRESS, progressBar);
  exchange.Text(IDC_STATUS, statusText);
  exchange.Text(IDC_FILE, fileText);
}

bool ResetDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  const std::string about = LoadResourceString(IDS_ABOUTBOX);
  if (!about.empty()) {
    AppendSystemMenuItem(IDM_ABOUTBOX, about);
  }
  SetIcon(appIcon, true);
  SetIcon(appIcon, false);
  ShowStatus(kGreeting);
  return true;  // the focus goes to RESET, the first tab stop
}

void ResetDialog::OnOK() {
  // Runs once: the reset disables RESET first and nothing enables it again.
  RunReset([this](ResetDisplay& display) {
    ResetOptions options;
    options.stop = &run_->stop();
    OnReset(display, SystemSerialPorts(), SystemClock(), options);
  });
}

void ResetDialog::OnCancel() {
  if (running_) {
    cancelHeld_ = true;
    return;
  }
  Dialog::OnCancel();
}

void ResetDialog::RunReset(std::function<void(ResetDisplay&)> reset) {
  if (run_ != nullptr) {
    return;  // once per dialog, even for a command sent to a disabled RESET
  }
  run_ = std::make_unique<ResetRun>(*this, [this] { Wake(); },
                                    [this](std::exception_ptr escaped) { RunFinished(std::move(escaped)); });
  try {
    run_->Start(std::move(reset));
  } catch (const std::system_error& error) {
    DisableReset();
    MessageBox(std::string("The reset could not be started: ") + error.what(), MessageStyle::kStop);
    return;
  }
  running_ = true;
  StartTicks();
  HoldSession(kSessionHoldReason, [this] {
    endRequested_ = true;
    run_->RequestStop();
  });
}

void ResetDialog::RequestStop() {
  if (running_) {
    run_->RequestStop();
  }
}

void ResetDialog::OnWake() {
  if (run_ != nullptr) {
    run_->Deliver();
  }
}

void ResetDialog::OnTick(std::int64_t nowUs) {
  if (running_) {
    run_->OnTick(nowUs);
  }
}

// The worker has ended: what escaped it is reported first, then the
// commands held meanwhile are carried out.
void ResetDialog::RunFinished(std::exception_ptr escaped) {
  running_ = false;
  StopTicks();
  ReleaseSession();
  if (escaped != nullptr) {
    try {
      std::rethrow_exception(escaped);
    } catch (const FileError& error) {
      // Nobody is there to close a box for a program asked to end.
      if (endRequested_) {
        std::fprintf(stderr, "%s\n", error.what());
      } else {
        MessageBox(error.what(), MessageStyle::kStop);
      }
    }
  }
  if (cancelHeld_ || endRequested_) {
    Dialog::OnCancel();
  }
}

void ResetDialog::OnSysCommand(unsigned command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    AboutDialog about;
    about.DoModal();
    return;
  }
  Dialog::OnSysCommand(command);
}

void ResetDialog::OnPaint() {
  if (!IsIconic()) {
    Dialog::OnPaint();
    return;
  }
  WithPaintContext([this](PaintContext& context) {
    context.EraseIconBackground();
    context.DrawIcon(IconOrigin(ClientWidth(), SystemIconWidth()),
                     IconOrigin(ClientHeight(), SystemIconHeight()), appIcon);
  });
}

void ResetDialog::OnCtlColor(ColorContext& context, int controlId) {
  // The status line only, whatever kind of control it is drawn as.
  if (controlId == IDC_STATUS) {
    context.SetTextBackground(kStatusBackground);
    context.SetTextColor(kStatusText);
  }
}

void ResetDialog::ShowStatus(std::string text) {
  statusText = std::move(text);
  UpdateData();
  UpdateWindow();
}

void ResetDialog::ShowProgress(std::int32_t bytes) {
  progressBar.SetPos(bytes / kProgressUnit);
  statusText = std::to_string(bytes) + " bytes Sent";
  UpdateData();
  UpdateWindow();
}

void ResetDialog::OnProgress(void* context, std::int32_t bytes, std::int32_t serial) {
  if (serial == 1) {
    static_cast<ResetDialog*>(context)->ShowProgress(bytes);
  }
}

void ResetDialog::DisableReset() { EnableItem(IDOK, false); }

void ResetDialog::SetProgressRange(int upper) { progressBar.SetRange(0, upper); }

void ResetDialog::ShowMessage(const char* text) { MessageBox(text); }

}  // namespace pantoline::ui
