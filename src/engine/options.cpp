// The option dispatcher: the tables of option names, the rules behind them, the value parsers
// and the generic setter. Not the presets and bitstream filters (their own files), nor the
// stages that consume the option state.
#include "engine/options.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string_view>

#include "engine/ffmpeg_exception.h"
#include "engine/presets.h"
#include "media/ffowners.h"
#include "media/loader.h"
#include "media/logger.h"

namespace {

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string text(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

void Log(TOptionHost &host, TLogLevel level, const std::string &msg) {
  FFLogger().Log(host.LogSender(), level, msg);
}

// Any value but "0" switches a Boolean option on, the empty value included, so that a line
// holding the name alone means "on".
bool AsBool(const std::string &value) { return value != "0"; }

} // namespace

// ---------------------------------------------------------------------------------------------
// Value parsers

int64_t ParseInt64(const std::string &text) {
  std::string t = Trim(text);
  errno = 0;
  char *end = nullptr;
  long long v = t.empty() ? 0 : std::strtoll(t.c_str(), &end, 10);
  if (t.empty() || *end != '\0' || errno == ERANGE)
    throw FFmpegException("'" + text + "' is not a valid integer value");
  return v;
}

int ParseInt(const std::string &text) {
  int64_t v = ParseInt64(text);
  if (v < INT_MIN || v > INT_MAX) throw FFmpegException("'" + text + "' is not a valid integer value");
  return static_cast<int>(v);
}

double ParseDouble(const std::string &text) {
  std::string t = Trim(text);
  errno = 0;
  char *end = nullptr;
  double v = t.empty() ? 0 : std::strtod(t.c_str(), &end);
  if (t.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
    throw FFmpegException("'" + text + "' is not a valid floating point value");
  return v;
}

TMatrix ParseMatrix(const std::string &text) {
  TMatrix m{};
  const char *p = text.c_str();
  for (int i = 0; i < 64; i++) {
    char *end = nullptr;
    m[i] = static_cast<uint16_t>(std::strtol(p, &end, 10));
    p = end;
    if (i == 63) break; // text after the last coefficient is ignored
    if (*p != ',') throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
    p++;
  }
  return m;
}

// ---------------------------------------------------------------------------------------------
// Generic option tables

namespace {

int TypeIndex(AVMediaType type) {
  for (int i = 0; i < 5; i++)
    if (TGenericOptions::Types[i] == type) return i;
  throw std::logic_error("media type without an option table");
}
} // namespace

struct TGenericOptions::Impl {
  TCodecContextPtr codec[5];
  TFormatContextPtr format;
  TSwsPtr scaler;
  AVDictionary *priv[5] = {};
  AVDictionary *formatPriv = nullptr;

};

TGenericOptions::TGenericOptions() = default;
TGenericOptions::~TGenericOptions() { Drop(); }

void TGenericOptions::Drop() {
  if (!impl_) return;
  if (ff.avcodec_free_context && ff.avformat_free_context && ff.sws_freeContext && ff.av_dict_free) {
    for (auto &d : impl_->priv) ff.av_dict_free(&d);
    ff.av_dict_free(&impl_->formatPriv);
  } else {
    // The tables belong to the libraries: once they are unloaded there is nothing left to free.
    for (auto &c : impl_->codec) (void)c.release();
    (void)impl_->format.release();
    (void)impl_->scaler.release();
  }
  impl_.reset();
}

void TGenericOptions::Reset(int swsFlags) {
  setNames_.clear();
  Drop();
  impl_ = std::make_unique<Impl>();
  if (!ff.avcodec_alloc_context3 || !ff.avformat_alloc_context || !ff.sws_getContext) return;
  for (int i = 0; i < 5; i++) {
    impl_->codec[i].reset(ff.avcodec_alloc_context3(nullptr));
    if (!impl_->codec[i]) throw FFmpegException("avcodec_alloc_context3 failed");
    impl_->codec[i]->codec_type = Types[i];
  }
  impl_->format.reset(ff.avformat_alloc_context());
  if (!impl_->format) throw FFmpegException("avformat_alloc_context failed");
  impl_->scaler.reset(ff.sws_getContext(16, 16, AVPixelFormat(0), 16, 16, AVPixelFormat(0), swsFlags,
                                        nullptr, nullptr, nullptr));
  if (!impl_->scaler) throw FFmpegException("sws_getContext failed");
}

bool TGenericOptions::Allocated() const { return impl_ && impl_->format; }

AVCodecContext *TGenericOptions::Codec(AVMediaType type) const {
  return impl_ ? impl_->codec[TypeIndex(type)].get() : nullptr;
}
AVFormatContext *TGenericOptions::Format() const { return impl_ ? impl_->format.get() : nullptr; }
SwsContext *TGenericOptions::Scaler() const { return impl_ ? impl_->scaler.get() : nullptr; }

void TGenericOptions::NoteSet(const std::string &name) {
  for (auto &n : setNames_)
    if (n == name) return;
  setNames_.push_back(name);
}

AVDictionary **TGenericOptions::PrivateOptions(AVMediaType type) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  switch (type) {
  case AVMEDIA_TYPE_VIDEO:
  case AVMEDIA_TYPE_AUDIO:
  case AVMEDIA_TYPE_SUBTITLE: return &impl_->priv[TypeIndex(type)];
  default: return nullptr;
  }
}

AVDictionary **TGenericOptions::FormatPrivateOptions() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return &impl_->formatPriv;
}

