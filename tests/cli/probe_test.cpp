// The "probe" verb run as a program: what it prints, where, and its exit status.
// The report's content is the probe's and is tested with it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_testing.h"
#include "fixtures/fixtures.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out, err;
};

// Runs `program` with `args`, standard output and error each caught in a file.
RunResult run(const std::string &program, const std::vector<std::string> &args) {
  const fs::path dir = fs::temp_directory_path() / ("cli_probe_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string out = (dir / "out").string(), err = (dir / "err").string();
  RunResult r;
  r.status = cli_testing::Wait(cli_testing::Start(program, args, out, err));
  r.out = cli_testing::ReadFile(out);
  r.err = cli_testing::ReadFile(err);
  fs::remove_all(dir);
  return r;
}

RunResult probe(const std::vector<std::string> &args) {
  std::vector<std::string> all{"probe"};
  all.insert(all.end(), args.begin(), args.end());
  return run(MARLO_CONVERT, all);
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

} // namespace

TEST(CliProbe, PrintsEveryFileReportWithPlainLineEnds) {
  const std::string mp4 = fixtures::Path("av.mp4"), mp3 = fixtures::Path("tags.mp3"),
                    cyrillic = fixtures::Path("Кино с пробелами.mp4");
  const RunResult r = probe({mp4, mp3, cyrillic});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, "File Name: " + mp4 + "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "File Name: " + mp3 + "\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\n  title           : Test Tone\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "File Name: " + cyrillic + "\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "\r"));
}

TEST(CliProbe, UnreadableFilesGoToStandardErrorAndTheRestIsStillPrinted) {
  const std::string missing = fixtures::Dir() + "/not here.avi";
  const std::string good = fixtures::Path("av.avi");
  const std::string random = fixtures::Path("random.bin");
  const RunResult r = probe({missing, good, fixtures::Dir(), random});
  EXPECT_EQ(r.status, 1);
  const std::string want = missing + ": No such file or directory\n";
  EXPECT_EQ(r.err.substr(0, want.size()), want) << r.err;
  EXPECT_TRUE(contains(r.err, "\n" + fixtures::Dir() + ": ")) << r.err;
  EXPECT_TRUE(contains(r.err, "\n" + random + ": Invalid data found when processing input\n"))
      << r.err;
  EXPECT_TRUE(contains(r.out, "File Name: " + good + "\n")) << r.out;
  EXPECT_FALSE(contains(r.out, missing));
}

TEST(CliProbe, UsageAndItsErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool usageOnStdout, usageOnStderr;
  };
  const Case cases[] = {
      {{"--help"}, 0, true, false},
      {{"-h"}, 0, true, false},
      {{}, 2, false, true},
      {{"--bogus", "x.avi"}, 2, false, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(no arguments)" : c.args[0]);
    const RunResult r = probe(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(contains(r.out, "Usage: marlo-convert probe FILE..."), c.usageOnStdout) << r.out;
    EXPECT_EQ(contains(r.err, "Usage: marlo-convert probe FILE..."), c.usageOnStderr) << r.err;
  }
  // After "--" a name that looks like an option is a file.
  const RunResult r = probe({"--", "--help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "--help: No such file or directory\n");
}

TEST(CliProbe, LibrariesBesideTheProgramComeFirstAndTheirFailureIsReported) {
  // A copy of the program with a LibAV folder holding a codec library that lacks entries.
  const fs::path dir = fs::temp_directory_path() / ("cli_libav_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "LibAV");
  fs::copy_file(MARLO_CONVERT, dir / "marlo-convert");
  fs::copy_file(FAKE_AVCODEC_PARTIAL, dir / "LibAV" / "libavcodec.so.59");
  const RunResult r = run((dir / "marlo-convert").string(), {"probe", fixtures::Path("av.mp4")});
  fs::remove_all(dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(contains(r.err, "Load function ")) << r.err;
  EXPECT_TRUE(contains(r.err, (dir / "LibAV" / "libavcodec.so.59").string())) << r.err;
}
