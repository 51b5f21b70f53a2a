// The subtitle stage: decoding bitmap subtitles on their own thread into a queue of four,
// retiring them as the pictures pass, and drawing the one due over a drawn picture.
#include <QImage>
#include <QPainter>
#include <chrono>
#include <thread>

#include "player/ffplayer.h"
#include "player/playback.h"

namespace {

using namespace std::chrono_literals;

void freeFirst(TSubtitleQueue &q) {
  ff.avsubtitle_free(&q.Subs[q.RIndex].Sub);
  q.Subs[q.RIndex].Sub = AVSubtitle{};
  q.RIndex = (q.RIndex + 1) % TSubtitleQueue::kSize;
  --q.Size;
}

} // namespace

void SubtitleThread(TPlaybackState &s) {
  TSubtitlePart &sp = s.Subtitle;
  TSubtitleQueue &q = sp.Subs;
  for (;;) {
    while (s.Paused && !sp.Queue.Aborted() && !s.SeekWhilePaused)
      std::this_thread::sleep_for(10ms);
    TQueuedPacket e;
    if (sp.Queue.Get(e, true) < 0) break;
    if (e.kind == TQueuedPacket::Flush) {
      ff.avcodec_flush_buffers(sp.Decoder.get());
      continue;
    }
    if (e.kind != TQueuedPacket::Data) continue;
    {
      std::unique_lock<std::mutex> g(q.Lock);
      q.Cond.wait(g, [&] { return q.Size < TSubtitleQueue::kSize || sp.Queue.Aborted(); });
      if (sp.Queue.Aborted()) break;
    }
    TQueuedSubtitle &slot = q.Subs[q.WIndex];
    int got = 0;
    if (ff.avcodec_decode_subtitle2(sp.Decoder.get(), &slot.Sub, &got, e.packet.get()) < 0 ||
        !got)
      continue;
    if (slot.Sub.format != 0) { // only bitmap subtitles are drawn
      ff.avsubtitle_free(&slot.Sub);
      slot.Sub = AVSubtitle{};
      continue;
    }
    slot.Pts = e.packet->pts != AV_NOPTS_VALUE ? e.packet->pts * av_q2d(sp.Stream->time_base) : 0;
    std::lock_guard<std::mutex> g(q.Lock);
    q.WIndex = (q.WIndex + 1) % TSubtitleQueue::kSize;
    ++q.Size;
  }
}

void FreeSubtitles(TPlaybackState &s) {
  TSubtitleQueue &q = s.Subtitle.Subs;
  std::lock_guard<std::mutex> g(q.Lock);
  while (q.Size > 0) freeFirst(q);
  q.RIndex = q.WIndex = 0;
}

void AdvanceSubtitles(TPlaybackState &s, double now) {
  if (s.Subtitle.StreamIndex < 0 && !s.Subtitle.StreamChanged) return;
  TSubtitleQueue &q = s.Subtitle.Subs;
  if (s.Subtitle.StreamChanged.exchange(false)) {
    FreeSubtitles(s);
    q.Cond.notify_all();
    return;
  }
  std::lock_guard<std::mutex> g(q.Lock);
  while (q.Size > 0) {
    const TQueuedSubtitle &first = q.Subs[q.RIndex];
    const TQueuedSubtitle *second =
        q.Size > 1 ? &q.Subs[(q.RIndex + 1) % TSubtitleQueue::kSize] : nullptr;
    const bool ended = now > first.Pts + first.Sub.end_display_time / 1000.0;
    const bool replaced = second && now > second->Pts + second->Sub.start_display_time / 1000.0;
    if (!ended && !replaced) break;
    freeFirst(q);
    q.Cond.notify_all();
  }
}

void DrawSubtitles(TPlaybackState &s, double pts, QImage &target, int pictureWidth,
                   int pictureHeight) {
  if (s.Subtitle.StreamIndex < 0 || pictureWidth <= 0 || pictureHeight <= 0) return;
  TSubtitleQueue &q = s.Subtitle.Subs;
  std::lock_guard<std::mutex> g(q.Lock);
  if (q.Size == 0) return;
  const TQueuedSubtitle &sub = q.Subs[q.RIndex];
  if (pts < sub.Pts + sub.Sub.start_display_time / 1000.0) return;
  // Rectangles are placed in picture coordinates; the drawing is already scaled.
  QPainter painter(&target);
  painter.scale(double(target.width()) / pictureWidth, double(target.height()) / pictureHeight);
  for (unsigned i = 0; i < sub.Sub.num_rects; ++i) {
    const AVSubtitleRect *r = sub.Sub.rects[i];
    if (r->type != SUBTITLE_BITMAP || r->w <= 0 || r->h <= 0) continue;
    QImage bitmap(r->w, r->h, QImage::Format_ARGB32);
    const uint32_t *palette = reinterpret_cast<const uint32_t *>(r->data[1]);
    for (int y = 0; y < r->h; ++y) {
      const uint8_t *src = r->data[0] + y * r->linesize[0];
      QRgb *dst = reinterpret_cast<QRgb *>(bitmap.scanLine(y));
      for (int x = 0; x < r->w; ++x) dst[x] = src[x] < r->nb_colors ? palette[src[x]] : 0;
    }
    painter.drawImage(QPoint(r->x, r->y), bitmap);
  }
}
