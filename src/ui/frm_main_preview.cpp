// The main window's preview box: playing the selected row into the video panel, the seek
// bar, time labels, volume, mute and snapshots. Decoding and timing are the player's.
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "formats/global.h"
#include "formats/settings.h"
#include "formats/snapshot.h"
#include "media/ffutils.h"
#include "player/ffplayer.h"
#include "ui/frm_main.h"
#include "ui/services.h"

namespace {

// Calls back when the left button is released over a watched bar: the bar's value is final
// only then, so a drag seeks once instead of at every step.
class TReleaseWatcher : public QObject {
public:
  std::function<void(QObject *)> OnRelease;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && OnRelease)
      OnRelease(watched);
    return false;
  }
};

} // namespace

void TfrmMain::connectPreview() {
  player_->OnFileOpen = [this](TCustomPlayer *s, int64_t d, int w, int h, int &sw, int &sh) {
    FFPlayerFileOpen(s, d, w, h, sw, sh);
  };
  player_->OnPosition = [this](TCustomPlayer *s, int64_t pts) { FFPlayerPosition(s, pts); };
  player_->OnState = [this](TCustomPlayer *s, TPlayState st) { FFPlayerState(s, st); };

  connect(imgbtnPlay, &QToolButton::clicked, this, [this] { imgbtnPlayClick(); });
  connect(imgbtnPAuse, &QToolButton::clicked, this, [this] { imgbtnPauseClick(); });
  connect(imgbtnStop, &QToolButton::clicked, this, [this] { imgbtnStopClick(); });
  connect(imgbtnSnap, &QToolButton::clicked, this, [this] { imgbtnSnapClick(); });
  connect(lvFiles, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
    if (item && item->isSelected()) imgbtnPlayClick();
  });
  // The player follows every change, start-up's included; only the user's choice is stored.
  connect(ckMute, &QCheckBox::toggled, this, [this](bool on) { player_->SetMute(on); });
  connect(ckMute, &QCheckBox::clicked, this, [this] { ckMuteClick(); });
  connect(trcVolume, &QSlider::valueChanged, this, [this] { trcVolumeChange(); });

  auto watcher = std::make_unique<TReleaseWatcher>();
  watcher->OnRelease = [this](QObject *bar) {
    if (bar == trcPreview) trcPreviewMouseUp();
    else if (bar == trcVolume) trcVolumeMouseUp();
  };
  trcPreview->installEventFilter(watcher.get());
  trcVolume->installEventFilter(watcher.get());
  previewMouse_ = std::move(watcher);
}

void TfrmMain::imgbtnPlayClick() {
  if (PreviewPaused) {
    PreviewPaused = false;
    PreviewStopped = false;
    imgbtnPAuse->setEnabled(true);
    imgbtnSnap->setEnabled(true);
    imgbtnPlay->setEnabled(false);
    player_->Resume();
    return;
  }
  if (!player_->AVLibLoaded()) {
    const std::string folder = ExecutableFolder() + "LibAV";
    if (!player_->LoadAVLib(std::filesystem::is_directory(folder) ? folder : std::string())) {
      mmoLog->appendPlainText(QString::fromStdString(player_->LastErrMsg()));
      return;
    }
  }
  if (RowCount() == 0) {
    PlayAfterAdd = true;
    btnAddClick();
    return;
  }
  TFileRow *row = dynamic_cast<TFileRow *>(lvFiles->currentItem());
  if (!row) {
    row = Row(0);
    lvFiles->setCurrentItem(row);
    row->setSelected(true);
    lvFiles->setFocus();
  }
  openPreview(row);
}

void TfrmMain::openPreview(TFileRow *row) {
  // A file the player cannot open leaves the box as if it played: the player's error text
  // is the report, kept with the rest in the hidden log.
  if (!player_->Open(row->Record.SourceFile, pan1))
    mmoLog->appendPlainText(QString::fromStdString(player_->LastErrMsg()));
  PreviewStopped = false;
  PreviewPaused = false;
  trcPreview->setEnabled(true);
  imgbtnStop->setEnabled(true);
  imgbtnPAuse->setEnabled(true);
  imgbtnSnap->setEnabled(true);
  imgbtnPlay->setEnabled(false);
}

void TfrmMain::imgbtnPauseClick() {
  if (PreviewPaused) return;
  player_->Pause();
  PreviewPaused = true;
  PreviewStopped = false;
  imgbtnPlay->setEnabled(true);
  imgbtnStop->setEnabled(true);
  imgbtnSnap->setEnabled(true);
  imgbtnPAuse->setEnabled(false);
}

