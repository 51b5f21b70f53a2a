// Deinterlacing of decoded pictures before the hook: a small graph per input stream
// with the libraries' deinterlacer, one picture out per picture in. Not the output's
// filter graph (video_filter.cpp).
#include "engine/deinterlace.h"

struct TDeinterlacer {
  TDeinterlacer() = default;
  TDeinterlacer(const TDeinterlacer &) = delete;
  TDeinterlacer &operator=(const TDeinterlacer &) = delete;
  ~TDeinterlacer() {
    if (Graph) ff.avfilter_graph_free(&Graph);
  }
  AVFilterGraph *Graph = nullptr;
  AVFilterContext *Source = nullptr, *Sink = nullptr; // owned by the graph
  int Width = 0, Height = 0, Format = -1;
  bool Broken = false; // failed once: pictures pass unchanged from then on
};

namespace {

void Failed(TTranscodeState &s, TDeinterlacer &d) {
  EngineLog(&s.Engine, llError, "Deinterlacing failed.");
  d.Broken = true;
}

// A graph for pictures of this size and format: every picture deinterlaced (the frame
// mode keeps the rate), parity from the picture.
bool Build(TDeinterlacer &d, const AVFrame *frame) {
  if (d.Graph) ff.avfilter_graph_free(&d.Graph);
  d.Graph = ff.avfilter_graph_alloc();
  if (!d.Graph) return false;
  AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{0, 1};
  std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", frame->width,
                            frame->height, frame->format, AV_TIME_BASE, sar.num, sar.den);
  const AVFilter *yadif = ff.avfilter_get_by_name("yadif");
  AVFilterContext *deint = nullptr;
  if (!yadif ||
      ff.avfilter_graph_create_filter(&d.Source, ff.avfilter_get_by_name("buffer"), "src", args.c_str(), nullptr,
                                      d.Graph) < 0 ||
      ff.avfilter_graph_create_filter(&deint, yadif, "deinterlace", "mode=send_frame:parity=auto:deint=all", nullptr,
                                      d.Graph) < 0 ||
      ff.avfilter_graph_create_filter(&d.Sink, ff.avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                      d.Graph) < 0 ||
      ff.avfilter_link(d.Source, 0, deint, 0) < 0 || ff.avfilter_link(deint, 0, d.Sink, 0) < 0 ||
      ff.avfilter_graph_config(d.Graph, nullptr) < 0)
    return false;
  d.Width = frame->width;
  d.Height = frame->height;
  d.Format = frame->format;
  return true;
}

// The next ready picture into `out`; false when none is ready.
bool Pull(TDeinterlacer &d, AVFrame *out, int64_t &pts) {
  if (ff.av_buffersink_get_frame(d.Sink, out) < 0) return false;
  if (out->pts != AV_NOPTS_VALUE) pts = ToMicros(out->pts, ff.av_buffersink_get_time_base(d.Sink));
  return true;
}

} // namespace

bool Deinterlace(TTranscodeState &s, TInputStream &ist, AVFrame *frame) {
  if (!s.Engine.Options().DoDeinterlace) return true;
  if (!ist.Deinterlacer) ist.Deinterlacer = std::make_shared<TDeinterlacer>();
  TDeinterlacer &d = *ist.Deinterlacer;
  if (d.Broken) return true;
  // A new size mid-stream starts a new graph; the picture held by the old one is lost.
  if ((!d.Graph || frame->width != d.Width || frame->height != d.Height || frame->format != d.Format) &&
      !Build(d, frame)) {
    Failed(s, d);
    return true;
  }
  int64_t saved = frame->pts;
  frame->pts = ist.Pts;
  int err = ff.av_buffersrc_add_frame_flags(d.Source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
  frame->pts = saved;
  if (err < 0) {
    Failed(s, d);
    return true;
  }
  TFramePtr out(ff.av_frame_alloc());
  if (!out) Fail("av_mallocz fail");
  int64_t pts = ist.Pts;
  if (!Pull(d, out.get(), pts)) return false;
  ff.av_frame_unref(frame);
  ff.av_frame_move_ref(frame, out.get());
  ist.Pts = pts;
  return true;
}

void DrainDeinterlacer(TTranscodeState &s, TInputStream &ist, const std::function<void(AVFrame *)> &deliver) {
  if (!ist.Deinterlacer || !ist.Deinterlacer->Graph || ist.Deinterlacer->Broken) return;
  TDeinterlacer &d = *ist.Deinterlacer;
  if (ff.av_buffersrc_add_frame_flags(d.Source, nullptr, 0) < 0) {
    Failed(s, d);
    return;
  }
  TFramePtr out(ff.av_frame_alloc());
  if (!out) Fail("av_mallocz fail");
  int64_t pts = ist.Pts;
  while (Pull(d, out.get(), pts)) {
    ist.Pts = pts;
    deliver(out.get());
    ff.av_frame_unref(out.get());
  }
  d.Broken = true; // drained: nothing more goes in
}
