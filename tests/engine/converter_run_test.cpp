// Running tasks through the conversion component: scheduling, the threads each event
// arrives on, stopping, pausing, failures, worker priorities and the preview window.
#include "converter_support.h"

#include "engine/previewer.h"
#include "transcode_support.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <set>

using namespace convtest;
using namespace std::chrono_literals;

namespace {

// Three tasks one at a time, the middle one without an output: every task gets its own
// event off the user-interface thread, the failure does not stop the list, and the
// closing event comes last.
TEST_F(ConverterTest, OneAtATimeWithAFailedStartInTheMiddle) {
  Output(Add("av.mp4"), "first.mkv");
  Add("av.mkv");
  Output(Add("av.avi"), "third.mkv");
  converter->StartTask(1);
  ASSERT_TRUE(WaitForFinal());

  const auto events = Terminations();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events.back().Info.TaskIndex, -1);
  EXPECT_TRUE(events.back().Info.Finished);
  std::set<std::thread::id> threads;
  for (const auto &e : events) {
    EXPECT_NE(e.Thread, std::this_thread::get_id());
    threads.insert(e.Thread);
  }
  EXPECT_EQ(threads.size(), 4u) << "each event has a thread of its own";

  EXPECT_TRUE(TerminationOf(0).Finished);
  const TTerminateInfo second = TerminationOf(1);
  EXPECT_FALSE(second.Finished);
  EXPECT_TRUE(second.Failed);
  EXPECT_EQ(second.ErrorMessage, "At least one output file must be specified");
  EXPECT_TRUE(TerminationOf(2).Finished) << TerminationOf(2).ErrorMessage;
  for (const char *name : {"first.mkv", "third.mkv"})
    EXPECT_NEAR(ReadOutput(Out(name)).Seconds, 2.0, 0.2) << name;
}

// count bounds how many tasks run at once: observed from the workers themselves.
TEST_F(ConverterTest, CountBoundsTheTasksRunningAtOnce) {
  for (int count : {1, 2}) {
    SCOPED_TRACE(count);
    converter->ClearTasks();
    {
      std::lock_guard lock(mutex_);
      terminations_.clear();
    }
    for (int i = 0; i < 3; ++i) AddSlow("c" + std::to_string(count) + std::to_string(i) + ".mkv", 0.8);
    std::atomic<int> most{0};
    converter->TriggerEventInMainThread = false;
    converter->OnProgress = [&](TCustomMediaConverter *sender, PProgressInfo) {
      auto &c = *static_cast<TMediaConverter *>(sender);
      int running = 0;
      for (int i = 0; i < c.TaskCount(); ++i) running += c.Task(i).Working();
      int seen = most;
      while (running > seen && !most.compare_exchange_weak(seen, running)) {
      }
    };
    converter->StartTask(count);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(most, count);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(TerminationOf(i).Finished) << i;
  }
}

TEST_F(ConverterTest, InlineRunDeliversEverythingOnTheCallersThread) {
  Output(Add("av.mp4"), "a.mkv");
  Output(Add("av.mkv"), "b.mkv");
  std::set<std::thread::id> progressThreads;
  converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo) {
    progressThreads.insert(std::this_thread::get_id());
  };
  converter->StartTask(0);
  // Everything happened before StartTask returned.
  const auto events = Terminations();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Info.TaskIndex, 0);
  EXPECT_EQ(events[1].Info.TaskIndex, 1);
  EXPECT_EQ(events[2].Info.TaskIndex, -1);
  for (const auto &e : events) EXPECT_EQ(e.Thread, std::this_thread::get_id());
  EXPECT_EQ(progressThreads, std::set<std::thread::id>{std::this_thread::get_id()});
}

// A handler that throws is logged; the count of ended tasks, and so the closing event, is
// not lost with it.
TEST_F(ConverterTest, AThrowingTerminationHandlerStillLetsTheRunEnd) {
  for (int count : {0, 1}) {
    SCOPED_TRACE(count);
    converter->ClearTasks();
    {
      std::lock_guard lock(mutex_);
      terminations_.clear();
    }
    Output(Add("av.mp4"), "t" + std::to_string(count) + ".mkv");
    converter->OnTerminate = [this](TCustomMediaConverter *, const TTerminateInfo &info) {
      {
        std::lock_guard lock(mutex_);
        terminations_.push_back({info, std::this_thread::get_id()});
      }
      if (info.TaskIndex >= 0) throw std::runtime_error("handler failed");
    };
    converter->StartTask(count);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(Terminations().size(), 2u);
  }
}

