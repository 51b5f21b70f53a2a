// The video stage: decoding on the video thread, the filter chain that delivers planar
// YUV 4:2:0 pictures, late-picture skipping, the hook step and the two-picture queue.
// When a picture is shown is decided by the refresh (display.cpp).
#include <chrono>
#include <thread>

#include "media/logger.h"
#include "player/display.h"
#include "player/ffplayer.h"
#include "player/playback.h"

namespace {

using namespace std::chrono_literals;

// Source and sink joined directly: the chain only brings every picture to YUV 4:2:0.
bool buildGraph(TPlaybackState &s, const AVFrame *f) {
  TVideoPart &v = s.Video;
  v.Graph.reset(ff.avfilter_graph_alloc());
  v.Source = v.Sink = nullptr;
  if (!v.Graph) return false;
  v.Graph->scale_sws_opts = ff.av_strdup("flags=4");
  const AVRational tb = v.Stream->time_base;
  AVRational sar = f->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = v.Stream->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
  char args[256];
  snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
           f->width, f->height, f->format, tb.num, tb.den, sar.num, sar.den);
  if (ff.avfilter_graph_create_filter(&v.Source, ff.avfilter_get_by_name("buffer"), "src", args,
                                      nullptr, v.Graph.get()) < 0)
    return false;
  if (ff.avfilter_graph_create_filter(&v.Sink, ff.avfilter_get_by_name("buffersink"), "out",
                                      nullptr, nullptr, v.Graph.get()) < 0)
    return false;
  const enum AVPixelFormat fmts[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  if (ff.av_opt_set_bin(v.Sink, "pix_fmts", reinterpret_cast<const uint8_t *>(fmts),
                        sizeof(fmts[0]), AV_OPT_SEARCH_CHILDREN) < 0)
    return false;
  if (ff.avfilter_link(v.Source, 0, v.Sink, 0) < 0) return false;
  if (ff.avfilter_graph_config(v.Graph.get(), nullptr) < 0) return false;
  v.GraphWidth = f->width;
  v.GraphHeight = f->height;
  v.GraphFormat = f->format;
  return true;
}

// The decoder was told to drop what it holds: pictures queued from before are dropped
// by the refresh, and the timing starts afresh.
void afterFlush(TPlaybackState &s) {
  TVideoPart &v = s.Video;
  TPictureQueue &q = v.Pictures;
  ff.avcodec_flush_buffers(v.Decoder.get());
  v.Draining = false;
  {
    std::unique_lock<std::mutex> g(q.Lock);
    for (TPicture &p : q.Pics) p.TargetClock = 0;
    q.Cond.wait(g, [&] { return q.Size == 0 || q.Aborted; });
  }
  s.Clocks.CurrentPos = -1;
  s.Clocks.FrameLastPts = -1;
  s.Clocks.FrameLastDelay = 0;
  s.Clocks.FrameTimer = NowSeconds();
  v.SkipFactor = 1;
  v.SkipCounter = 0;
  v.FlushSeen = true;
}

// 1 with a picture in `out`, 0 for none this time, -1 when the stream is closing.
int getPicture(TPlaybackState &s, AVFrame *decoded, AVFrame *out) {
  TVideoPart &v = s.Video;
  for (;;) {
    const int r = ff.avcodec_receive_frame(v.Decoder.get(), decoded);
    if (r == 0) {
      // The decoder's own reordering gives the presentation time.
      const int64_t pts = decoded->best_effort_timestamp != AV_NOPTS_VALUE
                              ? decoded->best_effort_timestamp
                              : 0;
      v.SkipCounter += 1;
      if (v.SkipCounter < v.SkipFactor) {
        ff.av_frame_unref(decoded);
        continue;
      }
      v.SkipCounter -= std::max(1.0, v.SkipFactor.load());
      decoded->pts = pts;
      if (!v.Graph || decoded->width != v.GraphWidth || decoded->height != v.GraphHeight ||
          decoded->format != v.GraphFormat) {
        if (!buildGraph(s, decoded)) {
          ff.av_frame_unref(decoded);
          s.Player.LogError("Cannot build the picture filter chain");
          return -1;
        }
        if (TDisplay *d = s.Player.Display()) d->Post({deAlloc, 0, 0});
      }
      const int64_t pos = decoded->pkt_pos;
      if (ff.av_buffersrc_add_frame_flags(v.Source, decoded, 0) < 0) {
        ff.av_frame_unref(decoded);
        return 0;
      }
      if (ff.av_buffersink_get_frame(v.Sink, out) < 0) return 0;
      out->pkt_pos = pos;
      return 1;
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) return 0; // a broken picture: go on

    TQueuedPacket e;
    if (v.Queue.Get(e, true) < 0) return -1;
    switch (e.kind) {
    case TQueuedPacket::Flush:
      afterFlush(s);
      return 0;
    case TQueuedPacket::EndOfInput:
      if (!v.Draining) {
        // Hands out the pictures the decoder still holds back.
        ff.avcodec_send_packet(v.Decoder.get(), nullptr);
        v.Draining = true;
        continue;
      }
      if (!s.EndSignalled) UpdatePosition(s);
      return 0;
    case TQueuedPacket::Data:
      if (v.Draining) {
        ff.avcodec_flush_buffers(v.Decoder.get());
        v.Draining = false;
      }
      ff.avcodec_send_packet(v.Decoder.get(), e.packet.get());
      continue;
    }
  }
}

int queuePicture(TPlaybackState &s, AVFrame *pic, double t) {
  TVideoPart &v = s.Video;
  TPictureQueue &q = v.Pictures;
  if (t != 0)
    s.Clocks.VideoClock = t;
  else
    t = s.Clocks.VideoClock;
  const double delay = v.FrameDuration + pic->repeat_pict * v.FrameDuration / 2;
  s.Clocks.VideoClock = s.Clocks.VideoClock + delay;

  {
    std::unique_lock<std::mutex> g(q.Lock);
    if (q.Size >= 2 && !s.Display.RefreshPending) v.SkipFactor = std::max(0.95, v.SkipFactor * 0.95);
    q.Cond.wait(g, [&] { return q.Size < 2 || q.Aborted; });
    if (q.Aborted) return -1;
  }

  TPicture &p = q.Pics[q.WIndex];
  FramePtr overlay(ff.av_frame_clone(pic));
  if (!overlay) return -1;
  overlay->width &= ~1;
  overlay->height &= ~1;
  const int64_t pts = std::llround(t * 1e6) - s.Read.StartTime;
  TCustomPlayer &player = s.Player;
  if (player.Hook() && player.OnHook && ff.av_frame_make_writable(overlay.get()) >= 0)
    player.RunHook(overlay.get(), pts);
  p.Overlay = std::move(overlay);
  p.Pts = t;
  p.Pos = pic->pkt_pos;

  std::lock_guard<std::mutex> g(q.Lock);
  q.WIndex = (q.WIndex + 1) % 2;
  p.TargetClock = TargetClock(s, t);
  ++q.Size;
  return 0;
}

} // namespace

