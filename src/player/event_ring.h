// The ring of position and state entries between the engine's threads and the event
// thread. It only orders and collapses entries; it delivers nothing itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "player/player_types.h"

// pekStop ends the event thread.
enum TPlayerEventKind { pekPosition = 1, pekState = 2, pekStop = 3 };

struct PlayerEvent {
  TPlayerEventKind Kind = pekPosition;
  TPlayState State = psPlay; // for pekState
  int64_t Time = 0;          // for pekPosition
};

class TPlayerEventRing {
public:
  static constexpr int kSize = 10;

  // A run of entries of one kind collapses to the newest, except over psStop, which
  // closes one file's events; a full ring loses its oldest.
  void Add(const PlayerEvent &e);
  // False when the ring is empty.
  bool Take(PlayerEvent &e);
  // Waits until an entry is waiting or the time has passed.
  void WaitNotEmpty(std::chrono::milliseconds timeout);
  void Clear();
  bool Empty();

private:
  std::mutex lock_;
  std::condition_variable notEmpty_;
  PlayerEvent ring_[kSize];
  int write_ = 0; // index of the newest entry
  int read_ = 0;  // the entry before the oldest: equal indexes mean empty
};
