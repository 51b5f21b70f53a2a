// The player component: its operations, the event ring's delivery on the event thread,
// the play thread, and waiting for it with the forced teardown. The engine's threads are
// started and stopped through playback.h; nothing here decodes or draws.
#include "player/ffplayer.h"

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "media/loader.h"
#include "media/logger.h"
#include "media/synccall.h"
#include "player/display.h"
#include "player/playback.h"

using namespace std::chrono_literals;

namespace {

// SDL reads its driver from the environment. What the user's environment chose is kept
// so that the default can always go back to it.
const std::optional<std::string> &startupAudioDriver() {
  static const std::optional<std::string> saved = [] {
    const char *v = std::getenv("SDL_AUDIODRIVER");
    return v ? std::optional<std::string>(v) : std::nullopt;
  }();
  return saved;
}

} // namespace

TCustomPlayer::TCustomPlayer() = default;

TCustomPlayer::~TCustomPlayer() {
  OnHook = nullptr;
  OnFileOpen = nullptr;
  OnState = nullptr;
  OnPosition = nullptr;
  Close(true);
  if (eventThread_.joinable()) {
    ring_.Add({pekStop, psStop, 0});
    WaitPumping([&] { return eventThreadDone_.load(); });
    eventThread_.join();
  }
}

bool TCustomPlayer::LoadAVLib(const std::string &folder) {
  FFLoader().SetLibraryPath(folder);
  if (FFLoader().LoadLibs(PlayerLibs)) return true;
  std::lock_guard<std::mutex> g(errLock_);
  lastErrMsg_ = FFLoader().LastError();
  return false;
}

bool TCustomPlayer::AVLibLoaded() const { return FFLoader().LibsLoaded(PlayerLibs); }

void TCustomPlayer::StoreError(const std::string &text, bool log) {
  {
    std::lock_guard<std::mutex> g(errLock_);
    lastErrMsg_ = text;
  }
  if (log) FFLogger().Log(this, llError, text);
}

void TCustomPlayer::LogError(const std::string &text) { FFLogger().Log(this, llError, text); }

void TCustomPlayer::applyDrivers() {
  const auto &saved = startupAudioDriver();
  switch (audioDriver_) {
  case adDefault:
    if (saved)
      setenv("SDL_AUDIODRIVER", saved->c_str(), 1);
    else
      unsetenv("SDL_AUDIODRIVER");
    break;
  case adDirectSound:
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    break;
  case adWaveOut:
    setenv("SDL_AUDIODRIVER", "alsa", 1);
    break;
  }
}

bool TCustomPlayer::Open(const std::string &fileName, QWidget *screenHandle, bool startPaused) {
  if (!FFLoader().LibsLoaded(PlayerLibs)) {
    StoreError("libav or libsdl not loaded.", true);
    return false;
  }
  Close(true);
  applyDrivers();

  if (ff.SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER) < 0) {
    char text[512];
    snprintf(text, sizeof text, "Could not initialize SDL with ScreenHandle(%u): %s",
             unsigned(reinterpret_cast<uintptr_t>(screenHandle)), ff.SDL_GetError());
    StoreError(text, true);
    return false;
  }
  sdlUp_ = true;
  if (disableDisplay_) {
    disableVideo_ = true;
    display_ = std::make_unique<TDisplay>(screenHandle, false);
  } else {
    // Pictures need a widget application; a core-only process cannot show any.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
      StoreError("SDL_GetVideoInfo() failed", true);
      shutDisplay();
      return false;
    }
    display_ = std::make_unique<TDisplay>(screenHandle, true);
  }

  ResetConverter(frameConv_);
  ResetConverter(hookConv_);
  {
    std::lock_guard<std::mutex> g(positionLock_);
    anyReported_ = false;
    lastReported_ = -1;
  }
  position_ = -1;
  if (!OpenPlayback(*this, fileName, startPaused)) {
    shutDisplay();
    return false;
  }
  fileName_ = fileName;
  screenHandle_ = screenHandle;
  TPlaybackState *s = playback_;
  probe_.AttachFormatContext(s->Read.Format);

  int frameWidth = -1, frameHeight = -1;
  if (s->HasVideo() && s->Video.Stream->codecpar->width > 0) {
    frameWidth = s->Video.Stream->codecpar->width;
    frameHeight = s->Video.Stream->codecpar->height;
  }
  deliverFileOpen(s->Read.ImageSequence ? 0 : s->Read.Duration, frameWidth, frameHeight);
  if (screenHandle && (screenWidth_ == 0 || screenHeight_ == 0)) {
    screenWidth_ = screenHandle->width();
    screenHeight_ = screenHandle->height();
  }

  PlayThreadDoneSignal.Clear();
  playThreadDone_ = false;
  // One event thread serves every file the player opens, so that the events of one file
  // never overtake those of the one before.
  if (!eventThread_.joinable()) {
    eventThreadDone_ = false;
    eventThread_ = std::thread([this] { eventThread(); });
  }
  playThread_ = std::thread([this] { playThread(); });
  return true;
}

