// The media probe: what one open format context holds (container, streams, timing,
// tags) as records and as a text report. It neither decodes nor plays anything.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct AVFormatContext;

// Raised by `CheckLibsLoaded` (and so by `LoadFile` and `AttachFormatContext`) when
// a media library the probe needs is not loaded; the message names the library.
class EAVProbeLibsNotLoaded : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Times are microseconds unless a field says it is in the stream's own time base;
// -1 stands for "unknown" in the microsecond fields.
struct TFileStreamInfo {
  int64_t StartTime = -1;
  int64_t Duration = -1;
  int32_t BitRate = -1;   // bits per second; 0 when the container does not know it
  int64_t TimeStamp = -1; // creation time, seconds since 1970-01-01 UTC; 0 when none
  int32_t Year = -1;      // year tag; 0 when none
  int32_t Track = -1;     // track number tag; 0 when none
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;   // CodecDescription of the decoder
  int64_t StartTime = -1;  // stream time base, as stored (may be AV_NOPTS_VALUE)
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;   // stream time base, as stored (may be AV_NOPTS_VALUE)
  int64_t DurationUS = -1;
  int32_t BitRate = -1;
  int32_t Channels = -1;
  int32_t SampleRate = -1;
  int32_t SampleFormat = -1; // AVSampleFormat
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;
  int64_t DurationUS = -1;
  int32_t BitRate = -1;
  int32_t Height = -1;
  int32_t Width = -1;
  float DisplayAspectRatio = -1.0f; // 0 when the sample aspect ratio is unknown
  int32_t PixelFormat = -1;         // AVPixelFormat
  int32_t FrameRateNum = -1;        // the stream's real base frame rate
  int32_t FrameRateDen = -1;
};

class TCustomAVProbe {
public:
  TCustomAVProbe();
  virtual ~TCustomAVProbe();
  TCustomAVProbe(const TCustomAVProbe &) = delete;
  TCustomAVProbe &operator=(const TCustomAVProbe &) = delete;

  // Opens and analyses a file (UTF-8 name, or a name in "unicode:utf8:" form).
  // `formatName` forces the input format; empty means detect. False on failure,
  // with the reason in LastErrMsg(). Throws EAVProbeLibsNotLoaded.
  bool LoadFile(const std::string &fileName, const std::string &formatName = {});
  // Describes a context opened by someone else; the probe never frees it. Pass
  // nullptr to let go of the previous one before its owner closes it.
  // Throws EAVProbeLibsNotLoaded.
  void AttachFormatContext(AVFormatContext *context);
  void CloseFile();
  // Recomputes the counts, first indexes and file size from the context.
  void UpdateInfo();

  // Each query on a probe without a file logs "file not loaded." and returns
  // the empty result. The stream queries take a negative index as "the first
  // stream of that kind" and return false when the record was left cleared.
  void GetFileStreamInfo(TFileStreamInfo &info);
  bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo &info);
  bool GetVideoStreamInfo(int streamIndex, TVideoStreamInfo &info);
  // The multi-line report, each line ended by "\r\n".
  std::string GetInfoText();
  std::string FileName();   // as the library holds it, turned back into a plain name
  std::string FormatName(); // the input format's short name
  bool IsAudioStream(int streamIndex);
  bool IsVideoStream(int streamIndex);

  // Throws EAVProbeLibsNotLoaded naming the first library that is missing.
  void CheckLibsLoaded() const;

  AVFormatContext *FormatContext() const { return context_; }
  bool OwnsContext() const { return ownsContext_; }
  const std::string &LastErrMsg() const { return lastErrMsg_; }
  const std::string &ForcedFormatName() const { return forcedFormatName_; }
  int64_t FileSize() const { return fileSize_; }
  int StreamCount() const { return streamCount_; }
  int ProgramCount() const { return programCount_; }
  int AudioStreamCount() const { return audioStreamCount_; }
  int VideoStreamCount() const { return videoStreamCount_; }
  int SubtitleStreamCount() const { return subtitleStreamCount_; }
  int FirstAudioStreamIndex() const { return firstAudioStreamIndex_; }
  int FirstVideoStreamIndex() const { return firstVideoStreamIndex_; }
  int FirstSubtitleStreamIndex() const { return firstSubtitleStreamIndex_; }

protected:
  // Logs the text at the library level given (24 warning, 16 error) and keeps it
  // as LastErrMsg().
  void SetError(int libLevel, const std::string &text);

private:
  void releaseContext();
  bool requireContext();
  bool checkStreamIndex(int streamIndex);
  int resolveStream(int streamIndex, int mediaType);
  void appendStreamLine(std::string &text, unsigned streamIndex);

  AVFormatContext *context_ = nullptr;
  bool ownsContext_ = false;
  std::string lastErrMsg_;
  std::string forcedFormatName_;
  int64_t fileSize_ = -1;
  int streamCount_ = -1;
  int programCount_ = -1;
  int audioStreamCount_ = -1;
  int videoStreamCount_ = -1;
  int subtitleStreamCount_ = -1;
  int firstAudioStreamIndex_ = -1;
  int firstVideoStreamIndex_ = -1;
  int firstSubtitleStreamIndex_ = -1;
};

// The probe the conversion component, the player and the dialogs create.
class TAVProbe : public TCustomAVProbe {};
