// A reset running on a worker thread beside the dialog's window, on either
// desktop. The worker sees this object as its display; each call is queued
// and reaches the dialog's own display on the window's thread, in the order
// it was made, once the toolkit has woken that thread (`wake`) and it calls
// Deliver. Progress reports are coalesced to the latest one not yet shown
// and taken by the window on its ticks (OnTick), so that reporting neither
// waits nor wakes the window's thread, and the transfer never waits for the
// window; a message box is shown on the window's thread while the worker
// waits for it to close. Nothing of the window is touched on the worker.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "link/run_stop.h"
#include "reset/reset_display.h"

namespace pantoline::ui {

class ResetRun final : public ResetDisplay {
 public:
  // `target` is used on the window's thread only. `wake` may be called from
  // any thread: it has the window's thread call Deliver soon. `finished`
  // runs on the window's thread, inside Deliver, once the worker has ended,
  // with what escaped the reset, if anything.
  ResetRun(ResetDisplay& target, std::function<void()> wake, std::function<void(std::exception_ptr)> finished);
  ~ResetRun() override;  // joins the worker
  ResetRun(const ResetRun&) = delete;
  ResetRun& operator=(const ResetRun&) = delete;

  // Starts `reset` on a worker thread, with this object as its display.
  // Throws std::system_error when the platform gives no thread; nothing
  // has run then.
  void Start(std::function<void(ResetDisplay&)> reset);

  // The window's thread: carries out what has been handed over, after a
  // wake. Reentered from a message box's loop, it leaves the calls to the
  // outer Deliver.
  void Deliver();
  // The window's thread, on every tick of the toolkit's (frames, timers),
  // `nowUs` a monotonic time in microseconds: shows the latest progress,
  // at most once in kProgressGapUs and only when no call is queued.
  void OnTick(std::int64_t nowUs);

  // Asks the run to end early and soundly; the reset procedure polls it at
  // its waits once it takes a stop request.
  void RequestStop() noexcept { stop_.Request(); }
  const RunStop& stop() const { return stop_; }

  // Called on the worker.
  void DisableReset() override;
  void ShowStatus(const char* text) override;
  void SetProgressRange(int upper) override;
  void ShowMessage(const char* text) override;
  ProgressCallback ProgressReceiver() override { return &OnProgress; }
  void* ProgressContext() override { return this; }

  // At line rate a block is acknowledged about 86 times a second, and the
  // bar steps once in eight blocks. Showing progress on every frame (60 a
  // second) would repaint a count nobody can read that fast, and the
  // painting, in the program and in the display server or compositor,
  // competes for the processor with the transfer's own wake-ups. Twenty a
  // second still shows every step of the bar within 50 ms.
  static constexpr std::int64_t kProgressGapUs = 50'000;

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
  void Carry(Call& call);

  ResetDisplay& target_;
  std::function<void()> wake_;
  std::function<void(std::exception_ptr)> finished_;
  std::exception_ptr escaped_;
  RunStop stop_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<Call> calls_;
  // The latest progress report not yet handed over: only the report
  // itself is stored, so that reporting never allocates.
  bool progressPending_ = false;
  std::int32_t progressBytes_ = 0;
  std::int32_t progressSerial_ = 0;
  bool woken_ = false;
  // The window's thread only.
  bool delivering_ = false;
  std::int64_t progressShownAt_ = 0;

  std::thread worker_;
};

}  // namespace pantoline::ui