// Progress and preview bitmaps come on the user-interface thread unless the host says
// otherwise; the hook always runs on the worker and only for tasks that asked for it.
TEST_F(ConverterTest, EventsArriveOnTheirThreads) {
  for (bool inMain : {true, false}) {
    SCOPED_TRACE(inMain);
    converter->ClearTasks();
    {
      std::lock_guard lock(mutex_);
      terminations_.clear();
    }
    TOutputOptions hooked;
    hooked.VideoCodec = "mpeg4";
    hooked.AudioDisable = true;
    hooked.CustomHook = true;
    TOutputOptions plain = hooked;
    plain.CustomHook = false;
    const int withHook = Add("av.mp4");
    Output(withHook, "hooked.mkv", hooked);
    Output(Add("av.mp4"), "plain.mkv", plain);

    std::mutex m;
    std::set<std::thread::id> progressThreads, previewThreads, hookThreads;
    std::set<int> hookTasks;
    int hookFrames = 0, previews = 0;
    QSize previewSize;
    converter->TriggerEventInMainThread = inMain;
    converter->SetPreviewBitmap(true);
    converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo) {
      std::lock_guard lock(m);
      progressThreads.insert(std::this_thread::get_id());
    };
    converter->OnPreviewBitmap = [&](TCustomMediaConverter *, const TPreviewInfo &info) {
      std::lock_guard lock(m);
      previewThreads.insert(std::this_thread::get_id());
      previewSize = info.Bitmap->size();
      ++previews;
    };
    converter->OnCustomHook = [&](TCustomMediaConverter *, PHookInfo info) {
      std::lock_guard lock(m);
      hookThreads.insert(std::this_thread::get_id());
      hookTasks.insert(info->TaskIndex);
      EXPECT_EQ(info->FrameNumber, ++hookFrames);
      EXPECT_EQ(info->Bitmap->format(), QImage::Format_BGR888);
    };
    converter->StartTask(1);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_TRUE(TerminationOf(0).Finished) << TerminationOf(0).ErrorMessage;

    std::lock_guard lock(m);
    const auto ui = std::this_thread::get_id();
    ASSERT_FALSE(progressThreads.empty());
    ASSERT_FALSE(previewThreads.empty());
    EXPECT_EQ(progressThreads.count(ui) == progressThreads.size(), inMain);
    EXPECT_EQ(previewThreads.count(ui) == previewThreads.size(), inMain);
    EXPECT_EQ(previewSize, QSize(320, 240));
    EXPECT_GT(hookFrames, 40); // about every one of the 50 pictures, numbered from 1
    EXPECT_EQ(hookTasks, std::set<int>{withHook});
    EXPECT_EQ(hookThreads.count(ui), 0u);
  }
}

// The user-interface thread stops while a worker waits for it to run a progress
// handler: the wait serves that handler, the task ends with its trailer written.
TEST_F(ConverterTest, WaitingStopServesAPendingProgressHandler) {
  AddSlow("stopped.mkv");
  std::atomic<int> progress{0};
  converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo) { ++progress; };
  converter->StartTask(1);
  // Not serving events: the worker's first progress report is left waiting for us.
  std::this_thread::sleep_for(900ms);
  EXPECT_EQ(progress, 0);
  const auto started = std::chrono::steady_clock::now();
  converter->Stop(true);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_GE(progress, 1);
  EXPECT_FALSE(converter->Task(0).Working());
  ASSERT_TRUE(WaitForFinal());

  const TTerminateInfo info = TerminationOf(0);
  EXPECT_FALSE(info.Finished);
  EXPECT_FALSE(info.Failed) << info.ErrorMessage;
  const OutputFacts out = ReadOutput(Out("stopped.mkv"));
  ASSERT_TRUE(out.Opened);
  EXPECT_GT(out.Seconds, 0.3);
  EXPECT_LT(out.Seconds, 1.8);
}

TEST_F(ConverterTest, NonWaitingStopEndsTheRunningTaskAndTheUnstartedOnes) {
  for (int i = 0; i < 5; ++i) AddSlow("five" + std::to_string(i) + ".mkv");
  converter->StartTask(1);
  ASSERT_TRUE(WaitPumping([&] { return converter->Task(0).Working(); }, 5s));
  std::this_thread::sleep_for(300ms);
  const auto started = std::chrono::steady_clock::now();
  converter->Stop(false);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 300ms);
  ASSERT_TRUE(WaitForFinal());

  const auto events = Terminations();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events.back().Info.TaskIndex, -1);
  for (int i = 0; i < 5; ++i) {
    const TTerminateInfo info = TerminationOf(i);
    EXPECT_FALSE(info.Finished) << i;
    EXPECT_FALSE(info.Failed) << i << ": " << info.ErrorMessage;
  }
  EXPECT_TRUE(ReadOutput(Out("five0.mkv")).Opened);
}

