// The main window's conversion run: Start queues the checked rows as tasks, the component's
// four events update the list and the progress window, pause, resume and stop steer the run.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <set>

#include "formats/global.h"
#include "formats/option_builder.h"
#include "formats/output_name.h"
#include "formats/profile.h"
#include "formats/settings.h"
#include "media/synccall.h"
#include "render/renderer.h"
#include "ui/frm_main.h"
#include "ui/frm_progress.h"
#include "ui/services.h"

int ProgressPercent(int64_t current, int64_t total) {
  // A source of unknown length has no percentage: the bar stays at its start.
  if (total <= 0 || current <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(current * 100 / total, 100));
}

std::string ProgressFileText(const std::string &path) {
  const QString p = QString::fromStdString(path);
  if (p.size() < 51) return path;
  const qsizetype dot = p.lastIndexOf('.');
  const qsizetype slash = p.lastIndexOf('/');
  const QString ext = dot > slash ? p.mid(dot) : QString();
  return (p.left(44) + ".." + ext).toStdString();
}

namespace {

// "priority": 0 idle, 1 normal, 2 lower, 3 lowest.
bool threadPriorityOf(int setting, TThreadPriority &priority) {
  static constexpr TThreadPriority byValue[] = {tpIdle, tpNormal, tpLower, tpLowest};
  if (setting < 0 || setting > 3) return false;
  priority = byValue[setting];
  return true;
}

} // namespace

void TfrmMain::btnStartClick() {
  cmbVideoSizeExit();
  TThreadPriority priority;
  if (threadPriorityOf(TAppSettings().Priority(), priority)) ccavc_->ThreadPriority = priority;

  int checked = 0;
  for (int i = 0; i < RowCount(); ++i) checked += Row(i)->checkState(fcSource) == Qt::Checked;
  if (checked == 0) {
    message("Please select a file by clicking the check box!", "Warning", int(TMsgIcon::Warning));
    return;
  }

  TaskRows.clear();
  TaskRows.reserve(checked);
  runRecords_.clear();
  StopPreview();
  ccavc_->ClearTasks();
  ConversionPreview = QImage();

  const int code = std::atoi(CurrentFormatCode.c_str());
  const std::string ext = TFormatProfile(GlobalObject().ProfileFile(), code).FileExt();
  std::set<std::string> promised;
  TOutputNameSources naming;
  naming.Warn = [this](const std::string &text, const std::string &caption) {
    message(QString::fromStdString(text), QString::fromStdString(caption), int(TMsgIcon::Warning));
  };
  naming.Taken = [&promised](const std::string &path) { return promised.count(path) > 0; };
  TOptionSources sources;
  sources.Ask = [this](const std::string &text, const std::string &caption) {
    return UiServices().Message(this, QString::fromStdString(text), QString::fromStdString(caption),
                                TMsgIcon::Question, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };

  for (int i = 0; i < RowCount(); ++i) {
    TFileRow *row = Row(i);
    if (row->checkState(fcSource) != Qt::Checked) continue;
    TlvFilesRecord record = row->Record;
    const std::string output = MakeOutputName(record.SourceFile, "." + ext, naming);
    TInputOptions input;
    TOutputOptions options;
    {
      TAVProbe probe;
      AssembleTaskOptions(record, code, output, probe, input, options, sources);
    }
    // Only a row with effects or watermarks needs its frames as bitmaps: the round trip
    // through 24-bit colour costs quality and time for nothing otherwise.
    options.CustomHook = RenderActive(record);
    const int t = ccavc_->AddTask(record.SourceFile, &input);
    if (t < 0) continue; // the component keeps the reason in LastErrMsg
    promised.insert(output);
    TaskRows.push_back(i);
    runRecords_.push_back(record);
    if (!ccavc_->SetOutputFile(t, output, &options))
      mmoLog->appendPlainText(QString::fromStdString(ccavc_->LastErrMsg()));
    ccavc_->AVProbe().CloseFile();
  }

  btnAdd->setEnabled(false);
  btnRemove->setEnabled(false);
  btnClear->setEnabled(false);
  btnStart->setEnabled(false);
  btnStop->setEnabled(true);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);

  if (!progress_) {
    TProgressHost host;
    host.Pause = [this] { btnPauseClick(); };
    host.Resume = [this] { btnResumeClick(); };
    host.Stop = [this] { StopConversion(); };
    host.Preview = [this]() -> const QImage * { return &ConversionPreview; };
    host.News = [this] { return News; };
    progress_ = std::make_unique<TfrmProgress>(this, host);
  }
  progress_->BeginRun();

  queuedTasks_ = ccavc_->TaskCount();
  ccavc_->SetPreviewBitmap(true);
  ccavc_->OnProgress = [this](TCustomMediaConverter *s, PProgressInfo p) { CCAVCProgress(s, p); };
  ccavc_->OnTerminate = [this](TCustomMediaConverter *s, const TTerminateInfo &t) {
    CCAVCTerminate(s, t);
  };
  ccavc_->OnCustomHook = [this](TCustomMediaConverter *s, PHookInfo h) { CCAVCCustomHook(s, h); };
  ccavc_->OnPreviewBitmap = [this](TCustomMediaConverter *s, const TPreviewInfo &p) {
    CCAVCPreviewBitmap(s, p);
  };
  batchEnded_ = false;
  ccavc_->StartTask(1);
  if (!progress_->RunEnded()) progress_->exec();
  // A window closed by the user stops the run; its final event may still be on its way.
  WaitPumping([this] { return batchEnded_ || !ccavc_->OnTerminate; });
}

