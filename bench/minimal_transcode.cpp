// The engine benchmark's yardstick: the least a program must do to decode, scale, resample,
// encode and mux one video and one audio stream with two fixed settings. Not a converter.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/loader.h"

namespace {

using Options = std::vector<std::pair<const char *, const char *>>;

// The encoder settings of one conversion. They are the ones the engine verb arrives at for
// the same conversion in the benchmark, so that both programs do the same encoding work.
struct Setting {
  const char *Name;
  const char *Muxer;
  const char *VideoEncoder;
  int Width, Height;
  int64_t VideoBitRate;
  int Gop;
  Options VideoOptions; // the encoder's own options, as the engine hands them over
  const char *AudioEncoder;
  int64_t AudioBitRate;
  int SampleRate, Channels;
};

const Setting kSettings[] = {
    {"a", "avi", "mpeg4", 640, 480, 1000000, 12, {}, "libmp3lame", 128000, 44100, 2},
    // The iPod preset as the engine applies it to the H.264 encoder.
    {"b",
     "mp4",
     "libx264",
     320,
     240,
     1000000,
     250,
     {{"coder", "0"},        {"flags", "+loop"},       {"level", "30"},          {"cmp", "+chroma"},
      {"partitions", "i4x4,i8x8,p8x8,b8x8"}, {"motion-est", "umh"}, {"subq", "7"},   {"me_range", "16"},
      {"keyint_min", "25"},  {"sc_threshold", "40"},   {"i_qfactor", "0.71"},    {"b_strategy", "1"},
      {"qcomp", "0.6"},      {"qmin", "10"},           {"qmax", "51"},           {"qdiff", "4"},
      {"refs", "1"},         {"trellis", "2"},         {"maxrate", "1250000"},
      {"bufsize", "4000000"}, {"bt", "256000"},        {"bf", "0"},              {"8x8dct", "0"},
      {"weightb", "0"},      {"mixed-refs", "0"},      {"fast-pskip", "0"},      {"b-pyramid", "none"},
      {"mbtree", "0"},       {"weightp", "0"}},
     "aac",
     128000,
     44100,
     2},
};

std::string ErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ff.av_strerror(err, text, sizeof text);
  return text;
}

int Check(int err, const std::string &what) {
  if (err < 0) throw std::runtime_error(what + ": " + ErrorText(err));
  return err;
}

template <class T> T *Need(T *p, const std::string &what) {
  if (!p) throw std::runtime_error(what + ": out of memory");
  return p;
}

// An output whose file this program opened itself.
struct OutputFree {
  void operator()(AVFormatContext *c) const {
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) ff.avio_closep(&c->pb);
    ff.avformat_free_context(c);
  }
};
struct DictFree {
  void operator()(AVDictionary **d) const { ff.av_dict_free(d); }
};
struct SamplesFree {
  void operator()(uint8_t *samples) const { ff.av_free(samples); }
};

using CodecPtr = TCodecContextPtr;
using FramePtr = TFramePtr;
using PacketPtr = TPacketPtr;

class Transcode {
public:
  Transcode(const std::string &in, const std::string &out, const Setting &setting)
      : set_(setting), packet_(Need(ff.av_packet_alloc(), "packet")),
        decoded_(Need(ff.av_frame_alloc(), "frame")), encoded_(Need(ff.av_packet_alloc(), "packet")) {
    openInput(in);
    openOutput(out);
  }

