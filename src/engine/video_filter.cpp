// The video path's set-up beyond the defaults: the encoder's pixel format, the filter
// graph between decoder and encoder, and pictures pushed through it. Not frame-rate
// sync, scaling without a graph or encoding, which video.cpp does.
#include "engine/video_filter.h"
#include "media/ffowners.h"

#include <cstring>

TVideoFilter::~TVideoFilter() {
  if (Graph) ff.avfilter_graph_free(&Graph);
}

namespace {

// Formats an encoder lists but refuses at the default compliance level, with the twin
// it takes instead: MJPEG wants full-range YUV unless unofficial output is allowed.
struct TFormatTwin {
  AVCodecID Codec;
  AVPixelFormat Asked, Taken;
};
constexpr TFormatTwin kTwins[] = {
    {AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P},
    {AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUVJ422P},
    {AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVJ444P},
};

// The sizes the DV encoder knows and the sampling each takes; a size with several
// keeps the requested one when listed, else the first.
struct TDvProfile {
  int Width, Height;
  AVPixelFormat Formats[3];
};
constexpr TDvProfile kDvProfiles[] = {
    {720, 480, {AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE}},
    {720, 576, {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV422P}},
    {960, 720, {AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE, AV_PIX_FMT_NONE}},
    {1280, 1080, {AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE, AV_PIX_FMT_NONE}},
    {1440, 1080, {AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE, AV_PIX_FMT_NONE}},
};

bool Listed(const AVCodec *codec, AVPixelFormat fmt) {
  for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == fmt) return true;
  return false;
}

std::string FilterError(int err) { return "Error opening filters: " + CauseText(err); }

AVFilterContext *AddFilter(AVFilterGraph *graph, const char *filter, const char *name, const std::string &args) {
  const AVFilter *f = ff.avfilter_get_by_name(filter);
  if (!f) Fail(Format("Error opening filters: no filter named \"%s\"", filter));
  AVFilterContext *ctx = nullptr;
  int err = ff.avfilter_graph_create_filter(&ctx, f, name, args.empty() ? nullptr : args.c_str(), nullptr, graph);
  if (err < 0) Fail(FilterError(err));
  return ctx;
}

void Link(AVFilterContext *from, AVFilterContext *to) {
  int err = ff.avfilter_link(from, 0, to, 0);
  if (err < 0) Fail(FilterError(err));
}

using TInOutPtr = TFilterInOutPtr;

TInOutPtr Endpoint(const char *name, AVFilterContext *ctx) {
  TInOutPtr io(ff.avfilter_inout_alloc());
  if (!io) Fail("Error opening filters!");
  io->name = ff.av_strdup(name);
  if (!io->name) Fail("Error opening filters!");
  io->filter_ctx = ctx;
  io->pad_idx = 0;
  return io;
}

} // namespace

AVPixelFormat EncoderPixelFormat(const AVCodec *codec, const AVCodecContext *enc) {
  AVPixelFormat fmt = enc->pix_fmt;
  if (!codec || !codec->pix_fmts) return fmt == AV_PIX_FMT_NONE ? AV_PIX_FMT_YUV420P : fmt;
  if (codec->id == AV_CODEC_ID_MJPEG && enc->strict_std_compliance < 0 &&
      (fmt == AV_PIX_FMT_YUV420P || fmt == AV_PIX_FMT_YUV422P))
    return fmt;
  if (codec->id == AV_CODEC_ID_DVVIDEO) {
    for (const auto &p : kDvProfiles) {
      if (p.Width != enc->width || p.Height != enc->height) continue;
      for (AVPixelFormat f : p.Formats)
        if (f == fmt && Listed(codec, f)) return f;
      for (AVPixelFormat f : p.Formats)
        if (f != AV_PIX_FMT_NONE && Listed(codec, f)) return f;
    }
  }
  for (const auto &t : kTwins)
    if (t.Codec == codec->id && t.Asked == fmt && Listed(codec, t.Taken)) return t.Taken;
  return Listed(codec, fmt) ? fmt : codec->pix_fmts[0];
}

