// The main window: the file list, the format picker with the parameter controls, the preview
// box, the menus, and the conversion run with its event handlers. Media work, option building
// and naming happen below src/ui; this class turns clicks into their calls and shows results.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QTreeWidgetItem>

#include <memory>
#include <string>
#include <vector>

#include "engine/media_converter.h"
#include "formats/files_record.h"
#include "ui/update_check.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolButton;
class QTreeWidget;
class TFormatPicker;
class TfrmProgress;
class TCustomPlayer;
class TFFPlayer;

// One row of the file list; the record lives and dies with the row.
class TFileRow : public QTreeWidgetItem {
public:
  TlvFilesRecord Record;
};

// Column numbers of the file list.
enum TFileColumn { fcSource, fcLength, fcTrimmed, fcDestination, fcProgress };

// The open dialog's filter, as one ";;"-separated text of description (patterns) pairs.
QString OpenDialogFilter();

// The row's "Progress" percentage: current * 100 div total; 0 when the total is unknown.
int ProgressPercent(int64_t current, int64_t total);
// The progress window's file text: the path when shorter than 51 characters, else its first
// 44 characters, ".." and the extension with its dot.
std::string ProgressFileText(const std::string &path);

struct TMainOptions {
  bool UpdateCheck = true; // run the update check at every showing
  int UpdateTimeoutMs = ::UpdateTimeoutMs;
};

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  using TOptions = TMainOptions;
  explicit TfrmMain(TOptions options = TOptions());
  ~TfrmMain() override;

  // Controls, named as the rest of the program knows them.
  QToolButton *btnAdd, *btnRemove, *btnClear, *BtnEdit, *btnStart, *btnExit, *btnSettings;
  QTreeWidget *lvFiles;
  QGroupBox *grpPreview;
  QFrame *pan1;
  QSlider *trcPreview, *trcVolume;
  QLabel *lblTime, *lblPTS;
  QToolButton *imgbtnPlay, *imgbtnPAuse, *imgbtnStop, *imgbtnSnap;
  QCheckBox *ckMute;
  QGroupBox *grpbxVideo, *grpbxAudio, *grpOutput;
  QComboBox *cmbVideoSize, *cmbVideoEncoder, *cmbVideoBitRate, *cmbFrameRate, *cmbZoom;
  QComboBox *cmbSamplerate, *cmbAudioEncoder, *cmbAudioBitRate, *cmbChannel, *cmbVolume;
  QLineEdit *edt1, *edDirectory;
  QToolButton *imgbtn1;
  QPushButton *btnDefault, *btnBrows, *btnOpen;
  QToolButton *SpeedButton1;
  TFormatPicker *lst1;
  QPushButton *btnStop, *btnPause, *btnResume;
  QPlainTextEdit *mmoLog;
  QMenu *mnuFile, *mnuEdit, *mnuTools, *mnuSkin, *mnuRelated, *mnuHelp, *popFiles;
  std::vector<QAction *> SkinActions;
  QAction *actVideoEffect = nullptr;

  // State the other windows read.
  std::string CurrentFormatName, CurrentFormatCode;
  bool SkipExitPrompt = false;
  bool PlayAfterAdd = false;
  bool PreviewStopped = true, PreviewPaused = false;
  std::vector<int> TaskRows;
  QImage ConversionPreview; // the latest preview picture of the running task
  std::vector<TAdInfo> News;
  TUpdateResult LastUpdate;

  TMediaConverter &CCAVC() { return *ccavc_; }
  TfrmProgress *frmProgress() const { return progress_.get(); }
  TFileRow *Row(int index) const;
  int RowCount() const;

  // Start-up and shutdown.
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void RunUpdateCheck();

  // The file list.
  void btnAddClick();
  void AddFiles(const QStringList &files);
  void btnRemoveClick();
  void btnClearClick();
  void CheckAll(int mode); // 0 uncheck, 1 check, 2 reverse
  void CheckSelected(bool on);

  // The format picker and parameter controls.
  void FillFormatCatalogue();
  void SaveGroupStates();
  void edt1Change();
  void ChooseFormat(int pickerRow);
  void ShowPicker(bool putName, bool movePointer);
  void HidePicker();
  void cmbVideoSizeExit();
  void btnDefaultClick();
  void btnBrowsClick();
  void btnOpenClick();

  // The conversion run.
  void btnStartClick();
  void btnPauseClick();
  void btnResumeClick();
  void btnStopClick();
  void CCAVCProgress(TCustomMediaConverter *Sender, PProgressInfo AProgressInfo);
  void CCAVCTerminate(TCustomMediaConverter *Sender, const TTerminateInfo &ATerminateInfo);
  void CCAVCCustomHook(TCustomMediaConverter *Sender, PHookInfo AHookInfo);
  void CCAVCPreviewBitmap(TCustomMediaConverter *Sender, const TPreviewInfo &APreviewInfo);
  // Stops every task and waits; a batch end that arrives meanwhile is finished afterwards.
  void StopConversion();
  void ShutDownComputer();

  // Skins.
  void ChooseSkin(int index);

  // Preview box.
  int64_t PreviewDuration = 0; // microseconds
  TFFPlayer &FFPlayer() { return *player_; }
  void imgbtnPlayClick();
  void imgbtnPauseClick();
  void imgbtnStopClick() { StopPreview(); }
  void imgbtnSnapClick();
  void FFPlayerFileOpen(TCustomPlayer *Sender, int64_t ADuration, int AFrameWidth,
                        int AFrameHeight, int &AScreenWidth, int &AScreenHeight);
  void FFPlayerPosition(TCustomPlayer *Sender, int64_t APTS);
  void FFPlayerState(TCustomPlayer *Sender, int AState);
  void ckMuteClick();
  void trcVolumeChange();
  void trcVolumeMouseUp();
  // Seeks to the seek bar's position as a share of the duration.
  void trcPreviewMouseUp();
  void StopPreview();

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildControls();
  void buildMenus();
  void connectControls();
  void connectPreview();
  void openPreview(TFileRow *row);
  void setColumns();
  void updateEditMenu(QMenu *menu, bool popup);
  void fillList(QComboBox *combo, const std::string &listKey, bool nullOnly);
  void selectPick(QComboBox *combo, const std::string &picksKey, const std::string &listKey,
                  const std::string &builtIn);
  void selectIndex(QComboBox *combo, const std::string &indexKey, const std::string &listKey);
  void setGroupEnabled(bool video, bool on);
  // Change handlers, each writing the picks.
  void videoSizePicked(int index);
  void videoBitRateChanged();
  void sampleRateChanged();
  void audioBitRateChanged();
  void frameRateChanged();
  void videoEncoderChanged();
  void zoomChanged();
  void audioEncoderChanged();
  void channelChanged();
  void volumeChanged();
  void numberChanged(QComboBox *combo, const char *indexKey, const char *valueKey,
                     const char *message, bool allowReal);
  void writePick(const std::string &key, const std::string &value);
  std::string readPick(const std::string &key, const std::string &def) const;
  void finishBatch();
  void lastTaskDone();
  void message(const QString &text, const QString &caption, int icon);

  TOptions options_;
  std::unique_ptr<TMediaConverter> ccavc_;
  std::unique_ptr<TfrmProgress> progress_;
  std::unique_ptr<TFFPlayer> player_;
  std::unique_ptr<QObject> previewMouse_; // watches the seek and volume bars' releases
  std::vector<TlvFilesRecord> runRecords_; // the rows' records as Start queued them
  int queuedTasks_ = 0;
  int stopDepth_ = 0;
  bool clearPending_ = false;
  bool batchEnded_ = true; // the final event of the last run has been handled
  bool filling_ = false; // the controls are being filled: their change handlers write nothing
  bool created_ = false;
  bool closed_ = false;
};

// The program's one main window, or nullptr.
TfrmMain *frmMain();
