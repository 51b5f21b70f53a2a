// Reading back what the audio and video paths produced: decoded pictures as RGB and
// decoded sound as float samples. Not a test itself.
#include "paths_support.h"

#include "media/ffapi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

namespace paths {

namespace {

struct Input {
  AVFormatContext *Ctx = nullptr;
  AVCodecContext *Dec = nullptr;
  int Stream = -1;
  ~Input() {
    ff.avcodec_free_context(&Dec);
    ff.avformat_close_input(&Ctx);
  }
  bool Open(const std::string &path, AVMediaType type) {
    if (ff.avformat_open_input(&Ctx, path.c_str(), nullptr, nullptr) < 0) return false;
    ff.avformat_find_stream_info(Ctx, nullptr);
    Stream = ff.av_find_best_stream(Ctx, type, -1, -1, nullptr, 0);
    if (Stream < 0) return false;
    const AVCodecParameters *par = Ctx->streams[Stream]->codecpar;
    const AVCodec *codec = ff.avcodec_find_decoder(par->codec_id);
    Dec = ff.avcodec_alloc_context3(codec);
    if (!Dec || ff.avcodec_parameters_to_context(Dec, par) < 0) return false;
    Dec->pkt_timebase = Ctx->streams[Stream]->time_base;
    return ff.avcodec_open2(Dec, codec, nullptr) >= 0;
  }
  // Calls `take` with every decoded frame until it returns false.
  template <class F> void Decode(F take) {
    AVPacket *pkt = ff.av_packet_alloc();
    AVFrame *frame = ff.av_frame_alloc();
    bool more = true;
    auto drain = [&] {
      while (more && ff.avcodec_receive_frame(Dec, frame) >= 0) {
        more = take(frame);
        ff.av_frame_unref(frame);
      }
    };
    while (more && ff.av_read_frame(Ctx, pkt) >= 0) {
      if (pkt->stream_index == Stream) ff.avcodec_send_packet(Dec, pkt);
      ff.av_packet_unref(pkt);
      drain();
    }
    ff.avcodec_send_packet(Dec, nullptr);
    drain();
    ff.av_frame_free(&frame);
    ff.av_packet_free(&pkt);
  }
};

} // namespace

namespace {

Picture DecodePicture(const std::string &path, bool last) {
  ts::FileSummary check = ts::Inspect(path); // loads the libraries
  (void)check;
  Picture p;
  Input in;
  if (!in.Open(path, AVMEDIA_TYPE_VIDEO)) {
    ADD_FAILURE() << "no video to decode in " << path;
    return p;
  }
  in.Decode([&](AVFrame *f) {
    p.Width = f->width;
    p.Height = f->height;
    p.CodedFormat = AVPixelFormat(f->format);
    p.Rgb.assign(size_t(f->width) * f->height * 3, 0);
    SwsContext *sws = ff.sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                        AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t *dst[4] = {p.Rgb.data()};
    int dstStride[4] = {f->width * 3};
    ff.sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride);
    ff.sws_freeContext(sws);
    return last;
  });
  if (!p.Width) ADD_FAILURE() << "no picture decoded from " << path;
  return p;
}

} // namespace

Picture FirstPicture(const std::string &path) { return DecodePicture(path, false); }
Picture LastPicture(const std::string &path) { return DecodePicture(path, true); }

Sound DecodeSound(const std::string &path) {
  ts::FileSummary check = ts::Inspect(path);
  (void)check;
  Sound s;
  Input in;
  if (!in.Open(path, AVMEDIA_TYPE_AUDIO)) {
    ADD_FAILURE() << "no sound to decode in " << path;
    return s;
  }
  s.SampleRate = in.Dec->sample_rate;
  s.Channels = in.Dec->ch_layout.nb_channels;
  SwrContext *swr = nullptr;
  bool first = true;
  AVRational tb = in.Ctx->streams[in.Stream]->time_base;
  in.Decode([&](AVFrame *f) {
    if (!swr) {
      ff.swr_alloc_set_opts2(&swr, &f->ch_layout, AV_SAMPLE_FMT_FLT, f->sample_rate, &f->ch_layout,
                             AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
      ff.swr_init(swr);
    }
    if (first && f->best_effort_timestamp != AV_NOPTS_VALUE) s.StartSeconds = f->best_effort_timestamp * av_q2d(tb);
    first = false;
    size_t at = s.Samples.size();
    s.Samples.resize(at + size_t(f->nb_samples) * s.Channels);
    uint8_t *out = reinterpret_cast<uint8_t *>(&s.Samples[at]);
    int got = ff.swr_convert(swr, &out, f->nb_samples, const_cast<const uint8_t **>(f->extended_data), f->nb_samples);
    s.Samples.resize(at + size_t(std::max(got, 0)) * s.Channels);
    return true;
  });
  ff.swr_free(&swr);
  return s;
}

float Peak(const Sound &s, int64_t from, int64_t to) {
  float peak = 0;
  to = std::min(to, s.Frames());
  for (int64_t i = std::max<int64_t>(from, 0) * s.Channels; i < to * s.Channels; ++i)
    peak = std::max(peak, std::fabs(s.Samples[i]));
  return peak;
}

int CountLines(const std::string &text, const std::string &needle) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) n++;
  return n;
}

} // namespace paths
