// The media probe over real files and hand-made contexts: records, counts, the text
// report, and every failure text. Not the helpers it borrows (tested on their own).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/fixtures.h"
#include "media/avprobe.h"
#include "media/ffapi.h"
#include "media/ffutils.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/unicode_protocol.h"

namespace {

void loadLibs() { ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError(); }

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    out.push_back(text.substr(from, at - from));
  EXPECT_EQ(from, text.size()) << "text does not end with CR LF";
  return out;
}

bool hasLine(const std::vector<std::string> &ls, const std::string &line) {
  for (const auto &l : ls)
    if (l == line) return true;
  return false;
}

// The first line that starts with `prefix`, or "" when none does.
std::string lineStarting(const std::vector<std::string> &ls, const std::string &prefix) {
  for (const auto &l : ls)
    if (l.rfind(prefix, 0) == 0) return l;
  return {};
}

bool endsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every message the logger delivers, as "level|text".
struct LogCapture {
  std::vector<std::string> messages;
  LogCapture() {
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([this](const void *, uint32_t, TLogLevel level, const std::string &msg) {
      messages.push_back(std::to_string(level) + "|" + msg);
    });
  }
  ~LogCapture() { FFLogger().SetOnLog(nullptr); }
  bool Has(TLogLevel level, const std::string &msg) const {
    for (const auto &m : messages)
      if (m == std::to_string(level) + "|" + msg) return true;
    return false;
  }
  bool Mentions(const std::string &msg) const {
    for (const auto &m : messages)
      if (m.find(msg) != std::string::npos) return true;
    return false;
  }
};

struct FormatContextFree {
  void operator()(AVFormatContext *c) const { ff.avformat_free_context(c); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;

} // namespace

// ---- every fixture: container, streams, duration ----

struct FixtureCase {
  const char *name;
  const char *formatName;
  int videoStreams, audioStreams, programs;
  int firstVideo, firstAudio;
  int width, height;
  double aspect; // display aspect ratio; 0 when the pixels' shape is unknown
  int frameRateNum, frameRateDen;
  AVPixelFormat pixelFormat;
  int channels, sampleRate;
  const char *videoCodec, *audioCodec; // start of CodecName
  double seconds;                      // container duration, -1 for none
  std::vector<std::string> textLines;  // lines the report must hold
};

void PrintTo(const FixtureCase &c, std::ostream *os) { *os << c.name; }

class ProbeFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(ProbeFixture, ReportsContainerStreamsAndDuration) {
  loadLibs();
  const FixtureCase &c = GetParam();
  const std::string path = fixtures::Path(c.name);
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();

