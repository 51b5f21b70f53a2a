// The engine of one conversion task: opens its input and outputs, runs the packet loop
// and reports progress. Does not schedule tasks, own threads or parse option names.
#pragma once

#include "engine/options.h"
#include "engine/pause_gate.h"
#include "engine/records.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TTranscodeState; // the per-task media state (files, stream tables, counters)

// What a finished run reports to the host (Finished / Failed / ErrorMessage).
struct TRunResult {
  bool Finished = false;
  bool Failed = false;
  std::string ErrorMessage;
};

class TCustomFFmpeg : public TOptionHost {
public:
  TCustomFFmpeg();
  ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg &) = delete;
  TCustomFFmpeg &operator=(const TCustomFFmpeg &) = delete;

  // The sticky option state that the dispatcher (DispatchOption(engine, name, value))
  // fills and the stages below consume.
  TOptionState &Options() override { return options_; }
  const TOptionState &Options() const { return options_; }

  // What the dispatcher asks of its host.
  int InputFileCount() const override { return InputCount(); }
  std::vector<AVRational> InputVideoFrameRates() const override;
  bool HasOutputFile() const override { return OutputCount() > 0; }
  void NewStream(AVMediaType type) override;
  AVCodecID DefaultEncoder(AVMediaType type) const override;

  // Releases every media object and restores the options and counters to their
  // defaults. Needs the media libraries loaded for the option tables.
  void Reset();

  // Opens one input with the current options (file names are UTF-8). False with the
  // reason in LastError.
  bool OpenInput(const std::string &fileName);
  // Creates an output container with its default streams. The number of output files,
  // or -1 with the reason in LastError. Join mode is not supported.
  int OpenOutput(const std::string &fileName, bool join = false);
  // Add a stream of that kind to the last output ("newvideo" and friends); throw
  // FFmpegException on failure.
  void NewVideoStream();
  void NewAudioStream();
  void NewSubtitleStream();

  // The whole task run: set-up, packet loop, trailers, closing codecs and releasing
  // every resource, each step guarded. Failures are logged at llQuiet and returned.
  TRunResult Run();
  // The conversion proper (set-up and loop); throws FFmpegException on failure.
  void Transcode();
  // Closes encoders and decoders still open after a failed run (under the codec lock).
  void CloseCodecs();
  // Frees every file, stream and buffer of the task; deletes outputs left empty.
  void Release();

  int InputCount() const;
  int OutputCount() const;
  // Total duration for progress in microseconds, -1 when unknown.
  int64_t TotalDuration() const;
  void SetTotalDuration(int64_t us) override;

  std::string LastError;
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Finished{false};
  // Passed at the top of every loop iteration and in the video frame loop.
  TPauseGate PauseGate;

  // Microseconds between progress reports (the component enforces the floor).
  int64_t ProgressInterval = 500000;
  // Bit 0 preview window, bit 1 preview bitmaps; read under the component's preview lock.
  std::atomic<uint8_t> PreviewFlags{0};

  // Slots the component connects. Each record's TaskIndex is left for the component.
  std::function<void(THookInfo &)> HookSlot;
  std::function<void(const TPreviewInfo &)> PreviewBitmapSlot;
  std::function<void(const TProgressInfo &)> ProgressSlot;

  // For the stages' own files; not for callers.
  TTranscodeState &State() { return *state_; }

private:
  TOptionState options_;
  std::unique_ptr<TTranscodeState> state_;
};
