// The option builder: one pass over the steps Start runs for every checked file. The
// profile says what a format offers; the picks say what the user chose; the builder
// never writes either file.
#include "formats/option_builder.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "engine/ffmpeg_exception.h"
#include "formats/catalogue.h"
#include "formats/global.h"
#include "formats/inifile.h"
#include "formats/profile.h"
#include "media/avprobe.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string trimmed(const std::string &s) {
  const auto blank = [](unsigned char c) { return c <= ' '; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

int toInt(const std::string &s) {
  int v = 0;
  ParseInteger(s, v);
  return v;
}

// kbit/s text to bit/s; a rate that does not fit the record is refused, not wrapped.
int kiloToBits(double kilo, const char *what) {
  const double bits = std::trunc(kilo * 1000.0);
  if (bits > INT_MAX) throw FFmpegException(std::string(what) + " is too large.");
  return static_cast<int>(bits);
}

void appendLine(std::string &options, const std::string &line) {
  if (!options.empty()) options += "\r\n";
  options += line;
}

struct TargetRow {
  const char *Format;
  int Type, Norm;
  const char *WideSize; // the frame size that makes the picture 16:9, or nullptr
};

constexpr TargetRow targets[] = {
    {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"}, {"ntsc-vcd", 1, 2, nullptr},
    {"pal-vcd", 1, 1, nullptr},    {"ntsc-svcd", 2, 2, nullptr}, {"pal-svcd", 2, 1, nullptr},
};

constexpr const char *namedVideoEncoders[] = {
    "mpeg4",  "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
    "huffyuv", "dvvideo", "rawvideo",  "h263p",      "h263",    "rv10",      "rv20",
    "ljpeg",  "mjpeg",   "svq1",       "zlib",       "wmv1",    "wmv2"};

constexpr const char *containerKeywords[] = {"ipod", "3gp", "3g2", "avi", "psp",
                                             "mov",  "vcd", "flv", "mpegts", "vob"};

// Sizes the H.263 encoder takes; a picked size that is one of them is kept as it is.
constexpr const char *h263Sizes = "704x576,352x288,176x144,160x120,128x96";

// The user's pick of a parameter: the picks section's value; for a format never adjusted,
// the profile's default item mapped as the controls map it (so it converts exactly as its
// controls show it); the built-in default only when the profile offers no list either.
class Picks {
public:
  Picks(const TOptionSources &sources, int code)
      : picks_(sources.SettingsFile.empty() ? GlobalObject().SettingsFile() : sources.SettingsFile),
        profile_(sources.ProfileFile.empty() ? GlobalObject().ProfileFile() : sources.ProfileFile,
                 code),
        section_(FormatSectionName(code)) {}

  std::string Get(const std::string &key, const std::string &builtIn) const {
    if (picks_.KeyExists(section_, key)) return picks_.ReadString(section_, key, builtIn);
    return ProfileDefaultPick(profile_, key).value_or(builtIn);
  }
  // An H.264 extra: copied into the picks when H.264 was chosen, else the profile's own.
  std::string Extra(const std::string &key) const {
    if (picks_.KeyExists(section_, key)) return picks_.ReadString(section_, key, "");
    return profile_.Read(key, "");
  }
  const TFormatProfile &Profile() const { return profile_; }

private:
  TIniFile picks_;
  TFormatProfile profile_;
  std::string section_;
};

int volumeOf(const std::string &text) {
  int v = 0;
  if (!ParseInteger(text, v)) throw FFmpegException("'" + text + "' is not a valid integer value");
  return v;
}

void audioRates(const Picks &picks, TOutputOptions &out, bool positiveChannels) {
  const std::string channels = picks.Get("paraChannel", "2");
  if (channels != "as source" && IsInteger(channels) &&
      (!positiveChannels || toInt(channels) > 0))
    out.AudioChannels = toInt(channels);
  const std::string rate = picks.Get("paraSampleRate", "44100");
  if (rate != "as source" && IsInteger(rate) && toInt(rate) > 0) out.AudioSampleRate = toInt(rate);
  const std::string bitrate = picks.Get("paraAudioBitRate", "128");
  if (bitrate != "as source" && (IsNumber(bitrate) || IsInteger(bitrate)) &&
      !trimmed(bitrate).empty()) {
    const double kilo = std::strtod(trimmed(bitrate).c_str(), nullptr);
    if (kilo * 1000.0 > 0) out.AudioBitrate = kiloToBits(kilo, "The audio bit rate");
  }
}

void volume(const Picks &picks, TOutputOptions &out) {
  const std::string v = picks.Get("paraVolume", "3");
  if (v != "256") out.AudioVolume = volumeOf(v);
}

// The H.264 extras a device needs, as encoder options.
void h264Extras(const Picks &picks, TOutputOptions &out) {
  auto positive = [&](const char *key) -> std::optional<int> {
    const std::string v = trimmed(picks.Extra(key));
    if (IsInteger(v) && toInt(v) > 0) return toInt(v);
    return std::nullopt;
  };
  if (lower(trimmed(picks.Extra("paraBitExact"))) == "true") appendLine(out.ExtOptions, "flags=+bitexact");
  if (auto v = positive("paraLevel")) appendLine(out.ExtOptions, "level=" + std::to_string(*v));
  if (auto v = positive("paraMaxBitrate")) out.VideoMaxRate = kiloToBits(*v, "The maximum bit rate");
  if (auto v = positive("paraBufferSize")) out.VideoBufSize = kiloToBits(*v, "The buffer size");
  if (auto v = positive("paraGop")) out.GopSize = *v;
  if (auto v = positive("paraQscale")) appendLine(out.ExtOptions, "qscale=" + std::to_string(*v));
  const std::string coder = trimmed(picks.Extra("paraCoder"));
  if (IsInteger(coder) && toInt(coder) >= 0) appendLine(out.ExtOptions, "coder=" + coder);
}

struct Size {
  int W = 0, H = 0;
};

// Letter-box bars for a source of sw x sh shown in w x h: even, equal on both sides.
struct Bars {
  int Left = 0, Top = 0;
};

Bars letterBox(int sw, int sh, int w, int h) {
  Bars b;
  const double rW = double(sw) / w, rH = double(sh) / h;
  if (rW > rH) {
    const int hs = static_cast<int>(std::trunc(sh / rW));
    b.Top = ((h - 2 * (hs / 2)) / 4) * 2;
  } else if (rW < rH) {
    const int ws = static_cast<int>(std::trunc(sw / rH));
    b.Left = ((w - 2 * (ws / 2)) / 4) * 2;
  }
  return b;
}

std::string cropFilter(int sw, int sh, const TlvFilesRecord &row) {
  // Width, height, then the top-left corner: the order the crop filter takes them in.
  return "crop=" + std::to_string(sw - row.CropLeft - row.CropRight) + ":" +
         std::to_string(sh - row.CropTop - row.CropBottom) + ":" + std::to_string(row.CropLeft) +
         ":" + std::to_string(row.CropTop);
}

std::string padFilter(int w, int h, int x, int y) {
  return "pad=" + std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(x) + ":" +
         std::to_string(y);
}

std::string sizeText(int w, int h, char sep) {
  return std::to_string(w) + sep + std::to_string(h);
}

// The even amount to take from each of two opposite sides of `length` so that
// kept / other comes closest to the wanted ratio.
int panAmount(int length, double wanted) {
  const double exact = (length - wanted) / 2.0;
  if (exact <= 0) return 0;
  const int low = (static_cast<int>(std::trunc(exact)) / 2) * 2;
  const int high = low + 2;
  const auto err = [&](int a) { return std::fabs((length - 2.0 * a) - wanted); };
  return 2 * high < length && err(high) < err(low) ? high : low;
}

void zoom(const TlvFilesRecord &row, const TSourceVideo &src, Size size, TOutputOptions &out,
          std::string &filter) {
  const bool cropped =
      row.CropTop > 0 || row.CropBottom > 0 || row.CropLeft > 0 || row.CropRight > 0;
  const int W = size.W, H = size.H;
  // The part of the source that is kept; the shape the zoom modes keep is its shape.
  const int cw = src.Width - std::max(0, row.CropLeft) - std::max(0, row.CropRight);
  const int ch = src.Height - std::max(0, row.CropTop) - std::max(0, row.CropBottom);
  if (cw <= 0 || ch <= 0)
    throw FFmpegException("The crop margins leave nothing of the " + sizeText(src.Width, src.Height, 'x') +
                          " picture.");

  if (row.ZoomMode == "full") {
    if (cropped) {
      out.CropTop = row.CropTop;
      out.CropBottom = row.CropBottom;
      out.CropLeft = row.CropLeft;
      out.CropRight = row.CropRight;
    }
    out.FrameSize = sizeText(W, H, 'x');
    out.FrameAspectRatio = sizeText(W, H, ':');
  } else if (row.ZoomMode == "lbox") {
    const Bars b = letterBox(cw, ch, W, H);
    const int iw = W - 2 * b.Left, ih = H - 2 * b.Top;
    out.FrameAspectRatio = sizeText(iw, ih, ':');
    if (cropped) {
      filter = cropFilter(src.Width, src.Height, row) + ",scale=" + sizeText(iw, ih, ':') + "," +
               padFilter(W, H, b.Left, b.Top);
    } else {
      out.FrameSize = sizeText(iw, ih, 'x');
      filter = padFilter(W, H, b.Left, b.Top);
    }
  } else if (row.ZoomMode == "pan") {
    // Cut two opposite sides so that the kept part is as near 4:3 as even amounts allow.
    const double ratio = double(cw) / ch;
    int lr = 0, tb = 0;
    if (ratio > 4.0 / 3.0)
      lr = panAmount(cw, ch * 4.0 / 3.0);
    else if (ratio < 4.0 / 3.0)
      tb = panAmount(ch, cw * 3.0 / 4.0);
    out.CropLeft = std::max(0, row.CropLeft) + lr;
    out.CropRight = std::max(0, row.CropRight) + lr;
    out.CropTop = std::max(0, row.CropTop) + tb;
    out.CropBottom = std::max(0, row.CropBottom) + tb;
    out.FrameSize = sizeText(W, H, 'x');
    out.FrameAspectRatio = sizeText(W, H, ':');
  } else if (row.ZoomMode == "center") {
    // The picture unscaled in the middle of a black frame; one too big is first made
    // to fit, keeping its shape.
    int iw = cw, ih = ch;
    if (cw > W || ch > H) {
      const Bars b = letterBox(cw, ch, W, H);
      iw = W - 2 * b.Left;
      ih = H - 2 * b.Top;
    }
    std::string chain = cropped ? cropFilter(src.Width, src.Height, row) : "";
    if (iw != cw || ih != ch) chain += std::string(chain.empty() ? "" : ",") + "scale=" + sizeText(iw, ih, ':');
    const int x = ((W - iw) / 4) * 2, y = ((H - ih) / 4) * 2;
    chain += std::string(chain.empty() ? "" : ",") + padFilter(W, H, x, y) + ":black";
    filter = chain;
    out.FrameAspectRatio = sizeText(W, H, ':');
  }
}

// Parses "WxH" at its first "x"; a part that is no positive whole number is the source's.
Size parseSize(const std::string &v, const TSourceVideo &src) {
  const size_t x = v.find('x');
  Size s;
  const std::string ws = v.substr(0, x), hs = v.substr(x + 1);
  s.W = IsInteger(ws) && toInt(ws) > 0 ? toInt(ws) : src.Width;
  s.H = IsInteger(hs) && toInt(hs) > 0 ? toInt(hs) : src.Height;
  return s;
}

Size h263Size(Size s) {
  if (s.W > 176 && s.W <= 352) s = {352, 288};
  if (s.W > 352 && s.W <= 704) s = {704, 576};
  if (s.W > 704) s = {704, 576};
  return s;
}

} // namespace

bool IsInteger(const std::string &text) {
  int v = 0;
  return ParseInteger(text, v);
}

bool IsNumber(const std::string &text) {
  const std::string t = trimmed(text);
  if (t.empty()) return false;
  char *end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(v) &&
         t.find_first_of("xXpPnNiI") == std::string::npos; // no hex, inf or nan
}

TSourceVideo SourceVideoOf(TCustomAVProbe &probe) {
  TSourceVideo s;
  s.VideoStreamCount = probe.VideoStreamCount();
  s.ForcedFormatName = probe.ForcedFormatName();
  if (s.VideoStreamCount > 0) {
    TVideoStreamInfo info;
    if (probe.GetVideoStreamInfo(probe.FirstVideoStreamIndex(), info)) {
      s.Width = info.Width;
      s.Height = info.Height;
      s.BitRate = info.BitRate;
    }
  }
  return s;
}

void BuildTaskOptions(const TlvFilesRecord &row, int formatCode, TOutputOptions &out,
                      const TSourceVideo &src, TInputOptions &in, const TOptionSources &sources) {
  const Picks picks(sources, formatCode);
  const std::string format = picks.Profile().Format();
  const std::string formatKey = lower(format);

  // 1. Target.
  for (const auto &t : targets)
    if (formatKey == t.Format) {
      out.TargetType = t.Type;
      out.TargetNorm = t.Norm;
      out.FrameAspectRatio =
          t.WideSize && picks.Get("paraVideoSize", "null") == t.WideSize ? "16:9" : "4:3";
    }

  // 2, 3. A format without a video encoder is sound only.
  const std::string encoder = picks.Get("paraVideoEncoder", "");
  if (trimmed(encoder).empty()) {
    out.AudioCodec = picks.Get("paraAudioEncoder", "libfaac");
    audioRates(picks, out, true);
    volume(picks, out);
    appendLine(in.ExtOptions, "vn=1");
    out.VideoDisable = true;
    out.SubtitleDisable = true;
    return;
  }

  // 4. Video encoder.
  if (std::find(std::begin(namedVideoEncoders), std::end(namedVideoEncoders), encoder) !=
      std::end(namedVideoEncoders)) {
    out.VideoCodec = encoder;
    // MPEG-2 video goes out as DVD unless the format already chose its disc (SVCD).
    if (encoder == "mpeg2video" && out.TargetType == 0) out.TargetType = 3;
  } else if (encoder == "libx264") {
    out.VideoCodec = "libx264";
    out.VideoPreset = formatKey == "psp"    ? "libx264-psp"
                      : formatKey == "ipod" ? "libx264-ipod"
                      : formatKey == "ps3"  ? "libx264-ps3"
                                            : "libx264-mp4";
    h264Extras(picks, out);
  }
  // Any other label leaves the container's own video encoder.

  std::string filter;
  if (src.VideoStreamCount < 1) {
    // 5. Nothing to show: sound only, whatever the format offers.
    out.VideoDisable = true;
  } else {
    // 6. Video bit rate.
    const std::string bitrate = picks.Get("paraVideoBitRate", "512");
    if (bitrate != "as source" && IsInteger(bitrate)) {
      if (toInt(bitrate) > 0) out.VideoBitrate = kiloToBits(toInt(bitrate), "The video bit rate");
    } else if (src.BitRate > 0) {
      out.VideoBitrate = src.BitRate;
    }

    // 7. Frame rate.
    const std::string rate = picks.Get("paraFrameRate", "29.97");
    if (rate != "as source" && (IsNumber(rate) || IsInteger(rate)) &&
        std::strtod(trimmed(rate).c_str(), nullptr) > 0)
      out.FrameRate = rate;

    // 8. Container.
    if (std::find(std::begin(containerKeywords), std::end(containerKeywords), formatKey) !=
        std::end(containerKeywords))
      out.FileFormat = format;

    // 9. Frame size.
    std::string v = picks.Get("paraVideoSize", "null");
    Size size{src.Width, src.Height};
    const bool usable = v.find('x', 1) != std::string::npos && v.back() != 'x';
    if (v != "as source" && usable) {
      size = parseSize(v, src);
    } else if (v != "as source") {
      const bool yes = !sources.Ask || sources.Ask(FrameSizeQuestion, FrameSizeQuestionCaption);
      if (yes)
        size = {320, 240};
      else
        v = "as source";
    }
    // The H.263 encoder takes a few sizes only; any size it is given ends as one of them.
    if (lower(out.VideoCodec) == "h263" &&
        (v.empty() || std::string(h263Sizes).find(v) == std::string::npos))
      size = h263Size(size);
    if (size.W <= 0 || size.H <= 0)
      throw FFmpegException("The source's frame size is not known: pick a frame size.");

    // 10. Unset crop fields become no crop.
    for (int *c : {&out.CropTop, &out.CropBottom, &out.CropLeft, &out.CropRight})
      if (*c == -1) *c = 0;

    // 11. Zoom.
    zoom(row, src, size, out, filter);
  }

  // 12. Filters.
  if (!filter.empty()) out.VideoFilters = out.VideoFilters.empty() ? filter : out.VideoFilters + "," + filter;

  // 13. Sound of a video format.
  std::string audio = picks.Get("paraAudioEncoder", "");
  if (audio == "libamr_nb") audio = "libopencore_amrnb";
  out.AudioCodec = audio;
  if (trimmed(audio).empty()) out.AudioDisable = true;
  audioRates(picks, out, true);
  volume(picks, out);
}

void BuildTaskOptions(const TlvFilesRecord &row, int formatCode, TOutputOptions &output,
                      TCustomAVProbe &probe, TInputOptions &input, const TOptionSources &sources) {
  BuildTaskOptions(row, formatCode, output, SourceVideoOf(probe), input, sources);
}

void AssembleTaskOptions(TlvFilesRecord &row, int formatCode, const std::string &outputFileName,
                         TCustomAVProbe &probe, TInputOptions &input, TOutputOptions &output,
                         const TOptionSources &sources) {
  input = TInputOptions{};
  input.FileName = row.SourceFile;
  // A source the probe cannot open leaves no video stream: the options are built for sound
  // only, and the engine reports the file when it fails to open it too.
  probe.LoadFile(row.SourceFile);
  input.FileFormat = probe.ForcedFormatName();
  if (row.TrimStart >= 0) input.StartTime = row.TrimStart;

  output = TOutputOptions{};
  output.FileName = outputFileName;

  const std::string settingsFile =
      sources.SettingsFile.empty() ? GlobalObject().SettingsFile() : sources.SettingsFile;
  row.ZoomMode = TIniFile(settingsFile).ReadString(FormatSectionName(formatCode), "parazoom", "lbox");

  BuildTaskOptions(row, formatCode, output, probe, input, sources);

  if (row.TrimLength > 0) output.Duration = row.TrimLength;
  output.CustomHook = true;
}
