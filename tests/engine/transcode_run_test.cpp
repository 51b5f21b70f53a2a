// A running conversion: progress values, the status line, stopping and pausing, and
// failures of the disk or the source half-way through.
#include "transcode_support.h"

#include "fixtures/fixtures.h"
#include "media/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/resource.h>
#include <thread>

using namespace ts;
namespace fs = std::filesystem;

namespace {

std::string LongSource() {
  fixtures::MediaSpec s;
  s.container = "matroska";
  s.vcodec = "mpeg4";
  s.acodec = "mp2";
  s.seconds = 20;
  return fixtures::Make("long20s.mkv", s);
}

// Runs one engine with a progress handler that records every report.
struct Recorder {
  std::vector<TProgressInfo> Reports;
  TRunResult Result;
  void Run(const std::string &input, const OptionList &inOpts, const std::string &output, const OptionList &outOpts,
           std::function<void(TCustomFFmpeg &, const TProgressInfo &)> also = nullptr) {
    TCustomFFmpeg engine;
    Prepare(engine);
    engine.ProgressInterval = 0; // every packet
    engine.ProgressSlot = [&](const TProgressInfo &info) {
      Reports.push_back(info);
      if (also) also(engine, info);
    };
    std::string err = Open(engine, input, inOpts, output, outOpts);
    ASSERT_EQ(err, "");
    Result = engine.Run();
  }
};

} // namespace

TEST(TranscodeRun, AudioOnlyProgressHasNoPictureValuesAndGrows) {
  Recorder rec;
  rec.Run(fixtures::Path("tone.wav"), {}, TempDir() + "/out.mp2", {{"acodec", "mp2"}});
  ASSERT_FALSE(rec.Result.Failed) << rec.Result.ErrorMessage;
  ASSERT_GT(rec.Reports.size(), 10u);
  int64_t last = 0;
  for (const auto &p : rec.Reports) {
    EXPECT_EQ(p.FrameNumber, -1);
    EXPECT_EQ(p.FPS, -1);
    EXPECT_EQ(p.Quality, -1.0f);
    EXPECT_GE(p.CurrentDuration, 10000);
    EXPECT_GE(p.CurrentDuration, last);
    EXPECT_NEAR(double(p.TotalDuration), 2e6, 1e4);
    last = p.CurrentDuration;
  }
  EXPECT_EQ(rec.Reports.back().FileIndex, -1) << "the final report";
  EXPECT_EQ(rec.Reports.front().FileIndex, 0);
  EXPECT_NEAR(double(last), 2e6, 0.1e6);
  EXPECT_GT(rec.Reports.back().CurrentSize, 20000);
  EXPECT_GT(rec.Reports.back().BitRate, 100.0f);
}

TEST(TranscodeRun, VideoProgressWaitsForTheFirstPicture) {
  // The H.264 encoder holds many pictures back before its first packet.
  Recorder rec;
  rec.Run(fixtures::Path("av.mkv"), {}, TempDir() + "/out.mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}});
  ASSERT_FALSE(rec.Result.Failed) << rec.Result.ErrorMessage;
  ASSERT_FALSE(rec.Reports.empty());
  for (const auto &p : rec.Reports) {
    EXPECT_GE(p.FrameNumber, 1);
    EXPECT_GE(p.FPS, 0);
    EXPECT_GT(p.Quality, 0.0f);
  }
  EXPECT_EQ(rec.Reports.back().FrameNumber, 50);
}

TEST(TranscodeRun, TotalDurationFollowsTheRecordingTime) {
  Recorder rec;
  rec.Run(fixtures::Path("av.mkv"), {}, TempDir() + "/out.avi", {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"t", "1"}});
  ASSERT_FALSE(rec.Result.Failed) << rec.Result.ErrorMessage;
  ASSERT_FALSE(rec.Reports.empty());
  for (const auto &p : rec.Reports) EXPECT_EQ(p.TotalDuration, 1000000);
  EXPECT_NEAR(double(rec.Reports.back().CurrentDuration), 1e6, 0.1e6) << "about 100 per cent at the end";
}

