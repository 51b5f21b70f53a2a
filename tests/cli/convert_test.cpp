// The "convert" verb run as a program: usage errors, outputs named and made as the window's
// Start makes them, picks for one run, trim, effects, failures and a stop by signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_testing.h"
#include "fixtures/fixtures.h"
#include "media/avprobe.h"
#include "media/ffapi.h"
#include "media/loader.h"

namespace {

namespace fs = std::filesystem;

class ConvertVerb : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cli_convert_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
    ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
    // Picks live in a settings file of the test's own; an empty one holds none.
    std::ofstream(Path("settings.ini")) << "[settings]\nFormatCode=1\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string &name) const { return (dir_ / name).string(); }
  std::string OutDir() const { return Path("out"); }

  // The program with `args` after the verb and the test's settings, profile and output
  // folder; standard output and error caught in files. Returns its pid.
  pid_t Start(const std::vector<std::string> &args) {
    const std::string program = MARLO_CONVERT;
    std::vector<std::string> all = {"convert", "--settings", Path("settings.ini"),
                                    "--profile", MARLO_TEST_DATA_DIR "/marlohdformat.ini",
                                    "--out",     OutDir(),  "--loglevel", "quiet",
                                    // The picture fills the frame: what is checked here is the
                                    // verb, the letter-box bars are the sweep's.
                                    "--zoom",    "full"};
    all.insert(all.end(), args.begin(), args.end());
    return cli_testing::Start(program, all, Path("stdout"), Path("stderr"));
  }
  int Wait(pid_t pid) { return cli_testing::Wait(pid); }
  int Run(const std::vector<std::string> &args) { return Wait(Start(args)); }
  std::string Stdout() const { return cli_testing::ReadFile(Path("stdout")); }
  std::string Stderr() const { return cli_testing::ReadFile(Path("stderr")); }

  // A copy of a fixture under another folder of the test's own.
  std::string Copy(const std::string &fixture, const std::string &as) {
    fs::create_directories(fs::path(Path(as)).parent_path());
    fs::copy_file(fixtures::Path(fixture), Path(as), fs::copy_options::overwrite_existing);
    return Path(as);
  }

  fs::path dir_;
};

struct Facts {
  bool Opened = false;
  double Seconds = 0;
  int Width = 0, Height = 0, Streams = 0;
};

Facts factsOf(const std::string &file) {
  Facts f;
  TAVProbe probe;
  if (!probe.LoadFile(file)) return f;
  f.Opened = true;
  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  f.Seconds = info.Duration / 1e6;
  f.Streams = probe.StreamCount();
  TVideoStreamInfo video;
  if (probe.FirstVideoStreamIndex() >= 0 && probe.GetVideoStreamInfo(probe.FirstVideoStreamIndex(), video)) {
    f.Width = video.Width;
    f.Height = video.Height;
  }
  return f;
}

// The mean luma of the first decoded picture of a file's video, -1 when there is none.
double firstPictureLuma(const std::string &file) {
  AVFormatContext *raw = nullptr;
  if (ff.avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return -1;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> fmt(
      raw, [](AVFormatContext *c) { ff.avformat_close_input(&c); });
  if (ff.avformat_find_stream_info(fmt.get(), nullptr) < 0) return -1;
  const AVCodec *codec = nullptr;
  const int index = ff.av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index < 0 || !codec) return -1;
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> dec(
      ff.avcodec_alloc_context3(codec), [](AVCodecContext *c) { ff.avcodec_free_context(&c); });
  ff.avcodec_parameters_to_context(dec.get(), fmt->streams[index]->codecpar);
  if (ff.avcodec_open2(dec.get(), codec, nullptr) < 0) return -1;
  std::unique_ptr<AVPacket, void (*)(AVPacket *)> pkt(ff.av_packet_alloc(),
                                                      [](AVPacket *p) { ff.av_packet_free(&p); });
  std::unique_ptr<AVFrame, void (*)(AVFrame *)> frame(ff.av_frame_alloc(),
                                                      [](AVFrame *f) { ff.av_frame_free(&f); });
  bool more = true;
  while (true) {
    if (ff.avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      double sum = 0;
      for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x) sum += frame->data[0][y * frame->linesize[0] + x];
      return sum / (double(frame->width) * frame->height);
    }
    if (!more) return -1;
    if (ff.av_read_frame(fmt.get(), pkt.get()) < 0) {
      more = false;
      ff.avcodec_send_packet(dec.get(), nullptr);
      continue;
    }
    if (pkt->stream_index == index) ff.avcodec_send_packet(dec.get(), pkt.get());
    ff.av_packet_unref(pkt.get());
  }
}

TEST_F(ConvertVerb, UsageErrorsExitWith2) {
  const std::string in = fixtures::Path("av.mp4");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {in, "--frobnicate"},
      {"--format", "99", in},
      {"--format", "one", in},
      {"--format"},
      {"--trim", "-1", in},
      {"--trim", "1:x", in},
      {"--trim", "1:2:3", in},
      {"--crop", "1,2,3", in},
      {"--crop", "1,2,3,-4", in},
      {"--crop", "1,2,3,4,5", in},
      {"--zoom", "wide", in},
      {"--pick", "=3", in},
      {"--pick", "paraVideoSize", in},
      {"--brightness", "bright", in},
      {"--image", Path("no-such-picture.bmp"), in},
  };
  for (const auto &args : cases) {
    std::string line;
    for (const auto &a : args) line += a + " ";
    EXPECT_EQ(Run(args), 2) << line << "\n" << Stderr();
    EXPECT_NE(Stderr().find("Usage:"), std::string::npos) << line;
  }
}