  EXPECT_TRUE(probe.OwnsContext());
  EXPECT_EQ(probe.ForcedFormatName(), "");
  EXPECT_EQ(probe.FormatName(), c.formatName);
  EXPECT_EQ(probe.FileName(), path);
  EXPECT_EQ(probe.FileSize(), int64_t(std::filesystem::file_size(std::filesystem::u8path(path))));
  EXPECT_EQ(probe.VideoStreamCount(), c.videoStreams);
  EXPECT_EQ(probe.AudioStreamCount(), c.audioStreams);
  EXPECT_EQ(probe.SubtitleStreamCount(), 0);
  EXPECT_EQ(probe.StreamCount(), c.videoStreams + c.audioStreams);
  EXPECT_EQ(probe.ProgramCount(), c.programs);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), c.firstVideo);
  EXPECT_EQ(probe.FirstAudioStreamIndex(), c.firstAudio);
  EXPECT_EQ(probe.FirstSubtitleStreamIndex(), -1);

  TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  if (c.seconds < 0) {
    EXPECT_EQ(file.Duration, -1);
  } else {
    EXPECT_NEAR(file.Duration / 1e6, c.seconds, 0.1);
  }

  TVideoStreamInfo video;
  if (c.videoStreams) {
    ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video)) << probe.LastErrMsg();
    EXPECT_EQ(video.Width, c.width);
    EXPECT_EQ(video.Height, c.height);
    EXPECT_EQ(video.FrameRateNum, c.frameRateNum);
    EXPECT_EQ(video.FrameRateDen, c.frameRateDen);
    EXPECT_EQ(video.PixelFormat, c.pixelFormat);
    EXPECT_NEAR(video.DisplayAspectRatio, c.aspect, 1e-3);
    EXPECT_EQ(video.CodecName.rfind(c.videoCodec, 0), 0u) << video.CodecName;
    if (c.seconds >= 0 && video.DurationUS >= 0) {
      EXPECT_NEAR(video.DurationUS / 1e6, c.seconds, 0.1);
    }
  } else {
    EXPECT_FALSE(probe.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(probe.LastErrMsg(), "no video stream.");
    EXPECT_EQ(video.Width, -1);
    EXPECT_EQ(video.DisplayAspectRatio, -1.0f);
  }

  TAudioStreamInfo audio;
  if (c.audioStreams) {
    ASSERT_TRUE(probe.GetAudioStreamInfo(-1, audio)) << probe.LastErrMsg();
    EXPECT_EQ(audio.Channels, c.channels);
    EXPECT_EQ(audio.SampleRate, c.sampleRate);
    EXPECT_EQ(audio.CodecName.rfind(c.audioCodec, 0), 0u) << audio.CodecName;
  } else {
    EXPECT_FALSE(probe.GetAudioStreamInfo(-1, audio));
    EXPECT_EQ(probe.LastErrMsg(), "no audio stream.");
    EXPECT_EQ(audio.Channels, -1);
  }

  const std::string text = probe.GetInfoText();
  const auto ls = lines(text);
  ASSERT_GE(ls.size(), 6u) << text;
  EXPECT_EQ(ls[0], "File Name: " + path);
  EXPECT_EQ(ls[1], std::string("Format Name: ") + c.formatName);
  EXPECT_EQ(ls[2].rfind("Format Long Name: ", 0), 0u);
  EXPECT_NE(lineStarting(ls, "File Size: "), "File Size: 0 Byte");
  for (const auto &want : c.textLines) EXPECT_TRUE(hasLine(ls, want)) << want << "\nin\n" << text;
  for (int i = 0; i < probe.StreamCount(); ++i)
    EXPECT_NE(lineStarting(ls, "Stream #" + std::to_string(i)), "") << i << "\n" << text;
}