TEST(TranscodeRun, TheStatusLineIsLoggedWithoutAHandlerAndAfterDuplicates) {
  struct Case {
    const char *name;
    bool handler;
    OptionList outOpts;
    const char *expected;
  } cases[] = {
      {"no handler", false, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, "frame=   50 fps="},
      {"no handler, final statistics", false, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, "muxing overhead"},
      {"handler and duplicates", true, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"r", "50"}}, " dup="},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string log;
    std::mutex lock;
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([&](const void *, uint32_t, TLogLevel, const std::string &msg) {
      std::lock_guard g(lock);
      log += msg + "\n";
    });
    TCustomFFmpeg engine;
    Prepare(engine);
    if (c.handler) engine.ProgressSlot = [](const TProgressInfo &) {};
    ASSERT_EQ(Open(engine, fixtures::Path("av.mkv"), {}, TempDir() + "/out.avi", c.outOpts), "");
    TRunResult r = engine.Run();
    FFLogger().SetOnLog(nullptr);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_NE(log.find(c.expected), std::string::npos) << log;
  }
}

TEST(TranscodeRun, AStopRequestEndsSoonWithAPlayableFile) {
  std::string source = LongSource();
  std::string output = TempDir() + "/stopped.avi";
  int64_t stoppedAt = 0;
  Recorder rec;
  rec.Run(source, {}, output, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}},
          [&](TCustomFFmpeg &engine, const TProgressInfo &p) {
            if (!stoppedAt && p.CurrentDuration > 2000000) {
              stoppedAt = p.CurrentDuration;
              engine.StopRequested = true;
            }
          });
  ASSERT_NE(stoppedAt, 0);
  EXPECT_FALSE(rec.Result.Failed) << rec.Result.ErrorMessage;
  EXPECT_FALSE(rec.Result.Finished);
  FileSummary out = Inspect(output);
  const StreamSummary *v = out.First(AVMEDIA_TYPE_VIDEO), *a = out.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_NEAR(v->End, stoppedAt / 1e6, 0.2) << "the file ends where the run stopped";
  EXPECT_NEAR(a->End, stoppedAt / 1e6, 0.2);
  EXPECT_GT(out.Duration, 1.5) << "the trailer was written: the length is known";
}

TEST(TranscodeRun, APausedRunHoldsStillAndStopsWhenAsked) {
  std::string source = LongSource();
  std::string output = TempDir() + "/paused.avi";
  TCustomFFmpeg engine;
  Prepare(engine);
  ASSERT_EQ(Open(engine, source, {}, output, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}), "");
  std::atomic<int> reports{0};
  std::atomic<int64_t> reached{0};
  engine.ProgressInterval = 0;
  engine.ProgressSlot = [&](const TProgressInfo &p) {
    reports++;
    reached = p.CurrentDuration;
    if (p.CurrentDuration > 1000000) engine.PauseGate.Close();
  };
  TRunResult result;
  std::thread worker([&] { result = engine.Run(); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!engine.PauseGate.IsClosed() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(engine.PauseGate.IsClosed());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int held = reports;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(reports, held) << "no progress while paused";
  engine.StopRequested = true;
  engine.PauseGate.Open();
  worker.join();
  EXPECT_FALSE(result.Failed) << result.ErrorMessage;
  EXPECT_FALSE(result.Finished);
  EXPECT_LT(Inspect(output).First(AVMEDIA_TYPE_VIDEO)->End, 2.0);
}

TEST(TranscodeRun, AFullDiskFailsWithTheCauseAndLeavesNoEmptyFile) {
  std::string source = fixtures::Path("av.mkv"); // made before the limit applies
  std::string dir = TempDir();
  signal(SIGXFSZ, SIG_IGN); // a write beyond the limit then fails with EFBIG instead
  struct Case {
    const char *name;
    rlim_t limit;
    bool fileRemains;
  } cases[] = {
      {"disk fills while writing", 40000, true},
      {"disk full from the start", 0, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string output = dir + "/full.avi";
    rlimit old{}, limit{c.limit, c.limit};
    getrlimit(RLIMIT_FSIZE, &old);
    limit.rlim_max = old.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    TRunResult r = Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"qscale", "1"}, {"acodec", "mp2"}});
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(r.Failed);
    EXPECT_FALSE(r.Finished);
    EXPECT_NE(r.ErrorMessage.find("File too large"), std::string::npos) << r.ErrorMessage;
    EXPECT_EQ(fs::exists(output), c.fileRemains);
    if (c.fileRemains) {
      EXPECT_GT(fs::file_size(output), 0u);
    }
    fs::remove(output);
  }
}

