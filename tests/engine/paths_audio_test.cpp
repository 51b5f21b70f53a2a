// The audio path on real files: channel and rate conversion, volume on every sample
// format, leading silence with a sync method, and framing for encoders with a fixed
// frame size.
#include "paths_support.h"

#include "fixtures/fixtures.h"
#include "media/logger.h"

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

using namespace ts;

namespace {

std::string Tone(const std::string &name, const std::string &codec, const std::string &sampleFormat,
                 double amplitude = fixtures::kToneAmplitude) {
  fixtures::MediaSpec s;
  s.container = "wav";
  s.acodec = codec;
  s.sampleFormat = sampleFormat;
  s.toneAmplitude = amplitude;
  return fixtures::Make(name, s);
}

} // namespace

TEST(PathsAudio, StereoToMonoAtHalfTheRate) {
  std::string out = TempDir() + "/mono.wav";
  TRunResult r = Convert(fixtures::Path("tone.wav"), {}, out, {{"acodec", "pcm_s16le"}, {"ac", "1"}, {"ar", "22050"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  paths::Sound s = paths::DecodeSound(out);
  EXPECT_EQ(s.Channels, 1);
  EXPECT_EQ(s.SampleRate, 22050);
  EXPECT_NEAR(double(s.Frames()), 44100, 64);
  EXPECT_NEAR(paths::Peak(s, 1000, s.Frames() - 1000), fixtures::kToneAmplitude, 0.03);
}

// "vol" 512 doubles every sample whatever format the decoder hands out.
TEST(PathsAudio, VolumeScalesEverySampleFormat) {
  struct Case {
    const char *codec, *format;
  };
  const Case cases[] = {{"pcm_s16le", "s16"}, {"pcm_u8", "u8"},   {"pcm_s32le", "s32"},
                        {"pcm_f32le", "flt"}, {"pcm_f64le", "dbl"}, {"pcm_s64le", "s64"}};
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.codec);
    std::string src = Tone(std::string("quiet_") + c.format + ".wav", c.codec, c.format, 0.2);
    std::string out = dir + "/loud.wav";
    TRunResult r = Convert(src, {}, out, {{"acodec", "pcm_s16le"}, {"vol", "512"}});
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    paths::Sound in = paths::DecodeSound(src), loud = paths::DecodeSound(out);
    float before = paths::Peak(in, 0, in.Frames()), after = paths::Peak(loud, 0, loud.Frames());
    ASSERT_GT(before, 0.15f);
    EXPECT_NEAR(after / before, 2.0, 0.05);
  }
}

// Sound that starts two seconds after the picture: with "async" 1 the output starts with
// two seconds of silence, and says so at high verbosity.
TEST(PathsAudio, SyncMethodFillsALateStartWithSilence) {
  fixtures::MediaSpec recipe;
  recipe.container = "matroska";
  recipe.vcodec = "mpeg4";
  recipe.acodec = "pcm_s16le";
  recipe.seconds = 3;
  recipe.audioStart = 2;
  std::string src = fixtures::Make("late_sound.mkv", recipe);
  LogCapture log;
  std::string out = TempDir() + "/late.wav";
  TRunResult r = Convert(src, {}, out, {{"vn", "1"}, {"acodec", "pcm_s16le"}, {"async", "1"}, {"v", "3"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  paths::Sound s = paths::DecodeSound(out);
  ASSERT_EQ(s.SampleRate, 44100);
  EXPECT_LT(paths::Peak(s, 0, 2 * 44100 - 200), 0.001f) << "the first two seconds must be silent";
  EXPECT_GT(paths::Peak(s, 2 * 44100 + 200, 2 * 44100 + 4000), 0.3f) << "the tone must start at two seconds";
  EXPECT_NEAR(double(s.Frames()), 3 * 44100, 2000);
  EXPECT_EQ(paths::CountLines(log.Text(), "audio samples of silence"), 1) << log.Text();
}

// Frame-size encoders (MP2: 1152 samples) are fed through the fifo whatever the block
// size; the rest at the end becomes one last frame padded with silence.
TEST(PathsAudio, FixedFrameSizeEncodersGetWholeFrames) {
  struct Case {
    const char *rate;
    int packets;
  };
  const Case cases[] = {{"44100", (88200 + 1151) / 1152}, {"22050", (44100 + 1151) / 1152}};
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.rate);
    std::string out = dir + "/tone.mp2";
    TRunResult r = Convert(fixtures::Path("tone.wav"), {}, out, {{"acodec", "mp2"}, {"ar", c.rate}});
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    const FileSummary summary = Inspect(out); // owns what First points into
    const StreamSummary *a = summary.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Packets, c.packets);
  }
}

// Timestamps that run 1% fast drift the sound by about ten samples a block: below the
// drift threshold, "async" 100 stretches the sound through the resampler, never by more
// than 100 samples a call.
TEST(PathsAudio, SmallDriftIsCompensatedByTheResampler) {
  const int kTolerance = 50;
  LogCapture log;
  std::string out = TempDir() + "/stretched.wav";
  TRunResult r = Convert(fixtures::Path("tone.wav"), {{"itsscale", "0:1.01"}}, out,
                         {{"acodec", "pcm_s16le"}, {"async", "100"}, {"v", "3"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  std::istringstream lines(log.Text());
  int calls = 0;
  for (std::string line; std::getline(lines, line);) {
    size_t at = line.find("compensating audio timestamp drift:");
    if (at == std::string::npos) continue;
    calls++;
    int amount = std::stoi(line.substr(line.find("compensation:") + 13));
    EXPECT_GT(amount, 0) << line; // the sound lags the timestamps
    EXPECT_LE(amount, 100) << line;
    EXPECT_NE(line.find(" in:44100"), std::string::npos) << line;
  }
  EXPECT_GT(calls, 10);
  paths::Sound s = paths::DecodeSound(out);
  // Each call spreads its samples over a second of output, so over 2 s the sound grows by
  // at most about 200 samples (plus the few of silence that first met the tolerance).
  EXPECT_GT(s.Frames(), 88200 + 100);
  EXPECT_LT(s.Frames(), 88200 + 200 + 2 * kTolerance);
}