AVDictionary *TGenericOptions::PrivateOptionsCopy(AVMediaType type) const {
  AVDictionary *copy = nullptr;
  if (impl_ && (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE))
    ff.av_dict_copy(&copy, impl_->priv[TypeIndex(type)], 0);
  return copy;
}

AVDictionary *TGenericOptions::FormatPrivateOptionsCopy() const {
  AVDictionary *copy = nullptr;
  if (impl_) ff.av_dict_copy(&copy, impl_->formatPriv, 0);
  return copy;
}

void TOptionState::Reset() {
  static_cast<TOptionValues &>(*this) = TOptionValues{};
  FrameHooks.Release();
  Generic.Reset(SwsFlags); // afresh, so that no option of a former task survives
}

// ---------------------------------------------------------------------------------------------
// Generic option setter

namespace {

int TypeMask(AVMediaType type) {
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: return AV_OPT_FLAG_VIDEO_PARAM;
  case AVMEDIA_TYPE_AUDIO: return AV_OPT_FLAG_AUDIO_PARAM;
  case AVMEDIA_TYPE_SUBTITLE: return AV_OPT_FLAG_SUBTITLE_PARAM;
  default: return 0;
  }
}

const std::string &NamedCodec(const TOptionState &s, AVMediaType type) {
  static const std::string none;
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: return s.VideoCodecName;
  case AVMEDIA_TYPE_AUDIO: return s.AudioCodecName;
  case AVMEDIA_TYPE_SUBTITLE: return s.SubtitleCodecName;
  default: return none;
  }
}

// The encoder whose own option table may take an option of this media type: the one named so
// far, else the one the output would use by default.
const AVCodec *CandidateEncoder(TOptionHost &host, AVMediaType type) {
  const std::string &name = NamedCodec(host.Options(), type);
  const AVCodec *codec = nullptr;
  if (!name.empty())
    codec = ff.avcodec_find_encoder_by_name(CurrentEncoderName(name).c_str());
  else if (AVCodecID id = host.DefaultEncoder(type); id != AV_CODEC_ID_NONE)
    codec = ff.avcodec_find_encoder(id);
  return codec && codec->type == type ? codec : nullptr;
}

const AVOutputFormat *CandidateMuxer(TOptionHost &host) {
  const std::string &name = host.Options().FileFormat;
  return name.empty() ? nullptr : ff.av_guess_format(name.c_str(), nullptr, nullptr);
}

enum class Placed { NotFound, Rejected, Accepted };

// An option only an encoder's own table knows: checked on a scratch context of that encoder,
// kept for the moment the real encoder opens.
Placed SetEncoderPrivate(TOptionHost &host, AVMediaType type, const std::string &name, const std::string &value) {
  const AVCodec *codec = CandidateEncoder(host, type);
  if (!codec || !codec->priv_class) return Placed::NotFound;
  const AVClass *cls = codec->priv_class;
  if (!ff.av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) return Placed::NotFound;
  TCodecContextPtr scratch(ff.avcodec_alloc_context3(codec));
  if (!scratch || !scratch->priv_data) return Placed::NotFound;
  if (ff.av_opt_set(scratch->priv_data, name.c_str(), value.c_str(), 0) < 0) return Placed::Rejected;
  ff.av_dict_set(host.Options().Generic.PrivateOptions(type), name.c_str(), value.c_str(), 0);
  return Placed::Accepted;
}

