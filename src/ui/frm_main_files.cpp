// The main window's file list: adding files (probing each through a short-lived task),
// the destination column, removing, clearing and the check commands.
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QToolButton>

#include <filesystem>

#include "formats/catalogue.h"
#include "formats/global.h"
#include "formats/output_name.h"
#include "formats/profile.h"
#include "formats/settings.h"
#include "media/loader.h"
#include "ui/frm_main.h"
#include "ui/services.h"

namespace {

struct TFilterRow {
  const char *Description;
  const char *Patterns;
};

constexpr TFilterRow openFilter[] = {
    {"All Supported Video Formats",
     "*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;*.MP4;*.MPG;*.MPEG;*.DAT;"
     "*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;"},
    {"All Supported Audio Formats",
     "*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;"
     "*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;"},
    {"AVI files (*.avi)", "*.avi"},
    {"MPEG4 files (*.mp4)", "*.mp4"},
    {"MPEG files (*.mpg,*.mpeg)", "*.mpg;*.mpeg"},
    {"3GP files (*.3gp,*.3g2)", "*.3gp;*.3g2"},
    {"Itunes Video files (*.m4v)", "*.m4v"},
    {"Windows Media files (*.wmv,*.asf)", "*.wmv;*.asf"},
    {"Real Media files (*.rm,*.rmvb)", "*.rm;*.rmvb"},
    {"Video CD files (*.dat)", "*.dat"},
    {"Quick Time files (*.mov)", "*.mov"},
    {"Flash Video files (*.flv)", "*.flv"},
    {"Matroska Video files (*.mkv)", "*.mkv"},
    {"MJPEG Video files (*.mjpg,*.mjpeg)", "*.mjpg;*.mjpeg"},
    {"Animated GIF files (*.gif)", "*.gif"},
    {"H.264/MPEG4 AVC Video files (*.mts,*.m2ts)", "*.mts;*.m2ts"},
    {"DVD video object files (*.vob)", "*.vob"},
    {"MPEG-1 Video files (*.mpv)", "*.mpv"},
    {"Video Transport Stream files (*.ts)", "*.ts"},
    {"TP Video files (*.tp)", "*.tp"},
    {"Maceomeida Flash files (*.swf)", "*.swf"},
    {"MP3 Audio files (*.mp3)", "*.mp3"},
    {"Advanced Audio Coding files (*.aac)", "*.aac"},
    {"Monkey's Audio files (*.ape)", "*.ape"},
    {"Ogg Vorbis Audio files (*.ogg)", "*.ogg"},
    {"Windows Media Audio files (*.wma)", "*.wma"},
    {"MusePack Audio files (*.mpc)", "*.mpc"},
    {"MPEG Audio files (*.mpa)", "*.mpa"},
    {"MPEG-4 Audio files (*.m4a)", "*.m4a"},
    {"Matroska Audio files (*.mka)", "*.mka"},
    {"DTS Audio files (*.dts)", "*.dts"},
    {"Audio Codec 3 files (*.ac3)", "*.ac3"},
    {"Speex Audio files (*.spx)", "*.spx"},
    {"Real Audio files (*.ra,*.ram)", "*.ra;*.ram"},
    {"MPEG Layer II Compressed Audio files (*.mp2)", "*.mp2"},
    {"All files (*.*)", "*"},
};

std::string libraryFolder() {
  const std::string folder = ExecutableFolder() + "LibAV";
  return std::filesystem::is_directory(folder) ? folder : std::string();
}

} // namespace

QString OpenDialogFilter() {
  QStringList rows;
  for (const auto &row : openFilter) {
    QString description = row.Description;
    // Linux file names keep their letter case: offer each pattern in both cases.
    QStringList patterns;
    for (const QString &p : QString(row.Patterns).split(';', Qt::SkipEmptyParts)) {
      if (!patterns.contains(p.toLower())) patterns << p.toLower();
      if (!patterns.contains(p.toUpper())) patterns << p.toUpper();
    }
    if (description.endsWith(')')) description = description.left(description.lastIndexOf('(')).trimmed();
    rows << description + " (" + patterns.join(' ') + ")";
  }
  return rows.join(";;");
}

TFileRow *TfrmMain::Row(int index) const {
  return static_cast<TFileRow *>(lvFiles->topLevelItem(index));
}

int TfrmMain::RowCount() const { return lvFiles->topLevelItemCount(); }

