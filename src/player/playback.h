// The playback engine's per-file state and the entry points its stages offer each other:
// read, video, audio, subtitles, clocks and display each keep their own part of the
// state. The player component (ffplayer.h) is the only caller from outside.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/ffapi.h"
#include "media/ffowners.h"
#include "player/packet_queue.h"

class TCustomPlayer;
class QImage;

using FramePtr = TFramePtr;
using CodecPtr = TCodecContextPtr;
using GraphPtr = TFilterGraphPtr;
using SwrPtr = TSwrPtr;
using SwsPtr = TSwsPtr;

// One display picture: a planar YUV 4:2:0 picture of even size and its timing.
struct TPicture {
  double Pts = 0;         // seconds
  std::atomic<double> TargetClock{0}; // when it is due, on the wall clock (seconds); reset by a flush
  int64_t Pos = -1;       // byte position in the file
  FramePtr Overlay;       // a reference to the chain's output picture
};

struct TPictureQueue {
  TPicture Pics[2];
  int Size = 0, RIndex = 0, WIndex = 0;
  bool Aborted = false;
  std::mutex Lock;
  std::condition_variable Cond;
};

struct TQueuedSubtitle {
  double Pts = 0;
  AVSubtitle Sub{};
};

struct TSubtitleQueue {
  static constexpr int kSize = 4;
  TQueuedSubtitle Subs[kSize];
  int Size = 0, RIndex = 0, WIndex = 0;
  std::mutex Lock;
  std::condition_variable Cond;
};

// Read stage: the input and the demuxing loop.
struct TReadPart {
  AVFormatContext *Format = nullptr; // owned by the read thread
  std::thread Thread;
  std::atomic<bool> InsideRead{false};
  std::atomic<bool> Done{false}; // the thread has let go of everything
  std::atomic<int> OpenStatus{0}; // 0 pending, 1 opened, -1 failed, -2 failed and cleaned up
  bool ImageSequence = false, LiveCapture = false;
  int64_t StartTime = 0;  // microseconds, 0 when unknown
  int64_t Duration = -1;  // microseconds
  std::atomic<int> PauseResult{0}; // of the input's pause call
  bool EofReported = false, EofSeen = false;
};

// Video stage: decoder, filter chain and the two-picture queue.
struct TVideoPart {
  std::atomic<int> StreamIndex{-1}; // read by the other threads while the file closes
  AVStream *Stream = nullptr;
  CodecPtr Decoder;
  PacketQueue Queue;
  std::thread Thread;
  TPictureQueue Pictures;
  GraphPtr Graph;
  AVFilterContext *Source = nullptr, *Sink = nullptr;
  int GraphWidth = 0, GraphHeight = 0, GraphFormat = -1;
  double FrameDuration = 0.04; // one frame at the stream's rate
  std::atomic<double> SkipFactor{1}; // raised by the refresh, lowered by the video thread
  double SkipCounter = 0;
  bool Draining = false;       // the decoder was told the input ended
  std::atomic<bool> FlushSeen{false};
};

struct TAudioPart {
  static constexpr int kBufferSize = 288000;
  static constexpr int kRingSize = 131072;
  std::atomic<int> StreamIndex{-1};
  AVStream *Stream = nullptr;
  CodecPtr Decoder;
  PacketQueue Queue;
  uint32_t Device = 0;
  int Channels = 2, SampleRate = 44100, DeviceBufferSize = 0;
  std::vector<uint8_t> Buffer = std::vector<uint8_t>(kBufferSize);
  // Filled and emptied by the sound callback; read by the video thread's audio clock.
  std::atomic<int> BufferSize{0}, BufferIndex{0};
  bool DecoderFed = false; // the decoder may still hold output of the last packet
  FramePtr Frame;
  SwrPtr Converter;
  int LastFormat = -1, LastRate = 0;
  AVChannelLayout LastLayout{};
  std::atomic<double> Clock{0};
  int64_t DurationUS = -1;
  std::atomic<int64_t> CallbackTime{0}; // microseconds, relative clock
  // Waveform ring of the last samples given to the device.
  std::vector<int16_t> Ring = std::vector<int16_t>(kRingSize);
  std::atomic<int> RingIndex{0};
  int LastStart = 0;
};

