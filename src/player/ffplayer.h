// The preview player component: opens a file into a host panel, plays, pauses, seeks and
// closes it, hands out the current picture and reports through events. The decoding and
// timing machinery lives in the playback engine (playback.h); this is its contract.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/avprobe.h"
#include "media/event_property.h"
#include "media/framebitmap.h"
#include "player/event_ring.h"
#include "player/player_types.h"
#include "player/signal.h"

class QWidget;
struct TPlaybackState;
class TDisplay;

class TCustomPlayer {
public:
  TCustomPlayer();
  virtual ~TCustomPlayer();
  TCustomPlayer(const TCustomPlayer &) = delete;
  TCustomPlayer &operator=(const TCustomPlayer &) = delete;

  // Loads PlayerLibs from the folder (empty: the system's search); false with LastErrMsg.
  bool LoadAVLib(const std::string &folder);
  bool AVLibLoaded() const;

  // Opens the file into the host panel (none: a window of its own) and starts playing,
  // or holds on the first pictures when startPaused. False with LastErrMsg set.
  bool Open(const std::string &fileName, QWidget *screenHandle = nullptr,
            bool startPaused = false);
  // Asks the engine to quit; with wait, returns once the file is closed.
  void Close(bool wait = true);
  void Pause();
  void Resume();
  // Flags as TSeekFlag; without sfByte the position is microseconds from the start.
  void Seek(int seekFlags, bool wait, int64_t position);
  void SeekRelative(int seekFlags, bool wait, double deltaSeconds);
  // The displayed picture as a 24-bit bitmap (owned by the player, reused by the next
  // call) and its time; a 0 x 0 bitmap and -1 when no video file is open.
  QImage &CurrentFrame(int64_t &pts);
  QImage &CurrentFrame();

  // Properties.
  float AspectRatio() const { return aspectRatio_; }
  void SetAspectRatio(float value);
  TAudioDriver AudioDriver() const { return audioDriver_; }
  void SetAudioDriver(TAudioDriver v) { audioDriver_ = v; }
  TAudioVolume AudioVolume() const { return audioVolume_; }
  void SetAudioVolume(TAudioVolume v) { audioVolume_ = v < 0 ? 0 : v > 128 ? 128 : v; }
  bool DisableAudio() const { return disableAudio_; }
  void SetDisableAudio(bool v) { disableAudio_ = v; }
  bool DisableVideo() const { return disableVideo_; }
  void SetDisableVideo(bool v) { disableVideo_ = v; }
  bool DisableDisplay() const { return disableDisplay_; }
  void SetDisableDisplay(bool v) { disableDisplay_ = v; }
  bool Mute() const { return mute_; }
  void SetMute(bool v) { mute_ = v; }
  int FrameWidth() const { return frameWidth_; }
  void SetFrameWidth(int v) { frameWidth_ = v; }
  int FrameHeight() const { return frameHeight_; }
  void SetFrameHeight(int v) { frameHeight_ = v; }
  bool Hook() const { return hook_; }
  void SetHook(bool v) { hook_ = v; }
  int ScreenWidth() const { return screenWidth_; }
  void SetScreenWidth(int v) { screenWidth_ = v; }
  int ScreenHeight() const { return screenHeight_; }
  void SetScreenHeight(int v) { screenHeight_ = v; }
  bool TriggerEventInMainThread() const { return triggerInMain_; }
  void SetTriggerEventInMainThread(bool v) { triggerInMain_ = v; }
  TVideoDriver VideoDriver() const { return videoDriver_; }
  void SetVideoDriver(TVideoDriver v) { videoDriver_ = v; }
  std::string About;
  static const char *Version() { return "2.3"; }

  TEventProperty<THookEvent> OnHook;
  TEventProperty<TFileOpenEvent> OnFileOpen;
  TEventProperty<TPlayStateEvent> OnState;
  TEventProperty<TPositionEvent> OnPosition;

  // Run-time state.
  TAVProbe &AVProbe() { return probe_; }
  const std::string &LastErrMsg() const { return lastErrMsg_; }
  const std::string &FileName() const { return fileName_; }
  QWidget *ScreenHandle() const { return screenHandle_; }
  TPlayState State() const { return state_; }
  int64_t Position() const { return position_; }
  bool FileOpened() const { return playback_ != nullptr; }

  TManualSignal SeekDoneSignal{true};
  TManualSignal SeekPictureSignal{true};
  TManualSignal PlayThreadDoneSignal{true};

  // Used by the engine's threads.
  void SetState(TPlayState s);
  // `exact`: the end of the file, reported even when it is close to the last report.
  void ReportPosition(int64_t pts, bool exact = false);
  void StoreError(const std::string &text, bool log);
  void LogError(const std::string &text);
  // The hook step: the picture in the bitmap of the hook converter, the handler, the
  // bitmap back. Runs on the video thread.
  void RunHook(AVFrame *picture, int64_t pts);
  std::atomic<bool> Seeking{false};
  std::mutex PlayerLock;
  TPlaybackState *Playback() const { return playback_; }
  void SetPlayback(TPlaybackState *p) { playback_ = p; }
  TDisplay *Display() const { return display_.get(); }
  // Forgets the file's fields after the engine has let go of it.
  void ResetFileFields();

private:
  std::unique_lock<std::mutex> lockPlayer();
  // False when no file is open.
  bool pausedUnderLock(bool &paused);
  void closeWaiting();
  void waitForThreads();
  void shutDisplay();
  void eventThread();
  void playThread();
  void deliverFileOpen(int64_t duration, int frameWidth, int frameHeight);
  void applyDrivers();

  std::atomic<float> aspectRatio_{0};
  TAudioDriver audioDriver_ = adDefault;
  std::atomic<int> audioVolume_{128};
  bool disableAudio_ = false, disableVideo_ = false, disableDisplay_ = false;
  std::atomic<bool> mute_{false};
  int frameWidth_ = 0, frameHeight_ = 0;
  std::atomic<bool> hook_{false};
  std::atomic<int> screenWidth_{0}, screenHeight_{0};
  std::atomic<bool> triggerInMain_{true};
  TVideoDriver videoDriver_ = vdDefault;

  TAVProbe probe_;
  std::string lastErrMsg_;
  std::mutex errLock_;
  std::string fileName_;
  QWidget *screenHandle_ = nullptr;
  std::atomic<TPlayState> state_{psStop};
  std::atomic<int64_t> position_{-1};
  std::mutex positionLock_;
  int64_t lastReported_ = -1;
  bool anyReported_ = false;
  bool sdlUp_ = false;

  TPlayerEventRing ring_;
  std::thread eventThread_, playThread_;
  std::atomic<bool> eventThreadDone_{true}, playThreadDone_{true};
  std::atomic<bool> eventsIdle_{true};
  std::atomic<bool> inHandler_{false}; // an event handler is running

  std::atomic<TPlaybackState *> playback_{nullptr};
  std::unique_ptr<TDisplay> display_;
  FrameBitmapConverter frameConv_, hookConv_;
  QImage frameBitmap_;
};

class TFFPlayer : public TCustomPlayer {};
