#pragma once

// What a dialog and the worker thread it starts share: the worker's result
// and the way back to the dialog. Each side holds a shared_ptr to it, so
// either may finish first: a dialog destroyed while its worker still runs
// (its owner window closed) frees nothing the worker uses, and the worker
// then tells nobody.

#include <functional>
#include <mutex>
#include <utility>

namespace kantiq {

template <typename Result>
class WorkerShare {
 public:
  // `notify` runs on the worker's thread, under the share's lock: it should
  // only post a message.
  explicit WorkerShare(std::function<void()> notify) : notify_(std::move(notify)) {}

  // The worker: stores its result, then tells the dialog if it is still there.
  void finish(Result result) {
    const std::lock_guard<std::mutex> guard(lock_);
    result_ = std::move(result);
    done_ = true;
    if (notify_) notify_();
  }

  // The dialog is going away: nobody is told from now on.
  void detach() {
    const std::lock_guard<std::mutex> guard(lock_);
    notify_ = nullptr;
  }

  // The result, once the worker has finished; false before.
  bool result(Result& out) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!done_) return false;
    out = result_;
    return true;
  }

 private:
  std::mutex lock_;
  std::function<void()> notify_;
  Result result_{};
  bool done_ = false;
};

}  // namespace kantiq
