// The media probe: what one open format context holds (container, streams, timing,
// tags) as records and as a text report. It neither decodes nor plays anything.
#include "media/avprobe.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/ffutils.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/unicode_protocol.h"

namespace {

constexpr int kLevelError = 16;
constexpr int kLevelWarning = 24;
constexpr const char kNotLoaded[] = "file not loaded.";

// Tag keys some containers store under their raw frame names, shown readably.
struct KeyName {
  const char *key;
  const char *shown;
};
constexpr KeyName kMetadataKeyNames[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};

const char *shownKey(const char *key) {
  for (const auto &k : kMetadataKeyNames)
    if (!std::strcmp(k.key, key)) return k.shown;
  return key;
}

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  return out;
}

int32_t clampToInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Microseconds as seconds with six decimals. The sign is written once, in front, so
// that a start just before zero reads "-0.021333" rather than losing its sign.
std::string secondsText(int64_t us) {
  const char *sign = us < 0 ? "-" : "";
  const uint64_t mag = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  return fmt("%s%llu.%.6llu", sign, static_cast<unsigned long long>(mag / 1000000),
             static_cast<unsigned long long>(mag % 1000000));
}

// A stream's time base as stored, with a zero denominator repaired so that rescaling
// never divides by zero: it becomes the numerator, or 1 when that is zero too.
AVRational repairTimeBase(AVStream *st) {
  if (st->time_base.den == 0) {
    st->time_base.den = st->time_base.num;
    if (st->time_base.den == 0) st->time_base.den = 1;
  }
  return st->time_base;
}

int64_t toMicroseconds(int64_t ts, AVRational tb) {
  return ff.av_rescale_q(ts, tb, AVRational{1, AV_TIME_BASE});
}

// ", 25 fps", ", 29.97 fps", ", 90k tbn".
std::string rateText(AVRational r, const char *suffix) {
  const double d = av_q2d(r);
  const long long v = std::llround(d * 100);
  if (v % 100) return fmt(", %3.2f %s", d, suffix);
  if (v % 100000) return fmt(", %1.0f %s", d, suffix);
  return fmt(", %1.0fk %s", d / 1000, suffix);
}

// The leading integer of a tag value ("2009-05-01" -> 2009, "3/12" -> 3), 0 when none.
int32_t leadingInt(const std::string &s) {
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str()) return 0;
  return clampToInt32(v);
}

// A creation-time tag ("2009-05-01T12:00:00.000000Z", or plain seconds) as seconds
// since 1970; 0 when there is none or it does not parse.
int64_t creationTime(const AVDictionary *m) {
  const std::string text = MetadataValue(m, "creation_time", "");
  if (text.empty()) return 0;
  int64_t us = 0;
  if (ff.av_parse_time(&us, text.c_str(), 0) < 0) return 0;
  return us / 1000000;
}

