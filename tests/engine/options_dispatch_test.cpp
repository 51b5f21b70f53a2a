// The option dispatcher's rows: what each option stores, the Boolean and number conventions,
// every refusal and logged message. Not the generic tables or presets (their own tests).
#include <unistd.h>

#include <cmath>
#include <functional>
#include <regex>

#include "options_testing.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using Check = std::function<bool(const TOptionState &)>;

struct StoreCase {
  const char *Name;
  const char *Value;
  Check Holds;
};

TEST_F(OptionsTest, EachOptionStoresItsValue) {
  const StoreCase cases[] = {
      {"fs", "5000000000", [](auto &s) { return s.LimitFileSize == 5000000000LL; }},
      {"dframes", "7", [](auto &s) { return s.MaxDataFrames == 7; }},
      {"loop_output", "0", [](auto &s) { return s.LoopOutput == 0; }},
      {"v", "3", [](auto &s) { return s.Verbose == 3; }},
      {"vsync", "2", [](auto &s) { return s.VideoSyncMethod == 2; }},
      {"async", "1", [](auto &s) { return s.AudioSyncMethod == 1; }},
      {"adrift_threshold", "0.25", [](auto &s) { return s.AudioDriftThreshold == 0.25; }},
      {"vglobal", "2", [](auto &s) { return s.VideoGlobalHeader == 2; }},
      {"dts_delta_threshold", "3.5", [](auto &s) { return s.DtsDeltaThreshold == 3.5; }},
      {"programid", "2", [](auto &s) { return s.ProgramId == 2; }},
      {"copyinkf", "5", [](auto &s) { return s.CopyInitialNonKeyframes; }},
      {"vframes", "100", [](auto &s) { return s.MaxVideoFrames == 100; }},
      {"r", "30000/1001", [](auto &s) { return s.FrameRate.num == 30000 && s.FrameRate.den == 1001; }},
      {"r", "25", [](auto &s) { return s.FrameRate.num == 25 && s.FrameRate.den == 1; }},
      {"r", "ntsc", [](auto &s) { return s.FrameRate.num == 30000 && s.FrameRate.den == 1001; }},
      {"s", "352x288", [](auto &s) { return s.FrameWidth == 352 && s.FrameHeight == 288; }},
      {"s", "vga", [](auto &s) { return s.FrameWidth == 640 && s.FrameHeight == 480; }},
      {"aspect", "16:9", [](auto &s) { return std::abs(s.FrameAspectRatio - 16.0 / 9) < 1e-9; }},
      {"aspect", "1.7777", [](auto &s) { return s.FrameAspectRatio == 1.7777; }},
      {"pix_fmt", "yuv422p", [](auto &s) { return s.FramePixFmt == AV_PIX_FMT_YUV422P; }},
      {"vdt", "4", [](auto &s) { return s.VideoDiscard == 4; }},
      {"qscale", "255", [](auto &s) { return s.VideoQScale == 255.0f; }},
      {"qscale", "2.5", [](auto &s) { return s.VideoQScale == 2.5f; }},
      {"rc_override", "0,100,2/200,300,-50", [](auto &s) { return s.VideoRcOverride == "0,100,2/200,300,-50"; }},
      {"me_threshold", "9", [](auto &s) { return s.MeThreshold == 9; }},
      {"pass", "2", [](auto &s) { return s.DoPass == 2; }},
      {"passlogfile", "/tmp/log", [](auto &s) { return s.PassLogFileName == "/tmp/log"; }},
      {"vstats_file", "stats.log", [](auto &s) { return s.VStatsFileName == "stats.log"; }},
      {"vfilters", "hflip", [](auto &s) { return s.VFilters == "hflip"; }},
      {"vf", "vflip", [](auto &s) { return s.VFilters == "vflip"; }},
      {"top", "0", [](auto &s) { return s.TopFieldFirst == 0; }},
      {"dc", "10", [](auto &s) { return s.IntraDcPrecision == 10; }},
      {"vtag", "XVID", [](auto &s) { return s.VideoCodecTag == MKTAG('X', 'V', 'I', 'D'); }},
      {"vlang", "eng", [](auto &s) { return s.VideoLanguage == "eng"; }},
      {"aframes", "50", [](auto &s) { return s.MaxAudioFrames == 50; }},
      {"aq", "4.5", [](auto &s) { return s.AudioQScale == 4.5f; }},
      {"ar", "22050", [](auto &s) { return s.AudioSampleRate == 22050; }},
      {"ar", "0", [](auto &s) { return s.AudioSampleRate == 44100; }},
      {"ac", "1", [](auto &s) { return s.AudioChannels == 1; }},
      {"ac", "-1", [](auto &s) { return s.AudioChannels == 2; }},
      {"atag", "mp4a", [](auto &s) { return s.AudioCodecTag == MKTAG('m', 'p', '4', 'a'); }},
      {"vol", "512", [](auto &s) { return s.AudioVolume == 512; }},
      {"alang", "deu", [](auto &s) { return s.AudioLanguage == "deu"; }},
      {"sample_fmt", "s16", [](auto &s) { return s.AudioSampleFmt == AV_SAMPLE_FMT_S16; }},
      {"sample_fmt", "nosuch", [](auto &s) { return s.AudioSampleFmt == AV_SAMPLE_FMT_NONE; }},
      {"slang", "fra", [](auto &s) { return s.SubtitleLanguage == "fra"; }},
      {"stag", "tx3g", [](auto &s) { return s.SubtitleCodecTag == MKTAG('t', 'x', '3', 'g'); }},
      {"vc", "3", [](auto &s) { return s.VideoChannel == 3; }},
      {"tvstd", "pal", [](auto &s) { return s.VideoStandard == "pal"; }},
      {"muxdelay", "1.5", [](auto &s) { return s.MuxMaxDelay == 1.5; }},
      {"muxpreload", "0.25", [](auto &s) { return s.MuxPreload == 0.25; }},
      {"f", "matroska", [](auto &s) { return s.FileFormat == "matroska" && !s.PgmyuvInput; }},
      {"f", "pgmyuv", [](auto &s) { return s.FileFormat == "image2" && s.PgmyuvInput; }},
      {"ss", "00:01:02.5", [](auto &s) { return s.StartTime == 62500000; }},
      {"ss", "90", [](auto &s) { return s.StartTime == 90000000; }},
      {"itsoffset", "-1.5", [](auto &s) { return s.InputTsOffset == -1500000; }},
      {"t", "10", [](auto &s) { return s.RecordingTime == 10000000; }},
      {"timestamp", "1970-01-01T00:00:01.6Z", [](auto &s) { return s.RecordingTimestamp == 2; }},
      {"timestamp", "2009-02-13 23:31:30Z", [](auto &s) { return s.RecordingTimestamp == 1234567890; }},
      {"metadata", "title=A=B", [](auto &s) {
         return s.MetaData.size() == 1 && s.MetaData[0].first == "title" && s.MetaData[0].second == "A=B";
       }},
      {"streamid", "3:224", [](auto &s) { return s.StreamIdMap[3] == 224; }},
  };
  for (const StoreCase &c : cases) {
    S.Reset();
    EXPECT_EQ(ErrorOf(c.Name, c.Value), "") << c.Name << " " << c.Value;
    EXPECT_TRUE(c.Holds(S)) << c.Name << " " << c.Value;
  }
}