const std::string kTs1 = "Program 1 FFmpeg@Service01";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ProbeFixture,
    testing::Values(
        FixtureCase{"av.avi", "avi", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P, 2, 44100,
                    "mpeg4", "mp3", 2.0, {"StartTime: 0.000000", "Metadata:"}},
        FixtureCase{"av.mp4", "mov,mp4,m4a,3gp,3g2,mj2", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 25, 1,
                    AV_PIX_FMT_YUV420P, 2, 44100, "h264", "aac", 2.0,
                    {"  major_brand     : isom", "    handler_name    : VideoHandler"}},
        FixtureCase{"av.mkv", "matroska,webm", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P,
                    2, 44100, "h264", "vorbis", 2.0, {"Metadata:"}},
        FixtureCase{"av.ts", "mpegts", 1, 1, 1, 0, 1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P, 2, 44100,
                    "mpeg2video", "mp2", 2.0, {kTs1}},
        FixtureCase{"tags.mp3", "mp3", 0, 1, 0, -1, 0, 0, 0, 0.0, 0, 0, AV_PIX_FMT_NONE, 2, 44100, "", "mp3",
                    2.0, {"Metadata:", "  title           : Test Tone"}},
        FixtureCase{"tone.wav", "wav", 0, 1, 0, -1, 0, 0, 0, 0.0, 0, 0, AV_PIX_FMT_NONE, 2, 44100, "",
                    "pcm_s16le", 2.0, {"Duration: 00:00:02.000", "Bit Rate: 1411 kb/s"}},
        FixtureCase{"raw.m4v", "m4v", 1, 0, 0, 0, -1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P, 0, 0,
                    "mpeg4", "", -1, {"Duration: N/A", "Bit Rate: N/A"}},
        FixtureCase{"vfr.mkv", "matroska,webm", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 1000, 1, AV_PIX_FMT_YUV420P,
                    2, 44100, "h264", "vorbis", 2.0, {}},
        FixtureCase{"odd.avi", "avi", 1, 1, 0, 0, 1, 175, 143, 175.0 / 143, 25, 1, AV_PIX_FMT_YUV420P, 2, 44100,
                    "mpeg4", "mp3", 2.0, {}},
        FixtureCase{"jump.ts", "mpegts", 1, 1, 1, 0, 1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P, 2, 44100,
                    "mpeg2video", "mp2", 2.0 + fixtures::kJumpBy, {kTs1}},
        FixtureCase{"programs.ts", "mpegts", 2, 2, 2, 0, 1, 320, 240, 4.0 / 3, 25, 1, AV_PIX_FMT_YUV420P, 2,
                    44100, "mpeg2video", "mp2", 2.0,
                    {"Program 1 Marlo Fixtures@Program 1", "Program 2 Marlo Fixtures@Program 2"}},
        FixtureCase{"surround.mkv", "matroska,webm", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 25, 1,
                    AV_PIX_FMT_YUV420P, 6, 48000, "h264", "ac3", 2.0, {}},
        FixtureCase{"bgr24.avi", "avi", 1, 0, 0, 0, -1, 80, 60, 0.0, 10, 1, AV_PIX_FMT_BGR24, 0, 0,
                    "rawvideo", "", 2.0, {}},
        FixtureCase{"Кино с пробелами.mp4", "mov,mp4,m4a,3gp,3g2,mj2", 1, 1, 0, 0, 1, 320, 240, 4.0 / 3, 25,
                    1, AV_PIX_FMT_YUV420P, 2, 44100, "h264", "aac", 2.0, {}}),
    [](const testing::TestParamInfo<FixtureCase> &info) {
      std::string name;
      for (const unsigned char ch : std::string(info.param.name)) {
        if (ch >= 0x80) return std::string("unicode_name");
        name += std::isalnum(ch) ? char(ch) : '_';
      }
      return name;
    });

TEST(Probe, Mp3TagsFillTheFileRecordAndTheMetadataBlock) {
  loadLibs();
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(fixtures::Path("tags.mp3"))) << probe.LastErrMsg();
  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  EXPECT_EQ(info.Title, "Test Tone");
  EXPECT_EQ(info.Album, "Generated Media");
  EXPECT_EQ(info.Genre, "Test");
  EXPECT_EQ(info.Comment, "Sine at 440 Hz");
  EXPECT_EQ(info.Author, "");
  EXPECT_EQ(info.Copyright, "");
  EXPECT_EQ(info.Year, 2024);
  EXPECT_EQ(info.Track, 3);
  EXPECT_EQ(info.TimeStamp, 0);

  const auto ls = lines(probe.GetInfoText());
  // Tags sit in a block right below the container lines, keys padded to 16 columns.
  std::vector<std::string> block;
  for (size_t i = 0; i < ls.size(); ++i)
    if (ls[i] == "Metadata:")
      for (size_t k = i + 1; k < ls.size() && ls[k].rfind("  ", 0) == 0; ++k) block.push_back(ls[k]);
  for (const auto &[key, value] : fixtures::kMp3Tags) {
    std::string line = "  " + key;
    line.resize(18, ' ');
    EXPECT_TRUE(hasLine(block, line + ": " + value)) << line + ": " + value;
  }
  EXPECT_FALSE(hasLine(ls, "Time Stamp: ")) << "no creation time, no line";
}

