// Built-in presets and preset files, and the target presets with their norm resolution.
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "engine/presets.h"
#include "options_testing.h"

namespace {

std::string Lines(std::initializer_list<const char *> lines) {
  std::string text;
  for (const char *l : lines) text += std::string(l) + "\n";
  return text;
}

TEST(BuiltinPresets, AreTheFortyPublishedOnes) {
  const std::vector<std::string> names = {
      "libx264-baseline", "libx264-default", "libx264-fast", "libx264-fast_firstpass", "libx264-faster",
      "libx264-faster_firstpass", "libx264-fastfirstpass", "libx264-hq", "libx264-ipod320", "libx264-ipod640",
      "libx264-lossless_fast", "libx264-lossless_max", "libx264-lossless_medium", "libx264-lossless_slow",
      "libx264-lossless_slower", "libx264-lossless_ultrafast", "libx264-main", "libx264-max", "libx264-medium",
      "libx264-medium_firstpass", "libx264-normal", "libx264-placebo", "libx264-placebo_firstpass", "libx264-slow",
      "libx264-slow_firstpass", "libx264-slower", "libx264-slower_firstpass", "libx264-slowfirstpass",
      "libx264-superfast", "libx264-superfast_firstpass", "libx264-ultrafast", "libx264-ultrafast_firstpass",
      "libx264-veryfast", "libx264-veryfast_firstpass", "libx264-veryslow", "libx264-veryslow_firstpass",
      "libx264-psp", "libx264-ps3", "libx264-ipod", "libx264-mp4"};
  std::vector<std::string> have;
  for (const TBuiltinPreset &p : BuiltinPresets()) have.push_back(p.Name);
  EXPECT_EQ(have, names);
  EXPECT_EQ(FindBuiltinPreset("LIBX264-IPOD"), FindBuiltinPreset("libx264-ipod"));
  EXPECT_EQ(FindBuiltinPreset("ipod"), nullptr);
}

TEST(BuiltinPresets, CarryExactlyTheirLines) {
  const std::string common = "subq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\n"
                             "b_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\n";
  const std::string device = "me_method=umh\n" + common;
  const struct {
    const char *Name;
    std::string Text;
  } cases[] = {
      {"libx264-default",
       Lines({"coder=1", "flags=+loop", "cmp=+chroma", "partitions=+parti8x8+parti4x4+partp8x8+partb8x8",
              "me_method=hex"}) +
           common +
           Lines({"bf=3", "refs=3", "directpred=1", "trellis=1", "flags2=+mixed_refs+wpred+dct8x8+fastpskip", "wpredp=2"})},
      {"libx264-psp", Lines({"coder=1", "flags=+loop", "level=30", "cmp=+chroma",
                             "partitions=+parti4x4+parti8x8+partp8x8+partb8x8"}) +
                          device +
                          Lines({"bf=3", "refs=1", "directpred=1", "trellis=2", "b=1250000", "maxrate=1500000",
                                 "bufsize=4000000", "bt=256000", "sc_threshold=40"})},
      {"libx264-ps3", Lines({"coder=1", "flags=+loop", "level=30", "cmp=+chroma",
                             "partitions=+parti4x4+parti8x8+partp8x8+partb8x8"}) +
                          device +
                          Lines({"bf=3", "refs=1", "directpred=1", "trellis=2", "maxrate=3500000", "bufsize=4000000",
                                 "bt=256000", "sc_threshold=40"})},
      {"libx264-ipod", Lines({"coder=0", "flags=+loop", "level=30", "cmp=+chroma", "partitions=+parti4x4+parti8x8+partp8x8"}) +
                           device +
                           Lines({"refs=1", "directpred=1", "trellis=2", "b=1000000", "maxrate=1250000",
                                  "bufsize=4000000", "bt=256000", "sc_threshold=40"})},
      {"libx264-mp4", Lines({"coder=1", "flags=+loop", "level=30", "cmp=+chroma",
                             "partitions=+parti4x4+parti8x8+partp8x8+partb8x8"}) +
                          device +
                          Lines({"bf=3", "refs=1", "directpred=1", "trellis=2", "b=1250000", "maxrate=1500000",
                                 "bufsize=4000000", "bt=256000", "sc_threshold=40"})},
      {"libx264-baseline", Lines({"coder=0", "bf=0", "flags2=-wpred-dct8x8", "wpredp=0"})},
      {"libx264-main", Lines({"flags2=-dct8x8"})},
      {"libx264-ipod320",
       Lines({"coder=0", "bf=0", "flags2=-wpred-dct8x8", "level=13", "maxrate=768000", "bufsize=3000000", "wpredp=0"})},
      {"libx264-ipod640", Lines({"coder=0", "bf=0", "refs=1", "flags2=-wpred-dct8x8", "level=30", "maxrate=10000000",
                                 "bufsize=10000000", "wpredp=0"})},
      // Derived ones: the lossless family drops lines and adds cqp after flags2.
      {"libx264-lossless_ultrafast",
       Lines({"coder=0", "flags=+loop", "cmp=+chroma", "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8",
              "me_method=dia", "subq=0", "me_range=16", "g=250", "keyint_min=25", "sc_threshold=40", "i_qfactor=0.71",
              "b_strategy=1", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4", "directpred=1", "flags2=+fastpskip",
              "cqp=0"})},
      {"libx264-lossless_slower",
       Lines({"coder=1", "flags=+loop", "cmp=+chroma", "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8",
              "me_method=umh", "subq=8", "me_range=16", "g=250", "keyint_min=25", "sc_threshold=40", "i_qfactor=0.71",
              "b_strategy=1", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4", "refs=4", "directpred=1",
              "flags2=+mixed_refs+dct8x8+fastpskip", "cqp=0", "wpredp=2"})},
      {"libx264-placebo_firstpass",
       Lines({"coder=1", "flags=+loop", "cmp=+chroma", "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8",
              "me_method=tesa", "subq=10", "me_range=24", "g=250", "keyint_min=25", "sc_threshold=40",
              "i_qfactor=0.71", "b_strategy=2", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4", "bf=16", "refs=16",
              "directpred=3", "trellis=2", "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "wpredp=2"})},
      {"libx264-veryslow_firstpass",
       Lines({"coder=1", "flags=+loop", "cmp=+chroma", "partitions=-parti8x8-parti4x4-partp8x8-partb8x8",
              "me_method=dia", "subq=2", "me_range=24", "g=250", "keyint_min=25", "sc_threshold=40", "i_qfactor=0.71",
              "b_strategy=2", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4", "bf=8", "refs=1", "directpred=3",
              "trellis=0", "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "wpredp=2"})},
      {"libx264-ultrafast",
       Lines({"coder=0", "flags=-loop", "cmp=+chroma", "partitions=-parti8x8-parti4x4-partp8x8-partb8x8",
              "me_method=dia", "subq=0", "me_range=16", "g=250", "keyint_min=25", "sc_threshold=0", "i_qfactor=0.71",
              "b_strategy=0", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4", "bf=0", "refs=1", "directpred=1",
              "trellis=0", "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree", "wpredp=0"})},
  };
  for (auto &c : cases) {
    const TBuiltinPreset *p = FindBuiltinPreset(c.Name);
    ASSERT_NE(p, nullptr) << c.Name;
    EXPECT_EQ(p->Text, c.Text) << c.Name;
  }
}

// A preset file in a fresh folder, removed with the test.
class PresetFileTest : public OptionsTest {
protected:
  std::string dir_;
  void SetUp() override {
    OptionsTest::SetUp();
    char tmpl[] = "/tmp/marlo-preset-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    OptionsTest::TearDown();
  }
  std::string Write(const std::string &name, const std::string &text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

TEST_F(PresetFileTest, FileLinesAreAppliedInOrder) {
  std::string path = Write("my.ffpreset", "\r\n  VCODEC=mpeg4 \r\n\r\ng=30\rbt=1000\n\n  flags=+loop\n");
  Apply("fpre", path);
  EXPECT_EQ(S.VideoCodecName, "mpeg4");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), 30);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "bt"), 1000);
  EXPECT_TRUE(CodecInt(AVMEDIA_TYPE_VIDEO, "flags") & AV_CODEC_FLAG_LOOP_FILTER);
  // A file name works for the other kinds as well, and an empty file is an empty preset.
  Apply("apre", Write("empty.ffpreset", ""));
  Apply("vpre", Write("g.ffpreset", "g=40"));
  Apply("spre", Write("s.ffpreset", "scodec=mov_text"));
  EXPECT_EQ(S.SubtitleCodecName, "mov_text");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), 40);
}

TEST_F(PresetFileTest, BadLinesNameThePresetAndTheLine) {
  const struct {
    const char *Text;
    std::string Message; // after "<path>: "
  } cases[] = {
      {"g=30\ng=\n", "Invalid syntax: \"g=\""},
      {"=30", "Invalid syntax: \"=30\""},
      {"justaname", "Invalid syntax: \"justaname\""},
      {"nosuchoption=1", "Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\""},
      {"g = many", "Invalid option or argument: \"g = many\", parsed as \"g \" = \" many\""},
  };
  for (auto &c : cases) {
    std::string path = Write("bad.ffpreset", c.Text);
    EXPECT_EQ(ErrorOf("fpre", path), path + ": " + c.Message) << c.Text;
  }
  // A file reached after the codec-prefixed name missed still goes by its own name.
  Apply("vcodec", "mpeg4");
  std::string path = Write("bad.ffpreset", "g=");
  EXPECT_EQ(ErrorOf("vpre", path), path + ": Invalid syntax: \"g=\"");
}

TEST_F(OptionsTest, PresetLookupByNameAndCodecPrefix) {
  // "fpre" is a file name only.
  EXPECT_EQ(ErrorOf("fpre", "libx264-ipod"), "Preset \"libx264-ipod\" not found");
  // The codec named so far completes the name.
  Apply("vcodec", "libx264");
  Apply("vpre", "ipod");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "level"), 30);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "maxrate"), 1250000);
  // An error in a prefixed preset names it as it was found.
  S.Reset();
  Apply("vcodec", "mpeg4");
  EXPECT_EQ(ErrorOf("vpre", "libx264-ipod"), "libx264-ipod: Invalid option or argument: \"coder=0\", parsed as \"coder\" = \"0\"");
  // The subtitle codec's name is the last resort, whatever the kind.
  S.Reset();
  Apply("scodec", "libx264"); // only a prefix here; never opened
  EXPECT_EQ(ErrorOf("apre", "nosuch"), "Preset \"nosuch\" not found");
  Apply("vcodec", "libx264");
  Apply("apre", "baseline");
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "bf"), 0);
}

