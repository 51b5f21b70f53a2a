// The progress window's controls and handlers. Closing it for any reason stops the run;
// the snapshot goes through the shared snapshot rules.
#include "ui/frm_progress.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <cmath>

#include "formats/snapshot.h"
#include "ui/services.h"

QRect FitRect(int width, int height, int boxWidth, int boxHeight) {
  if (width <= 0 || height <= 0) return {};
  const double rw = double(boxWidth) / width, rh = double(boxHeight) / height;
  // Halves go to the even neighbour, as the fitting rule rounds.
  if (rw <= rh) {
    const int h = int(std::nearbyint(height * rw));
    return {0, int(std::nearbyint((boxHeight - h) / 2.0)), boxWidth, h};
  }
  const int w = int(std::nearbyint(width * rh));
  return {int(std::nearbyint((boxWidth - w) / 2.0)), 0, w, boxHeight};
}

namespace {

QLabel *caption(QWidget *parent, const QString &text, int x, int y, int w) {
  auto *l = new QLabel(text, parent);
  l->setGeometry(x, y, w, 20);
  return l;
}

QLabel *value(QWidget *parent, const char *name, int x, int y, int w) {
  auto *l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(x, y, w, 20);
  return l;
}

} // namespace

TfrmProgress::TfrmProgress(QWidget *parent, TProgressHost host)
    : QDialog(parent), host_(std::move(host)) {
  setObjectName("frmProgress");
  setWindowTitle("Progress");
  setModal(true);
  setFixedSize(450, 490);
  QFont small = font();
  small.setPointSize(8);
  setFont(small);

  imgPreview = new QLabel(this);
  imgPreview->setObjectName("imgPreview");
  imgPreview->setGeometry(30, 12, ProgressPreviewWidth, ProgressPreviewHeight);
  imgPreview->setFrameShape(QFrame::Box);

  caption(this, "Current Time:", 30, 232, 90);
  lblTime = value(this, "lblTime", 120, 232, 100);
  caption(this, "Length:", 240, 232, 70);
  lblLength = value(this, "lblLength", 310, 232, 110);
  caption(this, "File Size:", 30, 254, 90);
  lblSize = value(this, "lblSize", 120, 254, 100);
  caption(this, "Progress:", 240, 254, 70);
  lblProgress = value(this, "lblProgress", 310, 254, 110);
  caption(this, "File:", 30, 276, 40);
  lblOutput = value(this, "lblOutput", 70, 276, 350);

  progbarFile = new QProgressBar(this);
  progbarFile->setObjectName("progbarFile");
  progbarFile->setGeometry(30, 302, ProgressPreviewWidth, 22);
  progbarFile->setRange(0, 100);
  progbarFile->setTextVisible(true);

  ckShutDown = new QCheckBox("Shut down computer after conversion", this);
  ckShutDown->setObjectName("ckShutDown");
  ckShutDown->setGeometry(30, 332, 389, 20);
  ckOpen = new QCheckBox("Open the output folder after conversion", this);
  ckOpen->setObjectName("ckOpen");
  ckOpen->setGeometry(30, 354, 389, 20);

  btnPause = new QPushButton("Pause", this);
  btnPause->setObjectName("btnPause");
  btnPause->setGeometry(30, 386, 90, 28);
  btnResume = new QPushButton("Resume", this);
  btnResume->setObjectName("btnResume");
  btnResume->setGeometry(126, 386, 90, 28);
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(222, 386, 90, 28);
  imgbtnSnap = new QToolButton(this);
  imgbtnSnap->setObjectName("imgbtnSnap");
  imgbtnSnap->setToolTip("Save snapshot picture");
  imgbtnSnap->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  imgbtnSnap->setGeometry(391, 386, 28, 28);

  mem1 = new QLabel(this);
  mem1->setObjectName("mem1");
  mem1->setGeometry(30, 426, ProgressPreviewWidth, 48);
  mem1->setWordWrap(true);
  mem1->setFrameShape(QFrame::StyledPanel);
  mem1->setCursor(Qt::PointingHandCursor);
  mem1->installEventFilter(this);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  tmr1 = new QTimer(this);
  tmr1->setInterval(10000);
  connect(Timer1, &QTimer::timeout, this, [this] { RedrawPreview(); });
  connect(tmr1, &QTimer::timeout, this, [this] { rotateNews(); });
  connect(btnPause, &QPushButton::clicked, this, [this] {
    if (host_.Pause) host_.Pause();
  });
  connect(btnResume, &QPushButton::clicked, this, [this] {
    if (host_.Resume) host_.Resume();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] { close(); });
  connect(imgbtnSnap, &QToolButton::clicked, this, [this] { imgbtnSnapClick(); });
}