Placed SetMuxerPrivate(TOptionHost &host, const std::string &name, const std::string &value) {
  const AVOutputFormat *fmt = CandidateMuxer(host);
  if (!fmt || !fmt->priv_class) return Placed::NotFound;
  const AVClass *cls = fmt->priv_class;
  if (!ff.av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) return Placed::NotFound;
  AVFormatContext *raw = nullptr;
  if (ff.avformat_alloc_output_context2(&raw, fmt, nullptr, nullptr) < 0 || !raw) return Placed::NotFound;
  TFormatContextPtr scratch(raw);
  if (!scratch->priv_data) return Placed::NotFound;
  if (ff.av_opt_set(scratch->priv_data, name.c_str(), value.c_str(), 0) < 0) return Placed::Rejected;
  ff.av_dict_set(host.Options().Generic.FormatPrivateOptions(), name.c_str(), value.c_str(), 0);
  return Placed::Accepted;
}

// One name and value onto the libraries' tables, in the order: codec tables per media type,
// container, scaler, the named encoders' and muxer's own tables, then the name without a
// leading a/v/s on that type's codec table.
// inGenericTable names the option as the table knows it when it landed in one of the generic
// tables (so that it is copied into new contexts), and stays empty otherwise.
Placed PlaceOption(TOptionHost &host, const std::string &name, const std::string &value, std::string &inGenericTable) {
  TGenericOptions &g = host.Options().Generic;
  if (!g.Allocated()) g.Reset(host.Options().SwsFlags);
  inGenericTable.clear();
  AVCodecContext *video = g.Codec(AVMEDIA_TYPE_VIDEO);
  bool found = false;
  for (AVMediaType type : TGenericOptions::Types) {
    if (!ff.av_opt_find(video, name.c_str(), nullptr, TypeMask(type), 0)) continue;
    found = true;
    if (ff.av_opt_set(g.Codec(type), name.c_str(), value.c_str(), 0) < 0) return Placed::Rejected;
  }
  if (found) {
    inGenericTable = name;
    return Placed::Accepted;
  }
  for (void *table : {static_cast<void *>(g.Format()), static_cast<void *>(g.Scaler())}) {
    if (!ff.av_opt_find(table, name.c_str(), nullptr, 0, 0)) continue;
    if (ff.av_opt_set(table, name.c_str(), value.c_str(), 0) < 0) return Placed::Rejected;
    inGenericTable = name;
    return Placed::Accepted;
  }
  for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE})
    if (Placed p = SetEncoderPrivate(host, type, name, value); p != Placed::NotFound) return p;
  if (Placed p = SetMuxerPrivate(host, name, value); p != Placed::NotFound) return p;

  AVMediaType prefixed = AVMEDIA_TYPE_UNKNOWN;
  switch (name[0]) {
  case 'a': prefixed = AVMEDIA_TYPE_AUDIO; break;
  case 'v': prefixed = AVMEDIA_TYPE_VIDEO; break;
  case 's': prefixed = AVMEDIA_TYPE_SUBTITLE; break;
  default: return Placed::NotFound;
  }
  std::string rest = name.substr(1);
  if (rest.empty()) return Placed::NotFound;
  AVCodecContext *table = g.Codec(prefixed);
  if (ff.av_opt_find(table, rest.c_str(), nullptr, 0, 0)) {
    if (ff.av_opt_set(table, rest.c_str(), value.c_str(), 0) < 0) return Placed::Rejected;
    inGenericTable = rest;
    return Placed::Accepted;
  }
  return SetEncoderPrivate(host, prefixed, rest, value);
}

} // namespace

bool SetGenericOption(TOptionHost &host, const std::string &rawName, const std::string &rawValue) {
  std::string name = Trim(rawName), value = Trim(rawValue);
  if (name.empty() || value.empty()) return false;
  TGenericOptions &g = host.Options().Generic;
  // Older settings name options the libraries have since renamed or moved into an encoder's
  // own table; each becomes one or more current options.
  for (const auto &[n, v] : TranslateLegacyOption(name, value)) {
    std::string inTable;
    Placed p = PlaceOption(host, n, v, inTable);
    if (p == Placed::Rejected)
      ff.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", v.c_str(), n.c_str());
    if (p != Placed::Accepted) return false;
    if (!inTable.empty()) g.NoteSet(inTable);
  }
  bool debug = false;
  for (AVMediaType type : TGenericOptions::Types) debug |= g.Codec(type)->debug != 0;
  debug |= g.Format()->debug != 0;
  if (debug) FFLogger().SetLogLevel(llDebug);
  return true;
}

