// Test support for the option tests: a stand-in for the engine that owns the option state,
// and a recorder of the logger's messages. Not a test itself.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/ffmpeg_exception.h"
#include "engine/options.h"
#include "media/loader.h"
#include "media/logger.h"

// Answers the dispatcher's questions the way a task with the given inputs and outputs would.
class FakeHost : public TOptionHost {
public:
  TOptionState State;
  int Inputs = 0;
  std::vector<AVRational> InputRates;
  bool HasOutput = false;
  std::vector<AVMediaType> NewStreams;
  int64_t TotalDuration = -1;
  AVCodecID DefaultVideo = AV_CODEC_ID_NONE;

  TOptionState &Options() override { return State; }
  int InputFileCount() const override { return Inputs; }
  std::vector<AVRational> InputVideoFrameRates() const override { return InputRates; }
  bool HasOutputFile() const override { return HasOutput; }
  void NewStream(AVMediaType type) override { NewStreams.push_back(type); }
  void SetTotalDuration(int64_t us) override { TotalDuration = us; }
  AVCodecID DefaultEncoder(AVMediaType type) const override {
    return type == AVMEDIA_TYPE_VIDEO ? DefaultVideo : AV_CODEC_ID_NONE;
  }
};

struct LoggedLine {
  TLogLevel Level;
  std::string Text;
};

// Loads the libraries, gives a fresh option state and records every log line of the test.
class OptionsTest : public ::testing::Test {
protected:
  FakeHost Host;
  TOptionState &S = Host.State;

  void SetUp() override {
    ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
    FFLogger().SetLogLevel(llInfo);
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetOnLog([this](const void *, uint32_t, TLogLevel level, const std::string &msg) {
      std::lock_guard lk(lock_);
      lines_.push_back({level, msg});
    });
    S.Reset();
  }
  void TearDown() override { FFLogger().SetOnLog(nullptr); }

  void Apply(const std::string &name, const std::string &value) { DispatchOption(Host, name, value); }

  // The message of the FFmpegException an option raises, or "" when it raises none.
  std::string ErrorOf(const std::string &name, const std::string &value) {
    try {
      Apply(name, value);
    } catch (const FFmpegException &e) {
      return e.what();
    }
    return "";
  }

  std::vector<LoggedLine> Lines() {
    std::lock_guard lk(lock_);
    return lines_;
  }
  bool Logged(TLogLevel level, const std::string &text) {
    for (const LoggedLine &l : Lines())
      if (l.Level == level && l.Text == text) return true;
    return false;
  }
  bool LoggedContaining(const std::string &part) {
    for (const LoggedLine &l : Lines())
      if (l.Text.find(part) != std::string::npos) return true;
    return false;
  }
  void ClearLog() {
    std::lock_guard lk(lock_);
    lines_.clear();
  }

  int64_t CodecInt(AVMediaType type, const char *name) {
    int64_t v = 0;
    EXPECT_GE(ff.av_opt_get_int(S.Generic.Codec(type), name, 0, &v), 0) << name;
    return v;
  }

private:
  std::mutex lock_;
  std::vector<LoggedLine> lines_;
};