void TfrmMain::btnAddClick() {
  if (!FFLoader().LibsLoaded(ConverterLibs) && !ccavc_->LoadAVLib(libraryFolder())) {
    mmoLog->appendPlainText(QString::fromStdString(ccavc_->LastErrMsg()));
    return;
  }
  const QStringList files = UiServices().GetOpenFileNames(this, "Open", OpenDialogFilter());
  if (files.isEmpty()) return;
  AddFiles(files);
}

void TfrmMain::AddFiles(const QStringList &files) {
  if (!FFLoader().LibsLoaded(ConverterLibs) && !ccavc_->LoadAVLib(libraryFolder())) return;
  ccavc_->ClearTasks();
  const int code = std::atoi(CurrentFormatCode.c_str());
  const std::string ext = TFormatProfile(GlobalObject().ProfileFile(), code).FileExt();
  const std::string zoom = readPick("parazoom", "lbox");
  TOutputNameSources naming;
  naming.Warn = [this](const std::string &text, const std::string &caption) {
    message(QString::fromStdString(text), QString::fromStdString(caption), int(TMsgIcon::Warning));
  };

  for (int k = 0; k < files.size(); ++k) {
    const QString &path = files[k];
    if (QFileInfo(path).isDir()) continue;
    bool known = false;
    for (int i = 0; i < RowCount() && !known; ++i) known = Row(i)->text(fcSource) == path;
    if (known) continue;

    const std::string source = path.toStdString();
    const std::string dest = MakeOutputName(source, "_ipod." + ext, naming);
    TInputOptions input;
    input.FileName = source;
    const int t = ccavc_->AddTask(source, &input);
    if (t < 0) continue; // the reason stays in LastErrMsg

    btnStart->setEnabled(true);
    TFileStreamInfo info;
    if (TAVProbe *probe = ccavc_->TaskProbe(t, 0)) probe->GetFileStreamInfo(info);
    const QString seconds = QString::number(info.Duration / 1000000);
    auto *row = new TFileRow;
    row->setText(fcSource, path);
    row->setText(fcLength, seconds);
    row->setText(fcTrimmed, seconds);
    row->setText(fcDestination, QFileInfo(QString::fromStdString(dest)).fileName());
    row->setText(fcProgress, "");
    row->setCheckState(fcSource, Qt::Checked);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->Record.OpenIndex = k;
    row->Record.SourceFile = source;
    row->Record.DestFile = dest;
    row->Record.DurationSec = static_cast<int32_t>(info.Duration / 1000000);
    row->Record.ZoomMode = zoom;
    lvFiles->addTopLevelItem(row);
    if (RowCount() == 1) setColumns();

    btnClear->setEnabled(true);
    btnRemove->setEnabled(true);
    ccavc_->RemoveTask(t);
    ccavc_->ClearTasks();
    lvFiles->setCurrentItem(lvFiles->topLevelItem(0));
    lvFiles->topLevelItem(0)->setSelected(true);
    lvFiles->setFocus();
    lvFiles->viewport()->update();
  }
  if (PlayAfterAdd) {
    PlayAfterAdd = false;
    if (RowCount() > 0) imgbtnPlayClick();
  }
}

void TfrmMain::btnRemoveClick() {
  QTreeWidgetItem *current = lvFiles->currentItem();
  if (!current || !current->isSelected()) return;
  const int index = lvFiles->indexOfTopLevelItem(current);
  delete lvFiles->takeTopLevelItem(index);
  if (RowCount() > 0) {
    QTreeWidgetItem *next = lvFiles->topLevelItem(std::min(index, RowCount() - 1));
    lvFiles->setCurrentItem(next);
    next->setSelected(true);
  } else {
    StopPreview();
  }
  lvFiles->viewport()->update();
}

void TfrmMain::btnClearClick() {
  if (RowCount() == 0) return;
  ccavc_->ClearTasks();
  lvFiles->clear();
  StopPreview();
}

void TfrmMain::CheckAll(int mode) {
  for (int i = 0; i < RowCount(); ++i) {
    TFileRow *row = Row(i);
    bool on = mode == 1;
    if (mode == 2) on = row->checkState(fcSource) != Qt::Checked;
    row->setCheckState(fcSource, on ? Qt::Checked : Qt::Unchecked);
  }
}

void TfrmMain::CheckSelected(bool on) {
  QTreeWidgetItem *current = lvFiles->currentItem();
  if (current && current->isSelected())
    current->setCheckState(fcSource, on ? Qt::Checked : Qt::Unchecked);
}
