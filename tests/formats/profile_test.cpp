// Profile sections, the control labels' mapping, and the shipped profile file: a section
// for every format whose lists split, whose defaults exist, whose encoders the libraries
// have and whose default picks keep what the display name promises.
#include "formats/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "formats/catalogue.h"
#include "media/ffapi.h"
#include "media/loader.h"
#include "test_files.h"

using namespace formats_test;

TEST(EncoderLabels, MapAsTheControlsStoreThem) {
  const struct {
    const char *label;
    std::optional<std::string> stored;
  } video[] = {{"MPEG-4", "mpeg4"}, {"mpeg-4", "mpeg4"}, {"Xvid", "libxvid"}, {"H264", "libx264"},
               {"FLV", "flv"},      {"WMV2", "wmv2"},    {"MPEG2VIDEO", "mpeg2video"},
               {"Divx", std::nullopt}, {"", std::nullopt}},
    audio[] = {{"MP3", "libmp3lame"}, {"AAC", "libfaac"}, {"OGG", "vorbis"}, {"AC-3", "ac3"},
               {"AMR_NB", "libopencore_amrnb"}, {"PCM_S16", "pcm_s16le"}, {"WMA2", "wmav2"},
               {"pcm_mulaw ", "pcm_mulaw"}, {"pcm_mulaw", std::nullopt}, {"vorbis", std::nullopt}};
  for (const auto &c : video) EXPECT_EQ(MapVideoEncoderLabel(c.label), c.stored) << c.label;
  for (const auto &c : audio) EXPECT_EQ(MapAudioEncoderLabel(c.label), c.stored) << c.label;
}

TEST(EncoderLabels, ChannelAndVolumeItemsMapToStoredValues) {
  EXPECT_EQ(MapChannelItem("stereo 2 channels"), "2");
  EXPECT_EQ(MapChannelItem("Mono 1 Channel"), "1");
  EXPECT_EQ(MapChannelItem("as source"), "as source");
  EXPECT_EQ(MapChannelItem("3 channels"), std::nullopt);
  const struct {
    const char *item;
    std::optional<std::string> stored;
  } volumes[] = {{"25%", "64"},   {"50%", "128"},         {"100%", "256"}, {"175%", "448"},
                 {"400%", "1024"}, {"60%", std::nullopt}, {"100", std::nullopt}};
  for (const auto &c : volumes) EXPECT_EQ(MapVolumeItem(c.item), c.stored) << c.item;
  for (const char *bad : {"abc%", "%", "", "1.5%"})
    EXPECT_THROW(MapVolumeItem(bad), std::invalid_argument) << bad;
}

TEST(FormatProfile, AbsentKeysReadAsTheirDefaults) {
  ScratchDir dir;
  WriteText(dir.File("p.ini"), "[formatInfo7]\nVideoSize=null\n");
  const TFormatProfile p(dir.File("p.ini"), 7);
  EXPECT_EQ(p.Section(), "formatInfo7");
  EXPECT_EQ(p.Format(), "null");
  EXPECT_EQ(p.FileExt(), "mp4");
  EXPECT_EQ(p.List("VideoSize"), std::nullopt);
  EXPECT_EQ(p.List("AudioEncoder"), std::nullopt);
  EXPECT_EQ(p.DefaultIndex("VideoSize"), 0);
}