void CopySetGenericOptions(const TGenericOptions &generic, void *source, void *destination, int flags) {
  for (const std::string &name : generic.SetNames()) {
    const AVOption *opt = ff.av_opt_find(source, name.c_str(), nullptr, flags, 0);
    if (!opt || opt->type == AV_OPT_TYPE_CONST) continue;
    if (!ff.av_opt_find(destination, name.c_str(), nullptr, flags, 0)) continue;
    if (opt->type == AV_OPT_TYPE_FLAGS || opt->type == AV_OPT_TYPE_INT || opt->type == AV_OPT_TYPE_INT64 ||
        opt->type == AV_OPT_TYPE_BOOL) {
      int64_t v = 0;
      if (ff.av_opt_get_int(source, name.c_str(), 0, &v) >= 0) ff.av_opt_set_int(destination, name.c_str(), v, 0);
      continue;
    }
    uint8_t *text = nullptr;
    if (ff.av_opt_get(source, name.c_str(), 0, &text) >= 0 && text) {
      ff.av_opt_set(destination, name.c_str(), reinterpret_cast<char *>(text), 0);
      ff.av_free(text);
    }
  }
}

void WarnUnusedEncoderOptions(const void *sender, const AVDictionary *leftover, const AVCodec *encoder) {
  const AVDictionaryEntry *e = nullptr;
  while ((e = ff.av_dict_get(leftover, "", e, AV_DICT_IGNORE_SUFFIX)))
    FFLogger().Log(sender, llWarning,
                   Format("Option \"%s\" = \"%s\" was not used by encoder %s", e->key, e->value,
                          encoder ? encoder->name : "(none)"));
}

// ---------------------------------------------------------------------------------------------
// Dispatcher rules

