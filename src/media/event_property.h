// An event handler field that the host may assign or clear from the user-interface thread
// while worker threads read it. Knows nothing of the events themselves.
#pragma once

#include <mutex>
#include <utility>

template <class F> class TEventProperty {
public:
  TEventProperty &operator=(F handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    return *this;
  }
  // A copy: it stays callable even when the field is cleared meanwhile.
  F Get() const {
    std::lock_guard lock(mutex_);
    return handler_;
  }
  explicit operator bool() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
  }

private:
  mutable std::mutex mutex_;
  F handler_;
};