TEST(Probe, CreationTimeGivesTimeStampAndItsLine) {
  setenv("TZ", "UTC", 1);
  tzset();
  loadLibs();
  fixtures::MediaSpec recipe;
  recipe.container = "mp4";
  recipe.vcodec = "mpeg4";
  recipe.seconds = 0.4;
  recipe.tags = {{"creation_time", "2021-03-04T05:06:07.000000Z"}};
  const std::string path = fixtures::Make("created.mp4", recipe);

  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  EXPECT_EQ(info.TimeStamp, 1614834367);
  EXPECT_TRUE(hasLine(lines(probe.GetInfoText()), "Time Stamp: 2021-03-04 05:06:07"));
}

// ---- input that cannot be probed ----

struct BadInputCase {
  const char *what;
  std::string name;
  std::string reason; // after "name: "
};

TEST(Probe, UnreadableInputGivesItsTextAndLeavesNoFile) {
  loadLibs();
  const std::string dir = fixtures::Dir();
  const BadInputCase cases[] = {
      {"missing file", dir + "/no such file.mp4", "No such file or directory"},
      {"missing folder", "/nonexistent-folder/a.avi", "No such file or directory"},
      {"folder", dir, ErrorMessage(AVERROR(EISDIR))},
      {"empty file", fixtures::Path("empty.mp4"), "Invalid data found when processing input"},
      {"truncated file", fixtures::Path("truncated.mp4"), "Invalid data found when processing input"},
      {"random bytes", fixtures::Path("random.bin"), "Invalid data found when processing input"},
      {"unicode name pointing nowhere", EncodeUnicodeURL(dir + "/Нет такого.mp4"),
       "No such file or directory"},
  };
  const std::string good = fixtures::Path("av.mp4");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(good)); // a failed load must not leave the earlier file behind
    LogCapture log;
    EXPECT_FALSE(probe.LoadFile(c.name));
    EXPECT_EQ(probe.LastErrMsg(), c.name + ": " + c.reason);
    EXPECT_TRUE(log.Has(llError, c.name + ": " + c.reason));
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.FileSize(), -1);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.FirstAudioStreamIndex(), -1);
    EXPECT_EQ(probe.GetInfoText(), "");
  }
}

TEST(Probe, ForcedFormat) {
  loadLibs();
  TAVProbe probe;
  LogCapture log;
  EXPECT_FALSE(probe.LoadFile(fixtures::Path("av.mp4"), "nosuchformat"));
  EXPECT_EQ(probe.LastErrMsg(), "Unknown input format: nosuchformat");
  EXPECT_FALSE(log.Mentions("Unknown input format")) << "reported, not logged";
  EXPECT_EQ(probe.FormatContext(), nullptr);

  ASSERT_TRUE(probe.LoadFile(fixtures::Path("raw.m4v"), "m4v")) << probe.LastErrMsg();
  EXPECT_EQ(probe.ForcedFormatName(), "m4v");
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  probe.CloseFile();
  EXPECT_EQ(probe.ForcedFormatName(), "");
}

// ---- queries that cannot be answered ----