namespace {

using Apply = std::function<void(TOptionHost &, const std::string &name, const std::string &value)>;

struct OptionRow {
  std::vector<std::string_view> Names;
  Apply Rule;
};

Apply SetBool(bool TOptionValues::*field) {
  return [field](TOptionHost &h, const std::string &, const std::string &v) { h.Options().*field = AsBool(v); };
}
Apply SetInt(int TOptionValues::*field) {
  return [field](TOptionHost &h, const std::string &, const std::string &v) { h.Options().*field = ParseInt(v); };
}
Apply SetDouble(double TOptionValues::*field) {
  return [field](TOptionHost &h, const std::string &, const std::string &v) { h.Options().*field = ParseDouble(v); };
}
Apply SetText(std::string TOptionValues::*field) {
  return [field](TOptionHost &h, const std::string &, const std::string &v) { h.Options().*field = v; };
}
Apply SetOn(bool TOptionValues::*field) {
  return [field](TOptionHost &h, const std::string &, const std::string &) { h.Options().*field = true; };
}
Apply Raise(const char *message) {
  return [message](TOptionHost &, const std::string &, const std::string &) { throw FFmpegException(message); };
}

void DoNothing(TOptionHost &h, const std::string &name, const std::string &) {
  Log(h, llInfo, "Do nothing: option - " + name);
}

void Time(const std::string &name, const std::string &value, bool duration, int64_t &out) {
  int64_t us = 0;
  if (ff.av_parse_time(&us, value.c_str(), duration) < 0)
    throw FFmpegException(Format("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                                 name.c_str(), value.c_str()));
  out = us;
}

void BitRate(TOptionHost &h, const std::string &name, const std::string &value) {
  SetGenericOption(h, name, value);
  AVMediaType type = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
  AVCodecContext *table = h.Options().Generic.Codec(type);
  if (table && table->bit_rate < 1000)
    Log(h, llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

// "copy" turns stream copy on for good; a name replaces the former name.
void Codec(std::string &codecName, bool &copy, const std::string &value) {
  if (value.empty()) return;
  codecName.clear();
  if (value == "copy")
    copy = true;
  else
    codecName = value;
}

Apply CodecRule(std::string TOptionValues::*name, bool TOptionValues::*copy) {
  return [name, copy](TOptionHost &h, const std::string &, const std::string &v) {
    Codec(h.Options().*name, h.Options().*copy, v);
  };
}

Apply Tag(uint32_t TOptionValues::*field, const char *message) {
  return [field, message](TOptionHost &h, const std::string &, const std::string &v) {
    if (v.size() != 4) throw FFmpegException(message);
    h.Options().*field = MKTAG(v[0], v[1], v[2], v[3]);
  };
}

Apply NewStream(AVMediaType type) {
  return [type](TOptionHost &h, const std::string &, const std::string &) {
    if (!h.HasOutputFile()) throw FFmpegException("At least one output file must be specified");
    h.NewStream(type);
  };
}

void Aspect(TOptionHost &h, const std::string &, const std::string &value) {
  double ratio = 0;
  if (size_t colon = value.find(':'); colon != std::string::npos) {
    auto lenient = [](const std::string &s) {
      try {
        return ParseInt(s);
      } catch (const FFmpegException &) {
        return 0;
      }
    };
    int x = lenient(value.substr(0, colon)), y = lenient(value.substr(colon + 1));
    ratio = y > 0 ? double(x) / y : 0;
  } else {
    try {
      ratio = ParseDouble(value);
    } catch (const FFmpegException &) {
      ratio = 0;
    }
  }
  if (ratio == 0) throw FFmpegException("Incorrect aspect ratio specification.");
  h.Options().FrameAspectRatio = ratio;
}

enum Side { Top, Bottom, Left, Right };

Apply Crop(Side side) {
  return [side](TOptionHost &h, const std::string &name, const std::string &value) {
    TOptionState &s = h.Options();
    int band = ParseInt(value);
    if (band <= 0) return;
    bool vertical = side == Top || side == Bottom;
    if (vertical ? band >= s.FrameHeight : band >= s.FrameWidth)
      throw FFmpegException(vertical ? "Vertical crop dimensions are outside the range of the original image.\n"
                                       "Remember to crop first and scale second."
                                     : "Horizontal crop dimensions are outside the range of the original image.\n"
                                       "Remember to crop first and scale second.");
    int *bands[] = {&s.FrameTopBand, &s.FrameBottomBand, &s.FrameLeftBand, &s.FrameRightBand};
    *bands[side] = band;
    (vertical ? s.FrameHeight : s.FrameWidth) -= band;
    std::string which = name.substr(4); // "croptop" -> "top"
    which[0] = char(toupper(which[0]));
    Log(h, llWarning, "Crop" + which + " is deprecated in favor of the crop avfilter");
  };
}

void ListTable(TOptionHost &h, int count, const std::function<char *(char *, int, int)> &entry) {
  char buf[256];
  for (int i = -1; i < count; i++) {
    if (!entry(buf, sizeof buf, i)) continue;
    Log(h, llInfo, Trim(buf));
  }
}

void PixFmt(TOptionHost &h, const std::string &, const std::string &value) {
  if (value == "list") {
    ListTable(h, AV_PIX_FMT_NB, [](char *buf, int size, int i) -> char * {
      if (i >= 0 && !ff.av_pix_fmt_desc_get(AVPixelFormat(i))) return nullptr;
      return ff.av_get_pix_fmt_string(buf, size, AVPixelFormat(i));
    });
    return;
  }
  AVPixelFormat fmt = ff.av_get_pix_fmt(value.c_str());
  if (fmt == AV_PIX_FMT_NONE) throw FFmpegException(Format("Unknown pixel format requested: %s", value.c_str()));
  h.Options().FramePixFmt = fmt;
}

void SampleFmt(TOptionHost &h, const std::string &, const std::string &value) {
  if (value == "list") {
    ListTable(h, AV_SAMPLE_FMT_NB, [](char *buf, int size, int i) {
      return ff.av_get_sample_fmt_string(buf, size, AVSampleFormat(i));
    });
    return;
  }
  h.Options().AudioSampleFmt = ff.av_get_sample_fmt(value.c_str());
}

void Map(TOptionHost &h, const std::string &, const std::string &value) {
  TOptionState &s = h.Options();
  if (s.StreamMaps.size() >= MAX_STREAM_MAPS) throw FFmpegException(Format("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
  TStreamMap m;
  char *p = const_cast<char *>(value.c_str());
  m.FileIndex = int(std::strtol(p, &p, 0));
  if (*p) p++;
  m.StreamIndex = int(std::strtol(p, &p, 0));
  if (*p) {
    p++;
    m.SyncFileIndex = int(std::strtol(p, &p, 0));
    if (*p) p++;
    m.SyncStreamIndex = int(std::strtol(p, &p, 0));
  } else {
    m.SyncFileIndex = m.FileIndex;
    m.SyncStreamIndex = m.StreamIndex;
  }
  s.StreamMaps.push_back(m);
}

void MapMetaData(TOptionHost &h, const std::string &, const std::string &value) {
  TOptionState &s = h.Options();
  if (s.MetaDataMaps.size() >= MAX_META_DATA_MAPS)
    throw FFmpegException(Format("Too many metadata maps (at most %d)", MAX_META_DATA_MAPS));
  TMetaDataMap m;
  char *p = const_cast<char *>(value.c_str());
  m.OutFile = int(std::strtol(p, &p, 0));
  if (*p) p++;
  m.InFile = int(std::strtol(p, &p, 0));
  s.MetaDataMaps.push_back(m);
}

void ItsScale(TOptionHost &h, const std::string &, const std::string &value) {
  char *p = const_cast<char *>(value.c_str());
  long stream = std::strtol(p, &p, 0);
  if (*p) p++;
  double scale = std::strtod(p, &p);
  if (stream >= MAX_STREAMS) throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
  // A negative index or a table already full of inputs would write outside the table.
  if (stream < 0) throw FFmpegException(Format("Invalid stream index %ld for option \"itsscale\"", stream));
  int file = h.InputFileCount();
  if (file >= MAX_FILES) throw FFmpegException(Format("Too many input files (at most %d)", MAX_FILES));
  h.Options().TimestampScale[file][stream] = scale;
}

void MetaData(TOptionHost &h, const std::string &, const std::string &value) {
  size_t eq = value.find('=');
  if (eq == std::string::npos) throw FFmpegException("Missing =");
  h.Options().MetaData.emplace_back(value.substr(0, eq), value.substr(eq + 1));
}

void StreamId(TOptionHost &h, const std::string &name, const std::string &value) {
  size_t colon = value.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
    throw FFmpegException(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                                 value.c_str(), name.c_str()));
  int index = ParseInt(value.substr(0, colon));
  int id = ParseInt(value.substr(colon + 1));
  if (index < 0 || index >= MAX_STREAMS)
    throw FFmpegException(Format("Invalid stream id index %d, must be 0 to %d", index, MAX_STREAMS - 1));
  h.Options().StreamIdMap[index] = id;
}

void VStats(TOptionHost &h, const std::string &, const std::string &) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string folder;
  if (n > 0) {
    folder.assign(exe, size_t(n));
    folder.erase(folder.rfind('/') + 1);
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  h.Options().VStatsFileName =
      Format("%svstats_%s.log", folder.c_str(), Format("%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec).c_str());
}

void Matrix(TOptionHost &h, const std::string &name, const std::string &value) {
  TMatrix m = ParseMatrix(value);
  (name == "intra_matrix" ? h.Options().IntraMatrix : h.Options().InterMatrix) = m;
}

void Target(TOptionHost &h, const std::string &, const std::string &value) {
  std::string target = Trim(value), norm = "auto";
  for (const char *prefix : {"pal-", "ntsc-", "film-"}) {
    std::string_view p(prefix);
    if (target.compare(0, p.size(), p) == 0) {
      norm = std::string(p.substr(0, p.size() - 1));
      target.erase(0, p.size());
      break;
    }
  }
  ApplyTargetPreset(h, target, norm, "ntsc");
}

const std::vector<OptionRow> &Rows() {
  using S = TOptionState;
  static const std::vector<OptionRow> rows = {
      // general
      {{"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"}, DoNothing},
      {{"loglevel"},
       [](TOptionHost &, const std::string &, const std::string &v) {
         try {
           FFLogger().SetLogLevelByName(v);
         } catch (const std::logic_error &) {
           throw FFmpegException("Invalid loglevel \"" + v + "\"");
         }
       }},
      {{"f"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         h.Options().FileFormat = v;
         if (v == "pgmyuv") {
           h.Options().FileFormat = "image2";
           h.Options().PgmyuvInput = true;
           Log(h, llInfo, "pgmyuv format is deprecated, use image2");
         }
       }},
      {{"map"}, Map},
      {{"map_meta_data"}, MapMetaData},
      {{"t"},
       [](TOptionHost &h, const std::string &n, const std::string &v) {
         Time(n, v, true, h.Options().RecordingTime);
         h.SetTotalDuration(h.Options().RecordingTime);
       }},
      {{"fs"}, [](TOptionHost &h, const std::string &, const std::string &v) { h.Options().LimitFileSize = ParseInt64(v); }},
      {{"ss"}, [](TOptionHost &h, const std::string &n, const std::string &v) { Time(n, v, true, h.Options().StartTime); }},
      {{"itsoffset"},
       [](TOptionHost &h, const std::string &n, const std::string &v) { Time(n, v, true, h.Options().InputTsOffset); }},
      {{"itsscale"}, ItsScale},
      {{"timestamp"},
       [](TOptionHost &h, const std::string &n, const std::string &v) {
         int64_t us = 0;
         Time(n, v, false, us);
         h.Options().RecordingTimestamp = std::llround(us / 1000000.0);
       }},
      {{"metadata"}, MetaData},
      {{"dframes"}, SetInt(&S::MaxDataFrames)},
      {{"timelimit"},
       [](TOptionHost &h, const std::string &, const std::string &) {
         Log(h, llWarning, "Warning: -timelimit not implemented on Windows");
       }},
      {{"dump"}, SetBool(&S::DoPktDump)},
      {{"hex"}, SetBool(&S::DoHexDump)},
      {{"re"}, SetBool(&S::RateEmu)},
      {{"loop_input"}, SetBool(&S::LoopInput)},
      {{"loop_output"}, SetInt(&S::LoopOutput)},
      {{"v"}, SetInt(&S::Verbose)},
      {{"target"}, Target},
      {{"threads"},
       [](TOptionHost &, const std::string &n, const std::string &) { throw FFmpegException("TODO: option - " + n); }},
      {{"vsync"}, SetInt(&S::VideoSyncMethod)},
      {{"async"}, SetInt(&S::AudioSyncMethod)},
      {{"adrift_threshold"}, SetDouble(&S::AudioDriftThreshold)},
      {{"vglobal"}, SetInt(&S::VideoGlobalHeader)},
      {{"copyts"}, SetOn(&S::CopyTs)},
      {{"shortest"}, SetBool(&S::Shortest)},
      {{"dts_delta_threshold"}, SetDouble(&S::DtsDeltaThreshold)},
      {{"programid"}, SetInt(&S::ProgramId)},
      {{"xerror"}, SetOn(&S::ExitOnError)},
      {{"copyinkf"},
       [](TOptionHost &h, const std::string &, const std::string &v) { h.Options().CopyInitialNonKeyframes = ParseInt(v) != 0; }},

      // video
      {{"b", "vb"}, BitRate},
      {{"vframes"}, SetInt(&S::MaxVideoFrames)},
      {{"r"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         AVRational rate{0, 0};
         if (ff.av_parse_video_rate(&rate, v.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
         h.Options().FrameRate = rate;
       }},
      {{"s"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         if (v.empty()) return;
         int w = 0, hh = 0;
         if (ff.av_parse_video_size(&w, &hh, v.c_str()) < 0) throw FFmpegException("Incorrect frame size");
         h.Options().FrameWidth = w;
         h.Options().FrameHeight = hh;
       }},
      {{"aspect"}, Aspect},
      {{"pix_fmt"}, PixFmt},
      {{"croptop"}, Crop(Top)},
      {{"cropbottom"}, Crop(Bottom)},
      {{"cropleft"}, Crop(Left)},
      {{"cropright"}, Crop(Right)},
      {{"padtop", "padbottom", "padleft", "padright", "padcolor"}, Raise("Please use vfilters=pad")},
      {{"intra"}, SetBool(&S::IntraOnly)},
      {{"vn"}, SetBool(&S::VideoDisable)},
      {{"vdt"}, SetInt(&S::VideoDiscard)},
      {{"qscale"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         double q = ParseDouble(v);
         if (!(q > 0.0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
         h.Options().VideoQScale = float(q);
       }},
      {{"rc_override"}, SetText(&S::VideoRcOverride)},
      {{"vcodec"}, CodecRule(&S::VideoCodecName, &S::VideoStreamCopy)},
      {{"me_threshold"}, SetInt(&S::MeThreshold)},
      {{"sameq"}, SetBool(&S::SameQuality)},
      {{"pass"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         int pass = ParseInt(v);
         if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
         h.Options().DoPass = pass;
       }},
      {{"passlogfile"}, SetText(&S::PassLogFileName)},
      {{"deinterlace"}, SetBool(&S::DoDeinterlace)},
      {{"psnr"}, SetBool(&S::DoPsnr)},
      {{"vstats"}, VStats},
      {{"vstats_file"}, SetText(&S::VStatsFileName)},
      {{"vhook"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         if (!h.Options().FrameHooks.Add(v)) throw FFmpegException("Failed to add video hook function: " + v);
       }},
      {{"vfilters", "vf"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         if (!v.empty()) h.Options().VFilters = v;
       }},
      {{"intra_matrix", "inter_matrix"}, Matrix},
      {{"top"}, SetInt(&S::TopFieldFirst)},
      {{"dc"}, SetInt(&S::IntraDcPrecision)},
      {{"vtag"}, Tag(&S::VideoCodecTag, "video tag parameter must be 4 chars")},
      {{"newvideo"}, NewStream(AVMEDIA_TYPE_VIDEO)},
      {{"vlang"}, SetText(&S::VideoLanguage)},
      {{"qphist"}, SetBool(&S::QpHistogram)},
      {{"force_fps"}, SetBool(&S::ForceFps)},
      {{"streamid"}, StreamId},

      // audio
      {{"ab"}, BitRate},
      {{"aframes"}, SetInt(&S::MaxAudioFrames)},
      {{"aq"},
       [](TOptionHost &h, const std::string &, const std::string &v) { h.Options().AudioQScale = float(ParseDouble(v)); }},
      {{"ar"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         if (int r = ParseInt(v); r > 0) h.Options().AudioSampleRate = r;
       }},
      {{"ac"},
       [](TOptionHost &h, const std::string &, const std::string &v) {
         if (int c = ParseInt(v); c > 0) h.Options().AudioChannels = c;
       }},
      {{"an"}, SetBool(&S::AudioDisable)},
      {{"acodec"}, CodecRule(&S::AudioCodecName, &S::AudioStreamCopy)},
      {{"atag"}, Tag(&S::AudioCodecTag, "audio tag parameter must be 4 chars")},
      {{"vol"}, SetInt(&S::AudioVolume)},
      {{"newaudio"}, NewStream(AVMEDIA_TYPE_AUDIO)},
      {{"alang"}, SetText(&S::AudioLanguage)},
      {{"sample_fmt"}, SampleFmt},

      // subtitles, capture, muxing, plug-ins
      {{"sn"}, SetBool(&S::SubtitleDisable)},
      {{"scodec"}, CodecRule(&S::SubtitleCodecName, &S::SubtitleStreamCopy)},
      {{"newsubtitle"}, NewStream(AVMEDIA_TYPE_SUBTITLE)},
      {{"slang"}, SetText(&S::SubtitleLanguage)},
      {{"stag"}, Tag(&S::SubtitleCodecTag, "subtitle tag parameter must be 4 chars")},
      {{"vc"}, SetInt(&S::VideoChannel)},
      {{"tvstd"}, SetText(&S::VideoStandard)},
      {{"isync"}, SetBool(&S::InputSync)},
      {{"muxdelay"}, SetDouble(&S::MuxMaxDelay)},
      {{"muxpreload"}, SetDouble(&S::MuxPreload)},
      {{"absf"}, [](TOptionHost &h, const std::string &, const std::string &v) { AppendBitstreamFilter(h.Options().AudioBsfs, v); }},
      {{"vbsf"}, [](TOptionHost &h, const std::string &, const std::string &v) { AppendBitstreamFilter(h.Options().VideoBsfs, v); }},
      {{"sbsf"},
       [](TOptionHost &h, const std::string &, const std::string &v) { AppendBitstreamFilter(h.Options().SubtitleBsfs, v); }},
      {{"apre", "vpre", "spre", "fpre"}, [](TOptionHost &h, const std::string &n, const std::string &v) { ApplyPreset(h, n, v); }},
  };
  return rows;
}

} // namespace

void DispatchOption(TOptionHost &host, const std::string &name, const std::string &value) {
  // Most rules ask the libraries; without them an option would call into nothing.
  if (!FFLoader().LibsLoaded(ConverterLibs)) throw FFmpegException("The media libraries are not loaded");
  for (const OptionRow &row : Rows())
    for (std::string_view n : row.Names)
      if (n == name) {
        row.Rule(host, name, value);
        return;
      }
  SetGenericOption(host, name, value);
}