TEST(FormatProfile, DefaultPicksAreTheDefaultItemsMappedAsTheControlsMapThem) {
  ScratchDir dir;
  WriteText(dir.File("p.ini"), "[formatInfo3]\n"
                               "VideoSize=320x240,640x480\niVideoSize=1\n"
                               "VideoEncoder=MPEG-4,H264\niVideoEncoder=1\n"
                               "AudioEncoder=AAC\n"
                               "Channel=as source,mono 1 channel,stereo 2 channels\niChannel=1\n"
                               "Volume=50%,100%\niVolume=1\n"
                               "SampleRate=44100\niSampleRate=4\n"
                               "FrameRate=null\n"
                               "AudioBitRate=96.5\niAudioBitRate=x\n");
  const TFormatProfile p(dir.File("p.ini"), 3);
  const struct {
    const char *key;
    std::optional<std::string> pick;
  } cases[] = {
      {"paraVideoSize", "640x480"},
      {"paraVideoEncoder", "libx264"},
      {"PARAVIDEOENCODER", "libx264"},
      {"paraAudioEncoder", "libfaac"}, // no index key: the first item
      {"paraChannel", "1"},
      {"paraVolume", "256"},
      {"paraSampleRate", std::nullopt}, // index outside the list
      {"paraFrameRate", std::nullopt},  // "null": not offered
      {"paraVideoBitRate", std::nullopt},
      {"paraAudioBitRate", "96.5"}, // an index that is no integer reads as 0
      {"paraZoom", std::nullopt},
  };
  for (const auto &c : cases) EXPECT_EQ(ProfileDefaultPick(p, c.key), c.pick) << c.key;
}

namespace {

bool isPositiveInteger(const std::string &s) {
  int v = 0;
  return ParseInteger(s, v) && v > 0 && s.find_first_of(" +") == std::string::npos;
}

bool isPositiveNumber(const std::string &s) {
  return std::regex_match(s, std::regex(R"(\d+(\.\d+)?)")) && std::stod(s) > 0;
}

bool isEvenSize(const std::string &s) {
  std::smatch m;
  if (!std::regex_match(s, m, std::regex(R"((\d+)x(\d+))"))) return false;
  const int w = std::stoi(m[1]), h = std::stoi(m[2]);
  return w > 0 && h > 0 && w % 2 == 0 && h % 2 == 0;
}

// Names the engine still takes for encoders the current libraries call otherwise.
std::string currentEncoderName(const std::string &stored) {
  static const std::map<std::string, std::string> renamed = {
      {"libfaac", "aac"}, {"vorbis", "libvorbis"}, {"libflac", "flac"},
      {"msmpeg4v1", "msmpeg4v2"}, {"wmv3", "wmv2"}};
  auto it = renamed.find(stored);
  return it == renamed.end() ? stored : it->second;
}

// Labels that leave the choice to the container: its muxer's own default encoder.
const AVCodec *encoderFor(const std::string &stored, bool video) {
  static const std::set<std::string> containerDefaults = {"3gp", "3g2", "mov", "flv", "swf"};
  if (video && containerDefaults.count(stored)) {
    const AVOutputFormat *of = ff.av_guess_format(stored.c_str(), nullptr, nullptr);
    return of ? ff.avcodec_find_encoder(of->video_codec) : nullptr;
  }
  return ff.avcodec_find_encoder_by_name(currentEncoderName(stored).c_str());
}

struct TListRule {
  const char *key;
  bool (*itemOk)(const std::string &);
};

const TListRule listRules[] = {
    {"VideoSize", [](const std::string &s) { return s == "as source" || isEvenSize(s); }},
    {"VideoBitRate", [](const std::string &s) { return s == "as source" || isPositiveInteger(s); }},
    {"FrameRate", [](const std::string &s) { return s == "as source" || isPositiveNumber(s); }},
    {"VideoEncoder", [](const std::string &s) { return MapVideoEncoderLabel(s).has_value(); }},
    {"AudioBitRate", [](const std::string &s) { return s == "as source" || isPositiveNumber(s); }},
    {"SampleRate", [](const std::string &s) { return s == "as source" || isPositiveInteger(s); }},
    {"AudioEncoder", [](const std::string &s) { return MapAudioEncoderLabel(s).has_value(); }},
    {"Channel", [](const std::string &s) { return MapChannelItem(s).has_value(); }},
    {"Volume", [](const std::string &s) { return MapVolumeItem(s).has_value(); }},
};

} // namespace

