// The per-task media state the transcoder's stages share: open files, stream records,
// counters and the entry points of each stage. Not a public interface of the engine.
#pragma once

#include "engine/bsf.h"
#include "engine/ffmpeg_exception.h"
#include "engine/transcoder.h"
#include "engine/previewer.h"
#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/framebitmap.h"
#include "media/logger.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

inline constexpr int kQpBuckets = 52;
// Quality units per quantiser step of the libraries (FF_QP2LAMBDA).
inline constexpr int kQp2Lambda = 118;

struct FileClose {
  void operator()(FILE *f) const { fclose(f); }
};
using TFilePtr = std::unique_ptr<FILE, FileClose>;

struct TInputFile {
  AVFormatContext *Ctx = nullptr; // closed with CloseLibraryInput
  std::string FileName;
  int64_t TsOffset = 0;      // microseconds added to every packet
  int64_t InputOffset = 0;   // "itsoffset" when the input was opened
  int64_t SeekTarget = 0;    // where reading started, microseconds
  int FirstStream = 0;  // index of its first record in the input stream table
  bool Eof = false;
  bool NoPacket = false;
  // Per stream: decoder forced by name, or none.
  std::vector<const AVCodec *> ForcedDecoders;
  double TsScale[MAX_STREAMS] = {};
};

struct TInputStream {
  int File = 0;
  int Index = 0;
  AVStream *St = nullptr;
  bool Discard = true; // until some output stream takes it
  bool DecodingNeeded = false;
  TCodecContextPtr Dec;
  bool DecoderOpen = false;
  int64_t NextPts = AV_NOPTS_VALUE; // microseconds
  int64_t Pts = 0;                  // microseconds
  bool IsStart = true;
  int64_t WallStart = 0; // rate emulation
  int64_t Frames = 0;    // pictures pre-processed
  bool PastRecordingTime = false;
  bool MultiFrameWarned = false;
  int Quality = 0; // of the last decoded picture
  int64_t Reorder = 0; // microseconds a presentation time runs ahead of its decode time
  std::shared_ptr<struct TDeinterlacer> Deinterlacer; // with deinterlacing on
  AVMediaType Type() const { return St->codecpar->codec_type; }
};

struct TOutputFile {
  AVFormatContext *Ctx = nullptr;
  std::string FileName; // as the user gave it
  bool HeaderWritten = false;
};

struct TOutputStream {
  int File = 0;
  int Index = 0;
  AVStream *St = nullptr;
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  bool Copy = false;
  bool LocalHeaders = false; // copied pictures: key pictures carry the stream headers ("vglobal" 2)
  int Source = -1; // input stream table index
  int Sync = -1;
  bool EncodingNeeded = false;
  TCodecContextPtr Enc; // settings gathered at creation, opened at set-up
  const AVCodec *Encoder = nullptr;
  bool EncoderOpen = false;
  TBsfChain BsfChain;
  std::unique_ptr<TBsfStream> Bsf;
  AVRational SrcTb{0, 1}; // time base of the packets we hand to the filters/muxer
  // Frames (video, in encoder ticks) or samples (audio) handed to the encoder.
  int64_t FrameNumber = 0;
  int64_t FramesWritten = 0;  // frames handed on (limits and sync count these)
  int64_t PacketsWritten = 0; // packets in the file (progress counts these)
  int64_t MuxEnd = AV_NOPTS_VALUE; // end of the last written packet, stream time base
  bool Anchored = false;            // audio: frame counter set from the first block
  // video
  std::shared_ptr<struct TVideoFilter> Filter; // with a filter text only
  TSwsPtr Sws;
  TFramePtr Scaled;
  int SrcW = 0, SrcH = 0;
  // Crop bands in force (top, bottom, left, right) and the input size they were given
  // for: a new input size gets bands in proportion.
  int Crop[4] = {};
  int InitialW = 0, InitialH = 0;
  AVPixelFormat SrcFmt = AV_PIX_FMT_NONE;
  float LastQuality = 0; // of the last coded picture, quality units
  uint64_t LastErrors[3] = {}; // of the last coded picture: squared error per plane (Y, U, V)
  // audio
  TSwrPtr Swr;
  TAudioFifoPtr Fifo;
  // two-pass
  TFilePtr PassLog;
  std::string PassStats;
  bool Eof = false;
};

