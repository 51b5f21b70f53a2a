// The conversion task component: task list, option records applied to each task's engine,
// scheduling and the events. The conversion itself is the engine's (TCustomFFmpeg).
#include "engine/media_converter.h"

#include "engine/ffmpeg_exception.h"
#include "engine/options.h"
#include "engine/previewer.h"
#include "engine/transcode_state.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/synccall.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>
#include <system_error>

namespace {

constexpr uint8_t kPreviewWindowBit = 1;
constexpr uint8_t kPreviewBitmapBit = 2;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
  char buf[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

// The nice value each priority adds to a worker; idle is a scheduling class instead.
constexpr int kNiceDelta[] = {0, 10, 5, 0, -5, -10, -20};

// Runs on the worker itself: on Linux nice values and scheduling classes are per thread.
void applyPriority(const void *sender, TThreadPriority priority) {
  if (priority == tpIdle) {
    sched_param param{};
    if (int err = pthread_setschedparam(pthread_self(), SCHED_IDLE, &param))
      FFLogger().LogFmt(sender, llWarning, "Cannot run the worker at idle priority: %s",
                        std::strerror(err));
    return;
  }
  const int delta = kNiceDelta[priority];
  if (delta == 0) return;
  const id_t tid = static_cast<id_t>(gettid());
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno != 0) return;
  if (setpriority(PRIO_PROCESS, tid, current + delta) != 0)
    FFLogger().LogFmt(sender, llWarning,
                      "Cannot change the worker's priority (nice %+d): %s; it runs at normal "
                      "priority",
                      delta, std::strerror(errno));
}

// TDateTime (days since 1899-12-30, local time) to seconds since 1970-01-01 UTC.
int64_t dateTimeToUnix(double value) {
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const double biasMinutes = -static_cast<double>(local.tm_gmtoff) / 60.0; // UTC - local
  return std::llround((value - 25569.0 + biasMinutes / 1440.0) * 86400.0);
}

// Options whose values are collected per output and handed out to its streams.
const char *const kStreamOptions[] = {"acodec", "vcodec", "scodec", "apre", "vpre",
                                      "spre",   "s",      "vfilters", "vf"};

// Which per-stream options a "newaudio"/"newvideo"/"newsubtitle" line takes first.
const std::map<std::string, std::vector<std::string>> kPerStreamOptions = {
    {"newaudio", {"acodec", "apre"}},
    {"newvideo", {"vcodec", "vpre", "s", "vf"}},
    {"newsubtitle", {"scodec", "spre"}},
};

// The default list of an output: the record's own values ("def_" entries), and the queue
// of every per-stream value its ExtOptions named, in order.
struct DefaultList {
  std::map<std::string, std::string> Defaults;
  std::vector<std::pair<std::string, std::string>> Queue;

