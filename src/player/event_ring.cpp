// The ring of position and state entries: collapsing runs of one kind and losing the
// oldest when full. Knows nothing of handlers or threads.
#include "player/event_ring.h"

void TPlayerEventRing::Add(const PlayerEvent &e) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    const PlayerEvent &newest = ring_[write_];
    const bool fileEnded = newest.Kind == pekState && newest.State == psStop;
    if (write_ != read_ && newest.Kind == e.Kind && !fileEnded) {
      ring_[write_] = e; // a burst of one kind is only worth its newest entry
    } else {
      write_ = (write_ + 1) % kSize;
      if (write_ == read_) read_ = (read_ + 1) % kSize;
      ring_[write_] = e;
    }
  }
  notEmpty_.notify_all();
}

bool TPlayerEventRing::Take(PlayerEvent &e) {
  std::lock_guard<std::mutex> guard(lock_);
  if (write_ == read_) return false;
  read_ = (read_ + 1) % kSize;
  e = ring_[read_];
  return true;
}

void TPlayerEventRing::WaitNotEmpty(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  notEmpty_.wait_for(guard, timeout, [&] { return write_ != read_; });
}

void TPlayerEventRing::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  write_ = read_ = 0;
}

bool TPlayerEventRing::Empty() {
  std::lock_guard<std::mutex> guard(lock_);
  return write_ == read_;
}