std::shared_ptr<TVideoFilter> BuildVideoFilter(TTranscodeState &s, TOutputStream &ost) {
  const TOptionState &o = s.Engine.Options();
  const AVCodecParameters *par = s.Ist[ost.Source].St->codecpar;
  AVCodecContext *enc = ost.Enc.get();
  auto f = std::make_shared<TVideoFilter>();
  f->Graph = ff.avfilter_graph_alloc();
  if (!f->Graph) Fail("Error opening filters!");
  if (ff.av_opt_set(f->Graph, "scale_sws_opts", Format("flags=0x%X", unsigned(o.SwsFlags)).c_str(), 0) < 0)
    Fail("Error opening filters!");

  AVRational sar = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : AVRational{0, 1};
  f->Source = AddFilter(f->Graph, "buffer", "src",
                        Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", par->width,
                               par->height, par->format, AV_TIME_BASE, sar.num, sar.den));
  f->Sink = AddFilter(f->Graph, "buffersink", "ffmpeg_output", "");
  // Only the encoder's own format leaves the graph; the graph converts to it.
  AVPixelFormat formats[] = {enc->pix_fmt, AV_PIX_FMT_NONE};
  int err = ff.av_opt_set_bin(f->Sink, "pix_fmts", reinterpret_cast<const uint8_t *>(formats), sizeof(formats[0]),
                              AV_OPT_SEARCH_CHILDREN);
  if (err < 0) Fail(FilterError(err));

  AVFilterContext *last = f->Source;
  int cropW = par->width - o.FrameLeftBand - o.FrameRightBand;
  int cropH = par->height - o.FrameTopBand - o.FrameBottomBand;
  if (o.FrameTopBand || o.FrameBottomBand || o.FrameLeftBand || o.FrameRightBand) {
    AVFilterContext *crop = AddFilter(f->Graph, "crop", "crop",
                                      Format("w=%d:h=%d:x=%d:y=%d", cropW, cropH, o.FrameLeftBand, o.FrameTopBand));
    Link(last, crop);
    last = crop;
  }
  if (cropW != enc->width || cropH != enc->height) {
    AVFilterContext *scale =
        AddFilter(f->Graph, "scale", "scale", Format("w=%d:h=%d:flags=%d", enc->width, enc->height, o.SwsFlags));
    Link(last, scale);
    last = scale;
  }

  if (!o.VFilters.empty()) {
    // The chain so far feeds the text's "in"; the text's "out" feeds the sink.
    TInOutPtr outputs = Endpoint("in", last);
    TInOutPtr inputs = Endpoint("out", f->Sink);
    AVFilterInOut *in = inputs.release(), *out = outputs.release();
    err = ff.avfilter_graph_parse_ptr(f->Graph, o.VFilters.c_str(), &in, &out, nullptr);
    ff.avfilter_inout_free(&in);
    ff.avfilter_inout_free(&out);
    if (err < 0) Fail(FilterError(err));
  } else {
    Link(last, f->Sink);
  }
  err = ff.avfilter_graph_config(f->Graph, nullptr);
  if (err < 0) Fail(FilterError(err));
  enc->width = ff.av_buffersink_get_w(f->Sink);
  enc->height = ff.av_buffersink_get_h(f->Sink);
  return f;
}

void RunVideoFilter(TTranscodeState &s, TVideoFilter &f, AVFrame *frame, int64_t pts,
                    const std::function<void(AVFrame *, int64_t)> &take) {
  const TOptionState &o = s.Engine.Options();
  if (f.Drained) return;
  if (frame) {
    int64_t saved = frame->pts;
    frame->pts = pts;
    int err = ff.av_buffersrc_add_frame_flags(f.Source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    frame->pts = saved;
    if (err < 0) {
      std::string msg = "Error while feeding the filter graph: " + CauseText(err);
      if (o.ExitOnError) Fail(msg);
      EngineLog(&s.Engine, llError, "%s", msg.c_str());
      return;
    }
  } else {
    f.Drained = true;
    int err = ff.av_buffersrc_add_frame_flags(f.Source, nullptr, 0);
    if (err < 0) Fail("Error while closing the filter graph: " + CauseText(err));
  }
  TFramePtr out(ff.av_frame_alloc());
  if (!out) Fail("av_mallocz fail");
  AVRational tb = ff.av_buffersink_get_time_base(f.Sink);
  for (;;) {
    int err = ff.av_buffersink_get_frame(f.Sink, out.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) Fail("Error while filtering: " + CauseText(err));
    int64_t at = out->pts != AV_NOPTS_VALUE ? ToMicros(out->pts, tb) : pts;
    take(out.get(), at);
    ff.av_frame_unref(out.get());
  }
}

void VideoPathSetup(TTranscodeState &s, TOutputStream &ost) {
  AVCodecContext *enc = ost.Enc.get();
  enc->pix_fmt = EncoderPixelFormat(ost.Encoder, enc);
  if (s.Engine.Options().VFilters.empty()) return;
  int w = enc->width, h = enc->height;
  ost.Filter = BuildVideoFilter(s, ost);
  // A text that pads or scales can land on a size that takes another format (DV).
  if (AVPixelFormat again = EncoderPixelFormat(ost.Encoder, enc); again != enc->pix_fmt) {
    enc->pix_fmt = again;
    enc->width = w;
    enc->height = h;
    ost.Filter = BuildVideoFilter(s, ost);
  }
  // Pictures leave the graph at the encoder's size and format: nothing left to scale.
  ost.SrcW = enc->width;
  ost.SrcH = enc->height;
  ost.SrcFmt = enc->pix_fmt;
}

void DoVideoOut(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame) {
  if (!ost.Filter) {
    EmitVideo(s, ost, ist, frame);
    return;
  }
  RunVideoFilter(s, *ost.Filter, frame, ist.Pts, [&](AVFrame *picture, int64_t pts) {
    // Sync follows the time each picture leaves the graph with.
    ist.Pts = pts;
    EmitVideo(s, ost, ist, picture);
  });
}

void FlushVideoPath(TTranscodeState &s, TOutputStream &ost, TInputStream &ist) {
  if (!ost.Filter) return;
  RunVideoFilter(s, *ost.Filter, nullptr, ist.Pts, [&](AVFrame *picture, int64_t pts) {
    ist.Pts = pts;
    EmitVideo(s, ost, ist, picture);
  });
}
