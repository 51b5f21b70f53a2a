// The conversion task component: the list of tasks, their option records, scheduling on
// worker threads and the four events. What a task does with its options is the engine's.
#pragma once

#include "engine/records.h"
#include "engine/transcoder.h"
#include "media/avprobe.h"
#include "media/event_property.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The lines of an ExtOptions text as (lower-cased name, value) pairs: "<CRLF>" and every
// line break separate lines; empty lines are dropped; a name alone has an empty value.
std::vector<std::pair<std::string, std::string>> ParseExtOptions(const std::string &text);

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A manual-reset event: stays signalled until reset.
class TManualEvent {
public:
  explicit TManualEvent(bool signalled) : signalled_(signalled) {}
  void Set();
  void Reset();
  bool IsSet() const;
  // Waits for the signal; on the user-interface thread it keeps serving queued calls
  // and window messages meanwhile, so that a worker it waits for can finish its events.
  void WaitPumping() const;

private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cond_;
  bool signalled_;
};

// One conversion task: an engine with one input and up to kMaxFiles outputs, the copies
// of their option records, the input's probe and the task's run state.
class TFFmpeg {
public:
  TFFmpeg();
  // Stops the task and waits for it, then releases everything it opened.
  ~TFFmpeg();
  TFFmpeg(const TFFmpeg &) = delete;
  TFFmpeg &operator=(const TFFmpeg &) = delete;

  TCustomFFmpeg &Engine() { return *engine_; }

  std::array<std::unique_ptr<TAVProbe>, kMaxFiles> Probes;
  std::array<std::unique_ptr<TInputOptions>, kMaxFiles> InputOptions;
  std::array<std::unique_ptr<TOutputOptions>, kMaxFiles> OutputOptions;
  std::string InputFileName; // the file the engine opened (UTF-8)
  std::string InputFormat;   // forced container, if any

  bool Working() const { return working_; }
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  bool Failed() const { return failed_; }
  std::string ErrorMessage() const;
  // The task's position in the list; kept up to date by the component.
  std::atomic<int> Index{-1};

  // Starts the run: on a worker thread at that priority when threaded, else inline.
  // A task that is working or terminated is left alone; one without input or output
  // terminates at once as failed.
  void Start(bool threaded, TThreadPriority priority);
  // Asks a working task to stop and lets a paused one go on so it can.
  void RequestStop();
  void Pause();
  void Resume();
  // Blocks until no worker of this task runs (serving the user-interface thread).
  void WaitForWorker() const { workerIdle_.WaitPumping(); }
  // Terminates a task that never started, on a thread of its own; optionally waits.
  void TerminateUnstarted(bool wait);

  // Called once per termination, on the thread that ends the task.
  std::function<void(TFFmpeg &)> TerminationSlot;

private:
  void run();
  void fail(const std::string &message);
  void terminate();

  std::unique_ptr<TCustomFFmpeg> engine_;
  std::atomic<bool> working_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> terminating_{false};
  mutable std::mutex messageLock_;
  std::string errorMessage_;
  std::thread worker_;
  std::thread terminator_;
  TManualEvent workerIdle_{true};
  TManualEvent terminatorIdle_{true};
};

class TCustomMediaConverter {
public:
  TCustomMediaConverter();
  // Stops every task and waits for it, then waits for every termination handler.
  virtual ~TCustomMediaConverter();
  TCustomMediaConverter(const TCustomMediaConverter &) = delete;
  TCustomMediaConverter &operator=(const TCustomMediaConverter &) = delete;

  // Loads the conversion libraries from `folder` (empty: the system's search).
  bool LoadAVLib(const std::string &folder);
  // Opens the input as a new task; its index, or -1 with LastErrMsg set.
  int AddTask(const std::string &fileName, const TInputOptions *options = nullptr);
  // Adds one output file to a task; false with LastErrMsg set. An index outside the
  // list throws std::out_of_range.
  bool SetOutputFile(int taskIndex, const std::string &fileName,
                     const TOutputOptions *options = nullptr);
  void RemoveTask(int taskIndex);
  void ClearTasks();
  // count > 0: at most count tasks at once on worker threads; count <= 0: every task
  // runs to its end inside this call.
  void StartTask(int count);
  // Stops the list: no further task starts, running ones end with their trailers
  // written, unstarted ones terminate as not finished.
  void Stop(bool wait);
  // Holds every running task at its next safe point; returns at once.
  void Pause();
  void Resume();

  int TaskCount() const { return static_cast<int>(tasks_.size()); }
  TAVProbe *TaskProbe(int taskIndex, int fileIndex);
  TFFmpeg &Task(int taskIndex) { return *tasks_.at(taskIndex); }
  const std::string &LastErrMsg() const { return lastErrMsg_; }
  TAVProbe &AVProbe() { return *probe_; }

  // Published properties.
  std::string About;
  const std::string &Version() const;
  bool Preview() const { return preview_; }
  void SetPreview(bool on);
  bool PreviewBitmap() const { return previewBitmap_; }
  void SetPreviewBitmap(bool on);
  int ProgressInterval() const { return progressInterval_; }
  void SetProgressInterval(int ms);
  TThreadPriority ThreadPriority = tpNormal;
  std::atomic<bool> TriggerEventInMainThread{true};

  TEventProperty<TCustomHookEvent> OnCustomHook;
  TEventProperty<TPreviewBitmapEvent> OnPreviewBitmap;
  TEventProperty<TProgressEvent> OnProgress;
  TEventProperty<TTerminateEvent> OnTerminate;

  bool Working() const;
  bool AllTerminated() const;

protected:
  // Stops every task and waits for it and for every termination handler. A derived
  // class's destructor calls it first: workers call the virtual slots below until then.
  void Shutdown();

  // The engine's slots, in the order the engine knows them.
  virtual void DoCustomHook(TFFmpeg &task, THookInfo &info);
  virtual void DoPreviewBitmap(TFFmpeg &task, const TPreviewInfo &info);
  virtual void DoProgress(TFFmpeg &task, const TProgressInfo &info);
  virtual void DoTerminate(TFFmpeg &task);

private:
  void checkWorking(const char *operation) const;
  void applyExtOptions(TFFmpeg &task, const std::string &text, bool inputMode);
  void startNext();
  void raiseTermination(const TTerminateInfo &info, bool final);
  void setFlagBit(uint8_t bit, bool on);
  void renumber();

  std::vector<std::unique_ptr<TFFmpeg>> tasks_;
  std::unique_ptr<TAVProbe> probe_;
  std::string lastErrMsg_;
  bool preview_ = false;
  bool previewBitmap_ = false;
  int progressInterval_ = 500;

  // The four event locks.
  std::mutex hookLock_;
  std::mutex previewBitmapLock_;
  std::mutex progressLock_;
  std::recursive_mutex terminateLock_; // inline handlers may call Stop

  // Scheduling state, under terminateLock_.
  int nextIndex_ = -1;
  int stillToStart_ = 0;
  int terminatedCount_ = 0;
  bool threaded_ = false;
  std::atomic<bool> working_{false};
  std::atomic<bool> allTerminated_{false};

  // Termination handler threads: joined when the component goes, and the final event
  // waits for the ones before it so that it really comes last.
  struct HandlerThread {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };
  std::mutex handlerThreadsLock_;
  std::condition_variable handlerThreadsDone_;
  std::vector<HandlerThread> handlerThreads_;
  int runningTaskHandlers_ = 0;
  void reapHandlerThreads(bool all);
};

class TMediaConverter : public TCustomMediaConverter {
public:
  ~TMediaConverter() override { Shutdown(); }
};
