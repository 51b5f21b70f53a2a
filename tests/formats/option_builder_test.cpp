// The option builder: targets, sound-only formats, encoders and their presets and extras,
// rates, frame sizes, the four zoom modes with their filter texts, and the defaults of a
// format the user never adjusted.
#include "formats/option_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "engine/ffmpeg_exception.h"
#include "fixtures/fixtures.h"
#include "formats/catalogue.h"
#include "media/avprobe.h"
#include "media/ffapi.h"
#include "media/loader.h"
#include "test_files.h"

using namespace formats_test;

namespace {

// One format (code 5) described by a profile section and a picks section of the test's own.
class Builder {
public:
  Builder(const std::string &profile, const std::string &picks) {
    WriteText(dir_.File("profile.ini"), "[formatInfo5]\n" + profile);
    WriteText(dir_.File("settings.ini"), "[formatInfo5]\n" + picks);
    sources_.ProfileFile = dir_.File("profile.ini");
    sources_.SettingsFile = dir_.File("settings.ini");
    sources_.Ask = [this](const std::string &text, const std::string &caption) {
      questions_.push_back(caption + ": " + text);
      return answer_;
    };
  }
  Builder &Answer(bool yes) {
    answer_ = yes;
    return *this;
  }
  TOutputOptions Build(const TSourceVideo &src, const TlvFilesRecord &row = {}) {
    TOutputOptions out;
    Input = TInputOptions{};
    BuildTaskOptions(row, 5, out, src, Input, sources_);
    return out;
  }
  TInputOptions Input;
  const std::vector<std::string> &Questions() const { return questions_; }
  const TOptionSources &Sources() const { return sources_; }
  std::string Dir() const { return dir_.Path(); }

private:
  ScratchDir dir_;
  TOptionSources sources_;
  std::vector<std::string> questions_;
  bool answer_ = true;
};

TSourceVideo video(int w, int h, int bitrate = 1000000) { return {1, w, h, bitrate, ""}; }

TlvFilesRecord row(const std::string &zoom, int top = 0, int bottom = 0, int left = 0, int right = 0) {
  TlvFilesRecord r;
  r.ZoomMode = zoom;
  r.CropTop = top;
  r.CropBottom = bottom;
  r.CropLeft = left;
  r.CropRight = right;
  return r;
}

} // namespace