TEST_F(OptionsTest, DefaultsAreThoseOfAFreshTask) {
  Apply("s", "320x240");
  Apply("vcodec", "copy");
  Apply("metadata", "a=b");
  S.Reset();
  EXPECT_EQ(S.RecordingTime, INT64_MAX);
  EXPECT_EQ(S.MaxVideoFrames, INT_MAX);
  EXPECT_EQ(S.FrameWidth, 0);
  EXPECT_EQ(S.FramePixFmt, AV_PIX_FMT_NONE);
  EXPECT_EQ(S.TopFieldFirst, -1);
  EXPECT_EQ(S.IntraDcPrecision, 8);
  EXPECT_EQ(S.AudioSampleRate, 44100);
  EXPECT_EQ(S.AudioChannels, 2);
  EXPECT_EQ(S.AudioQScale, -99999.0f);
  EXPECT_EQ(S.AudioVolume, 256);
  EXPECT_EQ(S.VideoSyncMethod, -1);
  EXPECT_EQ(S.AudioDriftThreshold, 0.1);
  EXPECT_EQ(S.DtsDeltaThreshold, 10.0);
  EXPECT_EQ(S.MuxPreload, 0.5);
  EXPECT_EQ(S.MuxMaxDelay, 0.7);
  EXPECT_EQ(S.LoopOutput, -1);
  EXPECT_EQ(S.Verbose, 1);
  EXPECT_EQ(S.SwsFlags, SWS_BICUBIC);
  EXPECT_EQ(S.VideoBufferSize, 262144);
  EXPECT_FALSE(S.VideoStreamCopy);
  EXPECT_TRUE(S.MetaData.empty());
  ASSERT_TRUE(S.Generic.Allocated());
  int64_t flags = 0;
  ff.av_opt_get_int(S.Generic.Scaler(), "sws_flags", 0, &flags);
  EXPECT_EQ(flags, SWS_BICUBIC);
  EXPECT_TRUE(S.Generic.SetNames().empty());
}

