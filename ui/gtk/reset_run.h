// A reset running on a worker thread beside the dialog's window. The
// worker sees this object as its display; each call is handed over to the
// main loop, where it reaches the dialog's own display in the order it was
// made. Progress reports are coalesced to the latest one not yet shown and
// taken by the window on a frame, so that reporting neither waits nor wakes
// the main thread, and the transfer never waits for the window; a message
// box is shown on the main thread while the worker waits for it to close.
// Nothing of the window is touched on the worker.
#pragma once

#include <gtk/gtk.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "reset/reset_display.h"

namespace pantoline::ui::gtk {

class ResetRun final : public ResetDisplay {
 public:
  // Starts `reset` on a worker thread, with this object as its display.
  // `target` is used on the main thread only; `window` is the one whose
  // frames show the progress, and outlives the run. `finished` runs on the main
  // thread once the worker has ended, with what escaped `reset`, if
  // anything; it may destroy this object.
  ResetRun(ResetDisplay& target, GtkWidget* window, std::function<void(ResetDisplay&)> reset,
           std::function<void(std::exception_ptr)> finished);
  ~ResetRun() override;  // joins the worker
  ResetRun(const ResetRun&) = delete;
  ResetRun& operator=(const ResetRun&) = delete;

  // Called on the worker.
  void DisableReset() override;
  void ShowStatus(const char* text) override;
  void SetProgressRange(int upper) override;
  void ShowMessage(const char* text) override;
  ProgressCallback ProgressReceiver() override { return &OnProgress; }
  void* ProgressContext() override { return this; }

 private:
  enum class Kind { kDisableReset, kStatus, kRange, kProgress, kMessage, kEnd };
  struct Call {
    Kind kind;
    std::string text;
    std::int32_t value = 0;
    std::int32_t serial = 0;
    bool* answered = nullptr;  // kMessage: set once the box has closed
  };

  static void OnProgress(void* context, std::int32_t bytes, std::int32_t serial);
  void Post(Call call);
  void QueueProgressLocked();
  void WakeLocked();
  // The main loop's side: carries out what has been handed over.
  static gboolean Deliver(gpointer self);
  static gboolean OnFrame(GtkWidget*, GdkFrameClock*, gpointer self);
  void Carry(Call& call);

  ResetDisplay& target_;
  std::function<void(std::exception_ptr)> finished_;
  std::exception_ptr escaped_;
  GSource* wake_;  // dispatched on the main loop when the worker posts
  GtkWidget* window_;
  guint frameTick_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<Call> calls_;
  // The latest progress report not yet handed over: only the report
  // itself is stored, so that reporting never allocates.
  bool progressPending_ = false;
  std::int32_t progressBytes_ = 0;
  std::int32_t progressSerial_ = 0;
  bool woken_ = false;
  // Main thread only: the frame time (us) at which progress was last shown.
  gint64 progressShownAt_ = 0;

  std::thread worker_;  // last: started once everything above exists
};

}  // namespace pantoline::ui::gtk
