// The main window's format picker and the ten parameter controls: filling them from the
// profile and the picks, their key filters and checks, and the picks each change writes.
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>
#include <QPushButton>
#include <QToolButton>

#include "formats/catalogue.h"
#include "formats/global.h"
#include "formats/inifile.h"
#include "formats/option_builder.h"
#include "formats/profile.h"
#include "formats/settings.h"
#include "ui/format_picker.h"
#include "ui/frm_main.h"
#include "ui/services.h"

namespace {

constexpr const char *groupStatesSection = "lstformat";
const QStringList zoomItems = {"Full Screen", "Letter Box", "Pan and Scan"};
constexpr const char *zoomValues[] = {"full", "lbox", "pan"};

int formatCodeOf(const std::string &text) { return std::atoi(text.c_str()); }

int findItem(const QComboBox *combo, const QString &text) {
  return combo->findText(text, Qt::MatchFixedString); // whole text, any letter case
}

bool isAsSource(const QString &text) { return text.compare("as source", Qt::CaseInsensitive) == 0; }

QString appTitle() { return QString::fromStdString(GlobalObject().AppTitle()); }

} // namespace

std::string TfrmMain::readPick(const std::string &key, const std::string &def) const {
  return TIniFile(GlobalObject().SettingsFile())
      .ReadString(FormatSectionName(formatCodeOf(CurrentFormatCode)), key, def);
}

void TfrmMain::writePick(const std::string &key, const std::string &value) {
  TIniFile(GlobalObject().SettingsFile())
      .WriteString(FormatSectionName(formatCodeOf(CurrentFormatCode)), key, value);
}

void TfrmMain::FillFormatCatalogue() {
  FillFormatNames();
  lst1->hide();
  lst1->ClearRows();
  const TIniFile settings(GlobalObject().SettingsFile());
  for (const TFormatGroup &group : FormatGroups()) {
    const bool collapsed =
        settings.ReadBool(groupStatesSection, std::to_string(group.Number), true);
    lst1->AppendGroup(group.Number, group.Header, true);
    if (!collapsed) lst1->ExpandGroup(lst1->count() - 1, 30);
  }
  const QString name =
      QString::fromStdString(settings.ReadString(SettingsSection, "FormatName", DefaultFormatName));
  if (edt1->text() != name) edt1->setText(name); // runs edt1Change
  else edt1Change();
  lst1->setCurrentRow(lst1->RowOfName(name));
}

void TfrmMain::SaveGroupStates() {
  TIniFile settings(GlobalObject().SettingsFile());
  for (int i = 0; i < lst1->count(); ++i) {
    const TItemInfo info = lst1->Info(i);
    if (info.IsGroupRow)
      settings.WriteBool(groupStatesSection, std::to_string(info.Code), info.Collapsed);
  }
}

void TfrmMain::ShowPicker(bool putName, bool movePointer) {
  const QString name = QString::fromStdString(
      TIniFile(GlobalObject().SettingsFile()).ReadString(SettingsSection, "FormatName", DefaultFormatName));
  if (putName && edt1->text() != name) edt1->setText(name);
  const int row = lst1->RowOfName(name);
  lst1->setCurrentRow(row);
  const QPoint edtTop = edt1->mapTo(centralWidget(), QPoint(0, 0));
  const int height = lst1->FittingHeight();
  lst1->setGeometry(edtTop.x(), edtTop.y() - height, PickerWidth, height);
  lst1->show();
  lst1->raise();
  if (row >= 0) lst1->scrollToItem(lst1->item(row));
  if (movePointer && row >= 0)
    QCursor::setPos(lst1->viewport()->mapToGlobal(lst1->visualItemRect(lst1->item(row)).center()));
  lst1->setFocus();
}

void TfrmMain::HidePicker() { lst1->hide(); }

