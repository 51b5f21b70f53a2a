// The conversion component's API without scheduling: option-string syntax, refusals,
// limits, failure reporting and how the option records reach an output.
#include "converter_support.h"

using namespace convtest;

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

TEST(ExtOptionsSyntax, SplitsTrimsAndLowersNamesOnly) {
  struct Case {
    const char *text;
    Lines lines;
  } cases[] = {
      {"vcodec=libx264<CRLF>vpre=libx264-ipod320<CRLF>newaudio",
       {{"vcodec", "libx264"}, {"vpre", "libx264-ipod320"}, {"newaudio", ""}}},
      {"  \r\nab=128000\r\nar=44100\rac=2\n\n", {{"ab", "128000"}, {"ar", "44100"}, {"ac", "2"}}},
      {"VCodec=MPEG4", {{"vcodec", "MPEG4"}}},
      {"metadata=title=a=b", {{"metadata", "title=a=b"}}},
      // Lines are not trimmed inside: a padded name stays padded and matches nothing.
      {"ab=1<CRLF> ar = 2 <CRLF><CRLF>", {{"ab", "1"}, {" ar ", " 2 "}}},
      {"an=", {{"an", ""}}},
      {"", {}},
      {"<crlf>", {{"<crlf>", ""}}},
  };
  for (const auto &c : cases) EXPECT_EQ(ParseExtOptions(c.text), c.lines) << c.text;
}

TEST_F(ConverterTest, ProgressIntervalHasAFloorOf100ms) {
  const std::pair<int, int> cases[] = {{50, 100}, {-3, 100}, {100, 100}, {750, 750}};
  for (auto [set, read] : cases) {
    converter->SetProgressInterval(set);
    EXPECT_EQ(converter->ProgressInterval(), read) << set;
  }
  EXPECT_EQ(converter->Version(), "3.3");
}

TEST_F(ConverterTest, AddTaskOnUnreadableInputAddsNothingAndSaysWhy) {
  const std::string inputs[] = {Out("missing.mp4"), fixtures::Path("random.bin"),
                                fixtures::Path("empty.mp4")};
  for (const auto &input : inputs) {
    EXPECT_EQ(converter->AddTask(input), -1) << input;
    EXPECT_EQ(converter->TaskCount(), 0);
    EXPECT_FALSE(converter->LastErrMsg().empty()) << input;
  }
}

TEST_F(ConverterTest, AddTaskReportsARejectedOptionWithTheEnginesText) {
  TInputOptions in;
  in.ExtOptions = "ss=not-a-time";
  EXPECT_EQ(converter->AddTask(fixtures::Path("av.mp4"), &in), -1);
  EXPECT_EQ(converter->TaskCount(), 0);
  EXPECT_FALSE(converter->LastErrMsg().empty());

  in.ExtOptions = {};
  in.FileFormat = "no-such-container";
  EXPECT_EQ(converter->AddTask(fixtures::Path("av.mp4"), &in), -1);
  EXPECT_NE(converter->LastErrMsg().find("no-such-container"), std::string::npos)
      << converter->LastErrMsg();
}

TEST_F(ConverterTest, TwentyOutputsPerTaskAtMost) {
  const int task = Add("av.mp4");
  for (int i = 0; i < kMaxFiles; ++i)
    ASSERT_TRUE(converter->SetOutputFile(task, Out("o" + std::to_string(i) + ".mkv")))
        << i << ": " << converter->LastErrMsg();
  EXPECT_FALSE(converter->SetOutputFile(task, Out("one-too-many.mkv")));
  EXPECT_EQ(converter->LastErrMsg(), "max output files 20 reached");
  EXPECT_THROW(converter->SetOutputFile(task + 1, Out("x.mkv")), std::out_of_range);
}

TEST_F(ConverterTest, AFinishedListRefusesChangesUntilCleared) {
  Output(Add("av.mp4"), "copy.mkv");
  converter->StartTask(0);
  ASSERT_TRUE(FinalSeen());

  TOutputOptions none;
  const std::pair<const char *, std::function<void()>> refused[] = {
      {"Cannot AddTask while working.", [&] { converter->AddTask(fixtures::Path("av.mp4")); }},
      {"Cannot SetOutputFile while working.",
       [&] { converter->SetOutputFile(0, Out("again.mkv"), &none); }},
      {"Cannot RemoveTask while working.", [&] { converter->RemoveTask(0); }},
      {"Cannot StartTask while working.", [&] { converter->StartTask(1); }},
  };
  for (const auto &[message, call] : refused) {
    try {
      call();
      ADD_FAILURE() << "not refused: " << message;
    } catch (const std::runtime_error &e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  EXPECT_EQ(converter->TaskCount(), 1);
  converter->ClearTasks();
  EXPECT_EQ(converter->TaskCount(), 0);
  EXPECT_GE(converter->AddTask(fixtures::Path("av.mp4")), 0) << converter->LastErrMsg();
}

TEST_F(ConverterTest, ClearTasksIsRefusedWhileATaskRuns) {
  AddSlow("slow.mkv");
  converter->StartTask(1);
  try {
    converter->ClearTasks();
    ADD_FAILURE() << "ClearTasks was not refused";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
  }
  converter->Stop(true);
  ASSERT_TRUE(WaitForFinal());
  converter->ClearTasks();
}

TEST_F(ConverterTest, StartingAnEmptyListEndsTheRunAtOnce) {
  converter->StartTask(1);
  ASSERT_TRUE(WaitForFinal(std::chrono::seconds(5)));
  const auto events = Terminations();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].Info.Finished);
  EXPECT_FALSE(converter->Working());
  converter->ClearTasks();
  EXPECT_GE(converter->AddTask(fixtures::Path("av.mp4")), 0);
}