void TCustomPlayer::deliverFileOpen(int64_t duration, int frameWidth, int frameHeight) {
  if (!OnFileOpen) return;
  auto call = [&] {
    const TFileOpenEvent handler = OnFileOpen.Get(); // where it runs, as for the other events
    if (!handler) return;
    int w = screenWidth_, h = screenHeight_;
    handler(this, duration, frameWidth, frameHeight, w, h);
    screenWidth_ = w;
    screenHeight_ = h;
  };
  if (triggerInMain_)
    SyncCall(call);
  else
    call();
}

void TCustomPlayer::Close(bool wait) {
  {
    auto lock = lockPlayer();
    if (TPlaybackState *s = playback_) {
      if (s->Paused) TogglePause(*s);
      display_->Post({deQuitEvent, 0, 0});
    }
  }
  if (!wait) return;
  closeWaiting();
  waitForThreads();
  shutDisplay();
}

std::unique_lock<std::mutex> TCustomPlayer::lockPlayer() {
  std::unique_lock<std::mutex> lock(PlayerLock, std::defer_lock);
  // The play thread may need the user-interface thread before it lets go of the lock.
  WaitPumping([&] { return lock.try_lock(); });
  return lock;
}

void TCustomPlayer::closeWaiting() {
  int attempts = 0;
  for (;;) {
    if (PlayThreadDoneSignal.Wait(100ms)) return;
    if (IsUIThread()) PumpMessages();
    if (!playback_) return;
    // Tries rather than a timed lock, which the thread checker cannot follow.
    std::unique_lock<std::mutex> lock(PlayerLock, std::defer_lock);
    if (!WaitPumping([&] { return lock.try_lock(); }, 100ms)) continue;
    TPlaybackState *s = playback_;
    if (!s) return;
    ++attempts;
    // The play thread did not take the request: ask again, unless the input has held
    // the read thread for long enough; then the file is closed from here.
    if ((attempts <= 10 || !s->Read.InsideRead) && attempts <= 20) {
      display_->Post({deQuitEvent, 0, 0});
      continue;
    }
    FFLogger().LogFmt(this, llDebug, "closing the file from the waiting thread after %d requests",
                      attempts);
    TeardownPlayback(*this);
    display_->Post({deQuit, 0, 0}); // lets the play thread see that the file is gone
    return;
  }
}

void TCustomPlayer::waitForThreads() {
  // The play thread ends on its own once the file is closed; its last calls may need
  // this thread.
  WaitPumping([&] { return playThreadDone_.load(); });
  if (playThread_.joinable()) playThread_.join();
  // The closing events reach their handlers before Close returns, unless Close was
  // called from a handler: the event thread is then waiting for this very call.
  if (!inHandler_ && eventThread_.joinable())
    WaitPumping([&] { return eventsIdle_.load() && ring_.Empty(); });
}