bool StartVideo(TPlaybackState &s) {
  TVideoPart &v = s.Video;
  const AVRational rate = ff.av_guess_frame_rate(s.Read.Format, v.Stream, nullptr);
  v.FrameDuration = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
  v.Pictures.Aborted = false;
  try {
    v.Thread = std::thread([&s] { VideoThread(s); });
  } catch (const std::system_error &) {
    s.Player.StoreError("SDL_CreateThread() failed.", true);
    return false;
  }
  return true;
}

void VideoThread(TPlaybackState &s) {
  TVideoPart &v = s.Video;
  FramePtr decoded(ff.av_frame_alloc()), out(ff.av_frame_alloc());
  TCustomPlayer &player = s.Player;
  while (decoded && out) {
    while (s.Paused && !v.Queue.Aborted() && !s.SeekWhilePaused && !s.StepCounter)
      std::this_thread::sleep_for(10ms);
    const int r = getPicture(s, decoded.get(), out.get());
    if (r < 0) break;
    if (r == 0) continue;
    if (s.AfterSeek && v.FlushSeen) {
      s.AfterSeek = false;
      s.SeekWhilePaused = false;
    }
    const AVRational tb = ff.av_buffersink_get_time_base(v.Sink);
    const double t = out->pts != AV_NOPTS_VALUE ? out->pts * av_q2d(tb) : 0;
    const int queued = queuePicture(s, out.get(), t);
    ff.av_frame_unref(out.get());
    if (queued < 0) break;
    // Only a picture from after a pending seek answers the seek's waiter.
    if (!s.AfterSeek) player.SeekPictureSignal.Set();
    s.EndSignalled = false;
    if (!s.SeekRequest) player.Seeking = false;
    if (s.StepCounter > 1) {
      s.StepCounter = 0;
      player.SetState(psPause);
    } else if (s.StepCounter == 1) {
      s.StepCounter = 2;
    }
  }
  v.Graph.reset();
}

void WakePictureQueue(TPlaybackState &s) {
  TPictureQueue &q = s.Video.Pictures;
  {
    std::lock_guard<std::mutex> g(q.Lock);
    q.Aborted = true;
  }
  q.Cond.notify_all();
}

bool PictureForBitmap(TPlaybackState &s, AVFrame *into, double &pts) {
  TPictureQueue &q = s.Video.Pictures;
  std::lock_guard<std::mutex> g(q.Lock);
  const AVFrame *src = nullptr;
  if (s.Display.Shown) {
    src = s.Display.Shown.get();
    pts = s.Display.ShownPts;
  } else if (q.Size > 0 && q.Pics[q.RIndex].Overlay) {
    src = q.Pics[q.RIndex].Overlay.get();
    pts = q.Pics[q.RIndex].Pts;
  }
  return src && ff.av_frame_ref(into, src) >= 0;
}
