// Showing pictures and the waveform: the display widget, the play thread's display event
// loop, the refresh that decides which queued picture is due, and the drawing with its
// aspect and centring rules. Decoding and clocks live in their own files.
#include "player/display.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

#include "media/logger.h"
#include "media/synccall.h"
#include "player/ffplayer.h"
#include "player/playback.h"

class TDisplayWidget : public QWidget {
public:
  TDisplayWidget(QWidget *host, TDisplay *display) : QWidget(host), display_(display) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (host) {
      host->installEventFilter(this);
      setGeometry(host->rect());
    } else {
      setWindowTitle("FFPlayer");
    }
  }
  ~TDisplayWidget() override {
    if (parentWidget()) parentWidget()->removeEventFilter(this);
  }

  void SetPicture(const QImage &image, const QRect &area) {
    image_ = image;
    area_ = area;
    update();
  }
  // A new video mode starts from a black surface.
  void ClearSurface() {
    image_ = QImage();
    update();
  }
  // The display lets go of the widget before it is deleted.
  void Detach() { display_ = nullptr; }

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    // An opaque widget paints every pixel each time: black around the picture.
    if (image_.isNull()) {
      p.fillRect(rect(), Qt::black);
      return;
    }
    const QRect at(area_.topLeft(), image_.size());
    QRegion around(rect());
    around -= at;
    for (const QRect &r : around) p.fillRect(r, Qt::black);
    p.drawImage(at.topLeft(), image_);
  }
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize && display_) {
      const QSize size = parentWidget()->size();
      display_->Post({deResize, size.width(), size.height()});
    }
    return false;
  }
  void closeEvent(QCloseEvent *event) override {
    if (display_) display_->Post({deQuit, 0, 0});
    QWidget::closeEvent(event);
  }

private:
  TDisplay *display_;
  QImage image_;
  QRect area_;
};

TDisplay::TDisplay(QWidget *host, bool withWidget) : host_(host), withWidget_(withWidget) {
  if (withWidget) SyncCall([&] { widget_ = new TDisplayWidget(host, this); });
}

TDisplay::~TDisplay() {
  QPointer<TDisplayWidget> w = widget_;
  if (!w) return;
  // The widget belongs to the user-interface thread; it goes there to be deleted.
  PostToUIThread([w] {
    if (w) {
      w->Detach();
      delete w.data();
    }
  });
  if (IsUIThread()) {
    w->Detach();
    delete w.data();
  }
}

void TDisplay::Post(const TDisplayEvent &e) {
  {
    std::lock_guard<std::mutex> g(lock_);
    events_.push_back(e);
  }
  cond_.notify_all();
}

TDisplayEvent TDisplay::Wait() {
  std::unique_lock<std::mutex> g(lock_);
  cond_.wait(g, [&] { return !events_.empty(); });
  TDisplayEvent e = events_.front();
  events_.pop_front();
  return e;
}

void TDisplay::SetMode(int width, int height, bool force) {
  if (!force && width_ == width && height_ == height) return;
  width_ = width;
  height_ = height;
  QPointer<TDisplayWidget> w = widget_;
  const bool hosted = host_ != nullptr;
  PostToUIThread([w, width, height, hosted] {
    if (!w) return;
    w->ClearSurface();
    w->setGeometry(0, 0, width, height);
    if (!hosted) w->resize(width, height);
    w->show();
  });
}

void TDisplay::Show(const QImage &image, const QRect &area) {
  QPointer<TDisplayWidget> w = widget_;
  PostToUIThread([w, image, area] {
    if (w) w->SetPicture(image, area);
  });
}