TEST(OptionBuilder, ZoomModesGiveTheirSizesAndFilters) {
  const struct {
    const char *what;
    TSourceVideo src;
    const char *size;
    TlvFilesRecord row;
    const char *frameSize, *aspect, *filters;
    int cropTop, cropBottom, cropLeft, cropRight;
  } cases[] = {
      {"wide source letter-boxed", video(1920, 1080), "320x240", row("lbox"), "320x180", "320:180",
       "pad=320:240:0:30", 0, 0, 0, 0},
      {"narrow source pillar-boxed", video(640, 480), "720x480", row("lbox"), "640x480", "640:480",
       "pad=720:480:40:0", 0, 0, 0, 0},
      {"same size, no bars", video(640, 480), "640x480", row("lbox"), "640x480", "640:480",
       "pad=640:480:0:0", 0, 0, 0, 0},
      {"full screen with a crop", video(720, 576), "320x240", row("full", 8, 8, 8, 8), "320x240",
       "320:240", "", 8, 8, 8, 8},
      {"full screen", video(1920, 1080), "320x240", row("full"), "320x240", "320:240", "", 0, 0, 0, 0},
      // The crop filter takes width and height first; the bars fit the cropped picture.
      {"letter box of a cropped source", video(640, 480), "320x240", row("lbox", 10), "",
       "320:236", "crop=640:470:0:10,scale=320:236,pad=320:240:0:2", 0, 0, 0, 0},
      {"letter box keeps the shape of what the crop kept", video(640, 480), "320x240",
       row("lbox", 60, 60), "", "320:180", "crop=640:360:0:60,scale=320:180,pad=320:240:0:30",
       0, 0, 0, 0},
      {"pan and scan of a wide source", video(1920, 1080), "320x240", row("pan"), "320x240",
       "320:240", "", 0, 0, 240, 240},
      {"pan and scan adds the row's margins", video(1920, 1080), "320x240", row("pan", 0, 0, 10),
       "320x240", "320:240", "", 0, 0, 244, 234},
      {"pan and scan of a tall source", video(480, 640), "320x240", row("pan"), "320x240",
       "320:240", "", 140, 140, 0, 0},
      {"pan and scan of a 4:3 source", video(640, 480), "320x240", row("pan"), "320x240",
       "320:240", "", 0, 0, 0, 0},
      {"centre: small source unscaled", video(320, 240), "640x480", row("center"), "", "640:480",
       "pad=640:480:160:120:black", 0, 0, 0, 0},
      {"centre: odd source", video(175, 143), "320x240", row("center"), "", "320:240",
       "pad=320:240:72:48:black", 0, 0, 0, 0},
      {"centre: big source scaled down", video(1920, 1080), "640x480", row("center"), "",
       "640:480", "scale=640:360,pad=640:480:0:60:black", 0, 0, 0, 0},
      {"centre: cropped source", video(340, 260), "640x480", row("center", 10, 10, 10, 10), "",
       "640:480", "crop=320:240:10:10,pad=640:480:160:120:black", 0, 0, 0, 0},
      {"unknown mode sets nothing", video(640, 480), "320x240", row("zoom"), "", "", "", 0, 0, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Builder b("", std::string("paraVideoEncoder=mpeg4\nparaVideoSize=") + c.size + "\n");
    const TOutputOptions out = b.Build(c.src, c.row);
    EXPECT_EQ(out.FrameSize, c.frameSize);
    EXPECT_EQ(out.FrameAspectRatio, c.aspect);
    EXPECT_EQ(out.VideoFilters, c.filters);
    EXPECT_EQ(out.CropTop, c.cropTop);
    EXPECT_EQ(out.CropBottom, c.cropBottom);
    EXPECT_EQ(out.CropLeft, c.cropLeft);
    EXPECT_EQ(out.CropRight, c.cropRight);
  }
}

TEST(OptionBuilder, ZoomFiltersFollowFiltersAlreadyThere) {
  Builder b("", "paraVideoEncoder=mpeg4\nparaVideoSize=720x480\n");
  TOutputOptions out;
  out.VideoFilters = "hflip";
  TInputOptions in;
  BuildTaskOptions(row("lbox"), 5, out, video(640, 480), in, b.Sources());
  EXPECT_EQ(out.VideoFilters, "hflip,pad=720:480:40:0");
}

TEST(OptionBuilder, CropMarginsThatLeaveNothingAreAnError) {
  Builder b("", "paraVideoEncoder=mpeg4\nparaVideoSize=320x240\n");
  EXPECT_THROW(b.Build(video(640, 480), row("lbox", 240, 240)), FFmpegException);
}

TEST(OptionBuilder, FrameSizePicks) {
  const struct {
    const char *what, *encoder, *size;
    TSourceVideo src;
    bool answer;
    const char *frameSize;
    size_t questions;
  } cases[] = {
      {"width x height", "mpeg4", "480x272", video(640, 480), true, "480x272", 0},
      {"a part that is no number is the source's", "mpeg4", "axb", video(640, 480), true, "640x480", 0},
      {"as source", "mpeg4", "as source", video(720, 576), true, "720x576", 0},
      {"H.263 above 352 wide", "h263", "400x300", video(640, 480), true, "704x576", 0},
      {"H.263 above 176 wide", "h263", "320x240", video(640, 480), true, "352x288", 0},
      {"H.263 size kept", "h263", "176x144", video(640, 480), true, "176x144", 0},
      {"H.263 from the source's size", "h263", "as source", video(640, 480), true, "704x576", 0},
      {"no x: Yes takes 320x240", "mpeg4", "640", video(720, 576), true, "320x240", 1},
      {"no x: No keeps the source", "mpeg4", "640", video(720, 576), false, "720x576", 1},
      {"trailing x asks", "mpeg4", "320x", video(720, 576), true, "320x240", 1},
      {"leading x asks", "mpeg4", "x240", video(720, 576), true, "320x240", 1},
      {"H.263 after the question", "h263", "null", video(720, 576), true, "352x288", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Builder b("", std::string("paraVideoEncoder=") + c.encoder + "\nparaVideoSize=" + c.size + "\n");
    const TOutputOptions out = b.Answer(c.answer).Build(c.src, row("full"));
    EXPECT_EQ(out.FrameSize, c.frameSize);
    ASSERT_EQ(b.Questions().size(), c.questions);
    if (c.questions) {
      EXPECT_EQ(b.Questions()[0], "Warning: Error output Video Size.Use the default size 320x240?");
    }
  }
}

TEST(OptionBuilder, SoundOnlyFormat) {
  Builder b("Format=null\n", "paraVideoEncoder= \nparaAudioEncoder=libmp3lame\nparaChannel=1\n"
                             "paraSampleRate=22050\nparaAudioBitRate=96.5\nparaVolume=128\n");
  const TOutputOptions out = b.Build(video(640, 480));
  EXPECT_TRUE(out.VideoDisable);
  EXPECT_TRUE(out.SubtitleDisable);
  EXPECT_EQ(b.Input.ExtOptions, "vn=1");
  EXPECT_EQ(out.AudioCodec, "libmp3lame");
  EXPECT_EQ(out.AudioChannels, 1);
  EXPECT_EQ(out.AudioSampleRate, 22050);
  EXPECT_EQ(out.AudioBitrate, 96500);
  EXPECT_EQ(out.AudioVolume, 128);
  EXPECT_EQ(out.VideoCodec, "");
  EXPECT_EQ(out.FrameSize, "");
}

TEST(OptionBuilder, RatesFromThePicks) {
  const struct {
    const char *picks;
    int videoBitrate;
    const char *frameRate;
    int audioBitrate, channels, sampleRate, volume;
  } cases[] = {
      {"paraVideoBitRate=768\nparaFrameRate=25\nparaAudioBitRate=128\n", 768000, "25", 128000, 2, 44100, -1},
      {"paraVideoBitRate=as source\nparaFrameRate=as source\n", 1234000, "", 128000, 2, 44100, -1},
      {"paraVideoBitRate=fast\nparaFrameRate=0\n", 1234000, "", 128000, 2, 44100, -1},
      {"paraVideoBitRate=0\nparaFrameRate=29.97\n", -1, "29.97", 128000, 2, 44100, -1},
      {"paraAudioBitRate=as source\nparaChannel=as source\nparaSampleRate=as source\n", 512000,
       "29.97", -1, -1, -1, -1},
      {"paraAudioBitRate=0\nparaChannel=0\nparaSampleRate=-1\nparaVolume=1024\n", 512000, "29.97",
       -1, -1, -1, 1024},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.picks);
    const std::string volume =
        std::string(c.picks).find("paraVolume") == std::string::npos ? "paraVolume=256\n" : "";
    Builder b("", std::string("paraVideoEncoder=mpeg4\nparaVideoSize=320x240\n"
                              "paraAudioEncoder=libfaac\n") + volume + c.picks);
    const TOutputOptions out = b.Build(video(640, 480, 1234000));
    EXPECT_EQ(out.VideoBitrate, c.videoBitrate);
    EXPECT_EQ(out.FrameRate, c.frameRate);
    EXPECT_EQ(out.AudioBitrate, c.audioBitrate);
    EXPECT_EQ(out.AudioChannels, c.channels);
    EXPECT_EQ(out.AudioSampleRate, c.sampleRate);
    EXPECT_EQ(out.AudioVolume, c.volume);
    EXPECT_EQ(out.AudioCodec, "libfaac");
  }
}

TEST(OptionBuilder, AVolumeThatIsNoWholeNumberIsAConversionError) {
  for (const char *volume : {"loud", "1.5", ""}) {
    Builder b("", std::string("paraVideoEncoder=mpeg4\nparaVideoSize=320x240\nparaVolume=") +
                      volume + "\n");
    EXPECT_THROW(b.Build(video(640, 480)), FFmpegException) << volume;
  }
}

TEST(OptionBuilder, EncodersPresetsAndContainers) {
  const struct {
    const char *format, *encoder;
    const char *videoCodec, *preset, *fileFormat;
  } cases[] = {
      {"ipod", "libx264", "libx264", "libx264-ipod", "ipod"},
      {"PSP", "libx264", "libx264", "libx264-psp", "PSP"},
      {"ps3", "libx264", "libx264", "libx264-ps3", ""},
      {"null", "libx264", "libx264", "libx264-mp4", ""},
      {"avi", "libxvid", "libxvid", "", "avi"},
      {"3gp", "h263", "h263", "", "3gp"},
      {"flv", "flv", "", "", "flv"}, // the container's own encoder
      {"mov", "mov", "", "", "mov"},
      {"mpegts", "mpeg2video", "mpeg2video", "", "mpegts"},
      {"mp4", "wmv2", "wmv2", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.encoder);
    Builder b(std::string("Format=") + c.format + "\n",
              std::string("paraVideoEncoder=") + c.encoder + "\nparaVideoSize=320x240\n");
    const TOutputOptions out = b.Build(video(640, 480));
    EXPECT_EQ(out.VideoCodec, c.videoCodec);
    EXPECT_EQ(out.VideoPreset, c.preset);
    EXPECT_EQ(out.FileFormat, c.fileFormat);
  }
}

TEST(OptionBuilder, TargetsAndTheirNorms) {
  const struct {
    const char *format, *encoder, *size;
    int type, norm;
    const char *aspect; // of a sound-only source, where no zoom sets it again
  } cases[] = {
      {"ntsc-dvd", "mpeg2video", "720x480", 3, 2, "16:9"},
      {"NTSC-DVD", "mpeg2video", "704x480", 3, 2, "4:3"},
      {"pal-dvd", "mpeg2video", "720x576", 3, 1, "16:9"},
      {"ntsc-vcd", "mpeg1video", "352x240", 1, 2, "4:3"},
      {"pal-vcd", "mpeg1video", "352x288", 1, 1, "4:3"},
      // An SVCD stays an SVCD: its MPEG-2 video does not turn it into a DVD.
      {"ntsc-svcd", "mpeg2video", "480x480", 2, 2, "4:3"},
      {"pal-svcd", "mpeg2video", "480x576", 2, 1, "4:3"},
      // MPEG-2 video without a disc of its own goes out as a DVD of the source's norm.
      {"null", "mpeg2video", "720x576", 3, 0, ""},
      {"null", "mpeg4", "720x576", 0, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.encoder);
    Builder b(std::string("Format=") + c.format + "\n",
              std::string("paraVideoEncoder=") + c.encoder + "\nparaVideoSize=" + c.size + "\n");
    const TOutputOptions out = b.Build(TSourceVideo{0, -1, -1, -1, ""});
    EXPECT_EQ(out.TargetType, c.type);
    EXPECT_EQ(out.TargetNorm, c.norm);
    EXPECT_EQ(out.FrameAspectRatio, c.aspect);
  }
}

TEST(OptionBuilder, ASourceWithoutVideoConvertsSoundOnly) {
  Builder b("Format=avi\n", "paraVideoEncoder=mpeg4\nparaVideoSize=320x240\n"
                            "paraAudioEncoder=libmp3lame\nparaVolume=256\n");
  const TOutputOptions out = b.Build(TSourceVideo{0, -1, -1, -1, ""}, row("lbox"));
  EXPECT_TRUE(out.VideoDisable);
  EXPECT_EQ(out.FrameSize, "");
  EXPECT_EQ(out.VideoFilters, "");
  EXPECT_EQ(out.AudioCodec, "libmp3lame");
  EXPECT_FALSE(out.AudioDisable);
}

TEST(OptionBuilder, AVideoFormatWithoutSoundDisablesIt) {
  Builder b("", "paraVideoEncoder=mpeg4\nparaVideoSize=320x240\nparaAudioEncoder=\n"
                "paraVolume=256\n");
  EXPECT_TRUE(b.Build(video(640, 480)).AudioDisable);
  Builder amr("", "paraVideoEncoder=h263\nparaVideoSize=176x144\nparaAudioEncoder=libamr_nb\n"
                  "paraVolume=256\n");
  EXPECT_EQ(amr.Build(video(640, 480)).AudioCodec, "libopencore_amrnb");
}

TEST(OptionBuilder, H264ExtrasBecomeEncoderOptions) {
  const std::string profile = "Format=ipod\nparaLevel=13\nparaMaxBitrate=768\nparaBufferSize=1000\n"
                              "paraCoder=0\n";
  {
    SCOPED_TRACE("the profile's extras for a format never adjusted");
    Builder b(profile, "paraVideoEncoder=libx264\nparaVideoSize=320x240\n");
    const TOutputOptions out = b.Build(video(640, 480));
    EXPECT_EQ(out.ExtOptions, "level=13\r\ncoder=0");
    EXPECT_EQ(out.VideoMaxRate, 768000);
    EXPECT_EQ(out.VideoBufSize, 1000000);
    EXPECT_EQ(out.GopSize, -1);
  }
  {
    SCOPED_TRACE("the picks' copies win");
    Builder b(profile, "paraVideoEncoder=libx264\nparaVideoSize=320x240\nparaLevel=30\n"
                       "paraGop=250\nparaBitExact=TRUE\nparaQscale=0\nparaCoder=-1\n");
    const TOutputOptions out = b.Build(video(640, 480));
    EXPECT_EQ(out.ExtOptions, "flags=+bitexact\r\nlevel=30");
    EXPECT_EQ(out.GopSize, 250);
  }
  {
    SCOPED_TRACE("not for another encoder");
    Builder b(profile, "paraVideoEncoder=mpeg4\nparaVideoSize=320x240\n");
    const TOutputOptions out = b.Build(video(640, 480));
    EXPECT_EQ(out.ExtOptions, "");
    EXPECT_EQ(out.VideoMaxRate, -1);
  }
}

TEST(OptionBuilder, AFormatNeverAdjustedConvertsAsItsControlsShowIt) {
  // No picks at all: every parameter is the profile's default item.
  Builder b("Format=ipod\nVideoSize=320x240,640x480\niVideoSize=1\nVideoBitRate=768,1500\n"
            "iVideoBitRate=1\nFrameRate=25,29.97\niFrameRate=0\nVideoEncoder=MPEG-4,H264\n"
            "iVideoEncoder=0\nAudioBitRate=96,128\niAudioBitRate=0\nSampleRate=44100,48000\n"
            "iSampleRate=1\nAudioEncoder=AAC,MP3\niAudioEncoder=1\n"
            "Channel=as source,mono 1 channel,stereo 2 channels\niChannel=1\n"
            "Volume=50%,100%\niVolume=1\n",
            "");
  const TOutputOptions out = b.Build(video(1280, 720), row("full"));
  EXPECT_EQ(out.VideoCodec, "mpeg4");
  EXPECT_EQ(out.FrameSize, "640x480");
  EXPECT_EQ(out.VideoBitrate, 1500000);
  EXPECT_EQ(out.FrameRate, "25");
  EXPECT_EQ(out.AudioCodec, "libmp3lame");
  EXPECT_EQ(out.AudioBitrate, 96000);
  EXPECT_EQ(out.AudioSampleRate, 48000);
  EXPECT_EQ(out.AudioChannels, 1);
  EXPECT_EQ(out.AudioVolume, -1) << "100% is the unchanged loudness";
  EXPECT_TRUE(b.Questions().empty());
}

TEST(OptionBuilder, WithoutProfileListsTheBuiltInDefaultsStay) {
  Builder b("Format=null\n", "");
  const TOutputOptions out = b.Build(video(640, 480));
  EXPECT_TRUE(out.VideoDisable) << "no video encoder anywhere: sound only";
  EXPECT_EQ(out.AudioCodec, "libfaac");
  EXPECT_EQ(out.AudioChannels, 2);
  EXPECT_EQ(out.AudioSampleRate, 44100);
  EXPECT_EQ(out.AudioBitrate, 128000);
  EXPECT_EQ(out.AudioVolume, 3);
}

TEST(OptionBuilder, EveryShippedFormatBuildsWithoutAQuestion) {
  // The profile file as shipped, no picks: no format may ask about its frame size, lose
  // its video or its sound, or play at other than full loudness.
  ScratchDir dir;
  TOptionSources sources{ShippedProfile(), dir.File("settings.ini"), nullptr};
  int asked = 0;
  sources.Ask = [&](const std::string &, const std::string &) { return ++asked, true; };
  for (const auto &f : CatalogueFormats()) {
    SCOPED_TRACE(FormatSectionName(f.Code) + " " + f.Name);
    TOutputOptions out;
    TInputOptions in;
    BuildTaskOptions(row("lbox"), f.Code, out, video(1280, 720), in, sources);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(out.AudioDisable);
    EXPECT_FALSE(out.AudioCodec.empty());
    EXPECT_EQ(out.AudioVolume, -1);
    EXPECT_GT(out.AudioSampleRate, 0);
    EXPECT_GT(out.AudioBitrate, 0);
    EXPECT_EQ(out.VideoDisable, f.Group == 27);
    if (f.Group != 27) {
      EXPECT_FALSE(out.FrameSize.empty());
      EXPECT_FALSE(out.FrameRate.empty());
      EXPECT_GT(out.VideoBitrate, 0);
    }
  }
}

TEST(OptionAssembly, OneFileAsStartQueuesIt) {
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  Builder b("Format=avi\nFileExt=avi\n", "paraVideoEncoder=mpeg4\nparaVideoSize=640x480\n"
                                         "parazoom=full\nparaAudioEncoder=libmp3lame\n"
                                         "paraVolume=256\n");
  TlvFilesRecord r;
  r.SourceFile = fixtures::Path("av.mp4");
  r.TrimStart = 500000;
  r.TrimLength = 1000000;
  TAVProbe probe;
  TInputOptions in;
  in.ExtOptions = "stale";
  TOutputOptions out;
  AssembleTaskOptions(r, 5, b.Dir() + "/av_(new).avi", probe, in, out, b.Sources());
  EXPECT_EQ(in.FileName, r.SourceFile);
  EXPECT_EQ(in.FileFormat, "");
  EXPECT_EQ(in.StartTime, 500000);
  EXPECT_EQ(in.ExtOptions, "");
  EXPECT_EQ(out.FileName, b.Dir() + "/av_(new).avi");
  EXPECT_EQ(r.ZoomMode, "full");
  EXPECT_EQ(out.Duration, 1000000);
  EXPECT_TRUE(out.CustomHook);
  EXPECT_EQ(out.FrameSize, "640x480");
  EXPECT_EQ(out.FileFormat, "avi");
}

TEST(OptionAssembly, ASourceTheProbeCannotOpenIsBuiltForSoundOnly) {
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  Builder b("", "paraVideoEncoder=mpeg4\nparaVideoSize=640x480\nparaVolume=256\n");
  TlvFilesRecord r;
  r.SourceFile = fixtures::Path("random.bin");
  TAVProbe probe;
  TInputOptions in;
  TOutputOptions out;
  AssembleTaskOptions(r, 5, b.Dir() + "/x.mp4", probe, in, out, b.Sources());
  EXPECT_TRUE(out.VideoDisable);
  EXPECT_EQ(r.ZoomMode, "lbox") << "no parazoom pick: letter box";
  EXPECT_EQ(out.Duration, kNoTime) << "no trim: the whole file";
}

namespace {

// The picture size the current filter library makes of `chain` for a w x h input; a text
// the library cannot parse or configure fails the test.
std::pair<int, int> filteredSize(int w, int h, const std::string &chain) {
  std::unique_ptr<AVFilterGraph, void (*)(AVFilterGraph *)> graph(
      ff.avfilter_graph_alloc(), [](AVFilterGraph *g) { ff.avfilter_graph_free(&g); });
  AVFilterContext *src = nullptr, *sink = nullptr;
  const std::string args = "video_size=" + std::to_string(w) + "x" + std::to_string(h) +
                           ":pix_fmt=0:time_base=1/25:pixel_aspect=1/1";
  EXPECT_GE(ff.avfilter_graph_create_filter(&src, ff.avfilter_get_by_name("buffer"), "in",
                                            args.c_str(), nullptr, graph.get()), 0);
  EXPECT_GE(ff.avfilter_graph_create_filter(&sink, ff.avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, graph.get()), 0);
  AVFilterInOut *outputs = ff.avfilter_inout_alloc(), *inputs = ff.avfilter_inout_alloc();
  outputs->name = ff.av_strdup("in");
  outputs->filter_ctx = src;
  inputs->name = ff.av_strdup("out");
  inputs->filter_ctx = sink;
  const int parsed = ff.avfilter_graph_parse_ptr(graph.get(), chain.c_str(), &inputs, &outputs, nullptr);
  ff.avfilter_inout_free(&inputs);
  ff.avfilter_inout_free(&outputs);
  if (parsed < 0 || ff.avfilter_graph_config(graph.get(), nullptr) < 0) {
    ADD_FAILURE() << "the libraries refuse \"" << chain << "\"";
    return {0, 0};
  }
  return {ff.av_buffersink_get_w(sink), ff.av_buffersink_get_h(sink)};
}

} // namespace

TEST(OptionBuilder, ZoomFilterTextsMakeTheFrameOnTheCurrentLibraries) {
  // The engine scales to FrameSize (when set) and then runs the filters: the result must
  // be the picked frame whatever the source's shape.
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  const struct {
    TSourceVideo src;
    const char *size;
    TlvFilesRecord row;
  } cases[] = {
      {video(1920, 1080), "320x240", row("lbox")},
      {video(640, 480), "720x480", row("lbox")},
      {video(175, 143), "320x240", row("lbox")},
      {video(640, 480), "320x240", row("lbox", 10)},
      {video(720, 576), "640x360", row("lbox", 8, 8, 8, 8)},
      {video(320, 240), "640x480", row("center")},
      {video(175, 143), "320x240", row("center")},
      {video(1920, 1080), "640x480", row("center")},
      {video(480, 640), "640x480", row("center", 20, 20, 0, 0)},
  };
  for (const auto &c : cases) {
    Builder b("", std::string("paraVideoEncoder=mpeg4\nparaVideoSize=") + c.size + "\n");
    const TOutputOptions out = b.Build(c.src, c.row);
    SCOPED_TRACE(out.VideoFilters);
    int w = c.src.Width, h = c.src.Height;
    if (!out.FrameSize.empty()) {
      ASSERT_EQ(std::sscanf(out.FrameSize.c_str(), "%dx%d", &w, &h), 2);
    }
    const auto [fw, fh] = filteredSize(w, h, out.VideoFilters);
    EXPECT_EQ(std::to_string(fw) + "x" + std::to_string(fh), c.size);
  }
}