TEST(TranscodeRun, ASourceCorruptHalfWayEndsCleanly) {
  std::string dir = TempDir();
  std::string damaged = dir + "/damaged.ts";
  fs::copy_file(fixtures::Path("av.ts"), damaged);
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(0, std::ios::end);
    std::streamoff size = f.tellg();
    f.seekp(size / 2);
    uint32_t x = 12345;
    for (std::streamoff i = size / 2; i < size * 3 / 4; ++i) {
      x = x * 1103515245 + 12345;
      f.put(char(x >> 24));
    }
  }
  std::string output = dir + "/out.avi";
  TRunResult r = Convert(damaged, {}, output, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  EXPECT_TRUE(r.Finished);
  FileSummary out = Inspect(output);
  ASSERT_TRUE(out.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_GE(out.First(AVMEDIA_TYPE_VIDEO)->Packets, 20) << "the sound half converts";
  EXPECT_GT(out.First(AVMEDIA_TYPE_VIDEO)->End, 1.5) << "and so does the part after the damage";

  for (const char *bad : {"empty.mp4", "truncated.mp4", "random.bin"}) {
    SCOPED_TRACE(bad);
    TCustomFFmpeg engine;
    Prepare(engine);
    EXPECT_FALSE(engine.OpenInput(fixtures::Path(bad)));
    EXPECT_NE(engine.LastError.find(fixtures::Path(bad)), std::string::npos) << engine.LastError;
  }
}

TEST(TranscodeRun, TheHookSeesEveryPictureAndCanStopOrFail) {
  struct Case {
    const char *name;
    int stopAt;  // the hook asks to stop at this call (0 never)
    int throwAt; // the hook raises at this call (0 never)
    int calls;   // calls expected
  } cases[] = {
      {"every picture", 0, 0, 50},
      {"StopHook ends the calls", 10, 0, 10},
      {"a raising hook is called again", 0, 3, 50},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TCustomFFmpeg engine;
    Prepare(engine);
    ASSERT_EQ(Open(engine, fixtures::Path("av.mkv"), {}, TempDir() + "/hooked.avi", {{"vcodec", "mpeg4"}}), "");
    int calls = 0;
    std::vector<int> frameNumbers;
    engine.HookSlot = [&](THookInfo &info) {
      ++calls;
      frameNumbers.push_back(info.FrameNumber);
      ASSERT_TRUE(info.Bitmap);
      EXPECT_EQ(info.Bitmap->width(), 320);
      EXPECT_EQ(info.Bitmap->format(), QImage::Format_BGR888);
      if (calls == c.stopAt) info.StopHook = true;
      if (calls == c.throwAt) throw std::runtime_error("hook trouble");
    };
    TRunResult r = engine.Run();
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_EQ(calls, c.calls);
    for (size_t i = 0; i < frameNumbers.size(); ++i) EXPECT_EQ(frameNumbers[i], int(i) + 1);
  }
}

TEST(TranscodeRun, PreviewBitmapsComeAtMostTenTimesASecond) {
  TCustomFFmpeg engine;
  Prepare(engine);
  ASSERT_EQ(Open(engine, LongSource(), {}, TempDir() + "/previewed.avi", {{"vcodec", "mpeg4"}, {"s", "160x120"}}),
            "");
  std::vector<std::chrono::steady_clock::time_point> at;
  engine.PreviewFlags = 2;
  engine.PreviewBitmapSlot = [&](const TPreviewInfo &info) {
    at.push_back(std::chrono::steady_clock::now());
    ASSERT_TRUE(info.Bitmap);
    EXPECT_EQ(info.Bitmap->width(), 160) << "the encoder's picture, at the output size";
    EXPECT_EQ(info.Bitmap->height(), 120);
  };
  auto start = std::chrono::steady_clock::now();
  TRunResult r = engine.Run();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  ASSERT_GE(at.size(), 1u);
  EXPECT_LE(double(at.size()), seconds * 10 + 1);
  // The engine spaces its decisions 100 ms apart; the bitmap conversion between a
  // decision and the call may take a little longer one time than the next.
  for (size_t i = 1; i < at.size(); ++i)
    EXPECT_GE(at[i] - at[i - 1], std::chrono::milliseconds(60));
}
