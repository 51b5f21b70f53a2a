// Texts and small helpers shared by the engine, the probe and the player: error texts,
// time, size, stream-type and codec texts, metadata and file look-ups. No I/O on media.
#include "media/ffutils.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <sys/stat.h>

#include "media/ffapi.h"

namespace {

struct ErrorWords {
  int code;
  const char *text;
};

// The libraries' current codes, each beside the older code that meant the same thing,
// so that texts stay what users and stored logs have always seen.
constexpr ErrorWords kErrorWords[] = {
    {AVERROR(ENOENT), "No such file or directory"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENOMEM), "Not enough memory"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR(EINVAL), "Invalid data found when processing input"},
    {AVERROR_EOF, "End of file"},
    {AVERROR(EDOM), "Number syntax expected in filename"},
    {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
    {AVERROR(EILSEQ), "Unknown format"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
    {AVERROR(EPROTONOSUPPORT), "Unsupported network protocol"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {AVERROR(ENOSYS), "Not yet implemented in FFmpeg"},
};

constexpr const char *kStreamTypeNames[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};

std::string printf2(const char *fmt, auto... args) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

std::string trimmed(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

bool printable(unsigned c) { return c >= 32 && c <= 126; }

std::string describe(AVCodecID id, unsigned tag, bool encoder) {
  const AVCodec *codec = encoder ? ff.avcodec_find_encoder(id) : ff.avcodec_find_decoder(id);
  if (codec) {
    const std::string longName = trimmed(codec->long_name ? codec->long_name : "");
    if (longName.empty()) return codec->name;
    return std::string(codec->name) + "(" + longName + ")";
  }
  if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // A codec the libraries know by name but cannot code.
  if (id != AV_CODEC_ID_NONE) {
    if (const AVCodecDescriptor *d = ff.avcodec_descriptor_get(id); d && d->name) {
      std::string name = trimmed(d->name);
      if (!name.empty()) return name;
    }
  }
  const unsigned b0 = tag & 0xFF, b1 = (tag >> 8) & 0xFF, b2 = (tag >> 16) & 0xFF, b3 = tag >> 24;
  if (printable(b0) && printable(b1) && printable(b2) && printable(b3))
    return printf2("%c%c%c%c / 0x%04X", b0, b1, b2, b3, tag);
  return printf2("0x%04x", tag);
}

// "%.2d:%.2d:%.2d.%.3d" with truncating division, hours not wrapped.
std::string clockText(int64_t us) {
  const int64_t s = us / 1000000;
  return printf2("%.2d:%.2d:%.2d.%.3d", int(s / 3600), int((s / 60) % 60), int(s % 60),
                 int((us % 1000000) * 1000 / 1000000));
}

} // namespace

std::string ErrorMessage(int err) {
  for (const auto &w : kErrorWords)
    if (w.code == err) return w.text;
  return printf2("Error number %d occurred", err);
}

std::string ErrorText(const std::string &name, int err) { return name + ": " + ErrorMessage(err); }

std::string FormatMediaTime(int64_t us) {
  if (us == AV_NOPTS_VALUE) return "N/A";
  return clockText(us);
}

std::string FormatPlayTime(int64_t us) { return clockText(us); }

std::string FormatSeconds(int64_t us) {
  return printf2("%d.%.3d", int(us / 1000000), int((us % 1000000) / 1000));
}

std::string FormatClock(int64_t seconds) {
  return printf2("%lld:%.2d:%.2d", static_cast<long long>(seconds / 3600), int((seconds / 60) % 60),
                 int(seconds % 60));
}

std::string FormatFileSize(int64_t n) {
  if (n > 1073741824) return printf2("%.2f GB", double(n) / 1073741824.0);
  if (n > 1048576) return printf2("%.2f MB", double(n) / 1048576.0);
  if (n > 1024) return printf2("%.2f KB", double(n) / 1024.0);
  return printf2("%lld Byte", static_cast<long long>(n));
}

std::string StreamTypeName(int type) {
  if (type >= 0 && type < int(std::size(kStreamTypeNames))) return kStreamTypeNames[type];
  return "Unknown";
}

std::string CodecDescription(const AVCodecContext *ctx, bool encoder) {
  if (!ctx) return "0x0000";
  return describe(ctx->codec_id, ctx->codec_tag, encoder);
}

std::string CodecDescription(const AVCodecParameters *par, bool encoder) {
  if (!par) return "0x0000";
  return describe(par->codec_id, par->codec_tag, encoder);
}

std::string MetadataValue(const AVDictionary *m, const std::string &key, const std::string &def) {
  // No flags: the whole key must match, letter case aside, as containers spell tags
  // differently ("TITLE" in Matroska, "title" elsewhere).
  const AVDictionaryEntry *e = m ? ff.av_dict_get(m, key.c_str(), nullptr, 0) : nullptr;
  return e && e->value ? e->value : def;
}

int64_t FileSizeByName(const std::string &path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

double UnixTimeToLocal(int64_t seconds) {
  tzset();
  // `timezone` is the standard offset in seconds west of UTC; daylight saving not applied.
  const double offsetDays = -double(timezone) / 86400.0;
  return double(seconds) / 86400.0 + 25569.0 + offsetDays;
}
