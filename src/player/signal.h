// A manual-reset signal the player's threads wait on: set, clear and a timed wait.
// It carries no data and knows nothing of who waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class TManualSignal {
public:
  explicit TManualSignal(bool initiallySet) : set_(initiallySet) {}
  void Set() {
    {
      std::lock_guard<std::mutex> g(lock_);
      set_ = true;
    }
    cond_.notify_all();
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    set_ = false;
  }
  bool IsSet() {
    std::lock_guard<std::mutex> g(lock_);
    return set_;
  }
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(lock_);
    return cond_.wait_for(g, timeout, [&] { return set_; });
  }

private:
  std::mutex lock_;
  std::condition_variable cond_;
  bool set_;
};