// "yyyy-mm-dd hh:nn:ss" of a date-time in days since 1899-12-30.
std::string dateTimeText(double days) {
  const time_t seconds = static_cast<time_t>(std::llround((days - 25569.0) * 86400.0));
  std::tm tm{};
  if (!gmtime_r(&seconds, &tm)) return {};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// Older demuxers named a program's tags "provider_name" and "name"; the transport
// stream demuxer of this library generation stores them as "service_provider" and
// "service_name". Either is shown, the older name first.
std::string programTag(const AVDictionary *m, const char *key, const char *currentKey) {
  return MetadataValue(m, key, MetadataValue(m, currentKey, "N/A"));
}

void addLine(std::string &text, const std::string &line) {
  text += line;
  text += "\r\n";
}

// The tags of a container, program or stream, one per line below "Metadata:". A set that
// holds nothing but the language is left out: the language already shows in the stream line.
void appendMetadata(std::string &text, const AVDictionary *m, const char *indent) {
  if (!m) return;
  const int count = ff.av_dict_count(m);
  if (count == 0) return;
  if (count == 1 && ff.av_dict_get(m, "language", nullptr, AV_DICT_MATCH_CASE)) return;
  addLine(text, fmt("%sMetadata:", indent));
  const AVDictionaryEntry *e = nullptr;
  while ((e = ff.av_dict_get(m, "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (!std::strcmp(e->key, "language")) continue;
    addLine(text, fmt("%s  %-16s: %s", indent, shownKey(e->key), e->value));
  }
}

using CodecContextPtr = TCodecContextPtr;

// The library's own one-line description of a stream's codec, decoder side.
std::string codecLine(const AVStream *st) {
  CodecContextPtr ctx(ff.avcodec_alloc_context3(nullptr));
  if (!ctx) return {};
  if (ff.avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return {};
  char buf[256] = "";
  ff.avcodec_string(buf, sizeof buf, ctx.get(), 0);
  return buf;
}

} // namespace

TCustomAVProbe::TCustomAVProbe() { UpdateInfo(); }

TCustomAVProbe::~TCustomAVProbe() { releaseContext(); }

// Frees an owned context. Once the format library has been unloaded there is nothing
// left to free it with; the probe then only forgets it rather than call into nothing.
void TCustomAVProbe::releaseContext() {
  if (context_ && ownsContext_ && FFLoader().IsLoaded(libAVFormat)) CloseLibraryInput(&context_);
  context_ = nullptr;
  ownsContext_ = false;
}

void TCustomAVProbe::CheckLibsLoaded() const {
  static constexpr struct {
    TLibraryId id;
    const char *text;
  } kNeeded[] = {
      {libAVCodec, "LibAVCodec not loaded."},
      {libAVFormat, "LibAVFormat not loaded."},
      {libAVUtil, "LibAVUtil not loaded."},
      {libSwScale, "LibSwScale not loaded."},
  };
  for (const auto &n : kNeeded)
    if (!FFLoader().IsLoaded(n.id)) throw EAVProbeLibsNotLoaded(n.text);
}

void TCustomAVProbe::SetError(int libLevel, const std::string &text) {
  FFLogger().Log(this, LevelFromLib(libLevel), text);
  lastErrMsg_ = text;
}

bool TCustomAVProbe::requireContext() {
  if (context_) return true;
  SetError(kLevelWarning, kNotLoaded);
  return false;
}

bool TCustomAVProbe::LoadFile(const std::string &fileName, const std::string &formatName) {
  CheckLibsLoaded();
  CloseFile();

  const AVInputFormat *format = nullptr;
  if (!formatName.empty()) {
    format = ff.av_find_input_format(formatName.c_str());
    if (!format) {
      lastErrMsg_ = "Unknown input format: " + formatName;
      return false;
    }
  }

  AVFormatContext *ctx = nullptr;
  const int err = OpenLibraryInput(&ctx, fileName, format, nullptr);
  if (err < 0) {
    SetError(kLevelError, ErrorText(fileName, err));
    CloseLibraryInput(&ctx);
    CloseFile();
    return false;
  }
  context_ = ctx;
  ownsContext_ = true;

  if (ff.avformat_find_stream_info(context_, nullptr) < 0) {
    CloseFile();
    lastErrMsg_ = fileName + ": could not find codec parameters";
    return false;
  }
  UpdateInfo();
  forcedFormatName_ = formatName;
  return true;
}

void TCustomAVProbe::AttachFormatContext(AVFormatContext *context) {
  CheckLibsLoaded();
  // Handing the probe the context it already holds must not close it first: an owned
  // context would be freed and then described.
  if (context && context == context_) {
    UpdateInfo();
    return;
  }
  CloseFile();
  context_ = context;
  ownsContext_ = false;
  UpdateInfo();
}

void TCustomAVProbe::CloseFile() {
  forcedFormatName_.clear();
  releaseContext();
  UpdateInfo();
}

void TCustomAVProbe::UpdateInfo() {
  fileSize_ = -1;
  streamCount_ = programCount_ = -1;
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
  firstAudioStreamIndex_ = firstVideoStreamIndex_ = firstSubtitleStreamIndex_ = -1;
  if (!context_) return;

  // Containers read through a stream that cannot tell its size still name a file
  // the file system can measure.
  int64_t size = context_->pb ? ff.avio_size(context_->pb) : 0;
  if (size <= 0 && context_->url) {
    const int64_t onDisk = FileSizeByName(FromLibraryFileName(context_->url));
    if (onDisk >= 0) size = onDisk;
  }
  fileSize_ = size < 0 ? 0 : size;

  streamCount_ = static_cast<int>(context_->nb_streams);
  programCount_ = static_cast<int>(context_->nb_programs);
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
  for (int i = 0; i < streamCount_; ++i) {
    switch (context_->streams[i]->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (videoStreamCount_++ == 0) firstVideoStreamIndex_ = i;
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (audioStreamCount_++ == 0) firstAudioStreamIndex_ = i;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (subtitleStreamCount_++ == 0) firstSubtitleStreamIndex_ = i;
      break;
    default:
      break;
    }
  }
}

void TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo &info) {
  info = TFileStreamInfo{};
  if (!requireContext()) return;
  info.StartTime = context_->start_time == AV_NOPTS_VALUE ? -1 : context_->start_time;
  info.Duration = context_->duration == AV_NOPTS_VALUE ? -1 : context_->duration;
  info.BitRate = clampToInt32(context_->bit_rate);
  const AVDictionary *m = context_->metadata;
  info.TimeStamp = creationTime(m);
  info.Year = leadingInt(MetadataValue(m, "date", MetadataValue(m, "year", "")));
  info.Track = leadingInt(MetadataValue(m, "track", ""));
  info.Title = MetadataValue(m, "title", "");
  info.Author = MetadataValue(m, "author", "");
  info.Copyright = MetadataValue(m, "copyright", "");
  info.Comment = MetadataValue(m, "comment", "");
  info.Album = MetadataValue(m, "album", "");
  info.Genre = MetadataValue(m, "genre", "");
}

bool TCustomAVProbe::checkStreamIndex(int streamIndex) {
  if (streamIndex >= 0 && streamIndex < streamCount_) return true;
  SetError(kLevelError, fmt("stream index #%d is invalid.", streamIndex));
  return false;
}

// The stream a query is about, or -1 after reporting why there is none.
int TCustomAVProbe::resolveStream(int streamIndex, int mediaType) {
  const bool audio = mediaType == AVMEDIA_TYPE_AUDIO;
  if (streamIndex < 0) {
    streamIndex = audio ? firstAudioStreamIndex_ : firstVideoStreamIndex_;
    if (streamIndex < 0) {
      SetError(kLevelError, audio ? "no audio stream." : "no video stream.");
      return -1;
    }
  } else if (!checkStreamIndex(streamIndex)) {
    return -1;
  }
  if (context_->streams[streamIndex]->codecpar->codec_type != mediaType) {
    SetError(kLevelError, fmt(audio ? "stream #%d is not audio stream."
                                    : "stream #%d is not video stream.",
                              streamIndex));
    return -1;
  }
  return streamIndex;
}

namespace {

// The fields audio and video records share.
template <typename Info> void fillCommon(AVStream *st, Info &info) {
  info.Language = MetadataValue(st->metadata, "language", "");
  info.CodecName = CodecDescription(st->codecpar, false);
  info.StartTime = st->start_time;
  info.Duration = st->duration;
  const AVRational tb = repairTimeBase(st);
  if (st->start_time != AV_NOPTS_VALUE) info.StartTimeUS = toMicroseconds(st->start_time, tb);
  if (st->duration != AV_NOPTS_VALUE) info.DurationUS = toMicroseconds(st->duration, tb);
  info.BitRate = clampToInt32(st->codecpar->bit_rate);
}

} // namespace

bool TCustomAVProbe::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo &info) {
  info = TAudioStreamInfo{};
  if (!requireContext()) return false;
  const int i = resolveStream(streamIndex, AVMEDIA_TYPE_AUDIO);
  if (i < 0) return false;
  AVStream *st = context_->streams[i];
  fillCommon(st, info);
  info.Channels = st->codecpar->ch_layout.nb_channels;
  info.SampleRate = st->codecpar->sample_rate;
  info.SampleFormat = st->codecpar->format;
  return true;
}

bool TCustomAVProbe::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo &info) {
  info = TVideoStreamInfo{};
  if (!requireContext()) return false;
  const int i = resolveStream(streamIndex, AVMEDIA_TYPE_VIDEO);
  if (i < 0) return false;
  AVStream *st = context_->streams[i];
  fillCommon(st, info);
  const AVCodecParameters *par = st->codecpar;
  info.Height = par->height;
  info.Width = par->width;
  // A picture without height has no shape to speak of: report the ratio as unknown
  // rather than dividing by zero.
  if (par->sample_aspect_ratio.num == 0 || par->sample_aspect_ratio.den == 0 || par->height == 0)
    info.DisplayAspectRatio = 0;
  else
    info.DisplayAspectRatio = static_cast<float>(av_q2d(par->sample_aspect_ratio) * par->width /
                                                 par->height);
  info.PixelFormat = par->format;
  info.FrameRateNum = st->r_frame_rate.num;
  info.FrameRateDen = st->r_frame_rate.den;
  return true;
}