TEST_F(OptionsTest, BooleanOptionsTakeAnythingButZeroAsOn) {
  const std::pair<const char *, bool TOptionValues::*> flags[] = {
      {"dump", &TOptionValues::DoPktDump},      {"hex", &TOptionValues::DoHexDump},
      {"re", &TOptionValues::RateEmu},          {"loop_input", &TOptionValues::LoopInput},
      {"shortest", &TOptionValues::Shortest},   {"intra", &TOptionValues::IntraOnly},
      {"vn", &TOptionValues::VideoDisable},     {"sameq", &TOptionValues::SameQuality},
      {"deinterlace", &TOptionValues::DoDeinterlace}, {"psnr", &TOptionValues::DoPsnr},
      {"qphist", &TOptionValues::QpHistogram},  {"force_fps", &TOptionValues::ForceFps},
      {"an", &TOptionValues::AudioDisable},     {"sn", &TOptionValues::SubtitleDisable},
      {"isync", &TOptionValues::InputSync},
  };
  const std::pair<const char *, bool> values[] = {{"", true}, {"0", false}, {"1", true}, {"no", true}};
  for (auto &[name, field] : flags)
    for (auto &[value, on] : values) {
      S.*field = !on;
      Apply(name, value);
      EXPECT_EQ(S.*field, on) << name << "=\"" << value << "\"";
    }
  // These two switch on whatever they are given.
  for (auto &[name, field] : {std::pair{"copyts", &TOptionValues::CopyTs}, std::pair{"xerror", &TOptionValues::ExitOnError}}) {
    S.*field = false;
    Apply(name, "0");
    EXPECT_TRUE(S.*field) << name;
  }
}

struct ErrorCase {
  std::vector<std::pair<const char *, const char *>> Before;
  const char *Name;
  const char *Value;
  const char *Message;
};