TEST_F(ConverterTest, PauseHoldsATaskUntilResumedOrStopped) {
  for (bool resume : {true, false}) {
    SCOPED_TRACE(resume);
    converter->ClearTasks();
    {
      std::lock_guard lock(mutex_);
      terminations_.clear();
    }
    AddSlow(resume ? "resumed.mkv" : "paused-then-stopped.mkv", 1.5);
    std::atomic<int> progress{0};
    converter->SetProgressInterval(100);
    converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo) { ++progress; };
    converter->StartTask(1);
    ASSERT_TRUE(WaitPumping([&] { return progress > 0; }, 10s));

    const auto started = std::chrono::steady_clock::now();
    converter->Pause();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);
    WaitPumping([] { return false; }, 300ms); // let a report already under way arrive
    const int before = progress;
    WaitPumping([] { return false; }, 800ms);
    EXPECT_EQ(progress, before) << "a paused task reports no progress";
    EXPECT_TRUE(converter->Task(0).Working());
    EXPECT_FALSE(FinalSeen());

    if (resume)
      converter->Resume();
    else
      converter->Stop(true);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(TerminationOf(0).Finished, resume);
    EXPECT_FALSE(TerminationOf(0).Failed) << TerminationOf(0).ErrorMessage;
  }
}

// A task whose set-up fails ends as failed with the engine's message; the next still runs.
TEST_F(ConverterTest, AFailingTaskReportsItsMessageAndTheListGoesOn) {
  TOutputOptions copyWithHook;
  copyWithHook.VideoCodec = "copy";
  copyWithHook.CustomHook = true;
  Output(Add("av.mp4"), "hook-on-copy.mkv", copyWithHook);
  Output(Add("av.mp4"), "after.mkv");
  converter->OnCustomHook = [](TCustomMediaConverter *, PHookInfo) {};
  converter->StartTask(1);
  ASSERT_TRUE(WaitForFinal());

  const TTerminateInfo failed = TerminationOf(0);
  EXPECT_TRUE(failed.Failed);
  EXPECT_FALSE(failed.Finished);
  EXPECT_EQ(failed.ErrorMessage, "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
  EXPECT_TRUE(TerminationOf(1).Finished) << TerminationOf(1).ErrorMessage;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Out("hook-on-copy.mkv"))))
      << "a failed task leaves no empty output";
}

// Priorities below normal are applied to the worker thread itself.
TEST_F(ConverterTest, WorkerRunsAtTheChosenPriority) {
  const int base = getpriority(PRIO_PROCESS, 0);
  struct Case {
    TThreadPriority priority;
    int policy;
    int nice;
  } cases[] = {
      {tpNormal, SCHED_OTHER, base},
      {tpLower, SCHED_OTHER, std::min(base + 5, 19)},
      {tpLowest, SCHED_OTHER, std::min(base + 10, 19)},
      {tpIdle, SCHED_IDLE, base},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.priority);
    converter->ClearTasks();
    Output(Add("av.mp4"), "prio.mkv");
    int policy = -1, nice = 99;
    converter->TriggerEventInMainThread = false;
    converter->OnProgress = [&](TCustomMediaConverter *, PProgressInfo) {
      policy = sched_getscheduler(0);
      nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    };
    converter->ThreadPriority = c.priority;
    converter->StartTask(1);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(policy, c.policy);
    if (c.policy == SCHED_OTHER) {
      EXPECT_EQ(nice, c.nice);
    }
    std::lock_guard lock(mutex_);
    terminations_.clear();
  }
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), base) << "the caller's own priority is left alone";
}

// A preview window that records what it is shown and can be "closed" by the test.
struct FakeWindow : TPreviewer {
  std::atomic<int> *frames;
  std::atomic<bool> closed{false};
  std::thread::id madeOn = std::this_thread::get_id();
  std::atomic<bool> *freedOnUI;
  void ShowFrame(const QImage &bitmap, int64_t) override {
    EXPECT_EQ(bitmap.size(), QSize(320, 240));
    ++*frames;
  }
  bool Closed() const override { return closed; }
  ~FakeWindow() override { *freedOnUI = IsUIThread(); }
};

