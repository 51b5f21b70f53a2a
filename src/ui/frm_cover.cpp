// The splash window and its picture. The built-in picture is painted here, so that the
// program starts the same with or without its cover files.
#include "ui/frm_cover.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

QPixmap BuiltInCover() {
  QPixmap pm(420, 240);
  QPainter p(&pm);
  QLinearGradient g(0, 0, 0, 240);
  g.setColorAt(0, QColor(40, 70, 140));
  g.setColorAt(1, QColor(10, 20, 50));
  p.fillRect(pm.rect(), g);
  p.setPen(Qt::white);
  QFont f;
  f.setPixelSize(30);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 70, 420, 50), Qt::AlignCenter, "Marlo Video Converter");
  f.setPixelSize(14);
  f.setBold(false);
  p.setFont(f);
  p.drawText(QRect(0, 130, 420, 30), Qt::AlignCenter, "Loading...");
  return pm;
}

QPixmap CoverPicture(const std::string &executableFolder) {
  QPixmap picture = BuiltInCover();
  for (const char *name : {"skin/videocover.jpg", "skin/hdcover.jpg"}) {
    const QString path = QString::fromStdString(executableFolder) + name;
    QPixmap file;
    if (QFileInfo::exists(path) && file.load(path)) picture = file; // the later file wins
  }
  return picture;
}

TfrmCover::TfrmCover(const std::string &executableFolder)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName("frmCover");
  picture_ = CoverPicture(executableFolder);
  setFixedSize(picture_.size());
  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  Timer = new QTimer(this);
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, [this] {
    if (mainWindow_ && mainWindow_->isVisible()) {
      Timer->stop();
      close();
    }
  });
  Timer->start();
}

void TfrmCover::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
}