TEST(Probe, QueriesWithoutAFileWarnAndReturnEmptyResults) {
  loadLibs();
  LogCapture log;
  struct Query {
    const char *what;
    std::function<bool(TAVProbe &)> emptyResult;
  };
  const Query queries[] = {
      {"GetInfoText", [](TAVProbe &p) { return p.GetInfoText().empty(); }},
      {"FileName", [](TAVProbe &p) { return p.FileName().empty(); }},
      {"FormatName", [](TAVProbe &p) { return p.FormatName().empty(); }},
      {"IsAudioStream", [](TAVProbe &p) { return !p.IsAudioStream(0); }},
      {"IsVideoStream", [](TAVProbe &p) { return !p.IsVideoStream(0); }},
      {"GetFileStreamInfo",
       [](TAVProbe &p) {
         TFileStreamInfo i;
         i.Duration = 5;
         i.Title = "x";
         p.GetFileStreamInfo(i);
         return i.Duration == -1 && i.StartTime == -1 && i.BitRate == -1 && i.TimeStamp == -1 &&
                i.Title.empty();
       }},
      {"GetAudioStreamInfo",
       [](TAVProbe &p) {
         TAudioStreamInfo i;
         i.Channels = 2;
         return !p.GetAudioStreamInfo(-1, i) && i.Channels == -1 && i.SampleRate == -1;
       }},
      {"GetVideoStreamInfo",
       [](TAVProbe &p) {
         TVideoStreamInfo i;
         i.Width = 2;
         return !p.GetVideoStreamInfo(0, i) && i.Width == -1 && i.DisplayAspectRatio == -1.0f;
       }},
  };
  for (const auto &q : queries) {
    SCOPED_TRACE(q.what);
    log.messages.clear();
    TAVProbe probe;
    EXPECT_TRUE(q.emptyResult(probe));
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    EXPECT_TRUE(log.Has(llWarning, "file not loaded."));
  }
}

TEST(Probe, StreamQueriesRefuseStreamsOfTheWrongKind) {
  loadLibs();
  TAVProbe av, mp3, bgr;
  ASSERT_TRUE(av.LoadFile(fixtures::Path("av.mp4"))); // stream 0 video, stream 1 audio
  ASSERT_TRUE(mp3.LoadFile(fixtures::Path("tags.mp3")));
  ASSERT_TRUE(bgr.LoadFile(fixtures::Path("bgr24.avi")));
  TAudioStreamInfo a;
  TVideoStreamInfo v;
  struct Case {
    const char *what;
    TAVProbe &probe;
    std::function<bool(TAVProbe &)> query;
    const char *error;
    int32_t *cleared = nullptr; // a field of the record the query fills, left at -1
  };
  const Case cases[] = {
      {"audio index equal to the stream count", av,
       [&](TAVProbe &p) { return p.GetAudioStreamInfo(2, a); }, "stream index #2 is invalid.",
       &a.Channels},
      {"video index past the end", av, [&](TAVProbe &p) { return p.GetVideoStreamInfo(7, v); },
       "stream index #7 is invalid.", &v.Width},
      {"video stream asked as audio", av, [&](TAVProbe &p) { return p.GetAudioStreamInfo(0, a); },
       "stream #0 is not audio stream.", &a.SampleRate},
      {"audio stream asked as video", av, [&](TAVProbe &p) { return p.GetVideoStreamInfo(1, v); },
       "stream #1 is not video stream.", &v.Height},
      {"no video in an audio file", mp3, [&](TAVProbe &p) { return p.GetVideoStreamInfo(-1, v); },
       "no video stream.", &v.FrameRateNum},
      {"no audio in a silent file", bgr, [&](TAVProbe &p) { return p.GetAudioStreamInfo(-1, a); },
       "no audio stream.", &a.BitRate},
      {"IsAudioStream below zero", av, [&](TAVProbe &p) { return p.IsAudioStream(-1); },
       "stream index #-1 is invalid."},
      {"IsVideoStream at the stream count", av, [&](TAVProbe &p) { return p.IsVideoStream(2); },
       "stream index #2 is invalid."},
  };
  LogCapture log;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.cleared) *c.cleared = 99;
    EXPECT_FALSE(c.query(c.probe));
    EXPECT_EQ(c.probe.LastErrMsg(), c.error);
    EXPECT_TRUE(log.Has(llError, c.error));
    if (c.cleared) {
      EXPECT_EQ(*c.cleared, -1);
    }
  }
  EXPECT_TRUE(av.IsVideoStream(0));
  EXPECT_FALSE(av.IsVideoStream(1));
  EXPECT_TRUE(av.IsAudioStream(1));
}