TEST_F(OptionsTest, RefusalsCarryTheirMessages) {
  const char *vertical =
      "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
  const char *horizontal =
      "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
  std::string matrix63;
  for (int i = 0; i < 63; i++) matrix63 += (i ? "," : "") + std::to_string(i + 1);
  const std::string matrixMessage = "Syntax error in matrix \"" + matrix63 + "\" at coeff 62";
  const ErrorCase cases[] = {
      {{}, "threads", "2", "TODO: option - threads"},
      {{}, "r", "fast", "Incorrect frame rate"},
      {{}, "s", "wide", "Incorrect frame size"},
      {{}, "aspect", "16:0", "Incorrect aspect ratio specification."},
      {{}, "aspect", "abc", "Incorrect aspect ratio specification."},
      {{}, "aspect", "0", "Incorrect aspect ratio specification."},
      {{}, "aspect", "4:-3", "Incorrect aspect ratio specification."},
      {{}, "aspect", "4:x", "Incorrect aspect ratio specification."},
      {{}, "pix_fmt", "nosuch", "Unknown pixel format requested: nosuch"},
      {{{"s", "640x480"}}, "croptop", "480", vertical},
      {{{"s", "640x480"}}, "cropbottom", "481", vertical},
      {{{"s", "640x480"}}, "cropleft", "640", horizontal},
      {{{"s", "640x480"}}, "cropright", "700", horizontal},
      {{}, "croptop", "10", vertical}, // no frame size yet: nothing to crop from
      {{}, "padtop", "8", "Please use vfilters=pad"},
      {{}, "padbottom", "8", "Please use vfilters=pad"},
      {{}, "padleft", "8", "Please use vfilters=pad"},
      {{}, "padright", "8", "Please use vfilters=pad"},
      {{}, "padcolor", "000000", "Please use vfilters=pad"},
      {{}, "qscale", "0", "qscale must be > 0.0 and <= 255"},
      {{}, "qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {{}, "pass", "3", "pass number can be only 1 or 2"},
      {{}, "pass", "0", "pass number can be only 1 or 2"},
      {{}, "vtag", "DIV", "video tag parameter must be 4 chars"},
      {{}, "atag", "mp4a1", "audio tag parameter must be 4 chars"},
      {{}, "stag", "", "subtitle tag parameter must be 4 chars"},
      {{}, "newvideo", "", "At least one output file must be specified"},
      {{}, "newaudio", "", "At least one output file must be specified"},
      {{}, "newsubtitle", "", "At least one output file must be specified"},
      {{}, "streamid", "3", "Invalid value \"3\" for option \"streamid\", required syntax is \"index:value\""},
      {{}, "streamid", ":3", "Invalid value \":3\" for option \"streamid\", required syntax is \"index:value\""},
      {{}, "streamid", "3:", "Invalid value \"3:\" for option \"streamid\", required syntax is \"index:value\""},
      {{}, "streamid", "20:1", "Invalid stream id index 20, must be 0 to 19"},
      {{}, "metadata", "title", "Missing ="},
      {{}, "itsscale", "25:2", "stream index over MAX_STREAMS(20)"},
      {{}, "itsscale", "-1:2", "Invalid stream index -1 for option \"itsscale\""},
      {{}, "t", "soon", "Invalid duration specification for t: soon"},
      {{}, "ss", "1:2:3:4", "Invalid duration specification for ss: 1:2:3:4"},
      {{}, "itsoffset", "x", "Invalid duration specification for itsoffset: x"},
      {{}, "timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
      {{}, "intra_matrix", matrix63.c_str(), matrixMessage.c_str()},
      {{}, "inter_matrix", "1,2;3", "Syntax error in matrix \"1,2;3\" at coeff 1"},
      {{}, "vframes", "12x", "'12x' is not a valid integer value"},
      {{}, "fs", "1e3", "'1e3' is not a valid integer value"},
      {{}, "v", "99999999999", "'99999999999' is not a valid integer value"},
      {{}, "adrift_threshold", "fast", "'fast' is not a valid floating point value"},
      {{}, "ar", "", "'' is not a valid integer value"},
      {{}, "loglevel", "chatty", "Invalid loglevel \"chatty\""},
      {{}, "target", "xcd", "Unknown target type"},
      {{}, "target", "vcd", "frame_rate is invalid."},
      {{}, "vpre", "missing", "Preset \"missing\" not found"},
      {{}, "absf", "nosuchbsf", "Unknown bitstream filter nosuchbsf"},
      {{}, "vbsf", "nosuchbsf=1 ", "Unknown bitstream filter nosuchbsf=1"},
      {{}, "vhook", "/nonexistent/hook.so", "Failed to add video hook function: /nonexistent/hook.so"},
  };
  for (const ErrorCase &c : cases) {
    S.Reset();
    for (auto &[n, v] : c.Before) Apply(n, v);
    EXPECT_EQ(ErrorOf(c.Name, c.Value), c.Message) << c.Name << " " << c.Value;
  }
}

TEST_F(OptionsTest, ARefusedOptionChangesNothing) {
  Apply("s", "640x480");
  Apply("aspect", "4:3");
  EXPECT_NE(ErrorOf("croptop", "480"), "");
  EXPECT_NE(ErrorOf("aspect", "16:0"), "");
  EXPECT_NE(ErrorOf("s", "wide"), "");
  EXPECT_NE(ErrorOf("itsscale", "25:2"), "");
  EXPECT_NE(ErrorOf("pix_fmt", "nosuch"), "");
  EXPECT_NE(ErrorOf("t", "soon"), "");
  EXPECT_EQ(S.FrameHeight, 480);
  EXPECT_EQ(S.FrameWidth, 640);
  EXPECT_EQ(S.FrameTopBand, 0);
  EXPECT_DOUBLE_EQ(S.FrameAspectRatio, 4.0 / 3);
  EXPECT_EQ(S.FramePixFmt, AV_PIX_FMT_NONE);
  EXPECT_EQ(S.RecordingTime, INT64_MAX);
  for (auto &row : S.TimestampScale)
    for (double v : row) EXPECT_EQ(v, 0);
}

TEST_F(OptionsTest, CropBandsComeOffTheFrameSize) {
  Apply("s", "640x480");
  Apply("croptop", "100");
  Apply("cropbottom", "0"); // ignored
  Apply("cropleft", "-5");  // ignored
  Apply("cropright", "40");
  EXPECT_EQ(S.FrameHeight, 380);
  EXPECT_EQ(S.FrameWidth, 600);
  EXPECT_EQ(S.FrameTopBand, 100);
  EXPECT_EQ(S.FrameBottomBand, 0);
  EXPECT_EQ(S.FrameLeftBand, 0);
  EXPECT_EQ(S.FrameRightBand, 40);
  EXPECT_TRUE(Logged(llWarning, "CropTop is deprecated in favor of the crop avfilter"));
  EXPECT_TRUE(Logged(llWarning, "CropRight is deprecated in favor of the crop avfilter"));
  EXPECT_FALSE(LoggedContaining("CropBottom"));
  // The bands count against the size left by earlier ones.
  EXPECT_NE(ErrorOf("cropbottom", "380"), "");
  Apply("cropbottom", "379");
  EXPECT_EQ(S.FrameHeight, 1);
}

TEST_F(OptionsTest, LoggedOptions) {
  for (const char *name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"}) {
    Apply(name, "whatever");
    EXPECT_TRUE(Logged(llInfo, std::string("Do nothing: option - ") + name)) << name;
  }
  Apply("timelimit", "10");
  EXPECT_TRUE(Logged(llWarning, "Warning: -timelimit not implemented on Windows"));
  Apply("f", "pgmyuv");
  EXPECT_TRUE(Logged(llInfo, "pgmyuv format is deprecated, use image2"));
}

TEST_F(OptionsTest, LowBitRateIsWarnedAboutAndStillSet) {
  struct {
    const char *Name, *Value;
    AVMediaType Type;
    bool Warned;
  } cases[] = {
      {"vb", "500", AVMEDIA_TYPE_VIDEO, true},       {"b", "999", AVMEDIA_TYPE_VIDEO, true},
      {"b", "1000", AVMEDIA_TYPE_VIDEO, false},      {"ab", "64", AVMEDIA_TYPE_AUDIO, true},
      {"ab", "128000", AVMEDIA_TYPE_AUDIO, false},
  };
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  for (auto &c : cases) {
    S.Reset();
    ClearLog();
    Apply(c.Name, c.Value);
    EXPECT_EQ(CodecInt(c.Type, "b"), std::stoll(c.Value)) << c.Name << " " << c.Value;
    EXPECT_EQ(Logged(llWarning, warning), c.Warned) << c.Name << " " << c.Value;
  }
  // "ab" sets the audio table only.
  S.Reset();
  Apply("ab", "96000");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_AUDIO, "b"), 96000);
  EXPECT_NE(CodecInt(AVMEDIA_TYPE_VIDEO, "b"), 96000);
}

