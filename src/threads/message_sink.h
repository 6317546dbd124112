#pragma once

// The road from a worker to the window: workers post messages, the front end drains them
// on its own thread in the order each worker posted them. The text travels inside the
// message by value, so ownership passes with it and nothing is freed twice.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quaderix {

inline constexpr uint32_t WM_PUZZLE_LOG = 1025;     // wParam 0: text, 1: one log line
inline constexpr uint32_t WM_PUZZLE_NOTIFY = 1026;  // wParam 2: a worker has finished

// One posted message; the text is owned by the message and moves with it.
struct PuzzleMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  uintptr_t lParam = 0;
  std::string text;
};

// Implementations must accept Post from any thread and never block the poster for long.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Post(PuzzleMessage message) = 0;
};

// A mutex-guarded queue; the command-line program and the tests drain it on their own
// thread.
class QueuedMessageSink : public MessageSink {
 public:
  void Post(PuzzleMessage message) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(message));
    }
    posted_.notify_all();
  }
  // Returns once a message waits or `timeout` has passed, so that a loop polling the
  // queue hears at once that the run has finished instead of at its next poll.
  void WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
  }
  std::vector<PuzzleMessage> Drain() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PuzzleMessage> out(std::make_move_iterator(queue_.begin()),
                                   std::make_move_iterator(queue_.end()));
    queue_.clear();
    return out;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<PuzzleMessage> queue_;
};

}  // namespace quaderix