struct TSubtitlePart {
  std::atomic<int> StreamIndex{-1};
  AVStream *Stream = nullptr;
  CodecPtr Decoder;
  PacketQueue Queue;
  std::thread Thread;
  TSubtitleQueue Subs;
  std::atomic<bool> StreamChanged{false};
};

// The clocks, in seconds. Written by the video and refresh stages and the callback,
// read by everyone.
struct TClockPart {
  std::atomic<double> VideoClock{0};     // time of the last queued picture, predicted
  std::atomic<double> FrameTimer{0};
  double FrameLastPts = -1;             // none
  double FrameLastDelay = 0;
  std::atomic<double> CurrentPts{0};    // of the picture shown last
  std::atomic<double> CurrentPtsDrift{0};
  std::atomic<int64_t> CurrentPos{-1};
};

struct TDisplayPart {
  std::thread RefreshThread;
  std::atomic<bool> RefreshPending{false};
  std::atomic<bool> AudioDisplay{false}; // waveform instead of pictures
  int Width = 0, Height = 0;
  FramePtr Shown; // the picture on screen, for CurrentFrame
  double ShownPts = 0;
  SwsPtr Scaler;
};

struct TPlaybackState {
  explicit TPlaybackState(TCustomPlayer &p) : Player(p) {}
  ~TPlaybackState();

  TCustomPlayer &Player;
  std::string FileName;
  std::atomic<bool> AbortRequest{false};
  std::atomic<bool> Paused{false};
  bool LastPaused = false;
  // Seek request, carried out by the read thread.
  std::atomic<bool> SeekRequest{false};
  int SeekFlags = 0;
  int64_t SeekPos = 0, SeekRel = 0;
  std::atomic<bool> SeekWhilePaused{false};
  std::atomic<bool> AfterSeek{false};
  std::atomic<int> StepCounter{0};
  std::atomic<bool> EndReached{false};
  std::atomic<bool> EndSignalled{false};

  TReadPart Read;
  TVideoPart Video;
  TAudioPart Audio;
  TSubtitlePart Subtitle;
  TClockPart Clocks;
  TDisplayPart Display;

  bool HasVideo() const { return Video.StreamIndex >= 0; }
  bool HasAudio() const { return Audio.StreamIndex >= 0; }
};

// Wall clock in seconds (monotonic).
double NowSeconds();

// read.cpp
bool OpenPlayback(TCustomPlayer &player, const std::string &fileName, bool startPaused);
// Stops every thread of the file and frees it; the player forgets it.
void TeardownPlayback(TCustomPlayer &player);
void CloseStream(TPlaybackState &s, int index);

// video.cpp
bool StartVideo(TPlaybackState &s);
void VideoThread(TPlaybackState &s);
void WakePictureQueue(TPlaybackState &s);
// The picture on screen (or the next one due) as a bitmap; false when none.
bool PictureForBitmap(TPlaybackState &s, AVFrame *into, double &pts);

// audio.cpp
bool OpenAudioDevice(TPlaybackState &s, std::string &error);
void CloseAudioDevice(TPlaybackState &s);

// subtitles.cpp
void SubtitleThread(TPlaybackState &s);
void FreeSubtitles(TPlaybackState &s);
// Draws the subtitle due at the picture's time over the picture drawn at `target`.
void DrawSubtitles(TPlaybackState &s, double pts, QImage &target, int pictureWidth,
                   int pictureHeight);
// Retires subtitles that ended before the current picture.
void AdvanceSubtitles(TPlaybackState &s, double currentPts);

// clocks.cpp
double AudioClock(TPlaybackState &s);
double VideoClock(TPlaybackState &s);
double MasterClock(TPlaybackState &s);
// The wall-clock time the picture of time t is due (updates the frame timer).
double TargetClock(TPlaybackState &s, double t);
void UpdatePosition(TPlaybackState &s);
// The caller has waited for a pending seek to settle (the player does, outside its lock).
void TogglePause(TPlaybackState &s);
// Ignored while another request is pending; the read thread carries it out.
void RequestSeek(TPlaybackState &s, int flags, int64_t pos, int64_t rel);

// display.cpp
void RefreshThread(TPlaybackState &s);
void Refresh(TPlaybackState &s, bool consume);
void DisplayPicture(TPlaybackState &s);
