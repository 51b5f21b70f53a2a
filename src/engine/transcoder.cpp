// The engine object of a task: its life cycle, the guarded run and what the option
// dispatcher asks of it. The stages themselves live in input, output, setup, loop,
// audio, video and progress.
#include "engine/transcoder.h"

#include "engine/transcode_state.h"
#include "media/ffutils.h"
#include "media/loader.h"

#include <cstdarg>

std::string Format(const char *fmt, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void EngineLog(const TCustomFFmpeg *engine, TLogLevel level, const char *fmt, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  FFLogger().Log(engine, level, buf);
}

void Fail(const std::string &message) { throw FFmpegException(message); }

std::string CauseText(int err) {
  std::string text = ErrorMessage(err);
  if (text.rfind("Error number ", 0) == 0) {
    char buf[256];
    if (ff.av_strerror(err, buf, sizeof buf) == 0) text = buf;
  }
  return text;
}

std::string FileErrorText(const std::string &name, int err) { return name + ": " + CauseText(err); }

TCustomFFmpeg::TCustomFFmpeg() : state_(std::make_unique<TTranscodeState>(*this)) {}

TCustomFFmpeg::~TCustomFFmpeg() {
  try {
    Release();
  } catch (const std::exception &e) {
    FFLogger().Log(this, llQuiet, e.what());
  }
}

void TCustomFFmpeg::Reset() {
  Release();
  state_ = std::make_unique<TTranscodeState>(*this);
  options_.Reset();
  if (FFLoader().LibsLoaded(ConverterLibs) && !options_.Generic.Allocated())
    options_.Generic.Reset(options_.SwsFlags);
  LastError.clear();
  StopRequested = false;
  Finished = false;
}

int TCustomFFmpeg::InputCount() const { return int(state_->Inputs.size()); }
int TCustomFFmpeg::OutputCount() const { return int(state_->Outputs.size()); }
int64_t TCustomFFmpeg::TotalDuration() const { return state_->TotalDuration; }
void TCustomFFmpeg::SetTotalDuration(int64_t us) { state_->TotalDuration = us; }

std::vector<AVRational> TCustomFFmpeg::InputVideoFrameRates() const {
  std::vector<AVRational> rates;
  for (const auto &in : state_->Inputs)
    for (unsigned i = 0; i < in.Ctx->nb_streams; ++i)
      if (in.Ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        rates.push_back(in.Ctx->streams[i]->r_frame_rate);
  return rates;
}

void TCustomFFmpeg::NewStream(AVMediaType type) {
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: NewVideoStream(); break;
  case AVMEDIA_TYPE_AUDIO: NewAudioStream(); break;
  case AVMEDIA_TYPE_SUBTITLE: NewSubtitleStream(); break;
  default: Fail("invalid codec_type");
  }
}

AVCodecID TCustomFFmpeg::DefaultEncoder(AVMediaType type) const {
  const AVOutputFormat *fmt = nullptr;
  if (!options_.FileFormat.empty())
    fmt = ff.av_guess_format(options_.FileFormat.c_str(), nullptr, nullptr);
  else if (!state_->Outputs.empty())
    fmt = state_->Outputs.back().Ctx->oformat;
  if (!fmt) return AV_CODEC_ID_NONE;
  return ff.av_guess_codec(fmt, nullptr, nullptr, nullptr, type);
}

void TCustomFFmpeg::Transcode() {
  TranscodeSetup(*state_);
  TranscodeLoop(*state_);
}

void TCustomFFmpeg::CloseCodecs() {
  CloseEncoders(*state_);
  CloseDecoders(*state_);
}

TRunResult TCustomFFmpeg::Run() {
  TRunResult result;
  Finished = false;
  auto guarded = [&](auto &&step) {
    try {
      step();
    } catch (const std::exception &e) {
      FFLogger().Log(this, llQuiet, e.what());
      if (!result.Failed) result.ErrorMessage = e.what();
      result.Failed = true;
    }
  };
  guarded([&] { Transcode(); });
  guarded([&] { CloseCodecs(); });
  guarded([&] { Release(); });
  result.Finished = Finished && !result.Failed;
  return result;
}
