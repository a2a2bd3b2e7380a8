#include "history/history_worker.h"

namespace varnholt_app {

HistoryWorker::HistoryWorker(Progress progress, Done done)
    : progress_(std::move(progress)), done_(std::move(done)), thread_([this] { loop(); }) {}

HistoryWorker::~HistoryWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    cancel_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void HistoryWorker::request(const std::string& folder, int64_t now, int64_t since) {
  {
    std::lock_guard lock(mutex_);
    pending_ = Request{folder, now, since};
    if (!running_.empty() && running_ != folder) cancel_ = true;
  }
  wake_.notify_all();
}

void HistoryWorker::loop() {
  for (;;) {
    Request job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
      if (stop_) return;
      job = std::move(*pending_);
      pending_.reset();
      running_ = job.folder;
      cancel_ = false;
    }
    HistoryOptions options;
    options.now = job.now;
    options.since = job.since;
    options.progress = [&](size_t done, size_t total) {
      if (progress_) progress_(job.folder, done, total);
      std::lock_guard lock(mutex_);
      return !cancel_;
    };
    // The default window moves with the clock; a week's drift is not worth
    // reading everything again.
    const bool sameWindow =
        last_ && lastFolder_ == job.folder &&
        (job.since != 0 ? last_->since == job.since : monthsBefore(job.now, 12) - last_->since < 7 * 86400);
    std::shared_ptr<const History> result;
    if (sameWindow) {
      auto next = std::make_shared<History>(*last_);
      if (updateHistory(*next, job.folder, options)) result = std::move(next);
    } else {
      result = std::make_shared<History>(readHistory(job.folder, options));
    }
    bool cancelled = false;
    {
      std::lock_guard lock(mutex_);
      running_.clear();
      cancelled = cancel_;
    }
    // A stopped read is not a result; the request that stopped it follows.
    if (!result || cancelled) continue;
    last_ = result;
    lastFolder_ = job.folder;
    if (done_) done_(job.folder, std::move(result));
  }
}

}  // namespace varnholt_app