TEST_F(OptionsTest, CodecNamesAndCopy) {
  struct {
    const char *Option;
    std::string TOptionValues::*Name;
    bool TOptionValues::*Copy;
  } kinds[] = {{"vcodec", &TOptionValues::VideoCodecName, &TOptionValues::VideoStreamCopy},
               {"acodec", &TOptionValues::AudioCodecName, &TOptionValues::AudioStreamCopy},
               {"scodec", &TOptionValues::SubtitleCodecName, &TOptionValues::SubtitleStreamCopy}};
  for (auto &k : kinds) {
    S.Reset();
    Apply(k.Option, "mpeg4");
    EXPECT_EQ(S.*k.Name, "mpeg4");
    Apply(k.Option, ""); // nothing
    EXPECT_EQ(S.*k.Name, "mpeg4");
    Apply(k.Option, "copy");
    EXPECT_TRUE(S.*k.Copy) << k.Option;
    EXPECT_EQ(S.*k.Name, "") << k.Option;
    Apply(k.Option, "mp2"); // a later name does not end stream copy
    EXPECT_EQ(S.*k.Name, "mp2");
    EXPECT_TRUE(S.*k.Copy) << k.Option;
  }
}

TEST_F(OptionsTest, StreamMapsReadFourNumbersWithAnySeparators) {
  struct {
    const char *Value;
    TStreamMap Map;
  } cases[] = {
      {"0.1", {0, 1, 0, 1}},
      {"0:1", {0, 1, 0, 1}},
      {"1:0:0:1", {1, 0, 0, 1}},
      {"2.3,4;5", {2, 3, 4, 5}},
  };
  for (auto &c : cases) {
    S.Reset();
    Apply("map", c.Value);
    ASSERT_EQ(S.StreamMaps.size(), 1u) << c.Value;
    const TStreamMap &m = S.StreamMaps[0];
    EXPECT_EQ(std::vector<int>({m.FileIndex, m.StreamIndex, m.SyncFileIndex, m.SyncStreamIndex}),
              std::vector<int>({c.Map.FileIndex, c.Map.StreamIndex, c.Map.SyncFileIndex, c.Map.SyncStreamIndex}))
        << c.Value;
  }
  Apply("map_meta_data", "1:0");
  ASSERT_EQ(S.MetaDataMaps.size(), 1u);
  EXPECT_EQ(S.MetaDataMaps[0].OutFile, 1);
  EXPECT_EQ(S.MetaDataMaps[0].InFile, 0);
}