// Switching preview on while tasks run opens a window per task; closing one window ends
// preview for that task only, and the window is freed on the user-interface thread.
TEST_F(ConverterTest, PreviewWindowPerRunningTask) {
  std::atomic<int> frames[2] = {0, 0};
  std::atomic<bool> freedOnUI[2] = {false, false};
  std::vector<FakeWindow *> windows;
  PreviewerFactory() = [&]() -> std::unique_ptr<TPreviewer> {
    EXPECT_TRUE(IsUIThread());
    auto w = std::make_unique<FakeWindow>();
    const size_t n = windows.size();
    if (n >= 2) return nullptr;
    w->frames = &frames[n];
    w->freedOnUI = &freedOnUI[n];
    windows.push_back(w.get());
    return w;
  };
  AddSlow("p0.mkv", 3.0);
  AddSlow("p1.mkv", 3.0);
  converter->StartTask(2);
  WaitPumping([] { return false; }, 300ms);
  converter->SetPreview(true);
  ASSERT_TRUE(WaitPumping([&] { return frames[0] >= 2 && frames[1] >= 2; }, 10s));
  windows[0]->closed = true;
  const int shown = frames[0];
  ASSERT_TRUE(WaitPumping([&] { return frames[1] >= shown + 3; }, 10s))
      << "the other task keeps its preview";
  EXPECT_EQ(frames[0], shown) << "a closed window is shown nothing more";
  EXPECT_TRUE(freedOnUI[0]) << "a closed window is freed";

  // Switching preview off frees the remaining window while its task still runs.
  converter->SetPreview(false);
  EXPECT_TRUE(freedOnUI[1]);
  EXPECT_TRUE(converter->Task(0).Working() || converter->Task(1).Working());
  const int last = frames[1];
  ASSERT_TRUE(WaitForFinal());
  PreviewerFactory() = nullptr;
  EXPECT_EQ(windows.size(), 2u);
  EXPECT_EQ(frames[1], last);
  EXPECT_LE(frames[1], 32) << "at most ten previews a second";
}

} // namespace

// Two tasks at once through every path: sound resampled to mono at half the rate with its
// volume halved, pictures deinterlaced, cropped, scaled, padded by a filter text and drawn
// on by the hook, with preview pictures on the way. Both end with what was asked for.
TEST_F(ConverterTest, TwoTasksAtOnceThroughEveryPath) {
  TOutputOptions o;
  o.VideoCodec = "mpeg4";
  o.AudioCodec = "mp2";
  o.AudioChannels = 1;
  o.AudioSampleRate = 22050;
  o.AudioVolume = 128;
  o.AudioSyncMethod = 1;
  o.CropTop = 16;
  o.FrameSize = "160x112";
  o.VideoFilters = "pad=160:120:0:4";
  o.CustomHook = true;
  o.ExtOptions = "deinterlace";
  // Read at the sources' own pace, so that each task lasts long enough to meet the other.
  const int first = Add("av.mp4", "re"), second = Add("av.mkv", "re");
  Output(first, "both1.avi", o);
  Output(second, "both2.avi", o);

  std::atomic<int> hooked[2] = {0, 0}, previews{0}, running{0}, most{0};
  converter->TriggerEventInMainThread = false;
  converter->SetPreviewBitmap(true);
  converter->OnPreviewBitmap = [&](TCustomMediaConverter *, const TPreviewInfo &) { ++previews; };
  converter->OnCustomHook = [&](TCustomMediaConverter *sender, PHookInfo info) {
    info->Bitmap->fill(Qt::red);
    ++hooked[info->TaskIndex == first ? 0 : 1];
    auto &c = *static_cast<TMediaConverter *>(sender);
    int now = c.Task(first).Working() + c.Task(second).Working();
    int seen = most;
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
  };
  converter->StartTask(2);
  ASSERT_TRUE(WaitForFinal());
  EXPECT_EQ(most, 2) << "the tasks did not run at the same time";
  EXPECT_GT(previews, 0);
  for (int task : {first, second}) {
    SCOPED_TRACE(task);
    EXPECT_TRUE(TerminationOf(task).Finished) << TerminationOf(task).ErrorMessage;
    EXPECT_EQ(hooked[task == first ? 0 : 1], 50);
    const ts::FileSummary out = ts::Inspect(Out(task == first ? "both1.avi" : "both2.avi"));
    const ts::StreamSummary *v = out.First(AVMEDIA_TYPE_VIDEO), *a = out.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->Width, 160);
    EXPECT_EQ(v->Height, 120);
    EXPECT_EQ(v->Packets, 50);
    EXPECT_EQ(a->Channels, 1);
    EXPECT_EQ(a->SampleRate, 22050);
    EXPECT_NEAR(a->End - a->FirstPts, 2.0, 0.05);
  }
}
