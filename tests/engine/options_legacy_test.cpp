// Option and codec names of the older library generation: their translation, and proof by
// encoding that the built-in H.264 presets keep their intent with the current encoder.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/presets.h"
#include "engine/transcoder.h"
#include "fixtures/fixtures.h"
#include "options_testing.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(LegacyOptions, TranslateOntoCurrentNames) {
  const struct {
    const char *Name, *Value;
    Pairs Current;
  } cases[] = {
      {"flags2", "+dct8x8+wpred-mixed_refs+fast", {{"flags2", "+fast"}, {"8x8dct", "1"}, {"weightb", "1"}, {"mixed-refs", "0"}}},
      {"flags2", "+bpyramid-mbtree+fastpskip", {{"b-pyramid", "normal"}, {"mbtree", "0"}, {"fast-pskip", "1"}}},
      {"flags2", "-bpyramid", {{"b-pyramid", "none"}}},
      {"flags2", "+fast", {{"flags2", "+fast"}}},
      {"flags", "+loop", {{"flags", "+loop"}}},
      {"flags", "-loop", {{"flags", "-loop"}}},
      {"flags", "+scan_offset", {{"scan_offset", "1"}}},
      {"flags", "+naq+mv0+global_header", {{"flags", "+global_header"}, {"mpv_flags", "+naq+mv0"}}},
      {"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8", {{"partitions", "i4x4,i8x8,p8x8,b8x8"}}},
      {"partitions", "+parti4x4+parti8x8+partp8x8", {{"partitions", "i4x4,i8x8,p8x8,b8x8"}}},
      {"partitions", "-partb8x8", {{"partitions", "i4x4,i8x8,p8x8"}}},
      {"partitions", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", {{"partitions", "none"}}},
      {"partitions", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", {{"partitions", "i4x4,i8x8,p4x4,p8x8,b8x8"}}},
      {"partitions", "parti4x4", {{"partitions", "i4x4"}}},
      {"partitions", "all", {{"partitions", "all"}}},
      {"directpred", "3", {{"direct-pred", "3"}}},
      {"wpredp", "2", {{"weightp", "2"}}},
      {"cqp", "0", {{"qp", "0"}}},
      {"me_method", "umh", {{"motion-est", "umh"}}},
      {"me_method", "epzs", {{"motion_est", "epzs"}}},
      {"me_method", "x1", {{"motion_est", "xone"}}},
      {"coder", "1", {{"coder", "1"}}},
      {"g", "250", {{"g", "250"}}},
  };
  for (auto &c : cases) EXPECT_EQ(TranslateLegacyOption(c.Name, c.Value), c.Current) << c.Name << "=" << c.Value;
}

TEST_F(OptionsTest, LegacyCodecNamesResolveToCurrentEncoders) {
  const bool haveLibvorbis = ff.avcodec_find_encoder_by_name("libvorbis") != nullptr;
  const struct {
    const char *Old, *Now;
  } cases[] = {{"libfaac", "aac"},     {"libflac", "flac"}, {"msmpeg4v1", "msmpeg4v2"},
               {"wmv3", "wmv2"},       {"vorbis", haveLibvorbis ? "libvorbis" : "vorbis"},
               {"mpeg4", "mpeg4"},     {"nosuchcodec", "nosuchcodec"},
               {"libamr_nb", ff.avcodec_find_encoder_by_name("libopencore_amrnb") ? "libopencore_amrnb" : "libamr_nb"}};
  for (auto &c : cases) {
    ClearLog();
    EXPECT_EQ(ResolveLegacyCodecName(c.Old), c.Now) << c.Old;
    bool substituted = std::strcmp(c.Old, c.Now) != 0;
    EXPECT_EQ(Logged(llInfo, std::string("Encoder '") + c.Old + "' is not available, using '" + c.Now + "' instead"),
              substituted)
        << c.Old;
  }
}

TEST_F(OptionsTest, EveryBuiltinPresetAppliesToTheH264Encoder) {
  for (const TBuiltinPreset &p : BuiltinPresets()) {
    S.Reset();
    Apply("vcodec", "libx264");
    EXPECT_EQ(ErrorOf("vpre", p.Name), "") << p.Name;
  }
}

// --- proof by encoding -----------------------------------------------------------------------

struct EncodedStream {
  int ProfileIdc = -1, ConstraintFlags = -1, LevelIdc = -1;
  std::string Settings; // the encoder's own settings line from its SEI
  int BFrames = 0;
  AVDictionary *Leftover = nullptr;
};

// Opens libx264 the way the transcoder does (set generic options copied, own options passed
// at open) and encodes a few small pictures.
EncodedStream Encode(TOptionState &s) {
  EncodedStream out;
  const AVCodec *codec = ff.avcodec_find_encoder_by_name("libx264");
  EXPECT_NE(codec, nullptr);
  AVCodecContext *ctx = ff.avcodec_alloc_context3(codec);
  CopySetGenericOptions(s.Generic, s.Generic.Codec(AVMEDIA_TYPE_VIDEO), ctx,
                        AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  ctx->width = 160;
  ctx->height = 120;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = {1, 25};
  ctx->framerate = {25, 1};
  out.Leftover = s.Generic.PrivateOptionsCopy(AVMEDIA_TYPE_VIDEO);
  int err = ff.avcodec_open2(ctx, codec, &out.Leftover);
  EXPECT_GE(err, 0);
  if (err < 0) {
    ff.avcodec_free_context(&ctx);
    return out;
  }
  AVFrame *frame = ff.av_frame_alloc();
  frame->width = 160;
  frame->height = 120;
  frame->format = AV_PIX_FMT_YUV420P;
  ff.av_frame_get_buffer(frame, 0);
  AVPacket *pkt = ff.av_packet_alloc();
  std::string stream;
  auto drain = [&] {
    while (ff.avcodec_receive_packet(ctx, pkt) >= 0) {
      stream.append(reinterpret_cast<char *>(pkt->data), size_t(pkt->size));
      ff.av_packet_unref(pkt);
    }
  };
  for (int i = 0; i < 30; i++) {
    ff.av_frame_make_writable(frame);
    for (int p = 0; p < 3; p++)
      for (int y = 0; y < (p ? 60 : 120); y++)
        for (int x = 0; x < (p ? 80 : 160); x++) frame->data[p][y * frame->linesize[p] + x] = uint8_t((x * 3 + y + i * 5) * (p + 1));
    frame->pts = i;
    ff.avcodec_send_frame(ctx, frame);
    drain();
  }
  ff.avcodec_send_frame(ctx, nullptr);
  drain();
  out.BFrames = ctx->max_b_frames;
  ff.av_packet_free(&pkt);
  ff.av_frame_free(&frame);
  ff.avcodec_free_context(&ctx);

  // The sequence parameter set: the byte after its NAL header is the profile, then the
  // constraint flags, then the level.
  for (size_t i = 0; i + 6 < stream.size(); i++)
    if (stream.compare(i, 3, std::string("\0\0\1", 3)) == 0 && (stream[i + 3] & 0x1f) == 7) {
      out.ProfileIdc = uint8_t(stream[i + 4]);
      out.ConstraintFlags = uint8_t(stream[i + 5]);
      out.LevelIdc = uint8_t(stream[i + 6]);
      break;
    }
  if (size_t at = stream.find("options: "); at != std::string::npos)
    out.Settings = " " + stream.substr(at + 9, stream.find('\0', at) - at - 9) + " ";
  return out;
}

bool Has(const EncodedStream &e, const std::string &setting) {
  return e.Settings.find(" " + setting + " ") != std::string::npos;
}

TEST_F(OptionsTest, IpodPresetMakesConstrainedBaselineLevel30) {
  Apply("vcodec", "libx264");
  Apply("vpre", "ipod");
  EncodedStream e = Encode(S);
  EXPECT_EQ(e.ProfileIdc, 66);            // Baseline
  EXPECT_TRUE(e.ConstraintFlags & 0x40);  // constraint_set1: Constrained Baseline
  EXPECT_EQ(e.LevelIdc, 30);
  EXPECT_TRUE(Has(e, "cabac=0")) << e.Settings;
  EXPECT_TRUE(Has(e, "bframes=0")) << e.Settings;
  EXPECT_TRUE(Has(e, "8x8dct=0")) << e.Settings;
  EXPECT_TRUE(Has(e, "ref=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "me=umh")) << e.Settings;
  EXPECT_TRUE(Has(e, "trellis=2")) << e.Settings;
  EXPECT_EQ(e.BFrames, 0);
  EXPECT_EQ(ff.av_dict_count(e.Leftover), 0) << "every option reached the encoder";
  ff.av_dict_free(&e.Leftover);
}

TEST_F(OptionsTest, DefaultPresetMakesCabacWith8x8AndThreeBFrames) {
  Apply("vcodec", "libx264");
  Apply("vpre", "default");
  EncodedStream e = Encode(S);
  EXPECT_EQ(e.ProfileIdc, 100); // High: the 8x8 transform needs it
  EXPECT_TRUE(Has(e, "cabac=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "8x8dct=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "bframes=3")) << e.Settings;
  EXPECT_TRUE(Has(e, "ref=3")) << e.Settings;
  EXPECT_TRUE(Has(e, "mixed_ref=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "weightb=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "weightp=2")) << e.Settings;
  EXPECT_TRUE(Has(e, "me=hex")) << e.Settings;
  EXPECT_TRUE(Has(e, "direct=1")) << e.Settings;
  EXPECT_TRUE(Has(e, "analyse=0x3:0x113")) << e.Settings; // i4x4, i8x8, p8x8, b8x8
  EXPECT_EQ(ff.av_dict_count(e.Leftover), 0);
  ff.av_dict_free(&e.Leftover);
}

TEST_F(OptionsTest, LaterPresetRefinesAnEarlierOne) {
  // "main" only switches the 8x8 transform off; the earlier preset's B-frames stay.
  Apply("vcodec", "libx264");
  Apply("vpre", "default");
  Apply("vpre", "main");
  EncodedStream e = Encode(S);
  EXPECT_EQ(e.ProfileIdc, 77); // Main
  EXPECT_TRUE(Has(e, "8x8dct=0")) << e.Settings;
  EXPECT_TRUE(Has(e, "bframes=3")) << e.Settings;
  ff.av_dict_free(&e.Leftover);
}

TEST_F(OptionsTest, LosslessPresetEncodesWithQuantiserZero) {
  Apply("vcodec", "libx264");
  Apply("vpre", "lossless_ultrafast");
  EncodedStream e = Encode(S);
  EXPECT_EQ(e.ProfileIdc, 244) << e.Settings; // High 4:4:4 Predictive carries lossless coding
  EXPECT_TRUE(Has(e, "qp=0")) << e.Settings;
  ff.av_dict_free(&e.Leftover);
}

} // namespace

namespace {

TEST_F(OptionsTest, OlderDefaultsUnderABuiltinPresetKeepTheUsersOwnChoices) {
  Apply("vcodec", "libx264");
  ASSERT_TRUE(SetGenericOption(Host, "bf", "2"));
  ASSERT_TRUE(SetGenericOption(Host, "8x8dct", "1"));
  Apply("vpre", "ipod"); // says nothing of B-frames or the 8x8 transform
  EXPECT_EQ(CodecInt(AVMEDIA_TYPE_VIDEO, "bf"), 2);
  AVDictionary *own = S.Generic.PrivateOptionsCopy(AVMEDIA_TYPE_VIDEO);
  EXPECT_STREQ(ff.av_dict_get(own, "8x8dct", nullptr, 0)->value, "1");
  EXPECT_STREQ(ff.av_dict_get(own, "weightb", nullptr, 0)->value, "0"); // laid down: the user left it
  ff.av_dict_free(&own);
}

} // namespace

// --- the same through a whole conversion -----------------------------------------------------

namespace {

struct ConvertedVideo {
  int Profile = -1, Level = -1;
  std::string Settings;
};

ConvertedVideo ReadBack(const std::string &path) {
  ConvertedVideo v;
  AVFormatContext *ic = nullptr;
  EXPECT_GE(ff.avformat_open_input(&ic, path.c_str(), nullptr, nullptr), 0) << path;
  if (!ic) return v;
  ff.avformat_find_stream_info(ic, nullptr);
  int video = ff.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  EXPECT_GE(video, 0);
  if (video >= 0) {
    v.Profile = ic->streams[video]->codecpar->profile;
    v.Level = ic->streams[video]->codecpar->level;
    AVPacket *pkt = ff.av_packet_alloc();
    while (v.Settings.empty() && ff.av_read_frame(ic, pkt) >= 0) {
      std::string data(reinterpret_cast<char *>(pkt->data), size_t(pkt->size));
      if (size_t at = data.find("options: "); pkt->stream_index == video && at != std::string::npos)
        v.Settings = " " + data.substr(at + 9, data.find('\0', at) - at - 9) + " ";
      ff.av_packet_unref(pkt);
    }
    ff.av_packet_free(&pkt);
  }
  ff.avformat_close_input(&ic);
  return v;
}

TEST_F(OptionsTest, ConversionsWithBuiltinPresetsKeepTheirIntent) {
  const struct {
    const char *Preset;
    int Profile, Level;
    std::vector<const char *> Settings;
  } cases[] = {
      {"ipod", FF_PROFILE_H264_CONSTRAINED_BASELINE, 30, {"cabac=0", "bframes=0", "8x8dct=0", "ref=1"}},
      {"default", FF_PROFILE_H264_HIGH, -1, {"cabac=1", "8x8dct=1", "bframes=3", "ref=3"}},
  };
  const std::string dir = std::filesystem::temp_directory_path() / ("marlo-presets-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (auto &c : cases) {
    ClearLog();
    TCustomFFmpeg engine;
    engine.Reset();
    ASSERT_TRUE(engine.OpenInput(fixtures::Path("av.mp4"))) << engine.LastError;
    DispatchOption(engine, "vcodec", "libx264");
    DispatchOption(engine, "vpre", c.Preset);
    DispatchOption(engine, "an", "");
    const std::string out = dir + "/" + c.Preset + ".mp4";
    ASSERT_EQ(engine.OpenOutput(out), 1) << engine.LastError;
    TRunResult r = engine.Run();
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    ConvertedVideo v = ReadBack(out);
    EXPECT_EQ(v.Profile, c.Profile) << c.Preset;
    if (c.Level > 0) {
      EXPECT_EQ(v.Level, c.Level) << c.Preset;
    }
    for (const char *s : c.Settings) EXPECT_NE(v.Settings.find(std::string(" ") + s + " "), std::string::npos) << c.Preset << ": " << s << " in" << v.Settings;
    EXPECT_FALSE(LoggedContaining("was not used by encoder")) << c.Preset;
  }
  std::filesystem::remove_all(dir);
}

} // namespace
