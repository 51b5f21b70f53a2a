// A gate a worker passes at safe points of its loop: closed, it holds the worker there
// until it is opened again. It decides nothing about when to pause; the component does.
#pragma once

#include <condition_variable>
#include <mutex>

class TPauseGate {
public:
  // Close the gate: the worker stops at its next Pass().
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  // Open it and release a waiting worker.
  void Open() {
    {
      std::lock_guard lock(mutex_);
      closed_ = false;
    }
    opened_.notify_all();
  }
  bool IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }
  // Called by the worker at a point where holding no lock and no half-written data is
  // guaranteed; returns once the gate is open.
  void Pass() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return !closed_; });
  }

private:
  mutable std::mutex mutex_;
  std::condition_variable opened_;
  bool closed_ = false;
};
