// Stream copy and conversion end to end: every packet and the length survive a change
// of container; real encoders produce playable files of the asked codecs.
#include "transcode_support.h"

#include "fixtures/fixtures.h"
#include "media/ffowners.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace ts;

namespace {

struct CopyCase {
  const char *fixture;
  const char *target; // file name of the output (its extension picks the container)
};

const CopyCase kCopyCases[] = {
    {"av.avi", "out.mkv"},   {"av.mp4", "out.mkv"},   {"av.mkv", "out.mp4"},
    {"av.ts", "out.mkv"},    {"tags.mp3", "out.mka"}, {"tone.wav", "out.mkv"},
    {"vfr.mkv", "out.mp4"},  {"odd.avi", "out.mkv"},  {"surround.mkv", "out.mp4"},
    {"bgr24.avi", "out.nut"}, {"raw.m4v", "out.avi"},
};

} // namespace

TEST(TranscodeCopy, EveryPacketAndTheLengthSurviveAChangeOfContainer) {
  for (const auto &c : kCopyCases) {
    SCOPED_TRACE(std::string(c.fixture) + " -> " + c.target);
    std::string input = fixtures::Path(c.fixture);
    std::string output = TempDir() + "/" + c.target;
    TRunResult r = Convert(input, {}, output, {{"vcodec", "copy"}, {"acodec", "copy"}});
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_TRUE(r.Finished);
    FileSummary in = Inspect(input), out = Inspect(output);
    ASSERT_EQ(in.Streams.size(), out.Streams.size());
    for (size_t i = 0; i < in.Streams.size(); ++i) {
      const StreamSummary &a = in.Streams[i];
      const StreamSummary *b = out.First(a.Type);
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(a.Codec, b->Codec);
      EXPECT_EQ(a.Packets, b->Packets) << "stream " << i;
      EXPECT_NEAR(a.End - a.FirstPts, b->End - b->FirstPts, 0.05) << "stream " << i;
    }
    // Containers differ by whether the last frame counts; one frame of 10 fps is allowed.
    if (in.Duration > 0) {
      EXPECT_NEAR(in.Duration, out.Duration, 0.11);
    }
  }
}

// Copied MPEG-4 pictures from a container that keeps the stream headers apart: with
// "vglobal" 2 every key picture carries them in front, as an encoder asked for local headers
// writes them; without it the pictures pass as they are.
TEST(TranscodeCopy, LocalHeadersGoInFrontOfEveryKeyPicture) {
  fixtures::MediaSpec recipe;
  recipe.container = "matroska";
  recipe.vcodec = "mpeg4";
  recipe.seconds = 3;
  const std::string source = fixtures::Make("global_headers.mkv", recipe);
  for (bool local : {false, true}) {
    SCOPED_TRACE(local ? "vglobal 2" : "as they are");
    const std::string output = TempDir() + "/copied.avi";
    OptionList opts = {{"vcodec", "copy"}};
    if (local) opts.push_back({"vglobal", "2"});
    TRunResult r = Convert(source, {}, output, opts);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;

    AVFormatContext *raw = nullptr;
    ASSERT_GE(ff.avformat_open_input(&raw, output.c_str(), nullptr, nullptr), 0);
    TInputContextPtr in(raw);
    const AVCodecParameters *par = in->streams[0]->codecpar;
    ASSERT_GT(par->extradata_size, 0);
    const std::string headers(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
    TPacketPtr pkt(ff.av_packet_alloc());
    int keys = 0, keysWithHeaders = 0, others = 0, othersWithHeaders = 0;
    while (ff.av_read_frame(in.get(), pkt.get()) >= 0) {
      const bool led = std::string(reinterpret_cast<const char *>(pkt->data), pkt->size).rfind(headers, 0) == 0;
      if (pkt->flags & AV_PKT_FLAG_KEY) {
        ++keys;
        keysWithHeaders += led;
      } else {
        ++others;
        othersWithHeaders += led;
      }
      ff.av_packet_unref(pkt.get());
    }
    EXPECT_EQ(keys, 3);
    EXPECT_EQ(keysWithHeaders, local ? keys : 0);
    EXPECT_EQ(othersWithHeaders, 0);
    EXPECT_EQ(keys + others, 75);
  }
}

TEST(TranscodeCopy, TheUsualEncodersMakePlayableFiles) {
  struct Case {
    const char *target;
    OptionList options;
    AVCodecID video, audio;
    int width, sampleRate, channels;
  } cases[] = {
      {"out.avi", {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP2, 320, 44100, 2},
      {"out.mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}, {"s", "160x120"}, {"ar", "22050"}, {"ac", "1"}},
       AV_CODEC_ID_H264, AV_CODEC_ID_AAC, 160, 22050, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.target);
    std::string output = TempDir() + "/" + c.target;
    TRunResult r = Convert(fixtures::Path("av.mkv"), {}, output, c.options);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_TRUE(r.Finished);
    FileSummary out = Inspect(output);
    const StreamSummary *v = out.First(AVMEDIA_TYPE_VIDEO), *a = out.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->Codec, c.video);
    EXPECT_EQ(a->Codec, c.audio);
    EXPECT_EQ(v->Width, c.width);
    EXPECT_EQ(a->SampleRate, c.sampleRate);
    EXPECT_EQ(a->Channels, c.channels);
    EXPECT_EQ(v->Packets, 50); // 2 s at 25 fps, none dropped or doubled
    EXPECT_NEAR(v->End, 2.0, 0.08);
    EXPECT_NEAR(a->End, 2.0, 0.1);
  }
}

TEST(TranscodeCopy, SubtitlesAreCopiedOrEncoded) {
  std::string dir = TempDir();
  std::string srt = dir + "/lines.srt";
  {
    std::ofstream f(srt);
    f << "1\n00:00:00,500 --> 00:00:01,500\nFirst line\n\n"
         "2\n00:00:02,000 --> 00:00:03,000\nSecond line\n\n"
         "3\n00:00:04,000 --> 00:00:04,750\nThird line\n\n";
  }
  struct Case {
    const char *target;
    OptionList options;
    AVCodecID codec;
  } cases[] = {
      {"copied.mkv", {{"scodec", "copy"}}, AV_CODEC_ID_SUBRIP},
      {"encoded.mkv", {}, AV_CODEC_ID_ASS}, // the container's own subtitle encoder
      {"encoded.srt", {{"scodec", "subrip"}}, AV_CODEC_ID_SUBRIP},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.target);
    TRunResult r = Convert(srt, {}, dir + "/" + c.target, c.options);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary out = Inspect(dir + "/" + c.target);
    const StreamSummary *s = out.First(AVMEDIA_TYPE_SUBTITLE);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Codec, c.codec);
    EXPECT_EQ(s->Packets, 3);
    EXPECT_NEAR(s->FirstPts, 0.5, 0.01);
    EXPECT_NEAR(s->End, 4.75, 0.01);
  }
}
