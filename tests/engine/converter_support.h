// What the conversion component's tests share: the Qt application, a converter with its
// libraries loaded, recorders for its events and small readers of finished outputs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/media_converter.h"
#include "fixtures/fixtures.h"
#include "media/ffapi.h"
#include "media/synccall.h"

namespace convtest {

// One widget application for the test process: the preview window needs widgets, and
// the user-interface thread is this one.
inline QApplication &App() {
  static int argc = 1;
  static char name[] = "engine_tests";
  static char *argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

struct TerminateRecord {
  TTerminateInfo Info;
  std::thread::id Thread;
};

// What an output file holds, read back with the libraries.
struct OutputFacts {
  bool Opened = false;
  double Seconds = 0;
  std::vector<AVCodecID> Codecs;
  std::vector<AVMediaType> Types;
  std::vector<int64_t> Frames; // per stream, as the container counts them (0: unknown)
  // Containers differ in the case they store tag names in.
  std::string Tag(const std::string &key) const {
    for (const auto &[k, v] : Tags)
      if (QString::fromStdString(k).compare(QString::fromStdString(key), Qt::CaseInsensitive) == 0)
        return v;
    return {};
  }
  std::vector<std::pair<std::string, std::string>> Tags;
};

inline OutputFacts ReadOutput(const std::string &path) {
  OutputFacts facts;
  AVFormatContext *ctx = nullptr;
  if (ff.avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return facts;
  if (ff.avformat_find_stream_info(ctx, nullptr) >= 0) {
    facts.Opened = true;
    if (ctx->duration != AV_NOPTS_VALUE) facts.Seconds = ctx->duration / double(AV_TIME_BASE);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      facts.Codecs.push_back(ctx->streams[i]->codecpar->codec_id);
      facts.Types.push_back(ctx->streams[i]->codecpar->codec_type);
      facts.Frames.push_back(ctx->streams[i]->nb_frames);
    }
    const AVDictionaryEntry *e = nullptr;
    while ((e = ff.av_dict_get(ctx->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
      facts.Tags.emplace_back(e->key, e->value);
  }
  ff.avformat_close_input(&ctx);
  return facts;
}

class ConverterTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir_.isValid());
    converter = std::make_unique<TMediaConverter>();
    ASSERT_TRUE(converter->LoadAVLib("")) << converter->LastErrMsg();
    converter->OnTerminate = [this](TCustomMediaConverter *, const TTerminateInfo &info) {
      std::lock_guard lock(mutex_);
      terminations_.push_back({info, std::this_thread::get_id()});
    };
  }
  void TearDown() override { converter.reset(); }

  std::string Out(const std::string &name) const { return QDir(dir_.path()).filePath(QString::fromStdString(name)).toStdString(); }

  // A task reading `input` (a fixture name) with the given input option lines.
  int Add(const std::string &input, const std::string &inputOptions = {}) {
    TInputOptions in;
    in.ExtOptions = inputOptions;
    const int index = converter->AddTask(fixtures::Path(input), &in);
    EXPECT_GE(index, 0) << converter->LastErrMsg();
    return index;
  }
  void Output(int task, const std::string &name, TOutputOptions options = {}) {
    EXPECT_TRUE(converter->SetOutputFile(task, Out(name), &options)) << converter->LastErrMsg();
  }
  // A task that converts for about `seconds` of wall time (reading at the source's pace).
  int AddSlow(const std::string &output, double seconds = 2.0) {
    const int index = Add("av.mp4", "re");
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.AudioCodec = "mp2";
    o.Duration = static_cast<int64_t>(seconds * 1e6);
    Output(index, output, o);
    return index;
  }

  // Keeps the user-interface thread serving the workers until the final event came.
  bool WaitForFinal(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return WaitPumping([this] { return FinalSeen(); }, timeout);
  }
  bool FinalSeen() {
    std::lock_guard lock(mutex_);
    for (const auto &t : terminations_)
      if (t.Info.TaskIndex == -1) return true;
    return false;
  }
  std::vector<TerminateRecord> Terminations() {
    std::lock_guard lock(mutex_);
    return terminations_;
  }
  TTerminateInfo TerminationOf(int task) {
    for (const auto &t : Terminations())
      if (t.Info.TaskIndex == task) return t.Info;
    ADD_FAILURE() << "no termination event for task " << task;
    return {};
  }

  QTemporaryDir dir_;
  std::mutex mutex_;
  std::vector<TerminateRecord> terminations_;
  std::unique_ptr<TMediaConverter> converter; // last: it goes before what its handlers touch
};

} // namespace convtest
