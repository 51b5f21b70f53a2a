// The transcoder's option state with its defaults, the option dispatcher and its value parsers.
// Not the consumption of the options: opening inputs, outputs and streams reads this state.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/bsf.h"
#include "engine/framehook.h"
#include "media/ffapi.h"

inline constexpr int MAX_STREAM_MAPS = 400;
inline constexpr int MAX_META_DATA_MAPS = 20;
inline constexpr int MAX_FILES = 20;
inline constexpr int MAX_STREAMS = 20;

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
};

using TMatrix = std::array<uint16_t, 64>;

// The libraries' own option objects that unknown option names are handed to, and the record of
// which names were set, so that every new codec and container context receives them too.
// Valid only while the media libraries are loaded.
class TGenericOptions {
public:
  // The five media types in the order the setter tries them.
  static constexpr AVMediaType Types[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                           AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

  TGenericOptions();
  ~TGenericOptions();
  TGenericOptions(const TGenericOptions &) = delete;
  TGenericOptions &operator=(const TGenericOptions &) = delete;

  // Fresh tables with library defaults; the scaler table uses these scaler flags.
  void Reset(int swsFlags);
  bool Allocated() const;

  AVCodecContext *Codec(AVMediaType type) const; // option holder of that media type
  AVFormatContext *Format() const;
  SwsContext *Scaler() const;

  // Names set through the generic setter, in order, without repeats.
  const std::vector<std::string> &SetNames() const { return setNames_; }
  void NoteSet(const std::string &name);

  // Options only an encoder's own table knows, per media type (video, audio, subtitle), for
  // avcodec_open2; and those only a muxer's own table knows (the VCD and DVD "muxrate"), for
  // avformat_write_header. Whatever the library leaves in the dictionary after opening was not
  // used: pass it to WarnUnusedEncoderOptions.
  // The caller owns the copy (free with av_dict_free).
  AVDictionary *PrivateOptionsCopy(AVMediaType type) const;
  AVDictionary *FormatPrivateOptionsCopy() const;
  AVDictionary **PrivateOptions(AVMediaType type); // nullptr for data and attachment
  AVDictionary **FormatPrivateOptions();

private:
  void Drop();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<std::string> setNames_;
};

// The plain option values, copyable so that a reset is one assignment of the defaults.
struct TOptionValues {
  // files
  std::string FileFormat; // forced container format of the next file
  bool PgmyuvInput = false;
  std::vector<TStreamMap> StreamMaps;
  std::vector<TMetaDataMap> MetaDataMaps;
  double TimestampScale[MAX_FILES][MAX_STREAMS] = {}; // 0 = unset
  std::array<int, MAX_STREAMS> StreamIdMap = {};       // 0 = none
  std::vector<std::pair<std::string, std::string>> MetaData; // for the next output file

  // times, microseconds
  int64_t RecordingTime = INT64_MAX;
  int64_t StartTime = 0;
  int64_t InputTsOffset = 0;
  int64_t RecordingTimestamp = 0; // seconds since 1970
  int64_t LimitFileSize = 0;

  // frame limits
  int MaxVideoFrames = INT_MAX;
  int MaxAudioFrames = INT_MAX;
  int MaxDataFrames = INT_MAX;
  int MaxSubtitleFrames = INT_MAX;

  // video
  int FrameWidth = 0;
  int FrameHeight = 0;
  AVRational FrameRate = {0, 0};
  double FrameAspectRatio = 0.0;
  AVPixelFormat FramePixFmt = AV_PIX_FMT_NONE;
  int FrameTopBand = 0, FrameBottomBand = 0, FrameLeftBand = 0, FrameRightBand = 0;
  float VideoQScale = 0.0f;
  std::optional<TMatrix> IntraMatrix, InterMatrix;
  std::string VideoRcOverride;
  bool VideoDisable = false;
  int VideoDiscard = 0;
  std::string VideoCodecName;
  uint32_t VideoCodecTag = 0;
  std::string VideoLanguage;
  bool SameQuality = false;
  bool DoDeinterlace = false;
  bool IntraOnly = false;
  bool QpHistogram = false;
  bool ForceFps = false;
  int TopFieldFirst = -1;
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  std::string VFilters;
  int DoPass = 0;
  std::string PassLogFileName;
  std::string VStatsFileName;

  // audio
  int AudioSampleRate = 44100;
  int AudioChannels = 2;
  float AudioQScale = -99999.0f;
  AVSampleFormat AudioSampleFmt = AV_SAMPLE_FMT_NONE;
  bool AudioDisable = false;
  std::string AudioCodecName;
  uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  int AudioVolume = 256;

