// The display surface: a widget placed over the host panel that shows what the play
// thread draws, and the queue of display requests the play thread serves. It decides
// nothing about timing; the refresh (display.cpp) does.
#pragma once

#include <QImage>
#include <QPointer>
#include <QRect>
#include <condition_variable>
#include <deque>
#include <mutex>

class QWidget;
class TCustomPlayer;
class TDisplayWidget;

enum TDisplayEventKind {
  deQuit = 12,      // the window was closed
  deResize = 16,    // the host area changed size
  deExpose = 17,    // the picture needs repainting
  deAlloc = 24,     // AllocEvent
  deRefresh = 25,   // RefreshEvent
  deQuitEvent = 26, // QuitEvent
  deResetView = 27  // ResetViewEvent
};

struct TDisplayEvent {
  TDisplayEventKind Kind = deRefresh;
  int Width = 0, Height = 0; // for deResize
};

class TDisplay {
public:
  // Makes the widget on the user-interface thread: a child covering `host`, or a
  // window of its own titled "FFPlayer" when there is no host.
  // Without a widget (display disabled) only the request queue exists.
  TDisplay(QWidget *host, bool withWidget);
  ~TDisplay();

  void Post(const TDisplayEvent &e);
  // Blocks until a request is waiting.
  TDisplayEvent Wait();

  // Sizes the surface (the widget) unless it already has that size and not forced.
  void SetMode(int width, int height, bool force);
  bool HasWidget() const { return withWidget_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  QWidget *Host() const { return host_; }
  // Hands a finished drawing to the widget; `area` is where it goes on the surface.
  void Show(const QImage &image, const QRect &area);

private:
  QWidget *host_;
  bool withWidget_;
  QPointer<TDisplayWidget> widget_;
  std::mutex lock_;
  std::condition_variable cond_;
  std::deque<TDisplayEvent> events_;
  int width_ = 0, height_ = 0;
};

// The play thread's display event loop; returns when the file has been closed.
void RunDisplayLoop(TCustomPlayer &player);