// --- target presets --------------------------------------------------------------------------

TEST_F(OptionsTest, TargetVcdForPal) {
  Apply("target", "pal-vcd");
  EXPECT_EQ(S.VideoCodecName, "mpeg1video");
  EXPECT_EQ(S.AudioCodecName, "mp2");
  EXPECT_EQ(S.FileFormat, "vcd");
  EXPECT_EQ(S.FrameWidth, 352);
  EXPECT_EQ(S.FrameHeight, 288);
  EXPECT_EQ(S.FrameRate.num, 25);
  EXPECT_EQ(S.FrameRate.den, 1);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), 15);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "b"), 1150000);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "maxrate"), 1150000);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "minrate"), 1150000);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "bufsize"), 327680);
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_AUDIO, "b"), 224000);
  EXPECT_EQ(S.Generic.Format()->packet_size, 2324u);
  AVDictionary *mux = S.Generic.FormatPrivateOptionsCopy();
  ASSERT_NE(ff.av_dict_get(mux, "muxrate", nullptr, 0), nullptr);
  EXPECT_STREQ(ff.av_dict_get(mux, "muxrate", nullptr, 0)->value, "1411200");
  ff.av_dict_free(&mux);
  EXPECT_EQ(S.AudioSampleRate, 44100);
  EXPECT_EQ(S.AudioChannels, 2);
  EXPECT_EQ(S.MuxPreload, 0.44);
  EXPECT_DOUBLE_EQ(S.FrameAspectRatio, 4.0 / 3);
  EXPECT_TRUE(Logged(llInfo, "Assuming 4:3 for aspect ratio"));
  EXPECT_FALSE(LoggedContaining("for target"));
  EXPECT_FALSE(LoggedContaining("was not applied"));
}