  void Run() {
    while (true) {
      const int err = ff.av_read_frame(in_.get(), packet_.get());
      if (err == AVERROR_EOF) break;
      Check(err, "reading the input");
      if (packet_->stream_index == videoIn_->index)
        decodeVideo(packet_.get());
      else if (packet_->stream_index == audioIn_->index)
        decodeAudio(packet_.get());
      ff.av_packet_unref(packet_.get());
    }
    decodeVideo(nullptr);
    decodeAudio(nullptr);
    flushAudio();
    encode(videoEnc_.get(), videoOut_, nullptr);
    encode(audioEnc_.get(), audioOut_, nullptr);
    Check(ff.av_write_trailer(out_.get()), "writing the trailer");
  }

private:
  void openInput(const std::string &name) {
    AVFormatContext *ctx = nullptr;
    Check(ff.avformat_open_input(&ctx, name.c_str(), nullptr, nullptr), "opening " + name);
    in_.reset(ctx);
    Check(ff.avformat_find_stream_info(ctx, nullptr), "reading the stream information");
    const int v = Check(ff.av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0), "video stream");
    const int a = Check(ff.av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0), "audio stream");
    videoIn_ = ctx->streams[v];
    audioIn_ = ctx->streams[a];
    videoDec_ = openDecoder(videoIn_);
    audioDec_ = openDecoder(audioIn_);
  }

  static CodecPtr openDecoder(AVStream *st) {
    const AVCodec *codec = ff.avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) throw std::runtime_error("no decoder for input stream " + std::to_string(st->index));
    CodecPtr dec(Need(ff.avcodec_alloc_context3(codec), "decoder"));
    Check(ff.avcodec_parameters_to_context(dec.get(), st->codecpar), "decoder parameters");
    dec->pkt_timebase = st->time_base;
    Check(ff.avcodec_open2(dec.get(), codec, nullptr), "opening the decoder");
    return dec;
  }

  void openOutput(const std::string &name) {
    AVFormatContext *ctx = nullptr;
    Check(ff.avformat_alloc_output_context2(&ctx, nullptr, set_.Muxer, name.c_str()), "output format");
    out_.reset(ctx);
    const bool globalHeader = ctx->oformat->flags & AVFMT_GLOBALHEADER;

    AVRational rate = ff.av_guess_frame_rate(in_.get(), videoIn_, nullptr);
    if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
    const AVCodec *vc = findEncoder(set_.VideoEncoder);
    videoEnc_.reset(Need(ff.avcodec_alloc_context3(vc), "video encoder"));
    AVCodecContext *v = videoEnc_.get();
    v->width = set_.Width;
    v->height = set_.Height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->framerate = rate;
    v->time_base = av_inv_q(rate);
    // The picture keeps its shape on screen: the new size gets the pixel shape that shows it so.
    AVRational sar = ff.av_guess_sample_aspect_ratio(in_.get(), videoIn_, nullptr);
    if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
    ff.av_reduce(&v->sample_aspect_ratio.num, &v->sample_aspect_ratio.den,
                 int64_t(sar.num) * videoIn_->codecpar->width * v->height,
                 int64_t(sar.den) * videoIn_->codecpar->height * v->width, 1 << 30);
    v->bit_rate = set_.VideoBitRate;
    v->gop_size = set_.Gop;
    if (globalHeader) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *opts = nullptr;
    std::unique_ptr<AVDictionary *, DictFree> optsOwner(&opts);
    for (const auto &[key, value] : set_.VideoOptions) ff.av_dict_set(&opts, key, value, 0);
    Check(ff.avcodec_open2(v, vc, &opts), std::string("opening ") + set_.VideoEncoder);
    std::string unused;
    for (const AVDictionaryEntry *e = nullptr; (e = ff.av_dict_get(opts, "", e, AV_DICT_IGNORE_SUFFIX));)
      unused += std::string(" ") + e->key;
    if (!unused.empty()) throw std::runtime_error(std::string(set_.VideoEncoder) + " does not take:" + unused);
    videoOut_ = addStream(v);

    const AVCodec *ac = findEncoder(set_.AudioEncoder);
    audioEnc_.reset(Need(ff.avcodec_alloc_context3(ac), "audio encoder"));
    AVCodecContext *a = audioEnc_.get();
    a->sample_rate = set_.SampleRate;
    ff.av_channel_layout_default(&a->ch_layout, set_.Channels);
    a->sample_fmt = ac->sample_fmts ? ac->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    a->bit_rate = set_.AudioBitRate;
    a->time_base = {1, set_.SampleRate};
    if (globalHeader) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(ff.avcodec_open2(a, ac, nullptr), std::string("opening ") + set_.AudioEncoder);
    audioOut_ = addStream(a);

    Check(ff.avio_open(&ctx->pb, name.c_str(), AVIO_FLAG_WRITE), "creating " + name);
    Check(ff.avformat_write_header(ctx, nullptr), "writing the header");

    SwrContext *swr = nullptr;
    Check(ff.swr_alloc_set_opts2(&swr, &a->ch_layout, a->sample_fmt, a->sample_rate, &audioDec_->ch_layout,
                                 audioDec_->sample_fmt, audioDec_->sample_rate, 0, nullptr),
          "resampler");
    swr_.reset(swr);
    Check(ff.swr_init(swr), "resampler");
    fifo_.reset(Need(ff.av_audio_fifo_alloc(a->sample_fmt, a->ch_layout.nb_channels, 4096), "audio fifo"));
    frameSamples_ = a->frame_size > 0 ? a->frame_size : 1024;
  }

  static const AVCodec *findEncoder(const char *name) {
    const AVCodec *codec = ff.avcodec_find_encoder_by_name(name);
    if (!codec) throw std::runtime_error(std::string("no encoder ") + name);
    return codec;
  }

  AVStream *addStream(AVCodecContext *enc) {
    AVStream *st = Need(ff.avformat_new_stream(out_.get(), nullptr), "stream");
    Check(ff.avcodec_parameters_from_context(st->codecpar, enc), "stream parameters");
    st->time_base = enc->time_base;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      st->avg_frame_rate = enc->framerate;
      st->sample_aspect_ratio = enc->sample_aspect_ratio;
    }
    return st;
  }

  // Sends `frame` (nullptr: the end) and writes every packet the encoder has ready.
  void encode(AVCodecContext *enc, AVStream *st, AVFrame *frame) {
    Check(ff.avcodec_send_frame(enc, frame), "encoding");
    while (true) {
      const int err = ff.avcodec_receive_packet(enc, encoded_.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
      Check(err, "encoding");
      ff.av_packet_rescale_ts(encoded_.get(), enc->time_base, st->time_base);
      encoded_->stream_index = st->index;
      Check(ff.av_interleaved_write_frame(out_.get(), encoded_.get()), "writing a packet");
    }
  }

  // Runs the decoder on `pkt` (nullptr: the end) and hands each picture to `use`.
  template <class Use> void decode(AVCodecContext *dec, AVPacket *pkt, Use use) {
    Check(ff.avcodec_send_packet(dec, pkt), "decoding");
    while (true) {
      const int err = ff.avcodec_receive_frame(dec, decoded_.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
      Check(err, "decoding");
      use(decoded_.get());
      ff.av_frame_unref(decoded_.get());
    }
  }

  void decodeVideo(AVPacket *pkt) {
    decode(videoDec_.get(), pkt, [&](AVFrame *in) {
      AVCodecContext *enc = videoEnc_.get();
      if (!scaled_) {
        scaled_.reset(Need(ff.av_frame_alloc(), "frame"));
        scaled_->format = enc->pix_fmt;
        scaled_->width = enc->width;
        scaled_->height = enc->height;
        Check(ff.av_frame_get_buffer(scaled_.get(), 0), "picture buffer");
      }
      sws_.reset(ff.sws_getCachedContext(sws_.release(), in->width, in->height, AVPixelFormat(in->format),
                                         enc->width, enc->height, enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                         nullptr));
      if (!sws_) throw std::runtime_error("cannot scale the picture");
      // The encoder may still hold the previous picture; this copies only then.
      Check(ff.av_frame_make_writable(scaled_.get()), "picture buffer");
      ff.sws_scale(sws_.get(), in->data, in->linesize, 0, in->height, scaled_->data, scaled_->linesize);
      scaled_->pts = videoFrames_++;
      encode(enc, videoOut_, scaled_.get());
    });
  }

  void decodeAudio(AVPacket *pkt) {
    decode(audioDec_.get(), pkt, [&](AVFrame *in) {
      resample(const_cast<const uint8_t **>(in->extended_data), in->nb_samples);
      drainFifo(false);
    });
  }

  // Converts `count` samples (none: what the resampler still holds) into the fifo.
  void resample(const uint8_t **data, int count) {
    const int room = ff.swr_get_out_samples(swr_.get(), count);
    if (room <= 0) return;
    const AVCodecContext *a = audioEnc_.get();
    if (room > capacity_) {
      converted_.reset();
      planes_.assign(a->ch_layout.nb_channels, nullptr);
      Check(ff.av_samples_alloc(planes_.data(), nullptr, a->ch_layout.nb_channels, room, a->sample_fmt, 0),
            "sample buffer");
      converted_.reset(planes_[0]);
      capacity_ = room;
    }
    const int got = Check(ff.swr_convert(swr_.get(), planes_.data(), room, data, count), "resampling");
    if (got > 0 && ff.av_audio_fifo_write(fifo_.get(), reinterpret_cast<void **>(planes_.data()), got) < got)
      throw std::runtime_error("audio fifo: out of memory");
  }

  // Encodes whole encoder frames from the fifo; at the end also the short rest.
  void drainFifo(bool end) {
    AVCodecContext *a = audioEnc_.get();
    while (ff.av_audio_fifo_size(fifo_.get()) >= (end ? 1 : frameSamples_)) {
      const int n = std::min(frameSamples_, ff.av_audio_fifo_size(fifo_.get()));
      FramePtr frame(Need(ff.av_frame_alloc(), "frame"));
      frame->nb_samples = n;
      frame->format = a->sample_fmt;
      frame->sample_rate = a->sample_rate;
      Check(ff.av_channel_layout_copy(&frame->ch_layout, &a->ch_layout), "channel layout");
      Check(ff.av_frame_get_buffer(frame.get(), 0), "sample buffer");
      if (ff.av_audio_fifo_read(fifo_.get(), reinterpret_cast<void **>(frame->data), n) < n)
        throw std::runtime_error("audio fifo: short read");
      frame->pts = audioSamples_;
      audioSamples_ += n;
      encode(a, audioOut_, frame.get());
    }
  }

  void flushAudio() {
    resample(nullptr, 0);
    drainFifo(true);
  }

  const Setting &set_;
  TInputContextPtr in_;
  std::unique_ptr<AVFormatContext, OutputFree> out_;
  AVStream *videoIn_ = nullptr, *audioIn_ = nullptr, *videoOut_ = nullptr, *audioOut_ = nullptr;
  CodecPtr videoDec_, audioDec_, videoEnc_, audioEnc_;
  TSwsPtr sws_;
  TSwrPtr swr_;
  TAudioFifoPtr fifo_;
  PacketPtr packet_;
  FramePtr decoded_, scaled_;
  PacketPtr encoded_;
  std::vector<uint8_t *> planes_;                     // into converted_, one per channel
  std::unique_ptr<uint8_t, SamplesFree> converted_; // the resampler's output buffer
  int capacity_ = 0;                                // samples per channel it holds
  int frameSamples_ = 1024;
  int64_t videoFrames_ = 0, audioSamples_ = 0;
};

int usage() {
  std::fputs("Usage: bench_minimal_transcode IN OUT --preset a|b\n"
             "  a  MPEG-4 Part 2 640x480 + MP3 in AVI\n"
             "  b  H.264 320x240 with the iPod settings + AAC in MP4\n",
             stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5 || std::strcmp(argv[3], "--preset") != 0) return usage();
  const Setting *setting = nullptr;
  for (const Setting &s : kSettings)
    if (std::strcmp(s.Name, argv[4]) == 0) setting = &s;
  if (!setting) return usage();
  if (!FFLoader().LoadLibs(ConverterLibs)) {
    std::fprintf(stderr, "bench_minimal_transcode: %s\n", FFLoader().LastError().c_str());
    return 1;
  }
  try {
    Transcode(argv[1], argv[2], *setting).Run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "bench_minimal_transcode: %s\n", e.what());
    return 1;
  }
  return 0;
}
