// The generic option setter over the libraries' own option tables, the options kept for an
// encoder's or muxer's own table, and their copying into new contexts.
#include "options_testing.h"

namespace {

struct Owned {
  AVCodecContext *Ctx;
  ~Owned() { ff.avcodec_free_context(&Ctx); }
};

struct GenericCase {
  std::vector<std::pair<const char *, const char *>> Before; // dispatched first
  const char *Name;
  const char *Value;
  bool Accepted;
};

TEST_F(OptionsTest, GenericSetterPlacesNamesOnTheTablesThatKnowThem) {
  const GenericCase cases[] = {
      {{}, "g", "12", true},
      {{}, "bt", "256000", true},
      {{}, "flags", "+loop+global_header", true},
      {{}, "abt", "1000", true},          // the audio table's "bt"
      {{}, "packetsize", "2324", true},   // container table
      {{}, "sws_flags", "bilinear", true}, // scaler table
      {{}, "nosuchoption", "1", false},
      {{}, "g", "many", false},
      {{}, " ", "1", false},
      {{}, "g", " ", false},
      {{}, "crf", "20", false},                          // no encoder knows it yet
      {{{"vcodec", "libx264"}}, "crf", "20", true},      // the named encoder does
      {{{"vcodec", "libx264"}}, "crf", "lots", false},   // and refuses the value
      {{{"vcodec", "mpeg4"}}, "crf", "20", false},
      {{{"vcodec", "mpeg2video"}}, "scan_offset", "1", true},
      {{{"acodec", "aac"}}, "aac_coder", "fast", true},
      {{}, "muxrate", "1411200", false},
      {{{"f", "vcd"}}, "muxrate", "1411200", true},      // the forced muxer's own option
  };
  for (const GenericCase &c : cases) {
    S.Reset();
    for (auto &[n, v] : c.Before) Apply(n, v);
    EXPECT_EQ(SetGenericOption(Host, c.Name, c.Value), c.Accepted) << c.Name << "=" << c.Value;
  }
}

TEST_F(OptionsTest, GenericValuesLandInTheirTables) {
  ASSERT_TRUE(SetGenericOption(Host, "g", "12"));
  ASSERT_TRUE(SetGenericOption(Host, "abt", "1000"));
  ASSERT_TRUE(SetGenericOption(Host, "packetsize", "2324"));
  ASSERT_TRUE(SetGenericOption(Host, "sws_flags", "bilinear"));
  EXPECT_EQ(S.Generic.Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 12);
  EXPECT_EQ(S.Generic.Codec(AVMEDIA_TYPE_AUDIO)->bit_rate_tolerance, 1000);
  EXPECT_NE(S.Generic.Codec(AVMEDIA_TYPE_VIDEO)->bit_rate_tolerance, 1000);
  EXPECT_EQ(S.Generic.Format()->packet_size, 2324u);
  int64_t flags = 0;
  ff.av_opt_get_int(S.Generic.Scaler(), "sws_flags", 0, &flags);
  EXPECT_EQ(flags, SWS_BILINEAR);
  EXPECT_EQ(S.Generic.SetNames(), std::vector<std::string>({"g", "bt", "packetsize", "sws_flags"}));
}

TEST_F(OptionsTest, RejectedGenericValueIsLogged) {
  EXPECT_FALSE(SetGenericOption(Host, "g", "many"));
  EXPECT_TRUE(Logged(llError, "Invalid value \"many\" for option \"g\""));
  EXPECT_TRUE(S.Generic.SetNames().empty());
}

TEST_F(OptionsTest, DebugSettingRaisesTheLogLevel) {
  ASSERT_TRUE(SetGenericOption(Host, "debug", "pict"));
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  FFLogger().SetLogLevel(llInfo);
}

TEST_F(OptionsTest, EncoderOwnOptionsWaitForTheEncoder) {
  Apply("vcodec", "libx264");
  ASSERT_TRUE(SetGenericOption(Host, "crf", "20"));
  ASSERT_TRUE(SetGenericOption(Host, "preset", "fast"));
  AVDictionary *opts = S.Generic.PrivateOptionsCopy(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(ff.av_dict_get(opts, "crf", nullptr, 0), nullptr);
  EXPECT_STREQ(ff.av_dict_get(opts, "crf", nullptr, 0)->value, "20");
  EXPECT_STREQ(ff.av_dict_get(opts, "preset", nullptr, 0)->value, "fast");
  ff.av_dict_free(&opts);
  AVDictionary *audio = S.Generic.PrivateOptionsCopy(AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(audio, nullptr);
  // Not among the names copied into every context: only that encoder knows them.
  EXPECT_TRUE(S.Generic.SetNames().empty());
}

TEST_F(OptionsTest, OutputsDefaultEncoderTakesItsOwnOptions) {
  Host.DefaultVideo = AV_CODEC_ID_H264;
  EXPECT_TRUE(SetGenericOption(Host, "crf", "23"));
  Host.DefaultVideo = AV_CODEC_ID_MPEG4;
  S.Reset();
  EXPECT_FALSE(SetGenericOption(Host, "crf", "23"));
}

TEST_F(OptionsTest, SetOptionsAreCopiedWhenTheirFlagsMatch) {
  ASSERT_TRUE(SetGenericOption(Host, "g", "12"));
  ASSERT_TRUE(SetGenericOption(Host, "flags", "+loop"));
  ASSERT_TRUE(SetGenericOption(Host, "ab", "96000")); // audio only
  ASSERT_TRUE(SetGenericOption(Host, "packetsize", "2324"));
  Owned video{ff.avcodec_alloc_context3(nullptr)};
  CopySetGenericOptions(S.Generic, S.Generic.Codec(AVMEDIA_TYPE_VIDEO), video.Ctx,
                        AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(video.Ctx->gop_size, 12);
  EXPECT_TRUE(video.Ctx->flags & AV_CODEC_FLAG_LOOP_FILTER);
  EXPECT_NE(video.Ctx->bit_rate, 96000);
  Owned audio{ff.avcodec_alloc_context3(nullptr)};
  CopySetGenericOptions(S.Generic, S.Generic.Codec(AVMEDIA_TYPE_AUDIO), audio.Ctx,
                        AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(audio.Ctx->bit_rate, 96000);
  AVFormatContext *fmt = ff.avformat_alloc_context();
  CopySetGenericOptions(S.Generic, S.Generic.Format(), fmt, AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(fmt->packet_size, 2324u);
  ff.avformat_free_context(fmt);
}

TEST_F(OptionsTest, UnusedEncoderOptionsAreNamedInAWarning) {
  AVDictionary *left = nullptr;
  ff.av_dict_set(&left, "weightb", "1", 0);
  const AVCodec *x264 = ff.avcodec_find_encoder_by_name("libx264");
  WarnUnusedEncoderOptions(this, left, x264);
  EXPECT_TRUE(Logged(llWarning, "Option \"weightb\" = \"1\" was not used by encoder libx264"));
  ff.av_dict_free(&left);
  ClearLog();
  WarnUnusedEncoderOptions(this, nullptr, x264);
  EXPECT_TRUE(Lines().empty());
}

} // namespace