void TfrmMain::StopPreview() {
  // After the end of a file the player still holds it, paused at the start: let it go too,
  // so that a run or a dialog that stops the preview finds the file free.
  if (PreviewStopped) {
    if (player_->FileOpened()) player_->Close(true);
    return;
  }
  player_->Close(true);
  trcPreview->setValue(0);
  trcPreview->setEnabled(false);
  PreviewStopped = true;
  PreviewPaused = false;
  imgbtnPlay->setEnabled(true);
  imgbtnStop->setEnabled(false);
  imgbtnPAuse->setEnabled(false);
  imgbtnSnap->setEnabled(false);
  lblTime->setText("00:00:00");
  lblPTS->setText("00:00:00");
  pan1->update();
}

void TfrmMain::FFPlayerFileOpen(TCustomPlayer *Sender, int64_t ADuration, int AFrameWidth,
                                int AFrameHeight, int &AScreenWidth, int &AScreenHeight) {
  mmoLog->appendPlainText(QString::fromStdString(Sender->AVProbe().GetInfoText()));
  mmoLog->appendPlainText(QString::asprintf("duration: %f, frame size: %dx%d",
                                            ADuration / 1000000.0, AFrameWidth, AFrameHeight));
  AScreenWidth = pan1->width();
  AScreenHeight = pan1->height();
  PreviewDuration = ADuration;
  // Halves go to the even second, as the clock text of the list does.
  lblPTS->setText(QString::fromStdString(
      FormatClock(static_cast<int64_t>(std::nearbyint(ADuration / 1000000.0)))));
  trcPreview->setPageStep(1);
  trcPreview->setRange(0, trcPreview->width());
  trcPreview->setVisible(ADuration > 0);
  trcPreview->setValue(0);
}

void TfrmMain::FFPlayerPosition(TCustomPlayer *, int64_t APTS) {
  // The end's own position may land after the end was handled: the box shows the start.
  if (PreviewStopped) return;
  lblTime->setText(QString::fromStdString(FormatPlayTime(APTS)));
}

void TfrmMain::FFPlayerState(TCustomPlayer *Sender, int AState) {
  if (AState != psEnd) return;
  trcPreview->setValue(0);
  // Back to the start, held there: Play opens the file anew.
  Sender->Seek(sfAny, false, 0);
  Sender->Pause();
  PreviewPaused = false;
  PreviewStopped = true;
  imgbtnPlay->setEnabled(true);
  imgbtnPAuse->setEnabled(false);
  imgbtnStop->setEnabled(false);
  imgbtnSnap->setEnabled(false);
  trcPreview->setEnabled(false);
  lblTime->setText("00:00:00");
  lblPTS->setText("00:00:00");
}

void TfrmMain::trcPreviewMouseUp() {
  if (!player_->FileOpened() || trcPreview->maximum() <= 0) return;
  const double share = double(trcPreview->value()) / trcPreview->maximum();
  player_->Seek(0, false, static_cast<int64_t>(std::trunc(share * PreviewDuration)));
}

void TfrmMain::ckMuteClick() {
  player_->SetMute(ckMute->isChecked());
  TAppSettings().SetMute(ckMute->isChecked());
}

void TfrmMain::trcVolumeChange() { player_->SetAudioVolume(trcVolume->value()); }

void TfrmMain::trcVolumeMouseUp() { TAppSettings().SetVolume(trcVolume->value()); }

void TfrmMain::imgbtnSnapClick() {
  const QImage &frame = player_->CurrentFrame();
  if (frame.width() <= 0) return;
  const QImage full = frame.copy();
  const QImage small = MakeSmallSnapshot(full, pan1->width(), pan1->height());
  TOutputNameSources sources;
  sources.Warn = [this](const std::string &text, const std::string &caption) {
    UiServices().Message(this, QString::fromStdString(text), QString::fromStdString(caption),
                         TMsgIcon::Warning, QMessageBox::Ok);
  };
  TSnapshotResult result;
  try {
    result = SaveSnapshots(full, small, sources);
  } catch (const std::runtime_error &e) {
    UiServices().Message(this, QString::fromStdString(e.what()), "Error", TMsgIcon::Error,
                         QMessageBox::Ok);
    return;
  }
  UiServices().OpenFolder(QString::fromStdString(result.Folder));
}