void TfrmMain::ChooseFormat(int pickerRow) {
  const TItemInfo info = lst1->Info(pickerRow);
  if (!info.IsFormatRow) return;
  const QString name = lst1->item(pickerRow)->text();
  TAppSettings settings;
  settings.SetFormatName(name.toStdString());
  settings.SetFormatCode(info.Code);
  CurrentFormatName = name.toStdString();
  CurrentFormatCode = std::to_string(info.Code);
  if (edt1->text() != name) edt1->setText(name);
  else edt1Change(); // the same format chosen again refills the controls
  HidePicker();
}

void TfrmMain::fillList(QComboBox *combo, const std::string &listKey, bool nullOnly) {
  const TFormatProfile profile(GlobalObject().ProfileFile(), formatCodeOf(CurrentFormatCode));
  combo->clear();
  const std::string text = profile.Read(listKey, "null");
  const bool offered = text != "null" && (nullOnly || !text.empty());
  if (offered)
    for (const std::string &item : SplitValueList(text)) combo->addItem(QString::fromStdString(item));
  combo->setEnabled(offered);
}

void TfrmMain::selectPick(QComboBox *combo, const std::string &picksKey, const std::string &listKey,
                          const std::string &builtIn) {
  const TIniFile picks(GlobalObject().SettingsFile());
  const std::string section = FormatSectionName(formatCodeOf(CurrentFormatCode));
  std::string value;
  if (picks.KeyExists(section, picksKey)) {
    value = picks.ReadString(section, picksKey, builtIn);
  } else {
    // Never adjusted: show what Start will convert, the profile's default item.
    const TFormatProfile profile(GlobalObject().ProfileFile(), formatCodeOf(CurrentFormatCode));
    value = profile.DefaultItem(listKey).value_or(builtIn);
  }
  const QString text = QString::fromStdString(value);
  const int i = findItem(combo, text);
  if (i >= 0) combo->setCurrentIndex(i);
  else combo->setEditText(text);
}

