// When a picture is due: the frame timer advances by the frame's delay, corrected
// against the sound clock when the two have drifted apart (but not across a jump).
#include <gtest/gtest.h>

#include "media/loader.h"
#include "player/ffplayer.h"
#include "player/playback.h"

namespace {

struct DueCase {
  const char *name;
  bool audio;
  double t;         // the picture's time
  double videoMinusAudio;
  double expectedDelay; // what the frame timer grows by
};

TEST(PlaybackClocks, PicturesAreTimedAgainstTheSound) {
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  // Last picture at 1.00 s with a remembered delay of 0.04 s.
  const DueCase cases[] = {
      {"in step: the frame's own delay", true, 1.04, 0.0, 0.04},
      {"slightly off, within the threshold", true, 1.04, 0.03, 0.04},
      {"late by more than a frame: shown at once", true, 1.04, -0.05, 0.0},
      {"early by more than a frame: held twice as long", true, 1.04, 0.05, 0.08},
      {"ten seconds apart is a jump, not drift", true, 1.04, -10.0, 0.04},
      {"without sound no correction", false, 1.04, -0.5, 0.04},
      {"a time going back keeps the last delay", true, 0.50, 0.0, 0.04},
      {"a gap of ten seconds keeps the last delay", true, 11.5, 0.0, 0.04},
      {"a new delay is taken as it comes", true, 1.10, 0.0, 0.10},
  };
  for (const DueCase &c : cases) {
    SCOPED_TRACE(c.name);
    TFFPlayer player;
    TPlaybackState s(player);
    s.Clocks.FrameTimer = 100;
    s.Clocks.FrameLastPts = 1.0;
    s.Clocks.FrameLastDelay = 0.04;
    // Paused, the video clock is the shown picture's time; the sound clock is its own.
    s.Paused = true;
    s.Clocks.CurrentPts = 5.0;
    if (c.audio) {
      s.Audio.StreamIndex = 0;
      s.Audio.Clock = 5.0 - c.videoMinusAudio;
    }
    EXPECT_NEAR(TargetClock(s, c.t), 100 + c.expectedDelay, 1e-9);
    EXPECT_EQ(s.Clocks.FrameLastPts, c.t);
  }
}

} // namespace