void TCustomPlayer::shutDisplay() {
  display_.reset();
  if (sdlUp_) ff.SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER);
  sdlUp_ = false;
}

void TCustomPlayer::ResetFileFields() {
  Seeking = false;
  SeekDoneSignal.Set();
  SeekPictureSignal.Set();
}

bool TCustomPlayer::pausedUnderLock(bool &paused) {
  auto lock = lockPlayer();
  TPlaybackState *s = playback_;
  if (!s) return false;
  paused = s->Paused;
  return true;
}

void TCustomPlayer::Pause() {
  bool paused = false;
  if (!pausedUnderLock(paused) || paused) return;
  // A seek still in flight settles first, so that the paused picture is the new one.
  if (!SeekDoneSignal.Wait(250ms)) SeekDoneSignal.Set();
  if (!SeekPictureSignal.Wait(250ms)) SeekPictureSignal.Set();
  auto lock = lockPlayer();
  TPlaybackState *s = playback_;
  if (!s || s->Paused) return;
  TogglePause(*s);
  SetState(psPause);
}

void TCustomPlayer::Resume() {
  bool paused = false;
  if (!pausedUnderLock(paused) || !paused) return;
  if (!SeekDoneSignal.Wait(250ms)) SeekDoneSignal.Set();
  auto lock = lockPlayer();
  TPlaybackState *s = playback_;
  if (!s || !s->Paused) return;
  TogglePause(*s);
  SetState(psResume);
}

void TCustomPlayer::Seek(int seekFlags, bool wait, int64_t position) {
  bool video = false;
  {
    auto lock = lockPlayer();
    TPlaybackState *s = playback_;
    if (!s) return;
    video = s->HasVideo();
    if (seekFlags & sfByte) {
      RequestSeek(*s, seekFlags, position, 0);
    } else {
      const int64_t rel = position <= 0 ? 1 : 0;
      if (s->Read.Duration >= 0 && position > s->Read.Duration) position = s->Read.Duration;
      RequestSeek(*s, seekFlags, position + s->Read.StartTime, rel);
    }
  }
  if (wait)
    WaitPumping([&] { return SeekDoneSignal.IsSet() && (!video || SeekPictureSignal.IsSet()); });
}

void TCustomPlayer::SeekRelative(int seekFlags, bool wait, double deltaSeconds) {
  bool video = false;
  {
    auto lock = lockPlayer();
    TPlaybackState *s = playback_;
    if (!s) return;
    video = s->HasVideo();
    AVFormatContext *ic = s->Read.Format;
    if (seekFlags & sfByte) {
      int64_t pos = s->Clocks.CurrentPos;
      if (pos < 0 && ic->pb) pos = ic->pb->pos;
      const double rate = ic->bit_rate > 0 ? ic->bit_rate / 8.0 : 180000.0;
      RequestSeek(*s, seekFlags, pos + int64_t(deltaSeconds * rate), 0);
    } else {
      const int64_t target = std::llround((MasterClock(*s) + deltaSeconds) * 1e6);
      RequestSeek(*s, seekFlags, target, std::llround(deltaSeconds * 1e6));
    }
  }
  if (wait)
    WaitPumping([&] { return SeekDoneSignal.IsSet() && (!video || SeekPictureSignal.IsSet()); });
}

void TCustomPlayer::SetAspectRatio(float value) {
  const float old = aspectRatio_.exchange(value);
  if (old != value && playback_ && display_) display_->Post({deResetView, 0, 0});
}

QImage &TCustomPlayer::CurrentFrame() {
  int64_t pts;
  return CurrentFrame(pts);
}

