// The audio path: decoded sound converted to the encoder's layout, rate and sample
// format, cut into the encoder's frame size through a sample fifo, and encoded.
// Not keeping step with the timeline under a sync method (audio_sync.cpp); not stream copy.
#include "engine/audio_sync.h"
#include "engine/transcode_state.h"

#include <cmath>

void AudioSetup(TTranscodeState &s, TOutputStream &ost) {
  (void)s;
  AVCodecContext *enc = ost.Enc.get();
  ost.Fifo.reset(ff.av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1024));
  if (!ost.Fifo) Fail("av_fifo_alloc fail");
}

namespace {

int FrameSamples(const AVCodecContext *enc, int available) {
  return enc->frame_size > 1 ? enc->frame_size : available;
}

// Encodes `n` samples from the fifo (padded with silence up to `padTo` when larger).
void EncodeFromFifo(TTranscodeState &s, TOutputStream &ost, int n, int padTo) {
  AVCodecContext *enc = ost.Enc.get();
  TFramePtr frame(ff.av_frame_alloc());
  if (!frame) Fail("Out of memory in do_audio_out");
  frame->nb_samples = std::max(n, padTo);
  frame->format = enc->sample_fmt;
  frame->sample_rate = enc->sample_rate;
  if (ff.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 || ff.av_frame_get_buffer(frame.get(), 0) < 0)
    Fail("Out of memory in do_audio_out");
  if (ff.av_audio_fifo_read(ost.Fifo.get(), reinterpret_cast<void **>(frame->extended_data), n) < n)
    Fail("Audio encoding failed");
  if (padTo > n)
    ff.av_samples_set_silence(frame->extended_data, n, padTo - n, enc->ch_layout.nb_channels, enc->sample_fmt);
  frame->pts = ost.FrameNumber;
  ost.FrameNumber += frame->nb_samples;
  EncodeAndWrite(s, ost, frame.get());
}

void DrainFifo(TTranscodeState &s, TOutputStream &ost) {
  AVCodecContext *enc = ost.Enc.get();
  for (;;) {
    int have = ff.av_audio_fifo_size(ost.Fifo.get());
    if (have <= 0) return;
    int n = FrameSamples(enc, have);
    if (have < n) return;
    EncodeFromFifo(s, ost, n, 0);
  }
}

// Converts `in` (nullptr drains the resampler) and appends the result to the fifo.
void ConvertIntoFifo(TOutputStream &ost, const AVFrame *in) {
  AVCodecContext *enc = ost.Enc.get();
  int inSamples = in ? in->nb_samples : 0;
  int outSamples = ff.swr_get_out_samples(ost.Swr.get(), inSamples);
  if (outSamples <= 0) return;
  TFramePtr out(ff.av_frame_alloc());
  if (!out) Fail("Out of memory in do_audio_out");
  out->nb_samples = outSamples;
  out->format = enc->sample_fmt;
  if (ff.av_channel_layout_copy(&out->ch_layout, &enc->ch_layout) < 0 || ff.av_frame_get_buffer(out.get(), 0) < 0)
    Fail("Out of memory in do_audio_out");
  uint8_t **buf = out->extended_data;
  int got = ff.swr_convert(ost.Swr.get(), buf, outSamples, in ? const_cast<const uint8_t **>(in->extended_data) : nullptr,
                           inSamples);
  if (got < 0) Fail("av_audio_convert() failed");
  if (got > 0 && ff.av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void **>(buf), got) < got)
    Fail("av_fifo_realloc2() failed");
}

} // namespace

void DoAudioOut(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame) {
  const TOptionState &o = s.Engine.Options();
  AVCodecContext *enc = ost.Enc.get();
  if (!ost.Swr) {
    SwrContext *swr = nullptr;
    int err = ff.swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &frame->ch_layout,
                                     AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    ost.Swr.reset(swr);
    if (err >= 0) ResamplerSettings(swr);
    if (err < 0 || ff.swr_init(swr) < 0)
      Fail(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", frame->ch_layout.nb_channels,
                  frame->sample_rate, enc->ch_layout.nb_channels, enc->sample_rate));
  }
  if (o.AudioSyncMethod) {
    if (!SyncAudio(s, ost, ist, frame)) return;
  } else if (!ost.Anchored) {
    // The first block places the stream on the timeline; later ones follow on.
    double position = double(ist.Pts - o.StartTime) / AV_TIME_BASE;
    ost.FrameNumber = llround(position * enc->sample_rate) - ff.av_audio_fifo_size(ost.Fifo.get());
    ost.Anchored = true;
  }
  ConvertIntoFifo(ost, frame);
  // Sound before the start position (a seek lands before it) is not part of the output.
  if (ost.FrameNumber < 0) {
    int drop = int(std::min<int64_t>(-ost.FrameNumber, ff.av_audio_fifo_size(ost.Fifo.get())));
    ff.av_audio_fifo_drain(ost.Fifo.get(), drop);
    ost.FrameNumber += drop;
  }
  DrainFifo(s, ost);
}

void FlushAudio(TTranscodeState &s, TOutputStream &ost) {
  AVCodecContext *enc = ost.Enc.get();
  if (ost.Swr) ConvertIntoFifo(ost, nullptr);
  DrainFifo(s, ost);
  int left = ff.av_audio_fifo_size(ost.Fifo.get());
  if (left > 0) {
    // A short last frame where the encoder takes one, else silence up to a full frame.
    bool shortOk = enc->frame_size <= 1 ||
                   (ost.Encoder->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
    EncodeFromFifo(s, ost, left, shortOk ? 0 : enc->frame_size);
  }
  EncodeAndWrite(s, ost, nullptr);
}