void TfrmMain::CCAVCProgress(TCustomMediaConverter *, PProgressInfo AProgressInfo) {
  const TProgressInfo &info = *AProgressInfo;
  if (info.TaskIndex < 0 || info.TaskIndex >= int(TaskRows.size())) return;
  TFileRow *row = Row(TaskRows[info.TaskIndex]);
  const int percent = ProgressPercent(info.CurrentDuration, info.TotalDuration);
  if (row) row->setText(fcProgress, QString("%1%").arg(percent));
  if (progress_) {
    progress_->SetBar(percent);
    progress_->ShowProgress(info.CurrentDuration, info.TotalDuration, info.CurrentSize,
                            info.TaskIndex, ccavc_->TaskCount(),
                            ProgressFileText(row ? row->Record.SourceFile : std::string()));
  }
}

void TfrmMain::CCAVCTerminate(TCustomMediaConverter *, const TTerminateInfo &ATerminateInfo) {
  // Arrives on a thread of its own: the changes are made on the user-interface thread.
  const TTerminateInfo info = ATerminateInfo;
  PostToUIThread([self = QPointer<TfrmMain>(this), info] {
    if (!self) return;
    if (info.TaskIndex < 0) {
      self->finishBatch();
      return;
    }
    if (!info.Finished) return; // failed or stopped: the row keeps its last percentage
    if (info.TaskIndex < int(self->TaskRows.size()))
      if (TFileRow *row = self->Row(self->TaskRows[info.TaskIndex])) row->setText(fcProgress, "100%");
    if (self->progress_) self->progress_->SetBar(100);
    if (info.TaskIndex + 1 == self->queuedTasks_) self->lastTaskDone();
  });
}

void TfrmMain::finishBatch() {
  batchEnded_ = true;
  btnAdd->setEnabled(true);
  btnRemove->setEnabled(true);
  btnClear->setEnabled(true);
  btnStart->setEnabled(true);
  btnStop->setEnabled(false);
  btnPause->setEnabled(false);
  btnResume->setEnabled(false);
  // Inside a stop the component is still walking its tasks: clear them once it returns.
  if (stopDepth_ > 0) clearPending_ = true;
  else ccavc_->ClearTasks();
  if (progress_) progress_->EndRun();
}

void TfrmMain::lastTaskDone() {
  if (!progress_) return;
  if (progress_->ckOpen->isChecked()) btnOpenClick();
  if (progress_->ckShutDown->isChecked()) ShutDownComputer();
}

void TfrmMain::ShutDownComputer() {
  QString reason;
  if (!UiServices().PowerOff(reason))
    message("Cannot shut down the computer: " + reason, "Warning", int(TMsgIcon::Warning));
}

void TfrmMain::CCAVCCustomHook(TCustomMediaConverter *, PHookInfo AHookInfo) {
  // Worker thread: the run's own copies of the records, which nothing changes meanwhile.
  if (!AHookInfo->Bitmap || AHookInfo->TaskIndex < 0 ||
      AHookInfo->TaskIndex >= int(runRecords_.size()))
    return;
  const TlvFilesRecord &record = runRecords_[AHookInfo->TaskIndex];
  if (RenderActive(record)) RenderFrame(*AHookInfo->Bitmap, record);
}

void TfrmMain::CCAVCPreviewBitmap(TCustomMediaConverter *, const TPreviewInfo &APreviewInfo) {
  if (APreviewInfo.Bitmap && APreviewInfo.Bitmap->width() > 0 && APreviewInfo.Bitmap->height() > 0)
    ConversionPreview = APreviewInfo.Bitmap->copy();
}

void TfrmMain::btnPauseClick() {
  btnPause->setEnabled(false);
  btnResume->setEnabled(true);
  if (progress_) progress_->SetPaused(true);
  ccavc_->Pause();
}

void TfrmMain::btnResumeClick() {
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  if (progress_) progress_->SetPaused(false);
  ccavc_->Resume();
}

void TfrmMain::btnStopClick() {
  btnStop->setEnabled(false);
  btnAdd->setEnabled(true);
  btnRemove->setEnabled(false);
  btnClear->setEnabled(false);
  btnStart->setEnabled(false);
  btnPause->setEnabled(false);
  btnResume->setEnabled(false);
  StopConversion();
}

void TfrmMain::StopConversion() {
  ++stopDepth_;
  try {
    ccavc_->Stop(true);
  } catch (...) {
    --stopDepth_;
    throw;
  }
  --stopDepth_;
  if (stopDepth_ == 0 && clearPending_) {
    clearPending_ = false;
    ccavc_->ClearTasks();
  }
}