TEST_F(ConverterTest, RemoveTaskMovesLaterTasksDown) {
  const int first = Add("av.mp4");
  Add("av.mkv");
  Output(first, "never.mkv");
  converter->RemoveTask(0);
  ASSERT_EQ(converter->TaskCount(), 1);
  EXPECT_EQ(converter->Task(0).Index, 0);
  EXPECT_NE(converter->TaskProbe(0, 0)->FormatName().find("matroska"), std::string::npos);
  // The removed task's output was never written: no empty file is left behind.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Out("never.mkv"))));
}

// The record's codecs serve the first stream of each kind; each "newaudio" takes the next
// codec named in ExtOptions, and the record's value once they run out.
TEST_F(ConverterTest, ExtraStreamsTakeQueuedCodecsInOrder) {
  const int task = Add("av.mp4");
  TOutputOptions o;
  o.VideoDisable = true;
  o.AudioCodec = "mp2";
  o.ExtOptions = "acodec=pcm_s16le<CRLF>newaudio<CRLF>acodec=flac<CRLF>newaudio<CRLF>newaudio";
  Output(task, "streams.mkv", o);
  converter->StartTask(0);
  ASSERT_TRUE(TerminationOf(0).Finished) << TerminationOf(0).ErrorMessage;

  const OutputFacts out = ReadOutput(Out("streams.mkv"));
  ASSERT_TRUE(out.Opened);
  EXPECT_EQ(out.Codecs, (std::vector<AVCodecID>{AV_CODEC_ID_MP2, AV_CODEC_ID_PCM_S16LE,
                                                AV_CODEC_ID_FLAC, AV_CODEC_ID_MP2}));
}

// When the record leaves a codec empty, the first one ExtOptions names fills it.
TEST_F(ConverterTest, FirstExtOptionsCodecFillsAnEmptyRecordField) {
  const int task = Add("av.mp4");
  TOutputOptions o;
  o.VideoDisable = true;
  o.ExtOptions = "acodec=pcm_s16le<CRLF>newaudio";
  Output(task, "filled.mkv", o);
  converter->StartTask(0);
  ASSERT_TRUE(TerminationOf(0).Finished) << TerminationOf(0).ErrorMessage;
  EXPECT_EQ(ReadOutput(Out("filled.mkv")).Codecs,
            (std::vector<AVCodecID>{AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S16LE}));
}

TEST_F(ConverterTest, RecordFieldsReachTheOutput) {
  TInputOptions in;
  in.StartTime = 500000; // the input is read from 0.5 s on
  const int task = converter->AddTask(fixtures::Path("av.mp4"), &in);
  ASSERT_GE(task, 0) << converter->LastErrMsg();
  TOutputOptions o;
  o.FileFormat = "matroska"; // the name alone would not tell
  o.AudioDisable = true;
  o.VideoCodec = "mpeg4";
  o.Duration = 1000000;
  o.StreamInfo.Title = "A title";
  o.StreamInfo.Album = "An album";
  o.StreamInfo.Year = 2009;
  Output(task, "fields.out", o);

  int64_t totalDuration = 0;
  converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo p) {
    totalDuration = p->TotalDuration;
  };
  converter->StartTask(0);
  ASSERT_TRUE(TerminationOf(0).Finished) << TerminationOf(0).ErrorMessage;
  EXPECT_EQ(totalDuration, 1000000);

  const OutputFacts out = ReadOutput(Out("fields.out"));
  ASSERT_TRUE(out.Opened);
  EXPECT_EQ(out.Types, std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});
  EXPECT_EQ(out.Codecs, std::vector<AVCodecID>{AV_CODEC_ID_MPEG4});
  EXPECT_NEAR(out.Seconds, 1.0, 0.15);
  EXPECT_EQ(out.Tag("title"), "A title");
  EXPECT_EQ(out.Tag("album"), "An album");
}

// The engine closes its input when a run ends; the task's probe still answers after it.
TEST_F(ConverterTest, TaskProbeOutlivesTheRun) {
  const int task = Add("av.mp4");
  Output(task, "probe.mkv");
  TFileStreamInfo before;
  converter->TaskProbe(task, 0)->GetFileStreamInfo(before);
  converter->StartTask(0);
  ASSERT_TRUE(TerminationOf(0).Finished);
  TFileStreamInfo after;
  converter->TaskProbe(task, 0)->GetFileStreamInfo(after);
  EXPECT_GT(before.Duration, 1900000);
  EXPECT_EQ(after.Duration, before.Duration);
  EXPECT_EQ(converter->TaskProbe(task, 0)->StreamCount(), 2);
}

} // namespace
