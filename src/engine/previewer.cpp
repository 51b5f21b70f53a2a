// The Qt implementation of the preview window and its cross-thread owner.
// The window only shows what it is given; it never reads media itself.
#include "engine/previewer.h"

#include "media/ffutils.h"
#include "media/synccall.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

// A tool window that stays on top with only a close box; dragging anywhere moves it,
// since it shows nothing that could take a click.
class PreviewWidget final : public QWidget, public TPreviewer {
public:
  PreviewWidget()
      : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                             Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  void ShowFrame(const QImage &bitmap, int64_t pts) override {
    if (closed_) return;
    // The engine reuses its bitmap for the next frame: keep a copy of our own.
    frame_ = bitmap.copy();
    setWindowTitle(QString::fromStdString(FormatMediaTime(pts)));
    if (size() != frame_.size()) setFixedSize(frame_.size());
    if (!isVisible()) {
      if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frame_.width() / 2, frame_.height() / 2));
      }
      show();
    }
    update();
  }

  bool Closed() const override { return closed_; }

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.drawImage(0, 0, frame_);
  }
  void mousePressEvent(QMouseEvent *event) override {
    if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
  }
  void closeEvent(QCloseEvent *event) override {
    closed_ = true;
    QWidget::closeEvent(event);
  }

private:
  QImage frame_;
  bool closed_ = false;
};

std::unique_ptr<TPreviewer> makeWidget() {
  if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return nullptr;
  return std::make_unique<PreviewWidget>();
}

} // namespace

TPreviewerFactory &PreviewerFactory() {
  static TPreviewerFactory factory = makeWidget;
  return factory;
}

std::mutex &PreviewLock() {
  static std::mutex lock;
  return lock;
}

TPreviewWindow::~TPreviewWindow() { Free(); }

// window_ is only ever touched on the user-interface thread (inside SyncCall), so it
// needs no lock, and a worker waiting in Show() can never block a Free() there.
bool TPreviewWindow::Show(const QImage &bitmap, int64_t pts) {
  bool shown = false;
  try {
    SyncCall([&] {
      if (!window_) window_ = PreviewerFactory()();
      hasWindow_ = window_ != nullptr;
      if (!window_ || window_->Closed()) return;
      window_->ShowFrame(bitmap, pts);
      shown = true;
    });
  } catch (const std::runtime_error &) {
    return false; // the application is going away: no more previews
  }
  return shown;
}

void TPreviewWindow::Free() {
  // Spares the release of every task without a window a trip to the UI thread.
  if (!hasWindow_) return;
  try {
    SyncCall([&] {
      window_.reset();
      hasWindow_ = false;
    });
  } catch (const std::runtime_error &) {
    // The application is gone, and with it the thread that could free the widget;
    // leaking it beats destroying it on the wrong thread.
    (void)window_.release();
    hasWindow_ = false;
  }
}

bool TPreviewWindow::Exists() const { return hasWindow_; }