  // The first queued value of that name (removed from the queue), else the default.
  std::string Take(const std::string &name) {
    for (auto it = Queue.begin(); it != Queue.end(); ++it)
      if (it->first == name) {
        std::string value = it->second;
        Queue.erase(it);
        return value;
      }
    return Defaults["def_" + name];
  }
};

DefaultList buildDefaults(const TOutputOptions &o) {
  DefaultList list;
  list.Defaults = {{"def_acodec", o.AudioCodec},   {"def_vcodec", o.VideoCodec},
                   {"def_scodec", o.SubtitleCodec}, {"def_apre", o.AudioPreset},
                   {"def_vpre", o.VideoPreset},     {"def_spre", o.SubtitlePreset},
                   {"def_s", o.FrameSize},          {"def_vf", o.VideoFilters}};
  for (auto [name, value] : ParseExtOptions(o.ExtOptions)) {
    if (value.empty() || std::find(std::begin(kStreamOptions), std::end(kStreamOptions), name) ==
                             std::end(kStreamOptions))
      continue;
    if (name == "vfilters") name = "vf";
    std::string &def = list.Defaults["def_" + name];
    if (def.empty()) def = value;
    list.Queue.emplace_back(name, value);
  }
  return list;
}

void dispatchIfSet(TCustomFFmpeg &engine, const char *name, const std::string &value) {
  if (!value.empty()) DispatchOption(engine, name, value);
}

// The record's fields in the order of the record, after the codecs and presets.
void applyOutputFields(TCustomFFmpeg &e, const TOutputOptions &o) {
  TOptionState &state = e.Options();
  auto num = [&](const char *name, int value, bool applies) {
    if (applies) DispatchOption(e, name, std::to_string(value));
  };
  auto seconds = [&](const char *name, float value) {
    if (value > 0) DispatchOption(e, name, format("%g", static_cast<double>(value)));
  };
  dispatchIfSet(e, "f", o.FileFormat);
  num("packetsize", o.PacketSize, o.PacketSize > 0);
  num("muxrate", o.MuxRate, o.MuxRate > 0);
  seconds("muxdelay", o.MuxDelay);
  seconds("muxpreload", o.MuxPreload);
  if (o.AudioDisable) DispatchOption(e, "an", "1");
  num("vol", o.AudioVolume, o.AudioVolume >= 0);
  num("ac", o.AudioChannels, o.AudioChannels > 0);
  num("ar", o.AudioSampleRate, o.AudioSampleRate > 0);
  num("ab", o.AudioBitrate, o.AudioBitrate > 0);
  num("abt", o.AudioBitrateTolerance, o.AudioBitrateTolerance > 0);
  state.AudioLanguage = o.AudioLanguage;
  state.AudioSyncMethod = o.AudioSyncMethod;
  dispatchIfSet(e, "atag", o.AudioTag);
  if (o.VideoDisable) DispatchOption(e, "vn", "1");
  dispatchIfSet(e, "r", o.FrameRate);
  dispatchIfSet(e, "aspect", o.FrameAspectRatio);
  num("croptop", o.CropTop, o.CropTop > 0);
  num("cropbottom", o.CropBottom, o.CropBottom > 0);
  num("cropleft", o.CropLeft, o.CropLeft > 0);
  num("cropright", o.CropRight, o.CropRight > 0);
  num("g", o.GopSize, o.GopSize > 0);
  num("vb", o.VideoBitrate, o.VideoBitrate > 0);
  num("maxrate", o.VideoMaxRate, o.VideoMaxRate > 0);
  num("minrate", o.VideoMinRate, o.VideoMinRate > 0);
  num("bt", o.VideoBitrateTolerance, o.VideoBitrateTolerance > 0);
  num("bufsize", o.VideoBufSize, o.VideoBufSize > 0);
  state.VideoSyncMethod = o.VideoSyncMethod;
  dispatchIfSet(e, "vtag", o.VideoTag);
  state.VideoLanguage = o.VideoLanguage;
  if (o.SubtitleDisable) DispatchOption(e, "sn", "1");
  state.SubtitleLanguage = o.SubtitleLanguage;
  state.InputSync = o.InputSync;
  if (o.CopyTimestamps) DispatchOption(e, "copyts", "1");
  if (o.StartTime != kNoTime) state.StartTime = o.StartTime;
  if (o.Duration != kNoTime) {
    state.RecordingTime = o.Duration;
    e.SetTotalDuration(o.Duration);
  }

  const TStreamInfo &info = o.StreamInfo;
  if (info.TimeStamp == 0.0)
    state.RecordingTimestamp = std::time(nullptr);
  else if (info.TimeStamp > 0.0)
    state.RecordingTimestamp = dateTimeToUnix(info.TimeStamp);
  if (info.Year > 0) DispatchOption(e, "metadata", "year=" + std::to_string(info.Year));
  if (info.Track > 0) DispatchOption(e, "metadata", "track=" + std::to_string(info.Track));
  const std::pair<const char *, const std::string *> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
  for (const auto &[key, value] : texts)
    if (!value->empty()) DispatchOption(e, "metadata", std::string(key) + "=" + *value);
}

} // namespace

