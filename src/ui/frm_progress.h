// The progress window of a conversion run: texts, bar, the fitted live preview, pause,
// resume, cancel, snapshot, the two end-of-run choices and the news panel. The run itself
// belongs to the main window, which this window reaches through TProgressHost.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "ui/update_check.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

inline const QColor PreviewSkyBlue(166, 202, 240);
inline constexpr int ProgressPreviewWidth = 389;
inline constexpr int ProgressPreviewHeight = 210;

// Where a picture of the given size goes inside a box, aspect kept: the width is filled when
// its ratio is the larger (or equal), else the height; the other side is centred.
QRect FitRect(int width, int height, int boxWidth, int boxHeight);

// What the window asks of the run.
struct TProgressHost {
  std::function<void()> Pause, Resume, Stop;
  std::function<const QImage *()> Preview; // the run's latest preview picture, or nullptr
  std::function<std::vector<TAdInfo>()> News;
};

class TfrmProgress : public QDialog {
  Q_OBJECT
public:
  TfrmProgress(QWidget *parent, TProgressHost host);

  QLabel *imgPreview, *lblTime, *lblLength, *lblSize, *lblProgress, *lblOutput, *mem1;
  QProgressBar *progbarFile;
  QCheckBox *ckShutDown, *ckOpen;
  QPushButton *btnPause, *btnResume, *btnCancel;
  QToolButton *imgbtnSnap;
  QTimer *Timer1, *tmr1;

  // A progress report: current time and length in microseconds, bytes written, the task's
  // position and the number of tasks, the source path.
  void ShowProgress(int64_t current, int64_t total, int64_t size, int taskIndex, int taskCount,
                    const std::string &source);
  void SetBar(int percent);
  // The run's pause state, mirrored on the buttons.
  void SetPaused(bool paused);
  // A new run: nothing has ended yet.
  void BeginRun();
  // The whole batch has ended: the window closes (or does not open when it had no time to).
  void EndRun();
  bool RunEnded() const { return runEnded_; }
  // Redraws the preview box from the run's picture.
  void RedrawPreview();
  void imgbtnSnapClick();

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void reject() override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void rotateNews();

  TProgressHost host_;
  QImage shown_; // what imgPreview shows: the fitted frame with its sky-blue bars
  bool runEnded_ = false;
  bool closing_ = false;
  int newsIndex_ = -1;
  std::vector<TAdInfo> news_;
};