TEST(Probe, StreamRecordsCarryStoredAndMicrosecondTimes) {
  loadLibs();
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(fixtures::Path("av.ts")));
  TAudioStreamInfo a;
  ASSERT_TRUE(probe.GetAudioStreamInfo(-1, a));
  // The transport stream counts in 90 kHz ticks; the record keeps them and converts.
  EXPECT_NEAR(a.StartTimeUS, a.StartTime * 1e6 / 90000, 1);
  EXPECT_NEAR(a.DurationUS, a.Duration * 1e6 / 90000, 1);
  EXPECT_GT(a.StartTimeUS, 0);

  ASSERT_TRUE(probe.LoadFile(fixtures::Path("av.mkv")));
  TVideoStreamInfo v;
  ASSERT_TRUE(probe.GetVideoStreamInfo(-1, v));
  EXPECT_EQ(v.Duration, AV_NOPTS_VALUE) << "Matroska stores no stream duration";
  EXPECT_EQ(v.DurationUS, -1);
}

TEST(Probe, AttachedContextIsDescribedButNeverFreed) {
  loadLibs();
  AVFormatContext *ctx = nullptr;
  const std::string path = fixtures::Path("av.mkv");
  ASSERT_EQ(OpenLibraryInput(&ctx, path, nullptr, nullptr), 0);
  ASSERT_GE(ff.avformat_find_stream_info(ctx, nullptr), 0);
  {
    TAVProbe probe;
    probe.AttachFormatContext(ctx);
    EXPECT_EQ(probe.FormatContext(), ctx);
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.FileName(), path);
    probe.CloseFile();
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount(), -1);
    probe.AttachFormatContext(ctx);
    probe.AttachFormatContext(nullptr); // letting go before the owner closes
    EXPECT_EQ(probe.StreamCount(), -1);
    probe.AttachFormatContext(ctx);
    probe.AttachFormatContext(ctx); // again: still described, still not owned
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 2);
  } // destroyed while attached
  AVPacket *pkt = ff.av_packet_alloc();
  EXPECT_EQ(ff.av_read_frame(ctx, pkt), 0) << "the owner's context still works";
  ff.av_packet_free(&pkt);
  CloseLibraryInput(&ctx);
}

TEST(Probe, HandedItsOwnContextKeepsIt) {
  loadLibs();
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(fixtures::Path("av.mp4")));
  probe.AttachFormatContext(probe.FormatContext());
  EXPECT_TRUE(probe.OwnsContext());
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(lines(probe.GetInfoText())[1], "Format Name: mov,mp4,m4a,3gp,3g2,mj2");
}

TEST(Probe, UnicodeNamesOpenAndReadBackAsPlainNames) {
  loadLibs();
  const std::string path = fixtures::Path("Кино с пробелами.mp4");
  const auto size = int64_t(std::filesystem::file_size(std::filesystem::u8path(path)));
  for (const std::string &name : {path, EncodeUnicodeURL(path)}) {
    SCOPED_TRACE(name);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(name)) << probe.LastErrMsg();
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_EQ(probe.FileSize(), size);
    EXPECT_EQ(lines(probe.GetInfoText())[0], "File Name: " + path);
  }
}

TEST(Probe, MissingLibrariesAreNamedInOrder) {
  FFLoader().UnloadLibs(PlayerLibs);
  TAVProbe probe;
  struct Step {
    TLibraryId load; // loaded before the check; libCount for none
    const char *text;
  };
  const Step steps[] = {
      {libCount, "LibAVCodec not loaded."},
      {libAVCodec, "LibAVFormat not loaded."},
      {libAVFormat, "LibAVUtil not loaded."},
      {libAVUtil, "LibSwScale not loaded."},
  };
  for (const auto &s : steps) {
    if (s.load != libCount) {
      ASSERT_TRUE(FFLoader().LoadLib(s.load)) << FFLoader().LastError();
    }
    try {
      probe.LoadFile("whatever.avi");
      ADD_FAILURE() << "LoadFile did not raise " << s.text;
    } catch (const EAVProbeLibsNotLoaded &e) {
      EXPECT_STREQ(e.what(), s.text);
    }
    EXPECT_THROW(probe.AttachFormatContext(nullptr), EAVProbeLibsNotLoaded);
  }
  ASSERT_TRUE(FFLoader().LoadLib(libSwScale));
  EXPECT_NO_THROW(probe.CheckLibsLoaded());
}