std::vector<std::pair<std::string, std::string>> ParseExtOptions(const std::string &text) {
  std::string s = text;
  // Trim as the host's tools do: every control character and space at both ends.
  const auto blank = [](unsigned char c) { return c <= ' '; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  size_t first = 0;
  while (first < s.size() && blank(s[first])) ++first;
  s.erase(0, first);

  std::string norm;
  norm.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      norm += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (s.compare(i, 6, "<CRLF>") == 0) {
      norm += '\n';
      i += 5;
    } else {
      norm += s[i];
    }
  }

  std::vector<std::pair<std::string, std::string>> lines;
  size_t start = 0;
  while (start <= norm.size()) {
    size_t end = norm.find('\n', start);
    if (end == std::string::npos) end = norm.size();
    const std::string line = norm.substr(start, end - start);
    if (!line.empty()) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos)
        lines.emplace_back(lower(line), std::string());
      else
        lines.emplace_back(lower(line.substr(0, eq)), line.substr(eq + 1));
    }
    start = end + 1;
  }
  return lines;
}

// ---------------------------------------------------------------------------------------
// TManualEvent

void TManualEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cond_.notify_all();
}

void TManualEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool TManualEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

void TManualEvent::WaitPumping() const {
  if (IsUIThread()) {
    ::WaitPumping([this] { return IsSet(); });
    return;
  }
  std::unique_lock lock(mutex_);
  cond_.wait(lock, [this] { return signalled_; });
}

// ---------------------------------------------------------------------------------------
// TFFmpeg

TFFmpeg::TFFmpeg() : engine_(std::make_unique<TCustomFFmpeg>()) {}

TFFmpeg::~TFFmpeg() {
  RequestStop();
  workerIdle_.WaitPumping();
  terminatorIdle_.WaitPumping();
  if (worker_.joinable()) worker_.join();
  if (terminator_.joinable()) terminator_.join();
  // The probes describe the engine's input: let go of it before the engine closes it.
  for (auto &probe : Probes) probe.reset();
  engine_.reset();
}

std::string TFFmpeg::ErrorMessage() const {
  std::lock_guard lock(messageLock_);
  return errorMessage_;
}

void TFFmpeg::fail(const std::string &message) {
  {
    std::lock_guard lock(messageLock_);
    errorMessage_ = message;
  }
  failed_ = true;
}

void TFFmpeg::Start(bool threaded, TThreadPriority priority) {
  if (working_ || terminated_ || terminating_) return;
  const char *refusal = nullptr;
  if (engine_->OutputCount() == 0)
    refusal = "At least one output file must be specified";
  else if (engine_->InputCount() == 0)
    refusal = "At least one input file must be specified";
  if (refusal) {
    try {
      if (FFLoader().LibsLoaded(ConverterLibs)) engine_->Release();
    } catch (const std::exception &e) {
      FFLogger().Log(this, llQuiet, e.what());
    }
    FFLogger().Log(this, llQuiet, refusal);
    fail(refusal);
    terminate();
    return;
  }

  working_ = true;
  engine_->StopRequested = false;
  engine_->Finished = false;
  finished_ = false;
  // Reset here rather than on the worker, so that a Stop that comes before the worker
  // got going still waits for it.
  workerIdle_.Reset();
  if (!threaded) {
    run();
    return;
  }
  try {
    worker_ = std::thread([this, priority] {
      applyPriority(this, priority);
      run();
    });
  } catch (const std::system_error &e) {
    // No thread to be had: the task still ends, as failed, so the list goes on.
    const std::string message = std::string("Cannot start the conversion thread: ") + e.what();
    FFLogger().Log(this, llQuiet, message);
    fail(message);
    terminate();
    workerIdle_.Set();
  }
}

void TFFmpeg::run() {
  workerIdle_.Reset();
  finished_ = false;
  try {
    const TRunResult result = engine_->Run();
    finished_ = result.Finished;
    if (result.Failed) fail(result.ErrorMessage);
  } catch (const std::exception &e) {
    FFLogger().Log(this, llQuiet, e.what());
    fail(e.what());
  }
  try {
    terminate();
  } catch (const std::exception &e) {
    FFLogger().Log(this, llQuiet, e.what());
    fail(e.what());
  }
  workerIdle_.Set();
}