TEST_F(OptionsTest, MapTablesRefuseEntriesBeyondTheirSize) {
  for (int i = 0; i < MAX_STREAM_MAPS; i++) Apply("map", "0:0");
  EXPECT_EQ(ErrorOf("map", "0:1"), "Too many stream maps (at most 400)");
  EXPECT_EQ(S.StreamMaps.size(), size_t(MAX_STREAM_MAPS));
  for (int i = 0; i < MAX_META_DATA_MAPS; i++) Apply("map_meta_data", "0:0");
  EXPECT_EQ(ErrorOf("map_meta_data", "0:0"), "Too many metadata maps (at most 20)");
}

TEST_F(OptionsTest, TimestampScaleActsOnTheNextInput) {
  Host.Inputs = 1;
  Apply("itsscale", "3:0.5");
  EXPECT_EQ(S.TimestampScale[1][3], 0.5);
  EXPECT_EQ(S.TimestampScale[0][3], 0);
  Apply("itsscale", "19:2");
  EXPECT_EQ(S.TimestampScale[1][19], 2);
  Host.Inputs = MAX_FILES;
  EXPECT_EQ(ErrorOf("itsscale", "0:2"), "Too many input files (at most 20)");
}

TEST_F(OptionsTest, RecordingTimeIsAlsoTheTaskDuration) {
  Apply("t", "00:00:05");
  EXPECT_EQ(S.RecordingTime, 5000000);
  EXPECT_EQ(Host.TotalDuration, 5000000);
}

TEST_F(OptionsTest, MatrixTakesSixtyFourCoefficients) {
  std::string text;
  for (int i = 0; i < 64; i++) text += (i ? "," : "") + std::to_string(i + 8);
  Apply("intra_matrix", text + ",99,junk"); // text after the last one is ignored
  ASSERT_TRUE(S.IntraMatrix.has_value());
  EXPECT_EQ((*S.IntraMatrix)[0], 8);
  EXPECT_EQ((*S.IntraMatrix)[63], 71);
  EXPECT_FALSE(S.InterMatrix.has_value());
  Apply("inter_matrix", text);
  ASSERT_TRUE(S.InterMatrix.has_value());
  EXPECT_EQ((*S.InterMatrix)[10], 18);
}

TEST_F(OptionsTest, NewStreamsGoToTheLastOutput) {
  Host.HasOutput = true;
  Apply("newvideo", "");
  Apply("newaudio", "");
  Apply("newsubtitle", "");
  EXPECT_EQ(Host.NewStreams,
            std::vector<AVMediaType>({AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}));
}

TEST_F(OptionsTest, FormatTablesAreListed) {
  Apply("pix_fmt", "list");
  std::vector<LoggedLine> lines = Lines();
  int formats = 0;
  for (int i = 0; i < AV_PIX_FMT_NB; i++) formats += ff.av_pix_fmt_desc_get(AVPixelFormat(i)) != nullptr;
  ASSERT_EQ(int(lines.size()), formats + 1);
  EXPECT_EQ(lines[0].Text.rfind("name", 0), 0u) << lines[0].Text; // the header line
  EXPECT_EQ(lines[1].Text.rfind("yuv420p", 0), 0u) << lines[1].Text;
  for (auto &l : lines) {
    EXPECT_EQ(l.Level, llInfo);
    EXPECT_EQ(l.Text, l.Text.substr(0, l.Text.find_last_not_of(' ') + 1)) << "not trimmed";
  }
  EXPECT_EQ(S.FramePixFmt, AV_PIX_FMT_NONE);

  ClearLog();
  Apply("sample_fmt", "list");
  lines = Lines();
  ASSERT_EQ(int(lines.size()), AV_SAMPLE_FMT_NB + 1);
  EXPECT_EQ(lines[0].Text.rfind("name", 0), 0u) << lines[0].Text;
  EXPECT_EQ(lines[1].Text.rfind("u8", 0), 0u) << lines[1].Text;
}

