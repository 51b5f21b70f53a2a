// What the cutting, limiting, mapping, metadata and timestamp options do to real files.
#include "transcode_support.h"

#include "fixtures/fixtures.h"
#include "media/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

using namespace ts;

namespace {

// Two inputs into one output, each input with its own options.
TRunResult ConvertTwo(const std::string &in0, const std::string &in1, const std::string &output,
                      const OptionList &outOpts) {
  TCustomFFmpeg engine;
  Prepare(engine);
  if (!engine.OpenInput(in0) || !engine.OpenInput(in1)) return {false, true, engine.LastError};
  try {
    for (const auto &[n, v] : outOpts) DispatchOption(engine, n, v);
  } catch (const std::exception &e) {
    return {false, true, e.what()};
  }
  if (engine.OpenOutput(output) < 0) return {false, true, engine.LastError};
  return engine.Run();
}

std::string VideoOnly(double seconds) {
  fixtures::MediaSpec s;
  s.container = "matroska";
  s.vcodec = "mpeg4";
  s.seconds = seconds;
  return fixtures::Make("video" + std::to_string(int(seconds)) + "s.mkv", s);
}

std::string AudioOnly(double seconds) {
  fixtures::MediaSpec s;
  s.container = "matroska";
  s.acodec = "mp2";
  s.seconds = seconds;
  return fixtures::Make("audio" + std::to_string(int(seconds)) + "s.mka", s);
}

} // namespace

TEST(TranscodeOptions, CuttingAndLimitsShortenTheOutput) {
  struct Case {
    const char *name;
    OptionList inOpts, outOpts;
    double videoLength, audioLength; // seconds, -1 = not checked
    int videoPackets, audioPackets;  // -1 = not checked
    double videoStart = 0;           // seconds
  } cases[] = {
      // A copied picture stream can only start at a key frame: from the input the one before
      // the start is kept (in time before zero, moved to zero by the muxer) ...
      {"input ss 0.5 copy", {{"ss", "0.5"}}, {{"vcodec", "copy"}, {"acodec", "copy"}}, 2.0, 2.0, 50, -1},
      // ... for the output the next one, shown at its own time.
      {"output ss 0.5 copy", {}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"ss", "0.5"}}, 1.0, 1.5, 25, -1, 0.5},
      {"t 1 copy", {}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"t", "1"}}, 1.0, 1.0, -1, -1},
      {"t 1 encode", {}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"t", "1"}}, 1.0, 1.0, 25, -1},
      {"input ss 1", {{"ss", "1"}}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, 1.0, 1.0, 25, -1},
      {"output ss 0.5", {}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"ss", "0.5"}}, 1.5, 1.5, -1, -1},
      {"vframes 1", {}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"vframes", "1"}}, -1, -1, 1, -1},
      {"aframes 5", {}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"aframes", "5"}}, -1, -1, -1, 5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string output = TempDir() + "/out.mkv";
    TRunResult r = Convert(fixtures::Path("av.mkv"), c.inOpts, output, c.outOpts);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary out = Inspect(output);
    const StreamSummary *v = out.First(AVMEDIA_TYPE_VIDEO), *a = out.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    if (c.videoLength >= 0) {
      EXPECT_NEAR(v->End - v->FirstPts, c.videoLength, 0.1);
    }
    if (c.audioLength >= 0) {
      EXPECT_NEAR(a->End - a->FirstPts, c.audioLength, 0.1);
    }
    if (c.videoPackets >= 0) {
      EXPECT_EQ(v->Packets, c.videoPackets);
    }
    if (c.audioPackets >= 0) {
      EXPECT_EQ(a->Packets, c.audioPackets);
    }
    EXPECT_NEAR(v->FirstPts, c.videoStart, 0.05);
  }
}

TEST(TranscodeOptions, FileSizeLimitStopsWritingNearTheLimit) {
  std::string dir = TempDir();
  OptionList opts = {{"vcodec", "mpeg4"}, {"qscale", "1"}, {"acodec", "mp2"}};
  TRunResult full = Convert(fixtures::Path("av.mp4"), {}, dir + "/full.avi", opts);
  ASSERT_FALSE(full.Failed) << full.ErrorMessage;
  opts.push_back({"fs", "40000"});
  TRunResult r = Convert(fixtures::Path("av.mp4"), {}, dir + "/limited.avi", opts);
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  auto fullSize = std::filesystem::file_size(dir + "/full.avi");
  auto limited = std::filesystem::file_size(dir + "/limited.avi");
  ASSERT_GT(fullSize, 100000u) << "the source must be well above the limit";
  EXPECT_GE(limited, 40000u);
  EXPECT_LT(limited, 40000u + 32 * 1024);
}

