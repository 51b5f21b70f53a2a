// A headless player on a host panel with every event it raises recorded, for the
// player's tests. Waiting keeps the user-interface thread's events flowing.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/fixtures.h"
#include "media/loader.h"
#include "media/synccall.h"
#include "player/ffplayer.h"

namespace playertest {

constexpr int kPanelWidth = 243, kPanelHeight = 171;

struct App {
  int argc = 1;
  char arg0[8] = "test";
  char *argv[2] = {arg0, nullptr};
  QApplication app{argc, argv};
};

struct Recorded {
  enum Kind { FileOpen, Position, State } kind;
  int64_t value; // duration, position or state
};

class Harness {
public:
  Harness() {
    host.resize(kPanelWidth, kPanelHeight);
    host.show();
    if (!FFLoader().LoadLibs(PlayerLibs)) ADD_FAILURE() << FFLoader().LastError();
    player.OnFileOpen = [this](TCustomPlayer *, int64_t duration, int w, int h, int &sw, int &sh) {
      events.push_back({Recorded::FileOpen, duration});
      frameWidth = w;
      frameHeight = h;
      sw = kPanelWidth;
      sh = kPanelHeight;
    };
    player.OnPosition = [this](TCustomPlayer *, int64_t pts) {
      EXPECT_TRUE(IsUIThread());
      events.push_back({Recorded::Position, pts});
      lastPosition = pts;
    };
    player.OnState = [this](TCustomPlayer *, TPlayState s) {
      events.push_back({Recorded::State, s});
      states.push_back(s);
    };
  }

  // Waits (serving the events) until done() or the time is up.
  static bool WaitFor(const std::function<bool()> &done, int ms = 10000) {
    return WaitPumping(done, std::chrono::milliseconds(ms));
  }
  static void Pump(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    WaitPumping([&] { return std::chrono::steady_clock::now() >= until; });
  }
  bool SawState(TPlayState s) const {
    for (TPlayState x : states)
      if (x == s) return true;
    return false;
  }
  int CountState(TPlayState s) const {
    int n = 0;
    for (TPlayState x : states) n += x == s;
    return n;
  }

  App app;
  QWidget host;
  TFFPlayer player;
  std::vector<Recorded> events;
  std::vector<TPlayState> states;
  int64_t lastPosition = -1;
  int frameWidth = 0, frameHeight = 0;
};

// How far a decoded colour may stray from the pattern after lossy coding.
inline bool Near(QRgb got, fixtures::Rgb want, int tolerance = 48) {
  return std::abs(qRed(got) - want.r) <= tolerance && std::abs(qGreen(got) - want.g) <= tolerance &&
         std::abs(qBlue(got) - want.b) <= tolerance;
}

} // namespace playertest