TEST_F(OptionsTest, TargetsPerNorm) {
  const struct {
    const char *Value;
    int Width, Height, RateNum, RateDen, Gop, SampleRate, Channels;
    AVPixelFormat PixFmt;
    double Aspect;
  } cases[] = {
      {"ntsc-vcd", 352, 240, 30000, 1001, 18, 44100, 2, AV_PIX_FMT_NONE, 4.0 / 3},
      {"film-vcd", 352, 240, 24000, 1001, 18, 44100, 2, AV_PIX_FMT_NONE, 4.0 / 3},
      {"pal-svcd", 480, 576, 25, 1, 15, 44100, 2, AV_PIX_FMT_NONE, 4.0 / 3},
      {"ntsc-svcd", 480, 480, 30000, 1001, 18, 44100, 2, AV_PIX_FMT_NONE, 4.0 / 3},
      {"pal-dvd", 720, 576, 25, 1, 15, 48000, 2, AV_PIX_FMT_NONE, 16.0 / 9},
      {"film-dvd", 720, 480, 24000, 1001, 18, 48000, 2, AV_PIX_FMT_NONE, 16.0 / 9},
      {"pal-dv", 720, 576, 25, 1, -1, 48000, 2, AV_PIX_FMT_YUV420P, 0},
      {"ntsc-dv", 720, 480, 30000, 1001, -1, 48000, 2, AV_PIX_FMT_YUV411P, 0},
      {" pal-dv50 ", 720, 576, 25, 1, -1, 48000, 2, AV_PIX_FMT_YUV422P, 0},
  };
  for (auto &c : cases) {
    S.Reset();
    S.AudioChannels = 1; // svcd and dvd make mono stereo; vcd and dv set two channels anyway
    Apply("target", c.Value);
    EXPECT_EQ(S.FrameWidth, c.Width) << c.Value;
    EXPECT_EQ(S.FrameHeight, c.Height) << c.Value;
    EXPECT_EQ(S.FrameRate.num, c.RateNum) << c.Value;
    EXPECT_EQ(S.FrameRate.den, c.RateDen) << c.Value;
    if (c.Gop > 0) {
      EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "g"), c.Gop) << c.Value;
    }
    EXPECT_EQ(S.AudioSampleRate, c.SampleRate) << c.Value;
    EXPECT_EQ(S.AudioChannels, c.Channels) << c.Value;
    EXPECT_EQ(S.FramePixFmt, c.PixFmt) << c.Value;
    EXPECT_DOUBLE_EQ(S.FrameAspectRatio, c.Aspect) << c.Value;
    EXPECT_FALSE(LoggedContaining("was not applied")) << c.Value;
  }
  // The SVCD's scan offset reaches the MPEG-2 encoder's own table.
  S.Reset();
  Apply("target", "pal-svcd");
  AVDictionary *video = S.Generic.PrivateOptionsCopy(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(ff.av_dict_get(video, "scan_offset", nullptr, 0), nullptr);
  EXPECT_STREQ(ff.av_dict_get(video, "scan_offset", nullptr, 0)->value, "1");
  ff.av_dict_free(&video);
  EXPECT_EQ(S.FileFormat, "svcd");
  EXPECT_EQ(S.AudioCodecName, "mp2");
}