TEST_F(OptionsTest, StatisticsFileIsNamedAfterProgramFolderAndTime) {
  Apply("vstats", "");
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string folder(exe, size_t(n));
  folder.erase(folder.rfind('/') + 1);
  EXPECT_TRUE(std::regex_match(S.VStatsFileName, std::regex(folder + R"(vstats_\d{6}\.log)"))) << S.VStatsFileName;
}

TEST_F(OptionsTest, EmptyValuesThatDoNothing) {
  Apply("vf", "scale=320:240");
  Apply("vfilters", "");
  Apply("s", "");
  for (const char *bsf : {"absf", "vbsf", "sbsf"}) {
    Apply(bsf, "");
    Apply(bsf, "=noise");
  }
  Apply("vpre", "");
  EXPECT_EQ(S.VFilters, "scale=320:240");
  EXPECT_EQ(S.FrameWidth, 0);
  EXPECT_TRUE(S.AudioBsfs.empty() && S.VideoBsfs.empty() && S.SubtitleBsfs.empty());
}

TEST_F(OptionsTest, UnknownNamesChangeNothingAndRaiseNothing) {
  EXPECT_EQ(ErrorOf("nosuchoption", "1"), "");
  EXPECT_EQ(ErrorOf("Vcodec", "mpeg4"), ""); // names are exact: this is not "vcodec"
  EXPECT_EQ(S.VideoCodecName, "");
  EXPECT_TRUE(S.Generic.SetNames().empty());
}

TEST_F(OptionsTest, LogLevelByName) {
  Apply("loglevel", "debug");
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  Apply("loglevel", "16");
  EXPECT_EQ(FFLogger().LogLevel(), llError);
  FFLogger().SetLogLevel(llInfo);
}

TEST_F(OptionsTest, BitstreamFiltersJoinTheChainOfTheirType) {
  Apply("vbsf", "h264_mp4toannexb");
  Apply("vbsf", "noise=amount=8");
  Apply("absf", "aac_adtstoasc");
  Apply("sbsf", "null");
  ASSERT_EQ(S.VideoBsfs.size(), 2u);
  EXPECT_EQ(S.VideoBsfs[0].Name, "h264_mp4toannexb");
  EXPECT_EQ(S.VideoBsfs[0].Args, "");
  EXPECT_EQ(S.VideoBsfs[1].Name, "noise");
  EXPECT_EQ(S.VideoBsfs[1].Args, "amount=8");
  ASSERT_EQ(S.AudioBsfs.size(), 1u);
  EXPECT_EQ(S.AudioBsfs[0].Name, "aac_adtstoasc");
  ASSERT_EQ(S.SubtitleBsfs.size(), 1u);
}

} // namespace

namespace {

TEST_F(OptionsTest, OptionsNeedTheLibrariesLoaded) {
  Apply("g", "77"); // the tables exist and hold a value
#if defined(__SANITIZE_ADDRESS__)
  // Tables outliving their libraries are abandoned by design; the leak checker need not list them.
  for (AVMediaType type : TGenericOptions::Types) __lsan_ignore_object(S.Generic.Codec(type));
  __lsan_ignore_object(S.Generic.Format());
  __lsan_ignore_object(S.Generic.Scaler());
#endif
  FFLoader().UnloadLibs(ConverterLibs);
  EXPECT_EQ(ErrorOf("s", "vga"), "The media libraries are not loaded");
  EXPECT_EQ(ErrorOf("vcodec", "mpeg4"), "The media libraries are not loaded");
  S.Reset(); // the tables went with the libraries: nothing to free, nothing to crash on
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs));
  S.Reset();
  Apply("s", "vga");
  EXPECT_EQ(S.FrameWidth, 640);
  EXPECT_NE(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), 77); // fresh tables
}

} // namespace