QImage &TCustomPlayer::CurrentFrame(int64_t &pts) {
  pts = -1;
  auto lock = lockPlayer();
  TPlaybackState *s = playback_;
  if (!s || !s->HasVideo()) {
    frameBitmap_ = QImage();
    return frameBitmap_;
  }
  const AVCodecParameters *par = s->Video.Stream->codecpar;
  frameBitmap_ = QImage(par->width, par->height, QImage::Format_BGR888);
  frameBitmap_.fill(Qt::black);
  FramePtr picture(ff.av_frame_alloc());
  double t = 0;
  if (picture && PictureForBitmap(*s, picture.get(), t)) {
    if (FrameToBitmap(frameConv_, picture.get()))
      frameBitmap_ = frameConv_.Bitmap().copy();
    else
      frameBitmap_ = QImage();
    pts = std::llround(t * 1e6) - s->Read.StartTime;
  }
  return frameBitmap_;
}

void TCustomPlayer::RunHook(AVFrame *picture, int64_t pts) {
  const THookEvent handler = OnHook.Get();
  if (!handler) return;
  if (!FrameToBitmap(hookConv_, picture)) {
    LogError("Cannot initialize the toRGB conversion context");
    return;
  }
  QImage &bitmap = hookConv_.Bitmap();
  try {
    handler(this, bitmap, pts);
  } catch (const std::exception &e) {
    LogError(std::string("Error occurs OnHook: ") + e.what());
    return;
  } catch (...) {
    LogError("Error occurs OnHook: unknown error");
    return;
  }
  if (!BitmapToFrame(hookConv_, bitmap, picture))
    LogError("Cannot initialize the fromRGB conversion context");
}

void TCustomPlayer::SetState(TPlayState s) {
  state_ = s;
  if (OnState) ring_.Add({pekState, s, 0});
}

void TCustomPlayer::ReportPosition(int64_t pts, bool exact) {
  position_ = pts;
  {
    std::lock_guard<std::mutex> g(positionLock_);
    const int64_t moved = std::llabs(pts - lastReported_);
    if (anyReported_ && moved <= 10000 && !(exact && moved > 0)) return;
    anyReported_ = true;
    lastReported_ = pts;
  }
  ring_.Add({pekPosition, psPlay, pts});
}

void TCustomPlayer::eventThread() {
  auto deliver = [&](const std::function<void()> &handler) {
    auto call = [&] {
      inHandler_ = true;
      try {
        handler();
      } catch (...) {
        inHandler_ = false;
        throw;
      }
      inHandler_ = false;
    };
    try {
      if (triggerInMain_)
        SyncCall(call);
      else
        call();
    } catch (const std::exception &e) {
      LogError(e.what());
    }
  };
  for (;;) {
    // Marked busy before taking, so that an empty ring and an idle thread together
    // mean every entry has reached its handler.
    eventsIdle_ = false;
    PlayerEvent e;
    if (!ring_.Take(e)) {
      eventsIdle_ = true;
      ring_.WaitNotEmpty(100ms);
      continue;
    }
    if (e.Kind == pekStop) break;
    if (e.Kind == pekPosition) {
      // The handler is taken where it runs: one cleared meanwhile (by a closing host on
      // the user-interface thread) is not called any more.
      if (OnPosition) {
        deliver([&] {
          if (const TPositionEvent handler = OnPosition.Get()) handler(this, e.Time);
        });
      }
    } else if (OnState) {
      deliver([&] {
        if (const TPlayStateEvent handler = OnState.Get()) handler(this, e.State);
      });
    }
  }
  eventsIdle_ = true;
  eventThreadDone_ = true;
}

void TCustomPlayer::playThread() {
  SetState(psPlay);
  try {
    RunDisplayLoop(*this);
  } catch (const std::exception &e) {
    FFLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
    std::lock_guard<std::mutex> lock(PlayerLock);
    TeardownPlayback(*this);
  }
  SetState(psStop);
  PlayThreadDoneSignal.Set();
  playThreadDone_ = true;
}