bool TCustomAVProbe::IsAudioStream(int streamIndex) {
  if (!requireContext() || !checkStreamIndex(streamIndex)) return false;
  return context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TCustomAVProbe::IsVideoStream(int streamIndex) {
  if (!requireContext() || !checkStreamIndex(streamIndex)) return false;
  return context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

std::string TCustomAVProbe::FileName() {
  if (!requireContext()) return {};
  return context_->url ? FromLibraryFileName(context_->url) : std::string();
}

std::string TCustomAVProbe::FormatName() {
  if (!requireContext()) return {};
  return context_->iformat && context_->iformat->name ? context_->iformat->name : "";
}

void TCustomAVProbe::appendStreamLine(std::string &text, unsigned streamIndex) {
  AVStream *st = context_->streams[streamIndex];
  const AVCodecParameters *par = st->codecpar;
  std::string line = fmt("Stream #%u", streamIndex);
  if (context_->iformat && (context_->iformat->flags & AVFMT_SHOW_IDS))
    line += fmt("[0x%x]", static_cast<unsigned>(st->id));
  const std::string language = MetadataValue(st->metadata, "language", "");
  if (!language.empty()) line += "(" + language + ")";

  const AVRational tb = repairTimeBase(st);
  int g = static_cast<int>(ff.av_gcd(tb.num, tb.den));
  if (g == 0) g = 1;
  line += fmt(", %d/%d", tb.num / g, tb.den / g);
  line += ": " + codecLine(st);

  if (st->sample_aspect_ratio.num && av_cmp_q(st->sample_aspect_ratio, par->sample_aspect_ratio)) {
    AVRational dar{0, 1};
    ff.av_reduce(&dar.num, &dar.den,
                 static_cast<int64_t>(par->width) * st->sample_aspect_ratio.num,
                 static_cast<int64_t>(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line += fmt(", PAR %d:%d DAR %d:%d", st->sample_aspect_ratio.num,
                st->sample_aspect_ratio.den, dar.num, dar.den);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const auto known = [](AVRational r) { return r.num != 0 && r.den != 0; };
    if (known(st->avg_frame_rate)) line += rateText(st->avg_frame_rate, "fps");
    if (known(st->r_frame_rate)) line += rateText(st->r_frame_rate, "tbr");
    if (known(tb)) line += rateText(av_inv_q(tb), "tbn");
    // The codec time base is private to the demuxer's decoder in this library
    // generation; a context built from the stream's parameters leaves it unset, so
    // "tbc" shows only if a future library fills it in.
  }

  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + secondsText(toMicroseconds(st->start_time, tb));
  if (st->duration == AV_NOPTS_VALUE)
    line += ", Duration: N/A";
  else
    line += ", Duration: " + FormatMediaTime(toMicroseconds(st->duration, tb));
  addLine(text, line);
  appendMetadata(text, st->metadata, "  ");
}

std::string TCustomAVProbe::GetInfoText() {
  if (!requireContext()) return {};
  std::string text;
  const AVInputFormat *format = context_->iformat;
  addLine(text, "File Name: " + FileName());
  addLine(text, fmt("Format Name: %s", format && format->name ? format->name : ""));
  addLine(text, fmt("Format Long Name: %s", format && format->long_name ? format->long_name : ""));
  addLine(text, "File Size: " + FormatFileSize(fileSize_));

  TFileStreamInfo info;
  GetFileStreamInfo(info);
  addLine(text, info.Duration < 0 ? "Duration: N/A" : "Duration: " + FormatMediaTime(info.Duration));
  if (info.StartTime >= 0) addLine(text, "StartTime: " + secondsText(info.StartTime));
  addLine(text, info.BitRate < 1 ? std::string("Bit Rate: N/A")
                                 : fmt("Bit Rate: %d kb/s", info.BitRate / 1000));
  if (info.TimeStamp > 0)
    addLine(text, "Time Stamp: " + dateTimeText(UnixTimeToLocal(info.TimeStamp)));
  appendMetadata(text, context_->metadata, "");

  std::vector<bool> shown(context_->nb_streams, false);
  for (unsigned p = 0; p < context_->nb_programs; ++p) {
    const AVProgram *program = context_->programs[p];
    addLine(text, fmt("Program %d %s@%s", program->id,
                      programTag(program->metadata, "provider_name", "service_provider").c_str(),
                      programTag(program->metadata, "name", "service_name").c_str()));
    appendMetadata(text, program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned i = program->stream_index[k];
      if (i >= context_->nb_streams) continue;
      appendStreamLine(text, i);
      shown[i] = true;
    }
  }
  for (unsigned i = 0; i < context_->nb_streams; ++i)
    if (!shown[i]) appendStreamLine(text, i);
  return text;
}