TEST(TranscodeOptions, ShortestEndsWithTheShortestInput) {
  std::string video = VideoOnly(3), audio = AudioOnly(1);
  std::string dir = TempDir();
  OptionList opts = {{"vcodec", "mpeg4"}, {"acodec", "mp2"}};
  TRunResult whole = ConvertTwo(video, audio, dir + "/whole.mkv", opts);
  ASSERT_FALSE(whole.Failed) << whole.ErrorMessage;
  opts.push_back({"shortest", "1"});
  TRunResult shortest = ConvertTwo(video, audio, dir + "/shortest.mkv", opts);
  ASSERT_FALSE(shortest.Failed) << shortest.ErrorMessage;
  EXPECT_NEAR(Inspect(dir + "/whole.mkv").First(AVMEDIA_TYPE_VIDEO)->End, 3.0, 0.1);
  FileSummary cut = Inspect(dir + "/shortest.mkv");
  EXPECT_LT(cut.First(AVMEDIA_TYPE_VIDEO)->End, 1.5);
  EXPECT_NEAR(cut.First(AVMEDIA_TYPE_AUDIO)->End, 1.0, 0.1);
}

TEST(TranscodeOptions, MapsChooseSourcesAndAreChecked) {
  std::string video = VideoOnly(3), audio = AudioOnly(1);
  std::string dir = TempDir();
  struct Case {
    const char *name;
    std::vector<const char *> maps;
    const char *error;        // expected failure, or nullptr
    const char *logLine;      // expected in the log on success, or nullptr
  } cases[] = {
      {"plain maps", {"0.0", "1.0"}, nullptr, "  Stream #0.0 -> #0.0 (Video)\n  Stream #1.0 -> #0.1 (Audio)\n"},
      {"video synced to the sound", {"0:0:1:0", "1.0"}, nullptr, "  Stream #0.0 -> #0.0 (Video) [sync #1.0 (Audio)]"},
      {"too few maps", {"0.0"}, "Number of stream maps must match number of output streams", nullptr},
      {"missing stream", {"0.0", "1.5"}, "Could not find input stream #1.5", nullptr},
      {"missing sync stream", {"0:0:3:0", "1.0"}, "Could not find sync stream #3.0", nullptr},
      {"type mismatch", {"1.0", "0.0"}, "Codec type mismatch for mapping #1.0 (Audio) -> #0.0 (Video)", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    OptionList opts = {{"vcodec", "mpeg4"}, {"acodec", "mp2"}};
    for (const char *m : c.maps) opts.push_back({"map", m});
    TRunResult r = ConvertTwo(video, audio, dir + "/map.mkv", opts);
    if (c.error) {
      EXPECT_TRUE(r.Failed);
      EXPECT_EQ(r.ErrorMessage, c.error);
      continue;
    }
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_NE(log.Text().find(c.logLine), std::string::npos) << log.Text();
  }
}

TEST(TranscodeOptions, MetadataComesFromOptionsAndMetadataMaps) {
  std::string dir = TempDir();
  std::string tagged = fixtures::Path("tags.mp3");
  TRunResult plain = Convert(tagged, {}, dir + "/plain.mka", {{"acodec", "copy"}});
  ASSERT_FALSE(plain.Failed) << plain.ErrorMessage;
  EXPECT_EQ(Inspect(dir + "/plain.mka").Metadata.count("title"), 0u) << "file tags travel only with a map";

  TRunResult mapped = Convert(tagged, {}, dir + "/mapped.mka",
                              {{"acodec", "copy"}, {"map_meta_data", "0:0"}, {"metadata", "comment=Overridden"}});
  ASSERT_FALSE(mapped.Failed) << mapped.ErrorMessage;
  FileSummary out = Inspect(dir + "/mapped.mka");
  EXPECT_EQ(out.Metadata["title"], "Test Tone");
  EXPECT_EQ(out.Metadata["comment"], "Overridden") << "the option wins over the mapped input";

  TRunResult bad = Convert(tagged, {}, dir + "/bad.mka", {{"acodec", "copy"}, {"map_meta_data", "0:3"}});
  EXPECT_TRUE(bad.Failed);
  EXPECT_EQ(bad.ErrorMessage, "Invalid input file index 3 map_meta_data(0,3)");
}

TEST(TranscodeOptions, TimestampOffsetsAndCopiedTimestamps) {
  std::string dir = TempDir();
  struct Case {
    const char *name;
    const char *fixture;
    OptionList inOpts, outOpts;
    double firstPts;   // seconds, of the video stream
    double maxGapMin;  // the largest timestamp step is at least / below these
    double maxGapBelow;
  } cases[] = {
      {"ts starts at zero", "av.ts", {}, {{"vcodec", "copy"}, {"acodec", "copy"}}, 0.0, 0, 0.5},
      {"copyts keeps the start", "av.ts", {}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"copyts", ""}}, 0.04, 0, 0.5},
      {"itsoffset moves the input", "av.mkv", {{"itsoffset", "2"}}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, 2.0, 0,
       0.5},
      {"jump is corrected", "jump.ts", {}, {{"vcodec", "copy"}, {"acodec", "copy"}}, 0.0, 0, 0.5},
      {"jump is corrected when encoding", "jump.ts", {}, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, 0.0, 0, 0.5},
      {"copyts keeps the jump", "jump.ts", {}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"copyts", ""}}, 0.04,
       fixtures::kJumpBy - 1, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string output = dir + "/ts.mkv";
    TRunResult r = Convert(fixtures::Path(c.fixture), c.inOpts, output, c.outOpts);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary out = Inspect(output);
    const StreamSummary *v = out.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(v);
    EXPECT_NEAR(v->FirstPts, c.firstPts, 0.02);
    EXPECT_GE(v->MaxDtsGap, c.maxGapMin);
    EXPECT_LT(v->MaxDtsGap, c.maxGapBelow);
    EXPECT_EQ(v->Packets, 50);
  }
}

