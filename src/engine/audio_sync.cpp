// Keeping encoded sound in step with the timeline: silence, discarded samples and the
// resampler's drift compensation of the audio sync methods ("async"), and the resampler's
// settings. Not conversion, framing or encoding (audio.cpp).
#include "engine/audio_sync.h"

#include <cmath>
#include <cstdlib>

void ResamplerSettings(SwrContext *swr) {
  ff.av_opt_set_int(swr, "filter_size", 16, 0);
  ff.av_opt_set_int(swr, "phase_shift", 10, 0);
  ff.av_opt_set_int(swr, "linear_interp", 0, 0);
  ff.av_opt_set_double(swr, "cutoff", 0.8, 0);
}

namespace {

// Appends `count` samples of silence in the encoder's format to the fifo.
void AddSilence(TOutputStream &ost, int64_t count) {
  const AVCodecContext *enc = ost.Enc.get();
  const int kChunk = 4096;
  TFramePtr chunk(ff.av_frame_alloc());
  if (!chunk) Fail("Out of memory in do_audio_out");
  chunk->nb_samples = kChunk;
  chunk->format = enc->sample_fmt;
  if (ff.av_channel_layout_copy(&chunk->ch_layout, &enc->ch_layout) < 0 || ff.av_frame_get_buffer(chunk.get(), 0) < 0)
    Fail("Out of memory in do_audio_out");
  ff.av_samples_set_silence(chunk->extended_data, 0, kChunk, enc->ch_layout.nb_channels, enc->sample_fmt);
  while (count > 0) {
    int n = int(std::min<int64_t>(count, kChunk));
    if (ff.av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void **>(chunk->extended_data), n) < n)
      Fail("av_fifo_realloc2() failed");
    count -= n;
  }
}

} // namespace

bool SyncAudio(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, const AVFrame *frame) {
  TCustomFFmpeg &e = s.Engine;
  const TOptionState &o = e.Options();
  const AVCodecContext *enc = ost.Enc.get();
  const int method = o.AudioSyncMethod;
  const int outRate = enc->sample_rate;
  // Samples not yet encoded: in the fifo, and still inside the resampler.
  int64_t pending = ff.av_audio_fifo_size(ost.Fifo.get()) + ff.swr_get_delay(ost.Swr.get(), outRate);
  double position = double(ist.Pts - o.StartTime) / AV_TIME_BASE;
  double delta = position * outRate - double(ost.FrameNumber) - double(pending);
  if (std::fabs(delta) <= kAudioDriftTolerance) return true;

  if (ist.IsStart || std::fabs(delta) > o.AudioDriftThreshold * outRate) {
    if (delta < 0) {
      // The output is ahead: drop the block's first samples, at most the whole block.
      int64_t blockOut = ff.av_rescale_rnd(frame->nb_samples, outRate, frame->sample_rate, AV_ROUND_UP);
      int64_t drop = std::min<int64_t>(int64_t(-delta), blockOut);
      if (o.Verbose > 2) EngineLog(&e, llVerbose, "discarding %d audio samples", int(-delta));
      if (drop >= blockOut) return false;
      ist.IsStart = false;
      if (drop > 0 && ff.swr_drop_output(ost.Swr.get(), int(drop)) < 0) Fail("av_audio_convert() failed");
      return true;
    }
    // The output lags: silence first, then the block.
    ist.IsStart = false;
    AddSilence(ost, int64_t(delta));
    if (o.Verbose > 2) EngineLog(&e, llVerbose, "adding %d audio samples of silence", int(delta));
    return true;
  }
  if (method > 1) {
    int compensation = std::clamp(int(delta), -method, method);
    if (o.Verbose > 2)
      EngineLog(&e, llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, compensation,
                outRate);
    if (ff.swr_set_compensation(ost.Swr.get(), compensation, outRate) < 0)
      Fail(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", frame->ch_layout.nb_channels,
                  frame->sample_rate, enc->ch_layout.nb_channels, outRate));
  }
  return true;
}
