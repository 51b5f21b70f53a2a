// Opening inputs and outputs, the codec lookup and the set-up checks: every refusal
// comes with its message, and a refused run leaves no empty file behind.
#include "transcode_support.h"

#include "fixtures/fixtures.h"
#include "media/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

using namespace ts;
namespace fs = std::filesystem;

TEST(TranscodeSetup, InputsThatCannotBeOpenedSayWhy) {
  struct Case {
    const char *name;
    std::string file;
    OptionList inOpts;
    std::string error;
  } cases[] = {
      {"missing file", "/nonexistent/none.avi", {}, "/nonexistent/none.avi: No such file or directory"},
      {"unknown forced format", fixtures::Path("av.avi"), {{"f", "nosuchformat"}},
       "Unknown input format: \"nosuchformat\""},
      {"unknown decoder", fixtures::Path("av.avi"), {{"vcodec", "nosuchcodec"}}, "Unknown decoder 'nosuchcodec'"},
      {"decoder of another type", fixtures::Path("av.avi"), {{"acodec", "mpeg4"}}, "Invalid decoder type 'mpeg4'"},
      {"missing program", fixtures::Path("programs.ts"), {{"programid", "7"}}, "Specified program id not found"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TCustomFFmpeg engine;
    Prepare(engine);
    for (const auto &[n, v] : c.inOpts) DispatchOption(engine, n, v);
    EXPECT_FALSE(engine.OpenInput(c.file));
    EXPECT_EQ(engine.LastError, c.error);
    EXPECT_EQ(engine.InputCount(), 0);
  }
}

TEST(TranscodeSetup, AProgramIdSelectsThatProgramsStreams) {
  TCustomFFmpeg engine;
  Prepare(engine);
  DispatchOption(engine, "programid", "2");
  ASSERT_TRUE(engine.OpenInput(fixtures::Path("programs.ts"))) << engine.LastError;
  EXPECT_EQ(engine.Options().ProgramId, 0) << "the id is used up by the input";
  std::string output = TempDir() + "/program.mkv";
  DispatchOption(engine, "vcodec", "copy");
  DispatchOption(engine, "acodec", "copy");
  ASSERT_EQ(engine.OpenOutput(output), 1) << engine.LastError;
  TRunResult r = engine.Run();
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  // The sound of program 2 comes from that program's own stream: read it back and make
  // sure it is the one the demuxer lists under program 2.
  AVFormatContext *ic = nullptr;
  ASSERT_GE(ff.avformat_open_input(&ic, fixtures::Path("programs.ts").c_str(), nullptr, nullptr), 0);
  ff.avformat_find_stream_info(ic, nullptr);
  int64_t programBytes = 0, otherBytes = 0;
  AVPacket *pkt = ff.av_packet_alloc();
  while (ff.av_read_frame(ic, pkt) >= 0) {
    AVProgram *p = ff.av_find_program_from_stream(ic, nullptr, pkt->stream_index);
    bool audio = ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    if (audio) (p && p->id == 2 ? programBytes : otherBytes) += pkt->size;
    ff.av_packet_unref(pkt);
  }
  ff.av_packet_free(&pkt);
  ff.avformat_close_input(&ic);
  FileSummary out = Inspect(output);
  ASSERT_TRUE(out.First(AVMEDIA_TYPE_AUDIO));
  EXPECT_EQ(out.First(AVMEDIA_TYPE_AUDIO)->Bytes, programBytes);
  EXPECT_NE(programBytes, 0);
}

TEST(TranscodeSetup, OutputsThatCannotBeMadeSayWhy) {
  std::string dir = TempDir();
  struct Case {
    const char *name;
    std::string file;
    OptionList outOpts;
    std::string error;
  } cases[] = {
      {"unknown extension", dir + "/out.nosuchext", {}, "Unable to find a suitable output format for '" + dir +
                                                            "/out.nosuchext'"},
      {"unknown forced format", dir + "/out.avi", {{"f", "nosuchformat"}},
       "Requested output format 'nosuchformat' is not a suitable output format"},
      {"unknown encoder", dir + "/out.avi", {{"vcodec", "nosuchcodec"}}, "new_video_stream fail: Unknown encoder 'nosuchcodec'"},
      {"encoder of another type", dir + "/out.avi", {{"acodec", "mpeg4"}},
       "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
      {"experimental encoder", dir + "/out.mkv", {{"acodec", "opus"}},
       "new_audio_stream fail: encoder 'opus' is experimental and might produce bad results.\r\n"
       "Add '-strict experimental' if you want to use it.\r\nOr use the non experimental encoder 'libopus'."},
      {"folder that does not exist", dir + "/missing/out.avi", {}, dir + "/missing/out.avi: No such file or directory"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TCustomFFmpeg engine;
    Prepare(engine);
    ASSERT_TRUE(engine.OpenInput(fixtures::Path("av.avi"))) << engine.LastError;
    for (const auto &[n, v] : c.outOpts) DispatchOption(engine, n, v);
    EXPECT_EQ(engine.OpenOutput(c.file), -1);
    EXPECT_EQ(engine.LastError, c.error);
    EXPECT_EQ(engine.OutputCount(), 0);
    EXPECT_FALSE(fs::exists(c.file));
  }
}

TEST(TranscodeSetup, AReadOnlyFolderRefusesTheOutput) {
  const std::string dir = TempDir();
  const std::string input = fixtures::Path("av.avi");
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  // Permissions do not bind the super-user: run as root, the check runs in a child process
  // that has become an ordinary user.
  auto check = [&] {
    const uid_t nobody = 65534;
    if (geteuid() == 0 && setuid(nobody) != 0) {
      std::fprintf(stderr, "cannot become an ordinary user\n");
      std::_Exit(2);
    }
    TCustomFFmpeg engine;
    Prepare(engine);
    if (!engine.OpenInput(input)) std::_Exit(3);
    const int opened = engine.OpenOutput(dir + "/out.avi");
    std::fprintf(stderr, "%d %s\n", opened, engine.LastError.c_str());
    std::_Exit(0);
  };
  EXPECT_EXIT(check(), testing::ExitedWithCode(0), "^-1 " + dir + "/out.avi: Permission denied\n$");
  EXPECT_FALSE(fs::exists(dir + "/out.avi"));
  fs::permissions(dir, fs::perms::owner_all);
}

TEST(TranscodeSetup, StreamsFollowTheInputAndTheDisableOptions) {
  std::string dir = TempDir();
  struct Case {
    const char *name;
    const char *fixture, *target;
    OptionList outOpts;
    bool video, audio;
  } cases[] = {
      {"audio-only input into a video container", "tone.wav", "out.avi", {}, false, true},
      {"video-only input", "bgr24.avi", "out.mkv", {}, true, false},
      {"vn", "av.avi", "out.avi", {{"vn", ""}}, false, true},
      {"an", "av.avi", "out.avi", {{"an", ""}}, true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TRunResult r = Convert(fixtures::Path(c.fixture), {}, dir + "/" + c.target, c.outOpts);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary out = Inspect(dir + "/" + c.target);
    EXPECT_EQ(out.First(AVMEDIA_TYPE_VIDEO) != nullptr, c.video);
    EXPECT_EQ(out.First(AVMEDIA_TYPE_AUDIO) != nullptr, c.audio);
  }
}

TEST(TranscodeSetup, TheClosestSupportedSampleRateIsTaken) {
  struct Case {
    const char *asked;
    int used;
    bool warned;
  } cases[] = {
      {"44100", 44100, false},
      {"47000", 48000, true},
      {"46050", 44100, true}, // the midpoint of 44100 and 48000: the earlier listed wins
      {"8000", 16000, true},
  };
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.asked);
    std::string log;
    std::mutex lock;
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([&](const void *, uint32_t, TLogLevel level, const std::string &msg) {
      std::lock_guard g(lock);
      if (level == llWarning) log += msg + "\n";
    });
    TRunResult r = Convert(fixtures::Path("tone.wav"), {}, dir + "/out.mp2", {{"acodec", "mp2"}, {"ar", c.asked}});
    FFLogger().SetOnLog(nullptr);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_EQ(Inspect(dir + "/out.mp2").Streams.at(0).SampleRate, c.used);
    bool warned = log.find("Requested sampling rate unsupported using closest supported (" + std::to_string(c.used) +
                           ")") != std::string::npos;
    EXPECT_EQ(warned, c.warned) << log;
  }
}

TEST(TranscodeSetup, RunTimeRefusalsLeaveNoEmptyFile) {
  std::string dir = TempDir();
  struct Case {
    const char *name;
    OptionList outOpts;
    bool hook;
    uint8_t previewFlags;
    std::string error;
  } cases[] = {
      {"copy with a hook", {{"vcodec", "copy"}}, true, 0,
       "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
      {"copy with preview bitmaps", {{"vcodec", "copy"}}, false, 2,
       "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
      {"copy with a preview window", {{"vcodec", "copy"}}, false, 1,
       "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
      {"copy with a volume", {{"acodec", "copy"}, {"vol", "512"}}, false, 0,
       "-acodec copy and -vol are incompatible (frames are not decoded)"},
      {"too many maps", {{"map", "0.0"}, {"map", "0.1"}, {"map", "0.1"}}, false, 0,
       "Number of stream maps must match number of output streams"},
      {"a map for a missing file", {{"map", "3.0"}, {"map", "0.1"}}, false, 0, "Could not find input stream #3.0"},
      {"encoder refusing its settings", {{"vcodec", "mpeg4"}, {"s", "100000x100000"}}, false, 0,
       "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters such as bit_rate, "
       "rate, width or height. Please check error log message to find out more detail information."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string output = dir + "/refused.avi";
    TCustomFFmpeg engine;
    Prepare(engine);
    ASSERT_EQ(Open(engine, fixtures::Path("av.avi"), {}, output, c.outOpts), "");
    if (c.hook) engine.HookSlot = [](THookInfo &) {};
    engine.PreviewFlags = c.previewFlags;
    TRunResult r = engine.Run();
    EXPECT_TRUE(r.Failed);
    EXPECT_FALSE(r.Finished);
    EXPECT_EQ(r.ErrorMessage, c.error);
    EXPECT_FALSE(fs::exists(output)) << "an empty output is removed";
  }
}

TEST(TranscodeSetup, BitstreamFiltersSeeEveryCopiedPacket) {
  std::string dir = TempDir();
  FileSummary in = Inspect(fixtures::Path("av.avi"));
  // dump_extra puts the stream's headers in front of every key frame.
  TRunResult r = Convert(fixtures::Path("av.avi"), {}, dir + "/headers.avi",
                         {{"vcodec", "copy"}, {"acodec", "copy"}, {"vbsf", "dump_extra=all"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  FileSummary out = Inspect(dir + "/headers.avi");
  const StreamSummary *a = in.First(AVMEDIA_TYPE_VIDEO), *b = out.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Packets, b->Packets);
  EXPECT_GT(b->Bytes, a->Bytes);

  TRunResult wrong = Convert(fixtures::Path("av.avi"), {}, dir + "/wrong.avi",
                             {{"vcodec", "copy"}, {"acodec", "copy"}, {"vbsf", "h264_mp4toannexb"}});
  EXPECT_TRUE(wrong.Failed);
  EXPECT_NE(wrong.ErrorMessage.find("h264_mp4toannexb"), std::string::npos) << wrong.ErrorMessage;
  EXPECT_FALSE(fs::exists(dir + "/wrong.avi"));
}

TEST(TranscodeSetup, TwoPassEncodingWritesThenReadsItsLog) {
  std::string dir = TempDir();
  std::string prefix = dir + "/stats";
  OptionList opts = {{"vcodec", "mpeg4"}, {"b", "200k"}, {"an", ""}, {"passlogfile", prefix}};
  auto pass = [&](const char *n) {
    OptionList o = opts;
    o.push_back({"pass", n});
    return Convert(fixtures::Path("av.mkv"), {}, dir + "/pass" + n + ".avi", o);
  };
  TRunResult second = pass("2");
  EXPECT_TRUE(second.Failed);
  EXPECT_EQ(second.ErrorMessage,
            "Cannot read file: Error reading log file \"" + prefix + "-0.log\" for pass-2 encoding");
  TRunResult first = pass("1");
  ASSERT_FALSE(first.Failed) << first.ErrorMessage;
  ASSERT_TRUE(fs::exists(prefix + "-0.log"));
  EXPECT_GT(fs::file_size(prefix + "-0.log"), 1000u);
  second = pass("2");
  ASSERT_FALSE(second.Failed) << second.ErrorMessage;
  EXPECT_EQ(Inspect(dir + "/pass2.avi").First(AVMEDIA_TYPE_VIDEO)->Packets, 50);
}

TEST(TranscodeSetup, AForcedRawInputTakesItsPictureFromTheOptions) {
  std::string dir = TempDir();
  std::string raw = dir + "/pictures.yuv";
  TRunResult made = Convert(fixtures::Path("av.mkv"), {}, raw,
                            {{"f", "rawvideo"}, {"vcodec", "rawvideo"}, {"pix_fmt", "yuv420p"}, {"an", ""}});
  ASSERT_FALSE(made.Failed) << made.ErrorMessage;
  ASSERT_EQ(fs::file_size(raw), 50u * 320 * 240 * 3 / 2);

  TRunResult back = Convert(raw, {{"f", "rawvideo"}, {"s", "320x240"}, {"pix_fmt", "yuv420p"}, {"r", "25"}},
                            dir + "/back.avi", {{"vcodec", "mpeg4"}});
  ASSERT_FALSE(back.Failed) << back.ErrorMessage;
  FileSummary out = Inspect(dir + "/back.avi");
  ASSERT_TRUE(out.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ(out.First(AVMEDIA_TYPE_VIDEO)->Width, 320);
  EXPECT_EQ(out.First(AVMEDIA_TYPE_VIDEO)->Packets, 50);
  EXPECT_NEAR(out.First(AVMEDIA_TYPE_VIDEO)->End, 2.0, 0.05);
}