// ---- the report's formatting, on contexts built by hand ----

namespace {

AVStream *addStream(AVFormatContext *ctx, AVMediaType type, AVCodecID codec, AVRational tb) {
  AVStream *st = ff.avformat_new_stream(ctx, nullptr);
  st->codecpar->codec_type = type;
  st->codecpar->codec_id = codec;
  st->time_base = tb;
  return st;
}

FormatContextPtr emptyContext() {
  FormatContextPtr ctx(ff.avformat_alloc_context());
  ctx->start_time = AV_NOPTS_VALUE;
  ctx->duration = AV_NOPTS_VALUE;
  return ctx;
}

std::vector<std::string> reportOf(AVFormatContext *ctx) {
  TAVProbe probe;
  probe.AttachFormatContext(ctx);
  return lines(probe.GetInfoText());
}

} // namespace

TEST(ProbeReport, VideoLineShowsRatesAspectStartAndDuration) {
  loadLibs();
  struct Case {
    const char *what;
    AVRational timeBase, avgRate, realRate, streamSar, codecSar;
    int64_t start, duration;
    std::string tail; // the end of the stream line
  };
  const Case cases[] = {
      {"NTSC rates, anamorphic", {1, 90000}, {30000, 1001}, {30000, 1001}, {32, 27}, {8, 9}, 0,
       900000, ", PAR 32:27 DAR 16:9, 29.97 fps, 29.97 tbr, 90k tbn, StartTime: 0.000000, "
               "Duration: 00:00:10.000"},
      {"whole rates, same aspect", {1, 12800}, {25, 1}, {25, 1}, {1, 1}, {1, 1}, 12800, 25600,
       ", 25 fps, 25 tbr, 12800 tbn, StartTime: 1.000000, Duration: 00:00:02.000"},
      {"film rate, millisecond base", {1, 1000}, {24000, 1001}, {24, 1}, {0, 1}, {0, 1}, -21,
       AV_NOPTS_VALUE, ", 23.98 fps, 24 tbr, 1k tbn, StartTime: -0.021000, Duration: N/A"},
      {"unknown rates, no start", {1, 25}, {0, 1}, {0, 0}, {0, 1}, {1, 1}, AV_NOPTS_VALUE, 50,
       "], 25 tbn, Duration: 00:00:02.000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    auto ctx = emptyContext();
    AVStream *st = addStream(ctx.get(), AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG2VIDEO, c.timeBase);
    st->codecpar->width = 720;
    st->codecpar->height = 480;
    st->codecpar->sample_aspect_ratio = c.codecSar;
    st->sample_aspect_ratio = c.streamSar;
    st->avg_frame_rate = c.avgRate;
    st->r_frame_rate = c.realRate;
    st->start_time = c.start;
    st->duration = c.duration;
    const std::string line = lineStarting(reportOf(ctx.get()), "Stream #0");
    EXPECT_TRUE(endsWith(line, c.tail)) << line;
    EXPECT_EQ(line.rfind(std::string("Stream #0, ") + std::to_string(c.timeBase.num) + "/" +
                             std::to_string(c.timeBase.den) + ": Video: mpeg2video",
                         0),
              0u)
        << line;
  }
}

TEST(ProbeReport, BrokenTimeBaseIsRepairedBeforeUse) {
  loadLibs();
  struct Case {
    AVRational stored, repaired;
    const char *timeText;
  };
  const Case cases[] = {
      {{0, 0}, {0, 1}, ", 0/1: "},
      {{7, 0}, {7, 7}, ", 1/1: "},
      {{2, 50}, {2, 50}, ", 1/25: "}, // reduced for the text only
  };
  for (const auto &c : cases) {
    auto ctx = emptyContext();
    AVStream *st = addStream(ctx.get(), AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP2, c.stored);
    st->start_time = 3;
    st->duration = 100;
    const std::string line = lineStarting(reportOf(ctx.get()), "Stream #0");
    EXPECT_NE(line.find(c.timeText), std::string::npos) << line;
    EXPECT_EQ(st->time_base.num, c.repaired.num);
    EXPECT_EQ(st->time_base.den, c.repaired.den);

    TAVProbe probe;
    probe.AttachFormatContext(ctx.get());
    TAudioStreamInfo info;
    ASSERT_TRUE(probe.GetAudioStreamInfo(0, info));
    EXPECT_EQ(info.StartTime, 3);
    EXPECT_EQ(info.DurationUS, ff.av_rescale_q(100, c.repaired, AVRational{1, 1000000}));
  }
}

TEST(ProbeReport, MetadataBlocksProgramsAndStreamOrder) {
  loadLibs();
  auto ctx = emptyContext();
  ff.av_dict_set(&ctx->metadata, "TPE1", "Somebody", 0);
  ff.av_dict_set(&ctx->metadata, "language", "fre", 0);
  ff.av_dict_set(&ctx->metadata, "Custom", "kept as is", 0);
  AVStream *audio = addStream(ctx.get(), AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP2, {1, 90000});
  ff.av_dict_set(&audio->metadata, "language", "eng", 0); // only a language: no block
  AVStream *video = addStream(ctx.get(), AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG2VIDEO, {1, 90000});
  ff.av_dict_set(&video->metadata, "language", "ger", 0);
  ff.av_dict_set(&video->metadata, "TIT2", "Picture", 0);
  addStream(ctx.get(), AVMEDIA_TYPE_DATA, AV_CODEC_ID_NONE, {1, 90000});
  AVProgram *program = ff.av_new_program(ctx.get(), 7);
  ff.av_dict_set(&program->metadata, "provider_name", "Prov", 0);
  ff.av_dict_set(&program->metadata, "service_provider", "Ignored", 0);
  ff.av_dict_set(&program->metadata, "service_name", "Channel", 0);
  ff.av_program_add_stream_index(ctx.get(), 7, 1);
  ff.av_new_program(ctx.get(), 9); // no tags, no streams

  TAVProbe probe;
  probe.AttachFormatContext(ctx.get());
  EXPECT_EQ(probe.StreamCount(), 3);
  EXPECT_EQ(probe.ProgramCount(), 2);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), 1);
  TAudioStreamInfo a;
  ASSERT_TRUE(probe.GetAudioStreamInfo(-1, a));
  EXPECT_EQ(a.Language, "eng");

  auto ls = lines(probe.GetInfoText());
  // Stream lines carry variable codec text; keep their start for comparison.
  for (auto &l : ls)
    if (l.rfind("Stream #", 0) == 0) l = l.substr(0, l.find(": "));
  const std::vector<std::string> want = {
      "File Name: ",
      "Format Name: ",
      "Format Long Name: ",
      "File Size: 0 Byte",
      "Duration: N/A",
      "Bit Rate: N/A",
      "Metadata:",
      "  artist          : Somebody",
      "  Custom          : kept as is",
      "Program 7 Prov@Channel",
      "  Metadata:",
      "    provider_name   : Prov",
      "    service_provider: Ignored",
      "    service_name    : Channel",
      "Stream #1(ger), 1/90000",
      "  Metadata:",
      "    title           : Picture",
      "Program 9 N/A@N/A",
      "Stream #0(eng), 1/90000",
      "Stream #2, 1/90000",
  };
  EXPECT_EQ(ls, want);
}