struct TTranscodeState {
  explicit TTranscodeState(TCustomFFmpeg &owner) : Engine(owner) {}
  TCustomFFmpeg &Engine;
  std::vector<TInputFile> Inputs;
  std::vector<TInputStream> Ist;
  std::vector<TOutputFile> Outputs;
  std::vector<TOutputStream> Ost; // in output order (file, then stream)
  int64_t TotalDuration = -1;
  bool Joined = false;
  std::string SubtitleBuf;

  // counters for the final report
  int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0;
  int64_t DupFrames = 0, DropFrames = 0;
  bool DupDropFlag = false;
  int64_t RunStart = 0;
  int QpHistogram[kQpBuckets] = {};
  int64_t LastReport = 0;

  // video path: hook and preview pictures
  FrameBitmapConverter HookConv, PreviewConv;
  TPreviewWindow PreviewWindow;
  int64_t LastPreview = 0;
  TFilePtr VStatsFile; // "vstats": opened on the first encoded picture
  bool PluginsOff = false; // a hook asked to stop: neither it nor the plug-ins run again
};

// Logging with the engine as sender.
void EngineLog(const TCustomFFmpeg *engine, TLogLevel level, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void Fail(const std::string &message);
// The words for a library error code; codes the shared table does not know (a full
// disk, say) get the library's own words rather than a bare number.
std::string CauseText(int err);
// name + ": " + CauseText(err).
std::string FileErrorText(const std::string &name, int err);

// Codec lookup by name (codec_lookup.cpp): null for an empty name; raises the lookup's
// message otherwise. `strict` is the compliance level in force.
const AVCodec *FindCodecByName(const std::string &name, AVMediaType type, bool encoder, int strict);

// Format choices for a new encoder (output.cpp).
void ChooseSampleFormat(const AVCodec *codec, AVCodecContext *enc);
void ChooseSampleRate(const TCustomFFmpeg *engine, const AVCodec *codec, AVCodecContext *enc);
void ChoosePixelFormat(const AVCodec *codec, AVCodecContext *enc);

// Set-up (setup.cpp), the loop (loop.cpp), the paths (audio.cpp, video.cpp, loop.cpp for
// subtitles) and reporting (progress.cpp).
void TranscodeSetup(TTranscodeState &s);
void TranscodeLoop(TTranscodeState &s);
void LogStreamMapping(TTranscodeState &s);
void CloseEncoders(TTranscodeState &s);
void CloseDecoders(TTranscodeState &s);

// Hands one packet (in ost.SrcTb) to the filters and the muxer; takes its contents.
void WritePacket(TTranscodeState &s, TOutputStream &ost, AVPacket *pkt);
// Sends one frame (nullptr flushes) to the encoder and writes every packet it returns.
void EncodeAndWrite(TTranscodeState &s, TOutputStream &ost, AVFrame *frame);

void AudioSetup(TTranscodeState &s, TOutputStream &ost);
void DoAudioOut(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame);
void FlushAudio(TTranscodeState &s, TOutputStream &ost);
void VideoSetup(TTranscodeState &s, TOutputStream &ost);
void DoVideoOut(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame);
void PreProcessPicture(TTranscodeState &s, TInputStream &ist, AVFrame *frame);

// Progress report for the input just read; -1 for the final report.
void PrintReport(TTranscodeState &s, int inputIndex, bool final);
int64_t OutputFileSize(const TOutputFile &of);

inline int64_t ToMicros(int64_t ts, AVRational tb) { return ff.av_rescale_q(ts, tb, AVRational{1, AV_TIME_BASE}); }
inline int64_t FromMicros(int64_t us, AVRational tb) { return ff.av_rescale_q(us, AVRational{1, AV_TIME_BASE}, tb); }