TEST(TranscodeOptions, ChaptersFollowTheCutWindow) {
  std::string dir = TempDir();
  std::string source = dir + "/chapters.mkv";
  AddChapters(fixtures::Path("av.mkv"), source, {{0.0, 1.0}, {1.0, 2.0}});
  struct Case {
    const char *name;
    OptionList inOpts, outOpts;
    std::vector<std::pair<double, double>> chapters;
  } cases[] = {
      {"whole", {}, {}, {{0.0, 1.0}, {1.0, 2.0}}},
      {"from 0.5", {{"ss", "0.5"}}, {}, {{0.0, 0.5}, {0.5, 1.5}}},
      {"from 0.5 for 0.3", {{"ss", "0.5"}}, {{"t", "0.3"}}, {{0.0, 0.3}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OptionList opts = c.outOpts;
    opts.push_back({"vcodec", "mpeg4"});
    opts.push_back({"acodec", "mp2"});
    TRunResult r = Convert(source, c.inOpts, dir + "/out.mkv", opts);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary out = Inspect(dir + "/out.mkv");
    ASSERT_EQ(out.Chapters.size(), c.chapters.size());
    for (size_t i = 0; i < c.chapters.size(); ++i) {
      EXPECT_NEAR(out.Chapters[i].first, c.chapters[i].first, 0.01);
      EXPECT_NEAR(out.Chapters[i].second, c.chapters[i].second, 0.01);
      EXPECT_EQ(out.ChapterTitles[i], "Chapter " + std::to_string(i + 1));
    }
  }
}

TEST(TranscodeOptions, MuxPreloadDelaysAProgramStream) {
  std::string dir = TempDir();
  auto firstPts = [&](const char *preload) {
    OptionList opts = {{"vcodec", "mpeg2video"}, {"acodec", "mp2"}};
    if (preload) opts.push_back({"muxpreload", preload});
    TRunResult r = Convert(fixtures::Path("av.mkv"), {}, dir + "/out.mpg", opts);
    EXPECT_FALSE(r.Failed) << r.ErrorMessage;
    return Inspect(dir + "/out.mpg").First(AVMEDIA_TYPE_VIDEO)->FirstPts;
  };
  double standard = firstPts(nullptr), later = firstPts("1.5");
  EXPECT_NEAR(later - standard, 1.0, 0.05);
}