namespace {

// The surface takes the size the host asked for, else the picture's, else 640 x 480.
void openSurface(TPlaybackState &s, bool force) {
  TDisplay *d = s.Player.Display();
  if (!d) return;
  int w = s.Player.ScreenWidth(), h = s.Player.ScreenHeight();
  if (w <= 0) {
    w = s.Video.GraphWidth & ~1;
    h = s.Video.GraphHeight & ~1;
    if (w <= 0 || h <= 0) w = 640, h = 480;
  }
  d->SetMode(w, h, force);
  s.Display.Width = d->Width();
  s.Display.Height = d->Height();
}

double pictureAspect(TPlaybackState &s, const AVFrame *pic) {
  const float forced = s.Player.AspectRatio();
  const bool hasArea = s.Display.Width > 0 && s.Display.Height > 0;
  if (forced < 0 && hasArea) return double(s.Display.Width) / s.Display.Height;
  if (forced > 0) return forced;
  double sar = pic->sample_aspect_ratio.num > 0 && pic->sample_aspect_ratio.den > 0
                   ? av_q2d(pic->sample_aspect_ratio)
                   : 1.0;
  return sar * pic->width / pic->height;
}

void drawPicture(TPlaybackState &s) {
  TDisplay *d = s.Player.Display();
  TPicture &p = s.Video.Pictures.Pics[s.Video.Pictures.RIndex];
  const AVFrame *pic = p.Overlay.get();
  if (!d || !pic || pic->width <= 0 || pic->height <= 0) return;
  const double aspect = pictureAspect(s, pic);
  const int dw = s.Display.Width, dh = s.Display.Height;
  int h = dh;
  int w = int(std::lround(h * aspect)) & ~1;
  if (w > dw) {
    w = dw;
    h = int(std::lround(w / aspect)) & ~1;
  }
  if (w <= 0 || h <= 0) return;
  const QRect area((dw - w) / 2, (dh - h) / 2, w, h);

  QImage image(w, h, QImage::Format_RGB32);
  s.Display.Scaler.reset(ff.sws_getCachedContext(
      s.Display.Scaler.release(), pic->width, pic->height, AVPixelFormat(pic->format), w, h,
      AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!s.Display.Scaler) return;
  uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
  int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
  ff.sws_scale(s.Display.Scaler.get(), pic->data, pic->linesize, 0, pic->height, dst, dstStride);
  DrawSubtitles(s, p.Pts, image, pic->width, pic->height);
  d->Show(image, area);

  std::lock_guard<std::mutex> g(s.Video.Pictures.Lock);
  s.Display.Shown.reset(ff.av_frame_clone(pic));
  s.Display.ShownPts = p.Pts;
}

// The trace starts where the sound crosses zero going down most steeply, near the
// samples now being heard, so that a steady tone draws a standing wave.
void drawWaveform(TPlaybackState &s) {
  TDisplay *d = s.Player.Display();
  TAudioPart &a = s.Audio;
  const int width = s.Display.Width, height = s.Display.Height;
  if (!d || width <= 0 || height <= 0) return;
  const int channels = std::max(1, a.Channels);
  const int n = TAudioPart::kRingSize;
  const auto at = [&](int i) { return int(a.Ring[((i % n) + n) % n]); };

  if (!s.Paused) {
    int delay = (a.BufferSize - a.BufferIndex) / (2 * channels);
    const double since = (ff.av_gettime_relative() - a.CallbackTime.load()) / 1e6;
    delay -= int(since * a.SampleRate);
    delay += 2 * width;
    if (delay < width) delay = width;
    const int start = ((a.RingIndex - delay * channels) % n + n) % n;
    int best = INT_MIN, x = start;
    for (int i = 0; i < 1000; i += channels) {
      const int idx = start + n - i;
      const int a0 = at(idx), a4 = at(idx + 4 * channels), a5 = at(idx + 5 * channels),
                a9 = at(idx + 9 * channels);
      const int score = a0 - a9;
      if (score > best && (a4 ^ a5) < 0) {
        best = score;
        x = idx % n;
      }
    }
    a.LastStart = x;
  }

  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  const int band = height / channels;
  const QRgb white = qRgb(255, 255, 255);
  for (int ch = 0; ch < channels; ++ch) {
    const int centre = band * ch + band / 2;
    for (int col = 0; col < width; ++col) {
      const int sample = at(a.LastStart + col * channels + ch);
      int len = sample * (band * 9 / 20) / 32768;
      int y0 = centre, y1 = centre - len;
      if (y0 > y1) std::swap(y0, y1);
      y0 = std::clamp(y0, 0, height - 1);
      y1 = std::clamp(y1, 0, height - 1);
      for (int y = y0; y <= y1; ++y) reinterpret_cast<QRgb *>(image.scanLine(y))[col] = white;
    }
  }
  for (int ch = 1; ch < channels; ++ch) {
    const int y = band * ch;
    if (y < height)
      std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), width, white);
  }
  d->Show(image, QRect(0, 0, width, height));
}

