// A task's floating preview window: a small interface the engine shows frames through,
// and the owner that creates, feeds and frees the window on the user-interface thread.
// Decides nothing about which frames to show or how often; the video path does.
#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// The window itself. Lives on, and is only touched from, the user-interface thread.
class TPreviewer {
public:
  virtual ~TPreviewer() = default;
  // Sizes the client area to the bitmap, shows it at (0, 0) and the time as caption.
  virtual void ShowFrame(const QImage &bitmap, int64_t pts) = 0;
  // True once the user has closed the window.
  virtual bool Closed() const = 0;
};

// Makes the window; returns null when the process has no widget application (the
// command-line program), so that preview stays off there. Replaceable by tests.
using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;
TPreviewerFactory &PreviewerFactory();

// The process-wide lock over every task's preview flags and the per-frame decision.
std::mutex &PreviewLock();

// Owns one task's window. Callable from any thread: the window work is done on the
// user-interface thread while the caller waits.
class TPreviewWindow {
public:
  TPreviewWindow() = default;
  ~TPreviewWindow();
  TPreviewWindow(const TPreviewWindow &) = delete;
  TPreviewWindow &operator=(const TPreviewWindow &) = delete;

  // Shows the frame, creating the window on first use. False when no window can be made
  // or the user has closed it: the caller then clears its preview bit and calls Free().
  bool Show(const QImage &bitmap, int64_t pts);
  // Frees the window (if any).
  void Free();
  bool Exists() const;

private:
  std::unique_ptr<TPreviewer> window_; // touched only on the user-interface thread
  std::atomic<bool> hasWindow_{false};
};