  // subtitles
  bool SubtitleDisable = false;
  std::string SubtitleCodecName;
  uint32_t SubtitleCodecTag = 0;
  std::string SubtitleLanguage;

  // stream copy
  bool AudioStreamCopy = false;
  bool VideoStreamCopy = false;
  bool SubtitleStreamCopy = false;

  // sync
  int VideoSyncMethod = -1;
  int AudioSyncMethod = 0;
  double AudioDriftThreshold = 0.1;
  double DtsDeltaThreshold = 10.0;
  bool CopyTs = false;
  bool Shortest = false;
  bool InputSync = false;
  bool CopyInitialNonKeyframes = false;

  // muxing, seconds
  double MuxPreload = 0.5;
  double MuxMaxDelay = 0.7;
  int LoopOutput = -1;
  int VideoGlobalHeader = 0;

  // capture
  int VideoChannel = 0;
  std::string VideoStandard;

  // misc
  bool LoopInput = false;
  bool RateEmu = false;
  bool DoPktDump = false;
  bool DoHexDump = false;
  bool DoPsnr = false;
  bool ExitOnError = false;
  int Verbose = 1;
  int ProgramId = 0;
  int SwsFlags = SWS_BICUBIC;
  int VideoBufferSize = 262144; // encoder output buffer
  TBsfChain AudioBsfs, VideoBsfs, SubtitleBsfs;
  // The built-in H.264 presets were written against an older library whose defaults differ;
  // those defaults are laid down once, before the first such preset of a task.
  bool LegacyH264DefaultsSet = false;
};

// The engine's option state: every option value waiting to be consumed by the next input,
// output or stream. Defaults are the member initialisers; Reset() restores them.
struct TOptionState : TOptionValues {
  TFrameHookList FrameHooks; // plug-in mode is on while it is not empty
  TGenericOptions Generic;

  // Back to the defaults; the generic tables are made afresh when the libraries are loaded.
  void Reset();
};

// What the dispatcher needs from the engine that owns the state. The transcoder implements it.
class TOptionHost {
public:
  virtual ~TOptionHost() = default;
  virtual TOptionState &Options() = 0;
  // Number of inputs opened so far: "itsscale" acts on the next one.
  virtual int InputFileCount() const = 0;
  // Real frame rates of the open inputs' video streams, inputs and streams in order.
  virtual std::vector<AVRational> InputVideoFrameRates() const = 0;
  virtual bool HasOutputFile() const = 0;
  // "newvideo", "newaudio", "newsubtitle": a stream of that type on the last output file.
  virtual void NewStream(AVMediaType type) = 0;
  // "t" also sets the task's total duration for progress.
  virtual void SetTotalDuration(int64_t us) = 0;
  // Encoder the output would use for a media type when none is named (AV_CODEC_ID_NONE if
  // unknown yet); consulted for options only an encoder's own table knows.
  virtual AVCodecID DefaultEncoder(AVMediaType) const { return AV_CODEC_ID_NONE; }
  // Sender of the dispatcher's log messages.
  virtual const void *LogSender() const { return this; }
};

// Applies one option; raises FFmpegException with the option's error text.
void DispatchOption(TOptionHost &host, const std::string &name, const std::string &value);

// The generic setter: true when some option table accepted the value.
bool SetGenericOption(TOptionHost &host, const std::string &name, const std::string &value);

// Target preset ("vcd", "svcd", "dvd", "dv", "dv50") for a norm ("pal", "ntsc", "film" or
// anything else to guess) with the norm to fall back to.
void ApplyTargetPreset(TOptionHost &host, const std::string &target, const std::string &norm,
                       const std::string &fallbackNorm);

// "apre", "vpre", "spre" or "fpre" with a preset name or file name.
void ApplyPreset(TOptionHost &host, const std::string &kind, const std::string &value);

// Copies every recorded generic option carrying all of `flags` (AV_OPT_FLAG_*) from the source
// table into the destination object (a codec or format context).
void CopySetGenericOptions(const TGenericOptions &generic, void *source, void *destination, int flags);

// Logs as a warning every option still in `leftover` after avcodec_open2: an option accepted
// for the encoder but not used by it.
void WarnUnusedEncoderOptions(const void *sender, const AVDictionary *leftover, const AVCodec *encoder);

// Current name of a codec that older settings name differently ("libfaac" → "aac"); the
// substitution is logged at information level. Other names come back unchanged.
std::string ResolveLegacyCodecName(const std::string &name);

// Value parsers, raising FFmpegException on malformed text.
int ParseInt(const std::string &text);
int64_t ParseInt64(const std::string &text);
double ParseDouble(const std::string &text);
TMatrix ParseMatrix(const std::string &text);