void TFFmpeg::terminate() {
  working_ = false;
  terminated_ = true;
  if (TerminationSlot) TerminationSlot(*this);
}

void TFFmpeg::RequestStop() {
  engine_->StopRequested = true;
  engine_->PauseGate.Open();
}

void TFFmpeg::Pause() {
  if (working_ && !engine_->StopRequested) engine_->PauseGate.Close();
}

void TFFmpeg::Resume() { engine_->PauseGate.Open(); }

void TFFmpeg::TerminateUnstarted(bool wait) {
  if (working_ || terminated_ || terminating_.exchange(true)) return;
  terminatorIdle_.Reset();
  terminator_ = std::thread([this] {
    try {
      terminate();
    } catch (const std::exception &e) {
      FFLogger().Log(this, llQuiet, e.what());
    }
    terminatorIdle_.Set();
  });
  if (wait) terminatorIdle_.WaitPumping();
}

// ---------------------------------------------------------------------------------------
// TCustomMediaConverter

TCustomMediaConverter::TCustomMediaConverter() : probe_(std::make_unique<TAVProbe>()) {}

TCustomMediaConverter::~TCustomMediaConverter() {
  Shutdown();
  tasks_.clear();
}

void TCustomMediaConverter::Shutdown() {
  Stop(true);
  reapHandlerThreads(true);
}

const std::string &TCustomMediaConverter::Version() const {
  static const std::string version = "3.3";
  return version;
}

bool TCustomMediaConverter::Working() const { return working_; }
bool TCustomMediaConverter::AllTerminated() const { return allTerminated_; }

void TCustomMediaConverter::checkWorking(const char *operation) const {
  if (working_) throw std::runtime_error(format("Cannot %s while working.", operation));
}

bool TCustomMediaConverter::LoadAVLib(const std::string &folder) {
  FFLoader().SetLibraryPath(folder);
  if (FFLoader().LoadLibs(ConverterLibs)) return true;
  lastErrMsg_ = FFLoader().LastError();
  return false;
}

void TCustomMediaConverter::renumber() {
  for (size_t i = 0; i < tasks_.size(); ++i) tasks_[i]->Index = static_cast<int>(i);
}

void TCustomMediaConverter::applyExtOptions(TFFmpeg &task, const std::string &text,
                                            bool inputMode) {
  // Handled by the output steps: the default list and the extra streams.
  static const char *const later[] = {"newvideo", "newaudio", "newsubtitle", "apre",
                                      "vpre",     "spre",     "vfilters",    "vf"};
  static const char *const codecs[] = {"acodec", "vcodec", "scodec", "s"};
  for (const auto &[name, value] : ParseExtOptions(text)) {
    if (std::find(std::begin(later), std::end(later), name) != std::end(later)) continue;
    if (!inputMode && std::find(std::begin(codecs), std::end(codecs), name) != std::end(codecs))
      continue;
    DispatchOption(task.Engine(), name, value);
  }
}

int TCustomMediaConverter::AddTask(const std::string &fileName, const TInputOptions *options) {
  checkWorking("AddTask");
  auto task = std::make_unique<TFFmpeg>();
  TFFmpeg *t = task.get();
  TCustomFFmpeg &e = task->Engine();
  try {
    if (FFLoader().LibsLoaded(ConverterLibs)) e.Reset();
    e.Options().Verbose = 1;
    {
      std::lock_guard lock(PreviewLock());
      e.PreviewFlags = (preview_ ? kPreviewWindowBit : 0) | (previewBitmap_ ? kPreviewBitmapBit : 0);
    }
    e.PreviewBitmapSlot = [this, t](const TPreviewInfo &info) { DoPreviewBitmap(*t, info); };

    if (options) {
      auto copy = std::make_unique<TInputOptions>(*options);
      if (copy->FileName.empty()) copy->FileName = fileName;
      applyExtOptions(*task, copy->ExtOptions, true);
      // The fields override what ExtOptions said.
      dispatchIfSet(e, "f", copy->FileFormat);
      if (copy->StartTime != kNoTime) e.Options().StartTime = copy->StartTime;
      if (copy->ProgramID >= 0) DispatchOption(e, "programid", std::to_string(copy->ProgramID));
      task->InputOptions[0] = std::move(copy);
    }
    task->InputFormat = e.Options().FileFormat;

    if (!e.OpenInput(fileName)) {
      lastErrMsg_ = e.LastError;
      return -1;
    }
    task->InputFileName = fileName;
    task->Probes[0] = std::make_unique<TAVProbe>();
    task->Probes[0]->AttachFormatContext(e.State().Inputs.at(0).Ctx);
    e.ProgressSlot = [this, t](const TProgressInfo &info) { DoProgress(*t, info); };
    task->TerminationSlot = [this](TFFmpeg &ended) { DoTerminate(ended); };
  } catch (const std::exception &ex) {
    lastErrMsg_ = ex.what();
    return -1;
  }
  tasks_.push_back(std::move(task));
  renumber();
  return static_cast<int>(tasks_.size()) - 1;
}