void TfrmProgress::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  for (QLabel *l : {lblTime, lblSize, lblLength, lblProgress, lblOutput}) l->clear();
  ckOpen->setChecked(true);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  shown_ = QImage(ProgressPreviewWidth, ProgressPreviewHeight, QImage::Format_RGB32);
  shown_.fill(PreviewSkyBlue);
  imgPreview->setPixmap(QPixmap::fromImage(shown_));
  Timer1->start();
  progbarFile->setRange(0, 100);
  progbarFile->setValue(0);
  news_ = host_.News ? host_.News() : std::vector<TAdInfo>{};
  newsIndex_ = -1;
  rotateNews();
  tmr1->start();
}

void TfrmProgress::rotateNews() {
  if (news_.empty()) {
    mem1->clear();
    return;
  }
  newsIndex_ = (newsIndex_ + 1) % int(news_.size());
  mem1->setText(QString::fromStdString(news_[newsIndex_].Info));
}

bool TfrmProgress::eventFilter(QObject *watched, QEvent *event) {
  if (watched == mem1 && event->type() == QEvent::MouseButtonRelease && newsIndex_ >= 0 &&
      newsIndex_ < int(news_.size()))
    UiServices().OpenUrl(QString::fromStdString(news_[newsIndex_].Url));
  return QDialog::eventFilter(watched, event);
}

void TfrmProgress::ShowProgress(int64_t current, int64_t total, int64_t size, int taskIndex,
                                int taskCount, const std::string &source) {
  lblTime->setText(QString("%1 Second").arg(current / 1000000));
  lblLength->setText(QString("%1 Second").arg(total / 1000000));
  lblSize->setText(QString("%1 kb").arg(size / 1000));
  lblProgress->setText(QString("[%1/%2]").arg(taskIndex + 1).arg(taskCount));
  // A long path keeps its start and its file name; the whole of it is in the tool tip.
  const QString path = QString::fromStdString(source);
  lblOutput->setText(lblOutput->fontMetrics().elidedText(path, Qt::ElideMiddle, lblOutput->width()));
  lblOutput->setToolTip(path);
}

void TfrmProgress::SetBar(int percent) { progbarFile->setValue(std::clamp(percent, 0, 100)); }

void TfrmProgress::SetPaused(bool paused) {
  btnPause->setEnabled(!paused);
  btnResume->setEnabled(paused);
}

void TfrmProgress::BeginRun() {
  runEnded_ = false;
  closing_ = false;
}

void TfrmProgress::EndRun() {
  runEnded_ = true;
  if (isVisible()) close();
}

void TfrmProgress::RedrawPreview() {
  const QImage *picture = host_.Preview ? host_.Preview() : nullptr;
  if (!picture || picture->width() <= 0 || picture->height() <= 0) return;
  shown_.fill(PreviewSkyBlue);
  QPainter p(&shown_);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(FitRect(picture->width(), picture->height(), ProgressPreviewWidth,
                      ProgressPreviewHeight),
              *picture);
  p.end();
  imgPreview->setPixmap(QPixmap::fromImage(shown_));
}

void TfrmProgress::imgbtnSnapClick() {
  const QImage *picture = host_.Preview ? host_.Preview() : nullptr;
  if (!picture || picture->isNull()) return;
  TOutputNameSources sources;
  sources.Warn = [this](const std::string &text, const std::string &caption) {
    UiServices().Message(this, QString::fromStdString(text), QString::fromStdString(caption),
                         TMsgIcon::Warning, QMessageBox::Ok);
  };
  SaveSnapshots(picture->copy(), shown_.copy(), sources);
}

void TfrmProgress::reject() { close(); }

void TfrmProgress::closeEvent(QCloseEvent *event) {
  // Whoever closes the window, the run stops: Cancel, the title bar, Escape or the run's end.
  if (!closing_) {
    closing_ = true;
    Timer1->stop();
    tmr1->stop();
    if (host_.Stop) host_.Stop();
  }
  event->accept();
  QDialog::done(QDialog::Rejected);
}
