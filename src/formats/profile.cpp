// Profile sections, encoder label tables and the default picks. The tables are the ones
// the parameter controls use, so a default pick is exactly what a control would store.
#include "formats/profile.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "formats/catalogue.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct TLabel {
  const char *Label; // lower case
  const char *Stored;
};

// Labels that store themselves are listed with the same text twice.
constexpr TLabel videoLabels[] = {
    {"mpeg-4", "mpeg4"},         {"xvid", "libxvid"},         {"h264", "libx264"},
    {"3gp", "3gp"},              {"3g2", "3g2"},              {"mov", "mov"},
    {"wmv1", "wmv1"},            {"wmv2", "wmv2"},            {"wmv3", "wmv3"},
    {"flv", "flv"},              {"swf", "swf"},              {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},  {"msmpeg4v2", "msmpeg4v2"},  {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"}, {"h263", "h263"},           {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},    {"rv10", "rv10"},            {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},      {"huffyuv", "huffyuv"},      {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},          {"svq1", "svq1"},            {"zlib", "zlib"},
};

constexpr TLabel audioLabels[] = {
    {"mp3", "libmp3lame"},   {"ogg", "vorbis"},           {"mp2", "mp2"},
    {"aac", "libfaac"},      {"ac-3", "ac3"},             {"flac", "libflac"},
    {"amr_nb", "libopencore_amrnb"}, {"pcm_s16", "pcm_s16le"}, {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"}, {"pcm_mulaw ", "pcm_mulaw"}, {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"}, {"wma1", "wmav1"}, {"wma2", "wmav2"},
};

constexpr TLabel channelItems[] = {
    {"as source", "as source"}, {"mono 1 channel", "1"}, {"stereo 2 channels", "2"}};

constexpr int volumePercents[] = {25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400};

template <size_t N>
std::optional<std::string> lookUp(const TLabel (&table)[N], const std::string &text) {
  const std::string key = lower(text);
  for (const auto &l : table)
    if (key == l.Label) return std::string(l.Stored);
  return std::nullopt;
}

struct TPickSource {
  const char *PicksKey;
  const char *ListKey;
  std::optional<std::string> (*Map)(const std::string &item); // nullptr: the item as it is
};

constexpr TPickSource pickSources[] = {
    {"paraVideoSize", "VideoSize", nullptr},
    {"paraVideoBitRate", "VideoBitRate", nullptr},
    {"paraFrameRate", "FrameRate", nullptr},
    {"paraVideoEncoder", "VideoEncoder", MapVideoEncoderLabel},
    {"paraSampleRate", "SampleRate", nullptr},
    {"paraAudioBitRate", "AudioBitRate", nullptr},
    {"paraAudioEncoder", "AudioEncoder", MapAudioEncoderLabel},
    {"paraChannel", "Channel", MapChannelItem},
    {"paraVolume", "Volume", MapVolumeItem},
};

} // namespace

TFormatProfile::TFormatProfile(std::string profileFile, int code)
    : ini_(std::move(profileFile)), code_(code), section_(FormatSectionName(code)) {}

std::string TFormatProfile::Read(const std::string &key, const std::string &def) const {
  return ini_.ReadString(section_, key, def);
}

std::string TFormatProfile::Format() const { return Read("Format", "null"); }
std::string TFormatProfile::FileExt() const { return Read("FileExt", "mp4"); }

std::optional<std::vector<std::string>> TFormatProfile::List(const std::string &listKey) const {
  const std::string text = Read(listKey, "null");
  if (text == "null") return std::nullopt;
  return SplitValueList(text);
}

int TFormatProfile::DefaultIndex(const std::string &listKey) const {
  return ini_.ReadInteger(section_, "i" + listKey, 0);
}

std::optional<std::string> TFormatProfile::DefaultItem(const std::string &listKey) const {
  auto items = List(listKey);
  if (!items) return std::nullopt;
  const int i = DefaultIndex(listKey);
  if (i < 0 || i >= static_cast<int>(items->size())) return std::nullopt;
  return (*items)[i];
}

std::optional<std::string> MapVideoEncoderLabel(const std::string &label) {
  return lookUp(videoLabels, label);
}

std::optional<std::string> MapAudioEncoderLabel(const std::string &label) {
  return lookUp(audioLabels, label);
}

std::optional<std::string> MapChannelItem(const std::string &item) {
  return lookUp(channelItems, item);
}

std::optional<std::string> MapVolumeItem(const std::string &item) {
  if (item.empty()) throw std::invalid_argument("'' is not a valid integer value");
  const std::string number = item.substr(0, item.size() - 1);
  int p = 0;
  if (!ParseInteger(number, p))
    throw std::invalid_argument("'" + number + "' is not a valid integer value");
  for (int v : volumePercents)
    if (v == p) return std::to_string(p * 256 / 100);
  return std::nullopt;
}

std::optional<std::string> ProfileDefaultPick(const TFormatProfile &profile,
                                              const std::string &picksKey) {
  const std::string key = lower(picksKey);
  for (const auto &s : pickSources) {
    if (lower(s.PicksKey) != key) continue;
    auto item = profile.DefaultItem(s.ListKey);
    if (!item) return std::nullopt;
    return s.Map ? s.Map(*item) : item;
  }
  return std::nullopt;
}