bool TCustomMediaConverter::SetOutputFile(int taskIndex, const std::string &fileName,
                                          const TOutputOptions *options) {
  checkWorking("SetOutputFile");
  TFFmpeg &task = *tasks_.at(taskIndex);
  TCustomFFmpeg &e = task.Engine();
  const int slot = e.OutputCount();
  if (slot >= kMaxFiles) {
    lastErrMsg_ = format("max output files %d reached", kMaxFiles);
    return false;
  }
  auto &stored = task.OutputOptions[slot];
  try {
    DefaultList defaults;
    int opened;
    if (options) {
      stored = std::make_unique<TOutputOptions>(*options);
      TOutputOptions &o = *stored;
      if (o.FileName.empty()) o.FileName = fileName;
      defaults = buildDefaults(o);

      static const char *const norms[] = {"auto", "pal", "ntsc"};
      if (o.TargetType >= 1 && o.TargetType <= 3) {
        static const char *const targets[] = {"", "vcd", "svcd", "dvd"};
        const char *norm = o.TargetNorm >= 0 && o.TargetNorm <= 2 ? norms[o.TargetNorm] : "auto";
        ApplyTargetPreset(e, targets[o.TargetType], norm,
                          o.TargetDefaultNorm == 1 ? "pal" : "ntsc");
      }
      for (const char *name : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"})
        dispatchIfSet(e, name, defaults.Defaults[std::string("def_") + name]);
      applyExtOptions(task, o.ExtOptions, false);
      applyOutputFields(e, o);
      dispatchIfSet(e, "s", defaults.Defaults["def_s"]);
      dispatchIfSet(e, "vf", defaults.Defaults["def_vf"]);
      if (o.CustomHook) {
        TFFmpeg *t = &task;
        e.HookSlot = [this, t](THookInfo &info) { DoCustomHook(*t, info); };
      }
      // Joining needs more than one input, which a task never has.
      opened = e.OpenOutput(fileName, o.Join && e.InputCount() > 1);
    } else {
      stored.reset();
      opened = e.OpenOutput(fileName, false);
    }
    if (opened < 0) {
      lastErrMsg_ = e.LastError;
      stored.reset();
      return false;
    }
    if (options) {
      for (const auto &[name, value] : ParseExtOptions(stored->ExtOptions)) {
        auto per = kPerStreamOptions.find(name);
        if (per == kPerStreamOptions.end()) continue;
        for (const std::string &option : per->second)
          dispatchIfSet(e, option.c_str(), defaults.Take(option));
        DispatchOption(e, name, value);
      }
    }
    return true;
  } catch (const std::exception &ex) {
    lastErrMsg_ = ex.what();
    // Keep the record of an output that was opened before the failure.
    if (e.OutputCount() <= slot) stored.reset();
    return false;
  }
}

void TCustomMediaConverter::RemoveTask(int taskIndex) {
  checkWorking("RemoveTask");
  auto task = std::move(tasks_.at(taskIndex));
  tasks_.erase(tasks_.begin() + taskIndex);
  renumber();
  task.reset();
}

void TCustomMediaConverter::ClearTasks() {
  if (working_ && !allTerminated_) throw std::runtime_error("Cannot ClearTasks while working.");
  std::vector<std::unique_ptr<TFFmpeg>> old;
  {
    std::lock_guard lock(terminateLock_);
    old.swap(tasks_);
    lastErrMsg_.clear();
    nextIndex_ = -1;
    stillToStart_ = 0;
    terminatedCount_ = 0;
    threaded_ = false;
    allTerminated_ = false;
    working_ = false;
  }
  old.clear(); // each task waits for its own threads
  reapHandlerThreads(false);
}

TAVProbe *TCustomMediaConverter::TaskProbe(int taskIndex, int fileIndex) {
  return tasks_.at(taskIndex)->Probes.at(fileIndex).get();
}

void TCustomMediaConverter::setFlagBit(uint8_t bit, bool on) {
  std::lock_guard lock(PreviewLock());
  for (auto &task : tasks_) {
    auto &flags = task->Engine().PreviewFlags;
    flags = on ? (flags | bit) : (flags & ~bit);
  }
}

void TCustomMediaConverter::SetPreview(bool on) {
  preview_ = on;
  setFlagBit(kPreviewWindowBit, on);
  // Preview switched off: no window may stay behind showing a stale frame.
  if (!on)
    for (auto &task : tasks_) task->Engine().State().PreviewWindow.Free();
}

void TCustomMediaConverter::SetPreviewBitmap(bool on) {
  previewBitmap_ = on;
  setFlagBit(kPreviewBitmapBit, on);
}

void TCustomMediaConverter::SetProgressInterval(int ms) { progressInterval_ = std::max(ms, 100); }

void TCustomMediaConverter::StartTask(int count) {
  checkWorking("StartTask");
  {
    std::lock_guard lock(terminateLock_);
    nextIndex_ = 0;
    terminatedCount_ = 0;
    stillToStart_ = TaskCount();
    allTerminated_ = false;
    threaded_ = count > 0;
    working_ = true;
  }
  // The engine closes its input at the end of a run; give each probe a file of its own
  // first, so that the host can still read it during and after the run.
  for (auto &task : tasks_) {
    TAVProbe *probe = task->Probes[0].get();
    if (!probe || probe->OwnsContext()) continue;
    probe->AttachFormatContext(nullptr);
    if (!probe->LoadFile(task->InputFileName, task->InputFormat))
      FFLogger().Log(this, llWarning, "Cannot keep the probe of " + task->InputFileName);
  }
  if (tasks_.empty()) {
    // Nothing to run: the run is over at once, so that ClearTasks becomes possible.
    std::lock_guard lock(terminateLock_);
    TTerminateInfo final;
    final.Finished = true;
    allTerminated_ = true;
    raiseTermination(final, true);
    working_ = false;
    return;
  }
  for (;;) {
    {
      std::lock_guard lock(terminateLock_);
      if (stillToStart_ <= 0) break;
      if (threaded_) {
        if (count <= 0) break;
        --count;
      }
    }
    startNext();
  }
}

void TCustomMediaConverter::startNext() {
  TFFmpeg *task;
  {
    std::lock_guard lock(terminateLock_);
    if (stillToStart_ <= 0) return;
    --stillToStart_;
    task = tasks_.at(nextIndex_++).get();
    task->Engine().ProgressInterval = static_cast<int64_t>(progressInterval_) * 1000;
    if (threaded_) {
      // Starting under the lock keeps a Stop from slipping between the choice and the start.
      task->Start(true, ThreadPriority);
      return;
    }
  }
  task->Start(false, ThreadPriority);
}

void TCustomMediaConverter::Stop(bool wait) {
  {
    std::lock_guard lock(terminateLock_);
    stillToStart_ = 0;
  }
  for (size_t i = 0; i < tasks_.size(); ++i) {
    TFFmpeg &task = *tasks_[i];
    if (task.Working()) {
      task.RequestStop();
      if (wait) task.WaitForWorker();
    } else if (!task.Terminated()) {
      task.TerminateUnstarted(wait);
    }
  }
}

void TCustomMediaConverter::Pause() {
  for (auto &task : tasks_) task->Pause();
}

void TCustomMediaConverter::Resume() {
  for (auto &task : tasks_) task->Resume();
}

// ---------------------------------------------------------------------------------------
// Events

void TCustomMediaConverter::DoCustomHook(TFFmpeg &task, THookInfo &info) {
  auto handler = OnCustomHook.Get();
  if (!handler) return;
  std::lock_guard lock(hookLock_);
  info.TaskIndex = task.Index;
  handler(this, &info);
}

void TCustomMediaConverter::DoPreviewBitmap(TFFmpeg &task, const TPreviewInfo &info) {
  auto handler = OnPreviewBitmap.Get();
  if (!handler) return;
  std::lock_guard lock(previewBitmapLock_);
  TPreviewInfo record = info;
  record.TaskIndex = task.Index;
  if (TriggerEventInMainThread)
    SyncCall([&] { handler(this, record); });
  else
    handler(this, record);
}

void TCustomMediaConverter::DoProgress(TFFmpeg &task, const TProgressInfo &info) {
  auto handler = OnProgress.Get();
  if (!handler) return;
  std::lock_guard lock(progressLock_);
  TProgressInfo record = info;
  record.TaskIndex = task.Index;
  if (TriggerEventInMainThread)
    SyncCall([&] { handler(this, &record); });
  else
    handler(this, &record);
}

void TCustomMediaConverter::DoTerminate(TFFmpeg &task) {
  std::unique_lock lock(terminateLock_);
  TTerminateInfo info;
  info.TaskIndex = task.Index;
  info.Finished = task.Finished();
  info.Failed = task.Failed();
  if (info.Failed) info.ErrorMessage = task.ErrorMessage();
  raiseTermination(info, false);
  ++terminatedCount_;
  if (stillToStart_ > 0 && threaded_) {
    startNext();
  } else if (terminatedCount_ >= TaskCount() && !allTerminated_) {
    TTerminateInfo final;
    final.Finished = true;
    allTerminated_ = true;
    raiseTermination(final, true);
  }
}

// Under terminateLock_. Threaded runs hand each event to a thread of its own, so that a
// handler never holds up the worker that ended; inline runs call the handler here.
void TCustomMediaConverter::raiseTermination(const TTerminateInfo &info, bool final) {
  auto handler = OnTerminate.Get();
  if (!threaded_) {
    // A throwing handler must not cost the count that brings the closing event.
    try {
      if (handler) handler(this, info);
    } catch (const std::exception &e) {
      FFLogger().Log(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
    }
    return;
  }
  if (!handler) return;
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(handlerThreadsLock_);
  if (!final) ++runningTaskHandlers_;
  std::thread thread([this, handler, info, final, done] {
    if (final) {
      // The closing event must not overtake a task's own event still on its way.
      std::unique_lock wait(handlerThreadsLock_);
      handlerThreadsDone_.wait(wait, [this] { return runningTaskHandlers_ == 0; });
    }
    try {
      handler(this, info);
    } catch (const std::exception &e) {
      FFLogger().Log(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
    }
    {
      std::lock_guard lock(handlerThreadsLock_);
      if (!final) --runningTaskHandlers_;
      *done = true;
    }
    handlerThreadsDone_.notify_all();
  });
  handlerThreads_.push_back({std::move(thread), done});
}

void TCustomMediaConverter::reapHandlerThreads(bool all) {
  if (all) {
    // Handlers may be calling into the user-interface thread; keep serving it.
    ::WaitPumping([this] {
      std::lock_guard lock(handlerThreadsLock_);
      for (const auto &h : handlerThreads_)
        if (!*h.Done) return false;
      return true;
    });
  }
  std::vector<HandlerThread> finished;
  {
    std::lock_guard lock(handlerThreadsLock_);
    auto it = std::stable_partition(handlerThreads_.begin(), handlerThreads_.end(),
                                    [](const HandlerThread &h) { return !*h.Done; });
    std::move(it, handlerThreads_.end(), std::back_inserter(finished));
    handlerThreads_.erase(it, handlerThreads_.end());
  }
  for (auto &h : finished) h.Thread.join();
}