TEST_F(OptionsTest, TargetKeepsAnAspectAlreadySet) {
  Apply("aspect", "16:9");
  Apply("target", "pal-vcd");
  EXPECT_DOUBLE_EQ(S.FrameAspectRatio, 16.0 / 9);
  EXPECT_FALSE(LoggedContaining("for aspect ratio"));
}

TEST_F(OptionsTest, TargetNormFromFrameRateOrInputs) {
  const struct {
    const char *Rate; // "r" before the target, nullptr for none
    std::vector<AVRational> Inputs;
    const char *Fallback;
    int Height;        // 288 PAL, 240 NTSC or FILM
    int RateDen;       // 1 PAL, 1001 NTSC or FILM
    int RateNum;
    const char *Logged; // nullptr: no assumption logged
  } cases[] = {
      {"25", {{30000, 1001}}, "ntsc", 288, 1, 25, "Assuming PAL for target."},   // the rate decides, inputs unread
      {"30000/1001", {}, "pal", 240, 1001, 30000, "Assuming NTSC for target."},
      {"24000/1001", {}, "pal", 240, 1001, 30000, "Assuming NTSC for target."},  // 23.976 counts as NTSC
      {"30", {}, "ntsc", 240, 1001, 30000, "Assuming NTSC for target."},         // the fallback of "target"
      {"30", {{25, 1}}, "ntsc", 288, 1, 25, "Assuming PAL for target."},          // an input decides
      {"30", {{12, 1}, {30000, 1001}}, "pal", 240, 1001, 30000, "Assuming NTSC for target."}, // the first hit
      {"30", {}, "film", 240, 1001, 24000, "Assuming NTSC for target."},         // FILM is told as NTSC
      {"30", {}, "", 288, 1, 25, "Assuming PAL for target."},
  };
  for (auto &c : cases) {
    S.Reset();
    ClearLog();
    Host.InputRates = c.Inputs;
    Apply("r", c.Rate);
    ApplyTargetPreset(Host, "vcd", "auto", c.Fallback);
    EXPECT_EQ(S.FrameHeight, c.Height) << c.Rate << " " << c.Fallback;
    EXPECT_EQ(S.FrameRate.den, c.RateDen) << c.Rate << " " << c.Fallback;
    EXPECT_EQ(S.FrameRate.num, c.RateNum) << c.Rate << " " << c.Fallback;
    EXPECT_TRUE(Logged(llVerbose, c.Logged)) << c.Rate << " " << c.Fallback;
  }
  // Quiet below verbosity 1.
  S.Reset();
  ClearLog();
  Apply("v", "0");
  Apply("r", "25");
  Apply("target", "vcd");
  EXPECT_FALSE(LoggedContaining("for target"));
}

} // namespace
