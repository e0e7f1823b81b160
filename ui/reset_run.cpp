#include "ui/reset_run.h"

#include <utility>

namespace pantoline::ui {

ResetRun::ResetRun(ResetDisplay& target, std::function<void()> wake,
                   std::function<void(std::exception_ptr)> finished)
    : target_(target), wake_(std::move(wake)), finished_(std::move(finished)) {}

ResetRun::~ResetRun() {
  if (worker_.joinable()) {
    worker_.join();
  }
}

void ResetRun::Start(std::function<void(ResetDisplay&)> reset) {
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

void ResetRun::DisableReset() { Post({Kind::kDisableReset, {}}); }

void ResetRun::ShowStatus(const char* text) { Post({Kind::kStatus, text}); }

void ResetRun::SetProgressRange(int upper) { Post({Kind::kRange, {}, upper}); }

void ResetRun::ShowMessage(const char* text) {
  // A run asked to end is ending for a user who has gone (a logout, a
  // shutdown) or will not wait: nobody would close the box.
  if (stop_.Requested()) {
    return;
  }
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

void ResetRun::OnTick(std::int64_t nowUs) {
  if (delivering_ || nowUs - progressShownAt_ < kProgressGapUs) {
    return;
  }
  Call call{Kind::kProgress, {}};
  {
    std::lock_guard lock(mutex_);
    // Queued calls go first, with the progress reported before them:
    // Deliver carries them out.
    if (!calls_.empty() || !progressPending_) {
      return;
    }
    progressPending_ = false;
    call.value = progressBytes_;
    call.serial = progressSerial_;
  }
  progressShownAt_ = nowUs;
  Carry(call);
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
    wake_();
  }
}

void ResetRun::Deliver() {
  if (delivering_) {
    return;  // a message box's loop inside Deliver: the outer one goes on
  }
  delivering_ = true;
  for (;;) {
    Call call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) {
        QueueProgressLocked();
      }
      if (calls_.empty()) {
        woken_ = false;
        delivering_ = false;
        return;
      }
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    if (call.kind == Kind::kEnd) {
      worker_.join();
      delivering_ = false;
      auto finished = std::move(finished_);
      finished(escaped_);
      return;
    }
    Carry(call);  // a message box runs the window's loop meanwhile
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

}  // namespace pantoline::ui