TEST(ShippedProfile, EveryFormatHasASectionWhoseListsAndEncodersAreUsable) {
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  for (const auto &f : CatalogueFormats()) {
    SCOPED_TRACE(FormatSectionName(f.Code) + " " + f.Name);
    const TFormatProfile p(ShippedProfile(), f.Code);
    ASSERT_TRUE(p.Ini().SectionExists(p.Section()));
    ASSERT_TRUE(p.Ini().KeyExists(p.Section(), "Format"));
    ASSERT_TRUE(p.Ini().KeyExists(p.Section(), "FileExt"));
    // The display name's file pattern is the extension the output gets.
    EXPECT_NE(f.Name.find("(*." + p.FileExt() + ")"), std::string::npos);
    for (const auto &rule : listRules) {
      SCOPED_TRACE(rule.key);
      const auto items = p.List(rule.key);
      const bool audioOnly = f.Group == 27;
      const bool isVideoList = std::string(rule.key).rfind("Video", 0) == 0 ||
                               std::string(rule.key) == "FrameRate";
      if (!items) {
        EXPECT_TRUE(audioOnly && isVideoList) << "not offered";
        continue;
      }
      EXPECT_FALSE(audioOnly && isVideoList) << "a sound format offers video";
      const int i = p.DefaultIndex(rule.key);
      ASSERT_GE(i, 0);
      ASSERT_LT(i, static_cast<int>(items->size()));
      for (const auto &item : *items) EXPECT_TRUE(rule.itemOk(item)) << '"' << item << '"';
    }
    for (const char *key : {"VideoEncoder", "AudioEncoder"}) {
      const auto items = p.List(key);
      if (!items) continue;
      const bool video = std::string(key) == "VideoEncoder";
      for (const auto &label : *items) {
        const auto stored = video ? MapVideoEncoderLabel(label) : MapAudioEncoderLabel(label);
        ASSERT_TRUE(stored);
        EXPECT_NE(encoderFor(*stored, video), nullptr) << label << " -> " << *stored;
      }
    }
  }
}

TEST(ShippedProfile, DefaultPicksKeepWhatTheDisplayNamePromises) {
  const struct {
    const char *words; // any of them in the name, separated by "|"
    const char *encoder;
  } codecWords[] = {
      {"H.264|AVC", "libx264"}, {"Xvid", "libxvid"},        {"WMV|Windows Media Video", "wmv2"},
      {"h263", "h263"},         {"MPEG-1", "mpeg1video"},   {"MPEG-2|MPEG2", "mpeg2video"},
      {"Divx", "mpeg4"},        {"Flash Video", "flv"},     {"Flash SWF", "swf"},
      {"DV -", "dvvideo"},
  };
  const struct {
    const char *word;
    int height;
  } heights[] = {{"480p", 480}, {"480P", 480}, {"576p", 576}, {"720p", 720},
                 {"720P", 720}, {"1080P", 1080}};
  auto hasWord = [](const std::string &name, const std::string &words) {
    size_t start = 0;
    while (start <= words.size()) {
      size_t bar = words.find('|', start);
      if (name.find(words.substr(start, bar - start)) != std::string::npos) return true;
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    return false;
  };
  for (const auto &f : CatalogueFormats()) {
    SCOPED_TRACE(FormatSectionName(f.Code) + " " + f.Name);
    const TFormatProfile p(ShippedProfile(), f.Code);
    const auto encoder = ProfileDefaultPick(p, "paraVideoEncoder");
    if (f.Group == 27) {
      EXPECT_EQ(encoder, std::nullopt);
      continue;
    }
    ASSERT_TRUE(encoder);
    std::string expected;
    for (const auto &w : codecWords)
      if (expected.empty() && hasWord(f.Name, w.words)) expected = w.encoder;
    if (expected.empty() && hasWord(f.Name, "MPEG-4|MPEG4")) expected = "mpeg4";
    if (!expected.empty()) {
      EXPECT_EQ(*encoder, expected);
    }

    const std::string size = ProfileDefaultPick(p, "paraVideoSize").value_or("");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(size, m, std::regex(R"((\d+)x(\d+))")));
    const int w = std::stoi(m[1]), h = std::stoi(m[2]);
    std::smatch named;
    if (std::regex_search(f.Name, named, std::regex(R"(\((\d+) x (\d+)\))"))) {
      EXPECT_EQ(size, named[1].str() + "x" + named[2].str());
    }
    for (const auto &hw : heights) {
      if (f.Name.find(hw.word) != std::string::npos) {
        EXPECT_EQ(h, hw.height);
      }
    }
    if (f.Name.find("Wide Screen") != std::string::npos) {
      EXPECT_GE(w * 2, h * 3);
    }

    if (*encoder == "libx264" && f.Group <= 20) {
      // A device decodes only up to its level and rate.
      for (const char *key : {"paraLevel", "paraMaxBitrate", "paraBufferSize"}) {
        EXPECT_TRUE(isPositiveInteger(p.Read(key, ""))) << key;
      }
      EXPECT_LE(std::stoi(ProfileDefaultPick(p, "paraVideoBitRate").value_or("0")),
                std::stoi(p.Read("paraMaxBitrate", "0")));
    }
    if (hasWord(f.Name, "3GP") && hasWord(f.Name, "h263")) {
      EXPECT_EQ(ProfileDefaultPick(p, "paraAudioEncoder"), "libopencore_amrnb");
      EXPECT_EQ(ProfileDefaultPick(p, "paraSampleRate"), "8000");
      EXPECT_EQ(ProfileDefaultPick(p, "paraChannel"), "1");
    }
  }
}

