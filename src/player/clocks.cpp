// The clocks (sound is the master), the due time of each picture, the position report,
// pausing and seek requests. Owns no thread; the stages call in here.
#include <chrono>
#include <cmath>
#include <thread>

#include "media/synccall.h"
#include "player/ffplayer.h"
#include "player/playback.h"

namespace {
constexpr double kNoSyncThreshold = 10.0; // a larger gap is a jump, not drift
constexpr double kMinSyncThreshold = 0.01;
constexpr int64_t kPositionStep = 10000; // microseconds between position reports
} // namespace

double NowSeconds() { return ff.av_gettime_relative() / 1e6; }

double AudioClock(TPlaybackState &s) {
  const TAudioPart &a = s.Audio;
  const double bytesPerSecond = double(a.SampleRate) * a.Channels * 2;
  const int left = a.BufferSize - a.BufferIndex;
  return a.Clock - (bytesPerSecond > 0 ? left / bytesPerSecond : 0);
}

double VideoClock(TPlaybackState &s) {
  if (s.Paused) return s.Clocks.CurrentPts;
  const double drift = s.Clocks.CurrentPtsDrift;
  if (drift != 0) return drift + NowSeconds();
  return s.Read.StartTime / 1e6; // no picture shown yet: the position reads 0
}

double MasterClock(TPlaybackState &s) { return s.HasAudio() ? AudioClock(s) : VideoClock(s); }

double TargetClock(TPlaybackState &s, double t) {
  TClockPart &c = s.Clocks;
  double delay = c.FrameLastPts >= 0 ? t - c.FrameLastPts : 0;
  if (delay <= 0 || delay >= 10)
    delay = c.FrameLastDelay;
  else
    c.FrameLastDelay = delay;
  c.FrameLastPts = t;

  if (s.HasAudio()) {
    const double diff = VideoClock(s) - AudioClock(s);
    const double threshold = std::max(kMinSyncThreshold, delay);
    if (std::fabs(diff) < kNoSyncThreshold) {
      if (diff <= -threshold)
        delay = 0; // late against the sound: show at once
      else if (diff >= threshold)
        delay = 2 * delay; // early: hold it longer
    }
  }
  c.FrameTimer = c.FrameTimer + delay;
  return c.FrameTimer;
}

void UpdatePosition(TPlaybackState &s) {
  if (s.Read.ImageSequence) return;
  const double clock = s.HasVideo() ? VideoClock(s) : AudioClock(s);
  int64_t pos = std::llround(clock * 1e6) - s.Read.StartTime;
  const int64_t duration = s.Read.Duration;
  if (!s.HasVideo() && s.Audio.DurationUS >= 0 && pos >= s.Audio.DurationUS &&
      duration > 0 && pos < duration)
    pos = duration;
  if (duration > 0 && pos >= duration) pos = duration;
  s.Player.ReportPosition(pos, duration > 0 && pos == duration);

  if (s.EndReached && !s.Read.LiveCapture && !s.EndSignalled) {
    // A picture still waiting to be shown is part of the file: the end comes after it.
    if (s.HasVideo()) {
      std::lock_guard<std::mutex> g(s.Video.Pictures.Lock);
      if (s.Video.Pictures.Size > 0) return;
      s.EndSignalled = true;
    }
    s.Player.SetState(psEnd);
  }
}

void TogglePause(TPlaybackState &s) {
  if (s.Paused) {
    const double now = NowSeconds();
    s.Clocks.FrameTimer =
        s.Clocks.FrameTimer + now + s.Clocks.CurrentPtsDrift - s.Clocks.CurrentPts;
    if (s.Read.PauseResult != AVERROR(ENOSYS)) s.Clocks.CurrentPts = s.Clocks.CurrentPtsDrift + now;
    s.Clocks.CurrentPtsDrift = s.Clocks.CurrentPts - now;
    s.Paused = false;
  } else {
    s.Paused = true;
  }
}

void RequestSeek(TPlaybackState &s, int flags, int64_t pos, int64_t rel) {
  TCustomPlayer &p = s.Player;
  if (s.SeekRequest) return;
  p.Seeking = true;
  s.SeekWhilePaused = s.Paused.load();
  s.SeekPos = pos;
  s.SeekRel = rel;
  s.SeekFlags = flags & 0xF;
  p.SeekDoneSignal.Clear();
  s.SeekRequest = true;
}
