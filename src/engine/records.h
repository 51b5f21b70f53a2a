// The records a host fills to describe a conversion task, and the event records the
// conversion component hands to its handlers. No behaviour lives here.
#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

// The media libraries' "no value" time; records carry it for times that are not set.
inline constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

// A task holds at most this many input and output files.
inline constexpr int kMaxFiles = 20;

// Options of a task's input file (texts are UTF-8).
struct TInputOptions {
  std::string FileName;   // informational; filled from the AddTask argument when empty
  std::string FileFormat; // container to force instead of probing ("f")
  int64_t StartTime = kNoTime; // microseconds; kNoTime = not set
  int ProgramID = -1;          // negative = not set
  std::string ExtOptions;      // further options as "name=value" lines
  int Reserved1 = 0;
  int Reserved2 = 0;
};

// Metadata written into an output.
struct TStreamInfo {
  double TimeStamp = -1.0; // days since 1899-12-30, local time; 0 = now; negative = not set
  int Year = -1;
  int Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// Options of one output file. Integer fields at -1 leave the engine's default in place.
struct TOutputOptions {
  std::string FileName; // informational; filled from the SetOutputFile argument when empty
  std::string Reserved; // kept for callers that fill it; not read
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0f;   // seconds
  float MuxPreload = -1.0f; // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool AudioDisable = false;
  int AudioVolume = -1; // 256 = unchanged
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1; // bit/s
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int AudioSyncMethod = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool VideoDisable = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string FrameAspectRatio;
  int CropTop = -1;
  int CropBottom = -1;
  int CropLeft = -1;
  int CropRight = -1;
  int GopSize = -1;
  int VideoBitrate = -1; // bit/s
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitrateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSyncMethod = -1;
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool SubtitleDisable = false;
  std::string SubtitleLanguage;
  bool InputSync = false;
  bool CopyTimestamps = false;
  int64_t StartTime = kNoTime; // microseconds
  int64_t Duration = kNoTime;  // microseconds; also the task's total duration for progress
  TStreamInfo StreamInfo;
  int TargetType = 0;        // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int TargetNorm = 0;        // 0 "auto", 1 "pal", 2 "ntsc"
  int TargetDefaultNorm = 1; // 1 "pal", anything else "ntsc"
  bool CustomHook = false;   // raise OnCustomHook for every decoded video frame
  bool Join = false;
  std::string ExtOptions;
  int Reserved1 = 0;
  int Reserved2 = 0;
};

// A decoded frame offered to the host before it is scaled and encoded.
struct THookInfo {
  int TaskIndex = -1;
  QImage *Bitmap = nullptr; // Format_BGR888, the frame's own size; the handler may draw on it
  int FrameNumber = 0;      // counts from 1
  int64_t PTS = 0;          // microseconds, input side
  bool Update = true;       // in/out: write the bitmap back into the frame
  bool StopHook = false;    // in/out: switch the hook off for the rest of the task
};
using PHookInfo = THookInfo *;

// An encoded output frame for the host to show.
struct TPreviewInfo {
  int TaskIndex = -1;
  const QImage *Bitmap = nullptr; // Format_BGR888
  int FrameNumber = 0;
  int64_t PTS = 0; // microseconds
};

struct TProgressInfo {
  int TaskIndex = -1;
  int FileIndex = -1;   // input being read; -1 in the final report
  int FrameNumber = -1; // -1 without video output
  int FPS = -1;         // -1 without video output
  float Quality = -1.0f;
  float BitRate = 0.0f; // kbit/s
  int64_t CurrentSize = 0;
  int64_t CurrentDuration = 0; // microseconds
  int64_t TotalDuration = -1;  // microseconds; -1 when unknown
};
using PProgressInfo = TProgressInfo *;

struct TTerminateInfo {
  int TaskIndex = -1; // -1 for the final event after the last task
  bool Finished = false;
  bool Failed = false;
  std::string ErrorMessage;
};

class TCustomMediaConverter;

// Handlers of the component's events; Sender is always the component.
using TCustomHookEvent = std::function<void(TCustomMediaConverter *Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent =
    std::function<void(TCustomMediaConverter *Sender, const TPreviewInfo &APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomMediaConverter *Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent =
    std::function<void(TCustomMediaConverter *Sender, const TTerminateInfo &ATerminateInfo)>;
