// The "engine" verb run as a program: exit statuses, outputs it writes, and a stop by
// signal that still leaves a playable file. What the conversions do is the engine's.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_testing.h"
#include "fixtures/fixtures.h"
#include "media/avprobe.h"
#include "media/loader.h"

namespace {

namespace fs = std::filesystem;

class EngineVerb : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cli_engine_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    input_ = fixtures::Path("av.mp4");
    ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Out(const std::string &name) const { return (dir_ / name).string(); }

  // Starts the program with `args`, standard error caught in a file; returns its pid.
  pid_t Start(const std::vector<std::string> &args) {
    const std::string program = MARLO_CONVERT;
    std::vector<std::string> all{"engine"};
    all.insert(all.end(), args.begin(), args.end());
    return cli_testing::Start(program, all, "/dev/null", Out("stderr"));
  }
  int Wait(pid_t pid) { return cli_testing::Wait(pid); }
  int Run(const std::vector<std::string> &args) { return Wait(Start(args)); }
  std::string Stderr() const { return cli_testing::ReadFile(Out("stderr")); }
  // Seconds the file plays and its stream count, or -1 when it cannot be read.
  std::pair<double, int> Plays(const std::string &file) {
    TAVProbe probe;
    if (!probe.LoadFile(file)) return {-1, 0};
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    return {info.Duration / 1e6, probe.StreamCount()};
  }

  fs::path dir_;
  std::string input_;
};

TEST_F(EngineVerb, UsageErrorsExitWith2) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--input", "a.mp4"},
      {"--output", "b.mkv"},
      {"--input", "a.mp4", "--out-opt", "vn", "--output", "b.mkv"},
      {"--input", "a.mp4", "--output", "b.mkv", "--frobnicate"},
      {"--input", "a.mp4", "--input", "c.mp4", "--output", "b.mkv"},
      {"--input", "a.mp4", "--output"},
      {"--input", "a.mp4", "--output", "b.mkv", "--loglevel", "loud"},
  };
  for (const auto &args : cases) {
    std::string line;
    for (const auto &a : args) line += a + " ";
    EXPECT_EQ(Run(args), 2) << line;
    EXPECT_NE(Stderr().find("Usage:"), std::string::npos) << line;
  }
}

TEST_F(EngineVerb, ConvertsIntoEveryOutputWithItsOwnOptions) {
  EXPECT_EQ(Run({"--input", input_, "--in-opt", "ss=0.5", "--output", Out("both.mkv"),
                 "--out-opt", "vcodec=mpeg4", "--out-opt", "acodec=mp2", "--output",
                 Out("sound.mka"), "--out-opt", "vn", "--out-opt", "acodec=flac", "--loglevel",
                 "quiet"}),
            0)
      << Stderr();
  const auto [bothSeconds, bothStreams] = Plays(Out("both.mkv"));
  EXPECT_NEAR(bothSeconds, 1.5, 0.2);
  EXPECT_EQ(bothStreams, 2);
  const auto [soundSeconds, soundStreams] = Plays(Out("sound.mka"));
  EXPECT_NEAR(soundSeconds, 1.5, 0.2);
  EXPECT_EQ(soundStreams, 1);
}

TEST_F(EngineVerb, FailuresExitWith1AndSayWhy) {
  EXPECT_EQ(Run({"--input", Out("missing.mp4"), "--output", Out("x.mkv")}), 1);
  EXPECT_NE(Stderr().find("missing.mp4"), std::string::npos) << Stderr();

  EXPECT_EQ(Run({"--input", input_, "--output", Out("no/such/folder/x.mkv")}), 1);
  EXPECT_NE(Stderr().find("x.mkv"), std::string::npos) << Stderr();

  // Set-up fails once the task runs: the engine's message is printed.
  EXPECT_EQ(Run({"--input", input_, "--output", Out("bad.mkv"), "--out-opt", "map=7:7"}), 1);
  EXPECT_FALSE(fs::exists(Out("bad.mkv")));
}

TEST_F(EngineVerb, SignalStopsWithAPlayableOutputAndExit3) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const std::string out = Out("stopped" + std::to_string(sig) + ".mkv");
    const pid_t pid = Start({"--input", input_, "--in-opt", "re", "--output", out, "--out-opt",
                             "vcodec=mpeg4", "--loglevel", "quiet"});
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    ::kill(pid, sig);
    EXPECT_EQ(Wait(pid), 3) << Stderr();
    const auto [seconds, streams] = Plays(out);
    EXPECT_GT(seconds, 0.3);
    EXPECT_LT(seconds, 1.9);
    EXPECT_EQ(streams, 2);
  }
}

} // namespace
