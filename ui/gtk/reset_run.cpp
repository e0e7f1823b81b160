#include "ui/gtk/reset_run.h"

#include <utility>

namespace pantoline::ui::gtk {
namespace {

// At line rate a block is acknowledged about 86 times a second, and the bar
// steps once in eight blocks. Showing progress on every frame (60 a second)
// would repaint a count nobody can read that fast, and the painting, in the
// program and in the display server or compositor, competes for the
// processor with the transfer's own wake-ups. Twenty a second still shows
// every step of the bar within 50 ms.
constexpr gint64 kProgressGapUs = 50'000;

GSourceFuncs kWakeFuncs = {
    nullptr, nullptr,
    [](GSource* source, GSourceFunc callback, gpointer data) -> gboolean {
      g_source_set_ready_time(source, -1);  // asleep until the next post
      return callback(data);
    },
    nullptr, nullptr, nullptr};

}  // namespace

ResetRun::ResetRun(ResetDisplay& target, GtkWidget* window, std::function<void(ResetDisplay&)> reset,
                   std::function<void(std::exception_ptr)> finished)
    : target_(target),
      finished_(std::move(finished)),
      wake_(g_source_new(&kWakeFuncs, sizeof(GSource))),
      window_(window),
      frameTick_(gtk_widget_add_tick_callback(window, &ResetRun::OnFrame, this, nullptr)) {
  g_source_set_callback(wake_, &ResetRun::Deliver, this, nullptr);
  g_source_set_ready_time(wake_, -1);
  g_source_attach(wake_, nullptr);
  worker_ = std::thread([this, reset = std::move(reset)] {
    std::exception_ptr escaped;
    try {
      reset(*this);
    } catch (...) {
      escaped = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    escaped_ = escaped;
    QueueProgressLocked();
    calls_.push_back({Kind::kEnd, {}});
    WakeLocked();
  });
}

ResetRun::~ResetRun() {
  if (worker_.joinable()) {
    worker_.join();
  }
  gtk_widget_remove_tick_callback(window_, frameTick_);
  g_source_destroy(wake_);
  g_source_unref(wake_);
}

void ResetRun::DisableReset() { Post({Kind::kDisableReset, {}}); }

void ResetRun::ShowStatus(const char* text) { Post({Kind::kStatus, text}); }

void ResetRun::SetProgressRange(int upper) { Post({Kind::kRange, {}, upper}); }

void ResetRun::ShowMessage(const char* text) {
  bool answered = false;
  Post({Kind::kMessage, text, 0, 0, &answered});
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&answered] { return answered; });
}

void ResetRun::OnProgress(void* context, std::int32_t bytes, std::int32_t serial) {
  auto& run = *static_cast<ResetRun*>(context);
  std::lock_guard lock(run.mutex_);
  if (run.progressPending_ && run.progressSerial_ != serial) {
    run.QueueProgressLocked();
  }
  run.progressPending_ = true;
  run.progressBytes_ = bytes;
  run.progressSerial_ = serial;
}

gboolean ResetRun::OnFrame(GtkWidget*, GdkFrameClock* clock, gpointer self) {
  auto& run = *static_cast<ResetRun*>(self);
  const gint64 now = gdk_frame_clock_get_frame_time(clock);
  if (now - run.progressShownAt_ < kProgressGapUs) {
    return G_SOURCE_CONTINUE;
  }
  Call call{Kind::kProgress, {}};
  {
    std::lock_guard lock(run.mutex_);
    // Queued calls go first, with the progress reported before them: the
    // wake source carries them out.
    if (!run.calls_.empty() || !run.progressPending_) {
      return G_SOURCE_CONTINUE;
    }
    run.progressPending_ = false;
    call.value = run.progressBytes_;
    call.serial = run.progressSerial_;
  }
  run.progressShownAt_ = now;
  run.Carry(call);
  return G_SOURCE_CONTINUE;
}

void ResetRun::Post(Call call) {
  std::lock_guard lock(mutex_);
  QueueProgressLocked();  // what was reported before this call shows first
  calls_.push_back(std::move(call));
  WakeLocked();
}

void ResetRun::QueueProgressLocked() {
  if (progressPending_) {
    calls_.push_back({Kind::kProgress, {}, progressBytes_, progressSerial_});
    progressPending_ = false;
  }
}

void ResetRun::WakeLocked() {
  if (!woken_) {
    woken_ = true;
    g_source_set_ready_time(wake_, 0);  // wakes the main loop from any thread
  }
}

gboolean ResetRun::Deliver(gpointer self) {
  auto& run = *static_cast<ResetRun*>(self);
  for (;;) {
    Call call;
    {
      std::lock_guard lock(run.mutex_);
      if (run.calls_.empty()) {
        run.QueueProgressLocked();
      }
      if (run.calls_.empty()) {
        run.woken_ = false;
        return G_SOURCE_CONTINUE;
      }
      call = std::move(run.calls_.front());
      run.calls_.pop_front();
    }
    if (call.kind == Kind::kEnd) {
      run.worker_.join();
      // May destroy the run: nothing of it is touched after this.
      auto finished = std::move(run.finished_);
      finished(run.escaped_);
      return G_SOURCE_CONTINUE;
    }
    run.Carry(call);  // a message box runs the main loop meanwhile
  }
}

void ResetRun::Carry(Call& call) {
  switch (call.kind) {
    case Kind::kDisableReset:
      target_.DisableReset();
      break;
    case Kind::kStatus:
      target_.ShowStatus(call.text.c_str());
      break;
    case Kind::kRange:
      target_.SetProgressRange(call.value);
      break;
    case Kind::kProgress:
      target_.ProgressReceiver()(target_.ProgressContext(), call.value, call.serial);
      break;
    case Kind::kMessage: {
      target_.ShowMessage(call.text.c_str());
      std::lock_guard lock(mutex_);
      *call.answered = true;
      answered_.notify_one();
      break;
    }
    case Kind::kEnd:
      break;
  }
}

}  // namespace pantoline::ui::gtk
