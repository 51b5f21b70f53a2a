// The sound stage: the audio device, its callback that mixes at the player's volume (or
// writes silence when muted), and decoding with conversion to signed 16-bit samples.
// The audio clock it advances is read by clocks.cpp.
#include <algorithm>
#include <cstring>

#include "media/logger.h"
#include "player/ffplayer.h"
#include "player/playback.h"

namespace {

constexpr int kSilenceBytes = 1024;
constexpr int kDeviceSamples = 1024;

// Remakes the converter when the decoder's output changes shape.
bool ensureConverter(TPlaybackState &s, const AVFrame *f) {
  TAudioPart &a = s.Audio;
  if (a.Converter && f->format == a.LastFormat && f->sample_rate == a.LastRate &&
      ff.av_channel_layout_compare(&f->ch_layout, &a.LastLayout) == 0)
    return true;
  a.Converter.reset();
  AVChannelLayout out{};
  ff.av_channel_layout_default(&out, a.Channels);
  SwrContext *swr = nullptr;
  const bool made =
      ff.swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, a.SampleRate, const_cast<AVChannelLayout *>(&f->ch_layout),
                             AVSampleFormat(f->format), f->sample_rate, 0, nullptr) >= 0 &&
      ff.swr_init(swr) >= 0;
  ff.av_channel_layout_uninit(&out);
  if (!made) {
    ff.swr_free(&swr);
    const char *from = ff.av_get_sample_fmt_name(AVSampleFormat(f->format));
    FFLogger().LogFmt(&s.Player, llError, "Cannot convert %s sample format to %s sample format",
                      from ? from : "?", ff.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16));
    return false;
  }
  a.Converter.reset(swr);
  a.LastFormat = f->format;
  a.LastRate = f->sample_rate;
  ff.av_channel_layout_uninit(&a.LastLayout);
  ff.av_channel_layout_copy(&a.LastLayout, &f->ch_layout);
  return true;
}

// Bytes of samples in the buffer, or -1 when there is nothing to play now (the callback
// never waits for the read thread).
int decodeAudio(TPlaybackState &s) {
  TAudioPart &a = s.Audio;
  AVCodecContext *dec = a.Decoder.get();
  for (;;) {
    if (a.DecoderFed) {
      const int r = ff.avcodec_receive_frame(dec, a.Frame.get());
      if (r == 0) {
        int bytes = -1;
        if (ensureConverter(s, a.Frame.get())) {
          uint8_t *out[1] = {a.Buffer.data()};
          const int capacity = TAudioPart::kBufferSize / (2 * a.Channels);
          const int n = ff.swr_convert(a.Converter.get(), out, capacity,
                                       const_cast<const uint8_t **>(a.Frame->extended_data),
                                       a.Frame->nb_samples);
          if (n < 0)
            FFLogger().Log(&s.Player, llError, "av_audio_convert() failed");
          else
            bytes = n * 2 * a.Channels;
        }
        ff.av_frame_unref(a.Frame.get());
        if (bytes > 0) {
          a.Clock = a.Clock + double(bytes) / (2.0 * a.Channels * a.SampleRate);
          return bytes;
        }
        continue;
      }
      if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
        FFLogger().Log(&s.Player, llInfo, "avcodec_decode_audio2() failed");
      a.DecoderFed = false;
    }
    if (s.Paused || a.Queue.Aborted()) return -1;
    TQueuedPacket e;
    if (a.Queue.Get(e, false) <= 0) return -1;
    if (e.kind == TQueuedPacket::Flush) {
      ff.avcodec_flush_buffers(dec);
      if (a.Converter) ff.swr_init(a.Converter.get()); // drops samples held from before
      continue;
    }
    if (e.kind != TQueuedPacket::Data) continue;
    if (e.packet->pts != AV_NOPTS_VALUE) a.Clock = e.packet->pts * av_q2d(a.Stream->time_base);
    if (ff.avcodec_send_packet(dec, e.packet.get()) < 0) {
      FFLogger().Log(&s.Player, llInfo, "avcodec_decode_audio2() failed");
      continue;
    }
    a.DecoderFed = true;
  }
}

void copyToRing(TAudioPart &a, int bytes) {
  const int16_t *samples = reinterpret_cast<const int16_t *>(a.Buffer.data());
  const int count = bytes / 2;
  int at = a.RingIndex;
  for (int i = 0; i < count;) {
    const int chunk = std::min(count - i, TAudioPart::kRingSize - at);
    std::memcpy(&a.Ring[at], samples + i, chunk * sizeof(int16_t));
    i += chunk;
    at = (at + chunk) % TAudioPart::kRingSize;
  }
  a.RingIndex = at;
}

void audioCallback(void *userdata, Uint8 *stream, int len) {
  TPlaybackState &s = *static_cast<TPlaybackState *>(userdata);
  TAudioPart &a = s.Audio;
  a.CallbackTime = ff.av_gettime_relative();
  std::memset(stream, 0, len);
  while (len > 0) {
    if (a.BufferIndex >= a.BufferSize) {
      if (a.Queue.Aborted()) return;
      const int bytes = decodeAudio(s);
      if (bytes < 0) {
        std::memset(a.Buffer.data(), 0, kSilenceBytes);
        a.BufferSize = kSilenceBytes;
      } else {
        a.BufferSize = bytes;
        if (s.Display.AudioDisplay) copyToRing(a, bytes);
      }
      a.BufferIndex = 0;
    }
    const int n = std::min(len, a.BufferSize - a.BufferIndex);
    // The volume is read for every block so that a change is heard at once.
    if (!s.Player.Mute())
      ff.SDL_MixAudioFormat(stream, a.Buffer.data() + a.BufferIndex, AUDIO_S16SYS, n,
                            s.Player.AudioVolume());
    stream += n;
    len -= n;
    a.BufferIndex += n;
  }
}

} // namespace

bool OpenAudioDevice(TPlaybackState &s, std::string &error) {
  TAudioPart &a = s.Audio;
  const AVCodecParameters *par = a.Stream->codecpar;
  const int channels = par->ch_layout.nb_channels;
  a.Channels = channels == 1 || channels == 2 ? channels : 2;
  SDL_AudioSpec wanted{}, obtained{};
  wanted.freq = par->sample_rate > 0 ? par->sample_rate : 44100;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = Uint8(a.Channels);
  wanted.samples = kDeviceSamples;
  wanted.callback = audioCallback;
  wanted.userdata = &s;
  a.Frame.reset(ff.av_frame_alloc());
  // The device converts whatever it really needs from what we give.
  a.Device = ff.SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (!a.Device || !a.Frame) {
    error = ff.SDL_GetError();
    a.Device = 0;
    return false;
  }
  a.SampleRate = obtained.freq;
  a.DeviceBufferSize = int(obtained.size);
  a.LastFormat = AV_SAMPLE_FMT_S16;
  return true;
}

void CloseAudioDevice(TPlaybackState &s) {
  if (s.Audio.Device) ff.SDL_CloseAudioDevice(s.Audio.Device);
  s.Audio.Device = 0;
}
