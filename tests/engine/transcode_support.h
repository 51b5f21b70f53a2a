// Driving one engine without the component, and reading back what it wrote, for the
// transcoder's tests. Not a test itself.
#pragma once

#include "engine/transcoder.h"
#include "media/logger.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ts {

using OptionList = std::vector<std::pair<std::string, std::string>>;

// Collects the engine's log lines for the duration of a test.
class LogCapture {
public:
  LogCapture() {
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([this](const void *, uint32_t, TLogLevel, const std::string &msg) {
      std::lock_guard lock(mutex_);
      text_ += msg + "\n";
    });
  }
  ~LogCapture() { FFLogger().SetOnLog(nullptr); }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

private:
  std::mutex mutex_;
  std::string text_;
};

// One stream of a media file as read back packet by packet.
struct StreamSummary {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID Codec = AV_CODEC_ID_NONE;
  int Packets = 0;
  int KeyPackets = 0;
  int64_t Bytes = 0;
  double FirstPts = 0; // seconds
  double End = 0;      // seconds: the latest pts + duration
  double MaxDtsGap = 0; // seconds: the largest step between consecutive timestamps
  int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
  std::map<std::string, std::string> Metadata;
};

struct FileSummary {
  std::vector<StreamSummary> Streams;
  double Duration = 0; // seconds, from the container
  std::map<std::string, std::string> Metadata;
  std::vector<std::pair<double, double>> Chapters; // start, end in seconds
  std::vector<std::string> ChapterTitles;
  const StreamSummary *First(AVMediaType type) const;
};

// Reads every packet of a file; fails the calling test (ADD_FAILURE) and returns an empty
// summary when it cannot be opened.
FileSummary Inspect(const std::string &path);

// Loads the conversion libraries once per process and resets an engine with them.
void Prepare(TCustomFFmpeg &engine);

// Applies options the way a task does: input options, open input, output options, open
// output. Returns the first failure text, empty on success.
std::string Open(TCustomFFmpeg &engine, const std::string &input, const OptionList &inOpts,
                 const std::string &output, const OptionList &outOpts);

// Open and Run in one: the run's result (a set-up failure comes back as Failed).
TRunResult Convert(const std::string &input, const OptionList &inOpts, const std::string &output,
                   const OptionList &outOpts);

// A fresh folder for one test's outputs (removed by the caller or left in /tmp).
std::string TempDir();

// Remuxes `source` into `target`, adding the given chapters (seconds) with titles.
void AddChapters(const std::string &source, const std::string &target,
                 const std::vector<std::pair<double, double>> &chapters);

} // namespace ts