TEST(ShippedProfile, H264ChoicesStayWithinTheLevelTheyDeclare) {
  // A decoder refuses a stream above its level: every size, rate and bit rate a format
  // offers with H.264 must fit the level, maximum rate and buffer its profile declares.
  const struct {
    int level;
    double macroblocksPerSecond;
    int macroblocksPerFrame, maxKbits;
  } levels[] = {{13, 11880, 396, 768},     {21, 19800, 792, 4000},    {30, 40500, 1620, 10000},
                {31, 108000, 3600, 14000}, {41, 245760, 8192, 50000}};
  for (const auto &f : CatalogueFormats()) {
    const TFormatProfile p(ShippedProfile(), f.Code);
    const auto encoders = p.List("VideoEncoder");
    if (!encoders || std::none_of(encoders->begin(), encoders->end(), [](const std::string &e) {
          return MapVideoEncoderLabel(e) == "libx264";
        }))
      continue;
    const std::string level = p.Read("paraLevel", "");
    if (level.empty()) continue; // a general format for computers: no level to keep
    SCOPED_TRACE(FormatSectionName(f.Code) + " " + f.Name + " level " + level);
    const auto limit = std::find_if(std::begin(levels), std::end(levels),
                                    [&](const auto &l) { return std::to_string(l.level) == level; });
    ASSERT_NE(limit, std::end(levels));
    const int maxRate = std::stoi(p.Read("paraMaxBitrate", "0"));
    EXPECT_LE(maxRate, limit->maxKbits);
    EXPECT_LE(std::stoi(p.Read("paraBufferSize", "0")), limit->maxKbits * 3 / 2 + 1000);
    const auto rates = p.List("VideoBitRate"), sizes = p.List("VideoSize"),
               frameRates = p.List("FrameRate");
    ASSERT_TRUE(rates && sizes && frameRates);
    for (const auto &rate : *rates) EXPECT_LE(std::stoi(rate), maxRate) << rate;
    for (const auto &size : *sizes) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(size, m, std::regex(R"((\d+)x(\d+))")));
      const int mbs = ((std::stoi(m[1]) + 15) / 16) * ((std::stoi(m[2]) + 15) / 16);
      EXPECT_LE(mbs, limit->macroblocksPerFrame) << size;
      for (const auto &fps : *frameRates)
        EXPECT_LE(mbs * std::stod(fps), limit->macroblocksPerSecond) << size << " at " << fps;
    }
  }
}