void TfrmMain::selectIndex(QComboBox *combo, const std::string &indexKey, const std::string &listKey) {
  const TIniFile picks(GlobalObject().SettingsFile());
  const std::string section = FormatSectionName(formatCodeOf(CurrentFormatCode));
  int index;
  if (picks.KeyExists(section, indexKey)) {
    index = picks.ReadInteger(section, indexKey, 0);
  } else {
    const TFormatProfile profile(GlobalObject().ProfileFile(), formatCodeOf(CurrentFormatCode));
    index = profile.DefaultIndex(listKey);
  }
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void TfrmMain::setGroupEnabled(bool video, bool on) {
  QComboBox *const videoControls[] = {cmbVideoSize, cmbVideoEncoder, cmbVideoBitRate, cmbFrameRate,
                                      cmbZoom};
  QComboBox *const audioControls[] = {cmbSamplerate, cmbAudioEncoder, cmbAudioBitRate, cmbChannel,
                                      cmbVolume};
  for (QComboBox *c : video ? videoControls : audioControls) {
    c->setEnabled(on);
    QPalette pal = c->palette();
    pal.setColor(QPalette::Text, on ? QColor(Qt::black) : palette().color(QPalette::Disabled, QPalette::Text));
    c->setPalette(pal);
  }
}

void TfrmMain::edt1Change() {
  filling_ = true;
  struct ListControl {
    QComboBox *Combo;
    const char *ListKey;
    bool NullOnly; // only "null" means not offered; an empty list text still fills
  };
  const ListControl lists[] = {
      {cmbVideoSize, "VideoSize", true},     {cmbVideoBitRate, "VideoBitRate", true},
      {cmbFrameRate, "FrameRate", true},     {cmbVideoEncoder, "VideoEncoder", false},
      {cmbSamplerate, "SampleRate", false},  {cmbAudioBitRate, "AudioBitRate", false},
      {cmbAudioEncoder, "AudioEncoder", false}, {cmbChannel, "Channel", false},
      {cmbVolume, "Volume", false}};
  for (const auto &l : lists) fillList(l.Combo, l.ListKey, l.NullOnly);

  // The option builder reads a missing zoom as Letter Box; show that, not Full Screen.
  const std::string zoom = readPick("paraZoom", "lbox");
  cmbZoom->clear();
  if (zoom != "null" && !zoom.empty()) {
    cmbZoom->addItems(zoomItems);
    int z = -1;
    for (int i = 0; i < 3; ++i)
      if (zoom == zoomValues[i]) z = i;
    cmbZoom->setCurrentIndex(z);
    cmbZoom->setEnabled(true);
  } else {
    cmbZoom->setEnabled(false);
  }

  selectPick(cmbVideoSize, "paraVideoSize", "VideoSize", "320x240");
  selectPick(cmbVideoBitRate, "paraVideoBitRate", "VideoBitRate", "768");
  selectPick(cmbSamplerate, "paraSampleRate", "SampleRate", "44100");
  selectPick(cmbAudioBitRate, "paraAudioBitRate", "AudioBitRate", "96");
  selectIndex(cmbFrameRate, "iFrameRate", "FrameRate");
  selectIndex(cmbVideoEncoder, "iVideoEncoder", "VideoEncoder");
  selectIndex(cmbChannel, "iChannel", "Channel");
  selectIndex(cmbVolume, "iVolume", "Volume");
  selectIndex(cmbAudioEncoder, "iAudioEncoder", "AudioEncoder");

  setGroupEnabled(true, cmbVideoEncoder->count() > 0);
  setGroupEnabled(false, cmbAudioEncoder->count() > 0);
  filling_ = false;
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event) {
  // The picker closes on a press anywhere but on itself, its arrow and the format field.
  if (event->type() == QEvent::MouseButtonPress && lst1->isVisible()) {
    auto *w = qobject_cast<QWidget *>(watched);
    const auto *me = static_cast<QMouseEvent *>(event);
    if (w && me->button() == Qt::LeftButton && w->window() == this && w != imgbtn1 && w != edt1 &&
        w != lst1 && !lst1->isAncestorOf(w))
      HidePicker();
  }
  if (watched == edt1 && event->type() == QEvent::MouseButtonPress) {
    if (lst1->isVisible()) HidePicker();
    else ShowPicker(false, true);
    return true;
  }
  if (watched == edt1 && event->type() == QEvent::MouseButtonDblClick) {
    if (lst1->isVisible()) HidePicker();
    else ShowPicker(true, false);
    return true;
  }
  if (watched == cmbVideoSize && event->type() == QEvent::FocusOut) {
    const auto *fe = static_cast<QFocusEvent *>(event);
    if (fe->reason() != Qt::PopupFocusReason) cmbVideoSizeExit();
  }
  if (event->type() == QEvent::KeyPress) {
    const auto *ke = static_cast<QKeyEvent *>(event);
    const QString typed = ke->text();
    // Only characters are filtered; cursor keys, Delete and Tab work as usual.
    if (typed.size() == 1 && (typed[0] >= ' ' || typed[0] == '\b') && typed[0] != QChar(127)) {
      const QChar c = typed[0];
      const bool backspace = ke->key() == Qt::Key_Backspace;
      if (watched == cmbVideoSize->lineEdit()) {
        const QString text = cmbVideoSize->currentText();
        const bool ok = text.isEmpty() || backspace || c.isDigit() ||
                        (c == 'x' && !text.contains('x'));
        if (!ok) {
          UiServices().Beep();
          return true;
        }
      } else if (watched == cmbVideoBitRate->lineEdit() || watched == cmbSamplerate->lineEdit() ||
                 watched == cmbAudioBitRate->lineEdit()) {
        if (!backspace && !(c >= '0' && c <= '9')) {
          message("Please enter numerical.", appTitle(), int(TMsgIcon::Information));
          UiServices().Beep();
          return true;
        }
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::cmbVideoSizeExit() {
  // A format without video offers no frame size: there is nothing to check or store.
  if (!cmbVideoSize->isEnabled()) return;
  const QString t = cmbVideoSize->currentText();
  if (t.contains("as source", Qt::CaseInsensitive)) return;
  auto refuse = [this] {
    message("Frame Size is not a valid value!", appTitle(), int(TMsgIcon::Warning));
    if (cmbVideoSize->count() > 1) {
      filling_ = true;
      cmbVideoSize->setCurrentIndex(1);
      filling_ = false;
    }
  };
  const qsizetype x = t.lastIndexOf('x');
  if (x < 0) return refuse();
  int w = 0, h = 0;
  if (!ParseInteger(t.left(x).toStdString(), w) || !ParseInteger(t.mid(x + 1).toStdString(), h))
    return refuse();
  QString stored = t;
  if (w % 2 != 0 || h % 2 != 0 || w == 0 || h == 0) {
    auto even = [](int v) {
      v -= v % 2; // the lowest bit cleared toward zero
      return v == 0 ? 2 : v;
    };
    w = even(w);
    h = even(h);
    stored = QString("%1x%2").arg(w).arg(h);
    message("Frame Size must be a multiple of 2.\nThe correct value:" + stored, "Input Error!",
            int(TMsgIcon::Error));
    filling_ = true;
    const int i = findItem(cmbVideoSize, stored);
    if (i >= 0) cmbVideoSize->setCurrentIndex(i);
    else cmbVideoSize->setEditText(stored);
    filling_ = false;
  }
  writePick("iVideoSize", std::to_string(std::max(0, findItem(cmbVideoSize, stored))));
  writePick("paraVideoSize", stored.toStdString());
}

void TfrmMain::videoSizePicked(int index) {
  if (filling_ || index < 0) return;
  writePick("iVideoSize", std::to_string(index));
  writePick("paraVideoSize", cmbVideoSize->itemText(index).toStdString());
}

void TfrmMain::numberChanged(QComboBox *combo, const char *indexKey, const char *valueKey,
                             const char *text, bool allowReal) {
  if (filling_) return;
  const QString value = combo->currentText();
  const std::string v = value.toStdString();
  if (IsInteger(v) || (allowReal && IsNumber(v)) || isAsSource(value)) {
    writePick(indexKey, std::to_string(findItem(combo, value)));
    writePick(valueKey, v);
    return;
  }
  message(text, appTitle(), int(TMsgIcon::Warning));
  if (combo->count() > 1) {
    filling_ = true;
    combo->setCurrentIndex(1);
    filling_ = false;
  }
}

void TfrmMain::videoBitRateChanged() {
  numberChanged(cmbVideoBitRate, "iVideoBitRate", "paraVideoBitRate",
                "Video BitRate is not a valid value!", false);
}

void TfrmMain::sampleRateChanged() {
  numberChanged(cmbSamplerate, "iSampleRate", "paraSampleRate",
                "Audio SampleRate is not a valid value!", false);
}

void TfrmMain::audioBitRateChanged() {
  numberChanged(cmbAudioBitRate, "iAudioBitRate", "paraAudioBitRate",
                "Audio BitRate is not a valid value!", true);
}

void TfrmMain::frameRateChanged() {
  const int i = cmbFrameRate->currentIndex();
  if (filling_ || i < 0) return;
  writePick("iFrameRate", std::to_string(i));
  writePick("paraFrameRate", cmbFrameRate->itemText(i).toStdString());
}

void TfrmMain::videoEncoderChanged() {
  const int i = cmbVideoEncoder->currentIndex();
  if (filling_ || i < 0) return;
  writePick("iVideoEncoder", std::to_string(i));
  const std::string label = cmbVideoEncoder->itemText(i).toStdString();
  if (auto name = MapVideoEncoderLabel(label)) writePick("paraVideoEncoder", *name);
  if (QString::fromStdString(label).compare("h264", Qt::CaseInsensitive) != 0) return;
  const TFormatProfile profile(GlobalObject().ProfileFile(), formatCodeOf(CurrentFormatCode));
  auto whole = [](const std::string &key, const std::string &text) {
    int v = 0;
    if (!ParseInteger(text, v))
      throw std::invalid_argument("'" + text + "' is not a valid integer value (" + key + ")");
    return v;
  };
  for (const char *key : H264ExtraKeys) {
    const std::string value = profile.Read(key, "");
    if (value.empty()) continue;
    const std::string k = key;
    bool copy;
    if (k == "paraBitExact") copy = QString::fromStdString(value).compare("true", Qt::CaseInsensitive) == 0;
    else if (k == "paraCoder") copy = whole(k, value) >= 0;
    else copy = whole(k, value) > 0;
    if (copy) writePick(k, value);
  }
}

void TfrmMain::zoomChanged() {
  const int i = cmbZoom->currentIndex();
  if (filling_ || i < 0 || i > 2) return;
  writePick("paraZoom", zoomValues[i]);
}

void TfrmMain::audioEncoderChanged() {
  const int i = cmbAudioEncoder->currentIndex();
  if (filling_ || i < 0) return;
  writePick("iAudioEncoder", std::to_string(i));
  if (auto name = MapAudioEncoderLabel(cmbAudioEncoder->itemText(i).toStdString()))
    writePick("paraAudioEncoder", *name);
}

void TfrmMain::channelChanged() {
  const int i = cmbChannel->currentIndex();
  if (filling_ || i < 0) return;
  writePick("iChannel", std::to_string(i));
  if (auto value = MapChannelItem(cmbChannel->itemText(i).toStdString()))
    writePick("paraChannel", *value);
}

void TfrmMain::volumeChanged() {
  const int i = cmbVolume->currentIndex();
  if (filling_ || i < 0) return;
  writePick("iVolume", std::to_string(i));
  if (auto value = MapVolumeItem(cmbVolume->itemText(i).toStdString()))
    writePick("paraVolume", *value);
}

void TfrmMain::btnDefaultClick() {
  const TFormatProfile profile(GlobalObject().ProfileFile(), formatCodeOf(CurrentFormatCode));
  filling_ = true;
  auto refill = [&](QComboBox *combo, const char *listKey, bool nullOnly) {
    fillList(combo, listKey, nullOnly);
    const int i = profile.DefaultIndex(listKey);
    combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : -1);
  };
  refill(cmbVideoSize, "VideoSize", true);
  refill(cmbVideoBitRate, "VideoBitRate", true);
  refill(cmbAudioBitRate, "AudioBitRate", false);
  refill(cmbSamplerate, "SampleRate", false);
  auto select = [&](QComboBox *combo, const char *listKey) {
    const int i = profile.DefaultIndex(listKey);
    combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : -1);
  };
  select(cmbFrameRate, "FrameRate");
  select(cmbVideoEncoder, "VideoEncoder");
  select(cmbChannel, "Channel");
  select(cmbVolume, "Volume");
  select(cmbAudioEncoder, "AudioEncoder");
  if (cmbZoom->count() > 0) cmbZoom->setCurrentIndex(0);
  setGroupEnabled(true, cmbVideoEncoder->count() > 0);
  setGroupEnabled(false, cmbAudioEncoder->count() > 0);
  filling_ = false;

  // Every pick is written; a control the format does not offer has nothing to write.
  videoEncoderChanged();
  cmbVideoSizeExit();
  frameRateChanged();
  if (cmbVideoBitRate->isEnabled()) videoBitRateChanged();
  zoomChanged();
  audioEncoderChanged();
  if (cmbAudioBitRate->isEnabled()) audioBitRateChanged();
  if (cmbSamplerate->isEnabled()) sampleRateChanged();
  channelChanged();
  volumeChanged();
}

void TfrmMain::btnBrowsClick() {
  const QString chosen =
      UiServices().GetExistingDirectory(this, "Output Directory", edDirectory->text());
  if (chosen.isEmpty() || chosen == edDirectory->text()) return;
  TAppSettings().SetOutPutDir(chosen.toStdString());
  edDirectory->setText(chosen);
}

void TfrmMain::btnOpenClick() {
  if (edDirectory->text().size() <= 2) return;
  UiServices().OpenFolder(QString::fromStdString(TAppSettings().OutPutDir()));
}

void TfrmMain::connectControls() {
  connect(btnAdd, &QToolButton::clicked, this, [this] { btnAddClick(); });
  connect(btnRemove, &QToolButton::clicked, this, [this] { btnRemoveClick(); });
  connect(btnClear, &QToolButton::clicked, this, [this] { btnClearClick(); });
  connect(btnStart, &QToolButton::clicked, this, [this] { btnStartClick(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { btnStartClick(); });
  connect(btnExit, &QToolButton::clicked, this, [this] { close(); });
  connect(BtnEdit, &QToolButton::clicked, this,
          [this] { popFiles->popup(BtnEdit->mapToGlobal(QPoint(0, BtnEdit->height()))); });
  connect(lvFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &pos) { popFiles->popup(lvFiles->viewport()->mapToGlobal(pos)); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { btnPauseClick(); });
  connect(btnResume, &QPushButton::clicked, this, [this] { btnResumeClick(); });

  connect(edt1, &QLineEdit::textChanged, this, [this] { edt1Change(); });
  connect(imgbtn1, &QToolButton::clicked, this, [this] {
    if (lst1->isVisible()) HidePicker();
    else ShowPicker(true, false);
  });
  connect(lst1, &TFormatPicker::FormatChosen, this, [this](int row) { ChooseFormat(row); });
  connect(lst1, &TFormatPicker::Clicked, this, [this] {
    const QPoint edtTop = edt1->mapTo(centralWidget(), QPoint(0, 0));
    const int height = lst1->FittingHeight();
    lst1->setGeometry(edtTop.x(), edtTop.y() - height, PickerWidth, height);
  });
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s != Qt::ApplicationActive) HidePicker();
  });
  // One application-wide filter serves the picker, the format field and the key filters.
  qApp->installEventFilter(this);

  connect(btnDefault, &QPushButton::clicked, this, [this] { btnDefaultClick(); });
  connect(btnBrows, &QPushButton::clicked, this, [this] { btnBrowsClick(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
  connect(edDirectory, &QLineEdit::textChanged, this, [this](const QString &text) {
    if (!filling_) TAppSettings().SetOutPutDir(text.toStdString());
  });

  connect(cmbVideoSize, qOverload<int>(&QComboBox::activated), this,
          [this](int i) { videoSizePicked(i); });
  connect(cmbVideoBitRate, &QComboBox::editTextChanged, this, [this] { videoBitRateChanged(); });
  connect(cmbSamplerate, &QComboBox::editTextChanged, this, [this] { sampleRateChanged(); });
  connect(cmbAudioBitRate, &QComboBox::editTextChanged, this, [this] { audioBitRateChanged(); });
  connect(cmbFrameRate, &QComboBox::currentIndexChanged, this, [this] { frameRateChanged(); });
  connect(cmbVideoEncoder, &QComboBox::currentIndexChanged, this, [this] { videoEncoderChanged(); });
  connect(cmbZoom, &QComboBox::currentIndexChanged, this, [this] { zoomChanged(); });
  connect(cmbAudioEncoder, &QComboBox::currentIndexChanged, this, [this] { audioEncoderChanged(); });
  connect(cmbChannel, &QComboBox::currentIndexChanged, this, [this] { channelChanged(); });
  connect(cmbVolume, &QComboBox::currentIndexChanged, this, [this] { volumeChanged(); });
}