void advancePicture(TPlaybackState &s) {
  TPictureQueue &q = s.Video.Pictures;
  {
    std::lock_guard<std::mutex> g(q.Lock);
    q.RIndex = (q.RIndex + 1) % 2;
    --q.Size;
  }
  q.Cond.notify_all();
}

} // namespace

void DisplayPicture(TPlaybackState &s) {
  if (!s.Player.Display() || !s.Player.Display()->HasWidget()) return;
  if (s.Display.Width <= 0) openSurface(s, false);
  if (s.Display.AudioDisplay && s.HasAudio())
    drawWaveform(s);
  else if (s.HasVideo())
    drawPicture(s);
}

void Refresh(TPlaybackState &s, bool consume) {
  if (s.HasVideo()) {
    TPictureQueue &q = s.Video.Pictures;
    bool dropped = false;
    for (;;) {
      int size;
      {
        std::lock_guard<std::mutex> g(q.Lock);
        size = q.Size;
      }
      if (size == 0) {
        if (!consume) DisplayPicture(s);
        break;
      }
      const double now = NowSeconds();
      TPicture &p = q.Pics[q.RIndex];
      if (now < p.TargetClock) return;
      s.Clocks.CurrentPts = p.Pts;
      s.Clocks.CurrentPtsDrift = p.Pts - now;
      s.Clocks.CurrentPos = p.Pos;
      const double next = size > 1 ? q.Pics[(q.RIndex + 1) % 2].TargetClock.load()
                                    : p.TargetClock + VideoClock(s) - p.Pts;
      // A late picture is dropped when another is waiting or it is hopelessly late,
      // and the decoder is told to hand out fewer; pictures from before a seek always go.
      if ((now > next && !s.Read.LiveCapture) || s.AfterSeek) {
        s.Video.SkipFactor = s.Video.SkipFactor * 1.05;
        if (size > 1 || now > next + 0.5 || s.AfterSeek) {
          advancePicture(s);
          dropped = true;
          continue;
        }
      }
      AdvanceSubtitles(s, s.Clocks.CurrentPts);
      DisplayPicture(s);
      if (consume) advancePicture(s);
      break;
    }
    if (!dropped) UpdatePosition(s);
  } else if (s.HasAudio()) {
    DisplayPicture(s);
    UpdatePosition(s);
  }
}

void RefreshThread(TPlaybackState &s) {
  while (!s.AbortRequest) {
    if (!s.Display.RefreshPending.exchange(true)) {
      if (TDisplay *d = s.Player.Display())
        d->Post({deRefresh, 0, 0});
      else
        s.Display.RefreshPending = false;
    }
    const bool waveform = s.HasAudio() && s.Display.AudioDisplay;
    std::this_thread::sleep_for(std::chrono::milliseconds(waveform ? 20 : 5));
  }
}

void RunDisplayLoop(TCustomPlayer &player) {
  TDisplay *d = player.Display();
  for (;;) {
    const TDisplayEvent e = d->Wait();
    std::unique_lock<std::mutex> lock(player.PlayerLock);
    TPlaybackState *s = player.Playback();
    if (!s) return;
    switch (e.Kind) {
    case deQuit:
    case deQuitEvent:
      // A read stuck in the input would hold this thread and the player lock for as
      // long as it lasts; the closing side then finishes the teardown itself.
      s->AbortRequest = true;
      for (int i = 0; i < 10 && s->Read.InsideRead; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (s->Read.InsideRead) break;
      TeardownPlayback(player);
      return;
    case deResize:
      d->SetMode(e.Width, e.Height, true);
      player.SetScreenWidth(e.Width);
      player.SetScreenHeight(e.Height);
      s->Display.Width = e.Width;
      s->Display.Height = e.Height;
      if (s->Paused) Refresh(*s, false);
      break;
    case deExpose:
      if (s->Paused)
        Refresh(*s, false);
      else
        DisplayPicture(*s);
      break;
    case deAlloc:
      openSurface(*s, false);
      break;
    case deRefresh:
      Refresh(*s, true);
      s->Display.RefreshPending = false;
      break;
    case deResetView:
      openSurface(*s, true);
      DisplayPicture(*s);
      break;
    }
  }
}