TEST_F(ConvertVerb, ConvertsEveryFileIntoItsOwnNumberedOutput) {
  // Two sources of one base name must not write into the same output, and a name already
  // taken on disk is skipped.
  const std::string a = Copy("av.avi", "a/clip.avi");
  const std::string b = Copy("av.mkv", "b/clip.mkv");
  std::ofstream(OutDir() + "/clip_(new).mp4") << "taken";
  ASSERT_EQ(Run({"--format", "1", a, b}), 0) << Stderr();

  const std::string first = OutDir() + "/clip_(new_1).mp4";
  const std::string second = OutDir() + "/clip_(new_2).mp4";
  for (const std::string &out : {first, second}) {
    const Facts f = factsOf(out);
    EXPECT_TRUE(f.Opened) << out;
    EXPECT_NEAR(f.Seconds, 2.0, 0.2) << out;
    EXPECT_EQ(f.Streams, 2) << out;
  }
  EXPECT_EQ(cli_testing::ReadFile(OutDir() + "/clip_(new).mp4"), "taken");
  // The summary names every source with its result and output.
  const std::string summary = Stdout();
  for (const std::string &text : {std::string("Source"), a, b, first, second})
    EXPECT_NE(summary.find(text), std::string::npos) << text << "\n" << summary;
  EXPECT_EQ(summary.find("failed"), std::string::npos) << summary;
}

TEST_F(ConvertVerb, PicksApplyToTheRunOnlyAndAnUnusableSizeIsAnsweredYes) {
  const std::string in = Copy("av.mp4", "src/pick.mp4");
  const std::string before = cli_testing::ReadFile(Path("settings.ini"));
  struct Case {
    std::vector<std::string> args;
    int width, height;
    bool warned;
  };
  const std::vector<Case> cases = {
      {{"--pick", "paraVideoSize=240x180"}, 240, 180, false},
      {{"--pick", "paraVideoSize=huge"}, 320, 240, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[1]);
    fs::remove_all(OutDir());
    std::vector<std::string> args = {"--format", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(in);
    ASSERT_EQ(Run(args), 0) << Stderr();
    const Facts f = factsOf(OutDir() + "/pick_(new).mp4");
    EXPECT_EQ(f.Width, c.width);
    EXPECT_EQ(f.Height, c.height);
    EXPECT_EQ(Stderr().find("Use the default size 320x240?") != std::string::npos, c.warned)
        << Stderr();
  }
  EXPECT_EQ(cli_testing::ReadFile(Path("settings.ini")), before);
}

TEST_F(ConvertVerb, TrimTakesSecondsWithDecimals) {
  const std::string in = Copy("av.mkv", "src/trim.mkv");
  ASSERT_EQ(Run({"--format", "1", "--trim", "0.5:0.8", in}), 0) << Stderr();
  EXPECT_NEAR(factsOf(OutDir() + "/trim_(new).mp4").Seconds, 0.8, 0.15);
  ASSERT_EQ(Run({"--format", "1", "--trim", "1.25", in}), 0) << Stderr();
  EXPECT_NEAR(factsOf(OutDir() + "/trim_(new_1).mp4").Seconds, 0.75, 0.15);
}

TEST_F(ConvertVerb, EffectFlagsReachEveryFrame) {
  const std::string in = Copy("av.mp4", "src/fx.mp4");
  ASSERT_EQ(Run({"--format", "1", in}), 0) << Stderr();
  ASSERT_EQ(Run({"--format", "1", "--brightness", "0", in}), 0) << Stderr();
  const double plain = firstPictureLuma(OutDir() + "/fx_(new).mp4");
  const double dark = firstPictureLuma(OutDir() + "/fx_(new_1).mp4");
  EXPECT_GT(plain, 60);
  EXPECT_GE(dark, 0);
  EXPECT_LT(dark, 30);
}

TEST_F(ConvertVerb, AFailedFileExitsWith1WithItsReasonWhileTheOthersConvert) {
  const std::string bad = Copy("random.bin", "src/noise.mp4");
  const std::string good = Copy("av.mp4", "src/good.mp4");
  EXPECT_EQ(Run({"--format", "1", bad, good}), 1);
  EXPECT_TRUE(factsOf(OutDir() + "/good_(new).mp4").Opened);
  EXPECT_NE(Stderr().find("noise.mp4"), std::string::npos) << Stderr();
  const std::string summary = Stdout();
  EXPECT_NE(summary.find("failed"), std::string::npos) << summary;
  EXPECT_NE(summary.find("finished"), std::string::npos) << summary;
}

TEST_F(ConvertVerb, SignalStopsTheRunningFileWithAPlayableOutputAndExit3) {
  fixtures::MediaSpec recipe;
  recipe.container = "matroska";
  recipe.vcodec = "mpeg4";
  recipe.acodec = "mp2";
  recipe.seconds = 30;
  const std::string in = fixtures::Make("long.mkv", recipe);
  const std::string second = Copy("av.mp4", "src/after.mp4");
  const pid_t pid = Start({"--format", "1", "--pick", "paraVideoSize=640x480", "--brightness",
                           "300", in, second});
  // The signal comes a moment after the first output is opened, whatever the machine's speed.
  const std::string out = OutDir() + "/long_(new).mp4";
  for (int i = 0; i < 200 && !fs::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  ::kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 3) << Stderr();
  const Facts f = factsOf(out);
  EXPECT_TRUE(f.Opened);
  EXPECT_GT(f.Seconds, 0.1);
  EXPECT_LT(f.Seconds, 29);
  EXPECT_FALSE(fs::exists(OutDir() + "/after_(new).mp4"));
  EXPECT_NE(Stdout().find("stopped"), std::string::npos) << Stdout();
}

} // namespace
