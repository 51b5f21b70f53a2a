// The main window's controls, menus, skins, creation, showing and closing, and the update
// check. The file list, the picker and the run have files of their own.
#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include "formats/global.h"
#include "formats/settings.h"
#include "media/loader.h"
#include "player/ffplayer.h"
#include "ui/app_exception.h"
#include "ui/file_list_view.h"
#include "ui/format_picker.h"
#include "ui/frm_about.h"
#include "ui/frm_progress.h"
#include "ui/services.h"
#include "ui/skins.h"

namespace {

TfrmMain *mainWindow = nullptr;

constexpr int ClientWidth = 770;
constexpr int ClientHeight = 510;

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w) {
  auto *l = new QLabel(text, parent);
  l->setGeometry(x, y, w, 22);
  return l;
}

QComboBox *combo(QWidget *parent, const char *name, bool editable, int x, int y, int w) {
  auto *c = new QComboBox(parent);
  c->setObjectName(name);
  c->setEditable(editable);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->setMaxVisibleItems(50); // every item shows in the drop-down
  c->setGeometry(x, y, w, 22);
  return c;
}

QToolButton *toolButton(QWidget *parent, const char *name, const QString &text,
                        QStyle::StandardPixmap icon, int x) {
  auto *b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setIconSize(QSize(22, 22));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setAutoRaise(true);
  b->setGeometry(x, 4, 66, 47);
  return b;
}

QPushButton *pushButton(QWidget *parent, const char *name, const QString &text, int x, int y,
                        int w, int h = 24) {
  auto *b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setGeometry(x, y, w, h);
  return b;
}

// Pages of the maker's other products.
struct TRelatedPage {
  const char *Text;
  const char *Url;
};
constexpr TRelatedPage relatedPages[] = {
    {"Marlo DVD Ripper", "https://marlo-video-converter.example/dvd-ripper.html"},
    {"Marlo Audio Converter", "https://marlo-video-converter.example/audio-converter.html"},
    {"Marlo Video Joiner", "https://marlo-video-converter.example/video-joiner.html"},
    {"Marlo Video Splitter", "https://marlo-video-converter.example/video-splitter.html"},
};
constexpr const char *contactUrl = "https://marlo-video-converter.example/contact.html";

} // namespace

TfrmMain *frmMain() { return mainWindow; }

TfrmMain::TfrmMain(TOptions options) : options_(options) {
  mainWindow = this;
  setObjectName("frmMain");
  ccavc_ = std::make_unique<TMediaConverter>();
  player_ = std::make_unique<TFFPlayer>();
  News = BuiltInNews(); // until an update check brings its own
  buildControls();
  buildMenus();
  connectControls();
  connectPreview();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  // The handlers reach into this window: no event may arrive once it goes.
  ccavc_->OnCustomHook = nullptr;
  ccavc_->OnProgress = nullptr;
  ccavc_->OnTerminate = nullptr;
  ccavc_->OnPreviewBitmap = nullptr;
  ccavc_->Stop(true);
  ccavc_.reset();
  player_->OnFileOpen = nullptr;
  player_->OnPosition = nullptr;
  player_->OnState = nullptr;
  player_->Close(true);
  player_.reset();
  progress_.reset();
  if (mainWindow == this) mainWindow = nullptr;
}

void TfrmMain::buildControls() {
  auto *client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(ClientWidth, ClientHeight);
  QFont small = client->font();
  small.setPointSize(8); // the layout's fixed places are made for this size
  client->setFont(small);
  setCentralWidget(client);

  btnAdd = toolButton(client, "btnAdd", "&Add", QStyle::SP_FileDialogNewFolder, 7);
  btnRemove = toolButton(client, "btnRemove", "&Remove", QStyle::SP_DialogDiscardButton, 75);
  btnClear = toolButton(client, "btnClear", "&Clear", QStyle::SP_TrashIcon, 143);
  BtnEdit = toolButton(client, "BtnEdit", "&Edit", QStyle::SP_FileDialogDetailedView, 211);
  btnStart = toolButton(client, "btnStart", "&Start", QStyle::SP_MediaPlay, 279);
  btnExit = toolButton(client, "btnExit", "&Exit", QStyle::SP_DialogCloseButton, 347);
  btnSettings = toolButton(client, "btnSettings", "&Settings", QStyle::SP_FileDialogInfoView, 415);
  btnSettings->hide();

  auto *banner = new QLabel(client);
  banner->setObjectName("lblBanner");
  banner->setGeometry(7, 56, 495, 56);
  banner->setText("<span style='font-size:17pt; font-weight:bold;'>Marlo Video Converter</span>"
                  "<br><span>Add files, choose a format, press Start.</span>");
  banner->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  lvFiles = new QTreeWidget(client);
  lvFiles->setObjectName("lvFiles");
  lvFiles->setGeometry(7, 116, 495, 213);
  lvFiles->setRootIsDecorated(false);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
  lvFiles->setItemDelegate(new TFileRowDelegate(lvFiles));
  lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFiles->header()->setSectionsClickable(false);
  lvFiles->header()->setStretchLastSection(false);
  lvFiles->setUniformRowHeights(true);
  lvFiles->setAllColumnsShowFocus(true);
  setColumns();

  // The preview box: the player fills it once it exists; until then it stays disabled.
  grpPreview = new QGroupBox(client);
  grpPreview->setObjectName("grpPreview");
  grpPreview->setGeometry(508, 76, 253, 253);
  pan1 = new QFrame(grpPreview);
  pan1->setObjectName("pan1");
  pan1->setGeometry(5, 8, 243, 171);
  pan1->setAutoFillBackground(true);
  pan1->setStyleSheet("background: #808080;");
  trcPreview = new QSlider(Qt::Horizontal, grpPreview);
  trcPreview->setObjectName("trcPreview");
  trcPreview->setGeometry(5, 182, 243, 18);
  trcPreview->setTickPosition(QSlider::NoTicks);
  trcPreview->setEnabled(false);
  lblTime = new QLabel("00:00:00", grpPreview);
  lblTime->setObjectName("lblTime");
  lblTime->setGeometry(7, 200, 110, 18);
  lblPTS = new QLabel("00:00:00", grpPreview);
  lblPTS->setObjectName("lblPTS");
  lblPTS->setGeometry(136, 200, 110, 18);
  lblPTS->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto previewButton = [&](const char *name, const char *hint, QStyle::StandardPixmap icon, int x) {
    auto *b = new QToolButton(grpPreview);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setIcon(style()->standardIcon(icon));
    b->setGeometry(x, 222, 26, 24);
    b->setAutoRaise(true);
    return b;
  };
  imgbtnPlay = previewButton("imgbtnPlay", "play", QStyle::SP_MediaPlay, 5);
  imgbtnPAuse = previewButton("imgbtnPAuse", "pause", QStyle::SP_MediaPause, 32);
  imgbtnStop = previewButton("imgbtnStop", "stop", QStyle::SP_MediaStop, 59);
  imgbtnSnap = previewButton("imgbtnSnap", "capture image", QStyle::SP_DialogSaveButton, 86);
  ckMute = new QCheckBox("Mute", grpPreview);
  ckMute->setObjectName("ckMute");
  ckMute->setGeometry(116, 224, 52, 20);
  trcVolume = new QSlider(Qt::Horizontal, grpPreview);
  trcVolume->setObjectName("trcVolume");
  trcVolume->setRange(0, 128);
  trcVolume->setGeometry(170, 224, 78, 20);
  // Pause, Stop and Snapshot wait for a file to play.
  for (QWidget *w : std::initializer_list<QWidget *>{imgbtnPAuse, imgbtnStop, imgbtnSnap})
    w->setEnabled(false);

  grpbxVideo = new QGroupBox("Video Options", client);
  grpbxVideo->setObjectName("grpbxVideo");
  grpbxVideo->setGeometry(7, 329, 374, 102);
  label(grpbxVideo, "Frame Size:", 8, 20, 90);
  cmbVideoSize = combo(grpbxVideo, "cmbVideoSize", true, 98, 20, 82);
  label(grpbxVideo, "Encoder:", 188, 20, 98);
  cmbVideoEncoder = combo(grpbxVideo, "cmbVideoEncoder", false, 286, 20, 80);
  label(grpbxVideo, "BitRate (Kbps):", 8, 46, 90);
  cmbVideoBitRate = combo(grpbxVideo, "cmbVideoBitRate", true, 98, 46, 82);
  label(grpbxVideo, "FrameRate (Fps):", 188, 46, 98);
  cmbFrameRate = combo(grpbxVideo, "cmbFrameRate", false, 286, 46, 80);
  label(grpbxVideo, "Zoom:", 8, 72, 90);
  cmbZoom = combo(grpbxVideo, "cmbZoom", false, 98, 72, 110);

  grpbxAudio = new QGroupBox("Audio Options", client);
  grpbxAudio->setObjectName("grpbxAudio");
  grpbxAudio->setGeometry(387, 329, 374, 102);
  label(grpbxAudio, "SampleRate (Hz):", 8, 20, 96);
  cmbSamplerate = combo(grpbxAudio, "cmbSamplerate", true, 104, 20, 76);
  label(grpbxAudio, "Encoder:", 188, 20, 54);
  cmbAudioEncoder = combo(grpbxAudio, "cmbAudioEncoder", false, 242, 20, 126);
  label(grpbxAudio, "BitRate (Kbps):", 8, 46, 96);
  cmbAudioBitRate = combo(grpbxAudio, "cmbAudioBitRate", true, 104, 46, 76);
  label(grpbxAudio, "Channel:", 188, 46, 54);
  cmbChannel = combo(grpbxAudio, "cmbChannel", false, 242, 46, 126);
  label(grpbxAudio, "Volume:", 8, 72, 96);
  cmbVolume = combo(grpbxAudio, "cmbVolume", false, 104, 72, 76);

  grpOutput = new QGroupBox(client);
  grpOutput->setObjectName("grpOutput");
  grpOutput->setGeometry(7, 431, 754, 73);
  label(grpOutput, "Output Format:", 8, 12, 104);
  edt1 = new QLineEdit(grpOutput);
  edt1->setObjectName("edt1");
  edt1->setReadOnly(true);
  edt1->setGeometry(112, 12, 400, 22);
  imgbtn1 = new QToolButton(grpOutput);
  imgbtn1->setObjectName("imgbtn1");
  imgbtn1->setArrowType(Qt::UpArrow);
  imgbtn1->setGeometry(512, 12, 22, 22);
  btnDefault = pushButton(grpOutput, "btnDefault", "Default", 540, 11, 70);
  label(grpOutput, "Output Directory:", 8, 40, 104);
  edDirectory = new QLineEdit(grpOutput);
  edDirectory->setObjectName("edDirectory");
  edDirectory->setReadOnly(true);
  edDirectory->setGeometry(112, 40, 422, 22);
  btnBrows = pushButton(grpOutput, "btnBrows", "Brows", 540, 39, 70);
  btnOpen = pushButton(grpOutput, "btnOpen", "Open", 614, 39, 50);
  SpeedButton1 = new QToolButton(grpOutput);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText("&Start");
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  SpeedButton1->setIconSize(QSize(22, 22));
  SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  SpeedButton1->setGeometry(674, 10, 72, 54);

  QPalette light = edt1->palette();
  light.setColor(QPalette::Base, PickerBackground);
  edt1->setPalette(light);
  edDirectory->setPalette(light);

  lst1 = new TFormatPicker(client);
  lst1->setFixedWidth(PickerWidth);

  // Never shown: they carry the run's enabled states and its actions.
  btnStop = new QPushButton("Stop", client);
  btnStop->setObjectName("btnStop");
  btnPause = new QPushButton("Pause", client);
  btnPause->setObjectName("btnPause");
  btnResume = new QPushButton("Resume", client);
  btnResume->setObjectName("btnResume");
  mmoLog = new QPlainTextEdit(client);
  mmoLog->setObjectName("mmoLog");
  mmoLog->setReadOnly(true);
  for (QWidget *w : std::initializer_list<QWidget *>{btnStop, btnPause, btnResume, mmoLog})
    w->hide();
  btnStop->setEnabled(false);
  btnPause->setEnabled(false);
  btnResume->setEnabled(false);
}

void TfrmMain::buildMenus() {
  auto add = [this](QMenu *menu, const QString &text, auto slot) {
    QAction *a = menu->addAction(text);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  mnuFile = menuBar()->addMenu("&File");
  add(mnuFile, "&Add", [this] { btnAddClick(); });
  add(mnuFile, "&Remove", [this] { btnRemoveClick(); });
  add(mnuFile, "&Clear", [this] { btnClearClick(); });
  add(mnuFile, "&Start", [this] { btnStartClick(); });
  mnuFile->addSeparator();
  QAction *settings = mnuFile->addAction("Se&ttings");
  settings->setVisible(false); // the profile settings dialog is not part of this program yet
  add(mnuFile, "&Exit", [this] { close(); });

  // Entries whose dialogs are not part of this program yet stay in place, disabled.
  auto pending = [](QMenu *menu, const QString &text) {
    QAction *a = menu->addAction(text);
    a->setProperty("pending", true);
    a->setEnabled(false);
    return a;
  };
  mnuEdit = menuBar()->addMenu("&Edit");
  pending(mnuEdit, "&Crop");
  pending(mnuEdit, "&Trim");
  actVideoEffect = pending(mnuEdit, "&Video Effect && Water Mark");
  mnuEdit->addSeparator();
  add(mnuEdit, "&Check All", [this] { CheckAll(1); });
  add(mnuEdit, "&Uncheck All", [this] { CheckAll(0); });
  add(mnuEdit, "&Reverse Check", [this] { CheckAll(2); });
  mnuEdit->addSeparator();
  add(mnuEdit, "C&heck", [this] { CheckSelected(true); });
  add(mnuEdit, "U&ncheck", [this] { CheckSelected(false); });
  connect(mnuEdit, &QMenu::aboutToShow, this, [this] { updateEditMenu(mnuEdit, false); });

  mnuTools = menuBar()->addMenu("&Tools");
  pending(mnuTools, "&Preference");
  mnuSkin = mnuTools->addMenu("&Skin");
  for (int i = 0; i < SkinCount; ++i) {
    QAction *a = add(mnuSkin, Skin(i).Name, [this, i] { ChooseSkin(i); });
    a->setCheckable(true);
    SkinActions.push_back(a);
  }
  connect(mnuSkin, &QMenu::aboutToShow, this, [this] {
    const int stored = TAppSettings().SkinIndex(1);
    for (int i = 0; i < SkinCount; ++i) SkinActions[i]->setChecked(i == stored);
  });

  mnuRelated = menuBar()->addMenu("Related Software");
  for (const auto &page : relatedPages)
    add(mnuRelated, page.Text, [url = page.Url] { UiServices().OpenUrl(url); });

  mnuHelp = menuBar()->addMenu("&Help");
  add(mnuHelp, "&Help",
      [] { UiServices().OpenUrl(QString::fromStdString(GlobalObject().HelpUrl())); });
  mnuHelp->addSeparator();
  add(mnuHelp, "&Web Site",
      [] { UiServices().OpenUrl(QString::fromStdString(GlobalObject().HomeUrl())); });
  add(mnuHelp, "&Support and Contact", [] { UiServices().OpenUrl(contactUrl); });
  add(mnuHelp, "&About", [this] {
    TfrmAbout about(this);
    about.exec();
  });

  popFiles = new QMenu(this);
  popFiles->setObjectName("popFiles");
  pending(popFiles, "&Crop");
  pending(popFiles, "&Trim");
  pending(popFiles, "&Video Effect && Water Mark");
  popFiles->addSeparator();
  QAction *popAdd = add(popFiles, "Add", [this] { btnAddClick(); });
  popAdd->setProperty("always", true);
  add(popFiles, "Remove", [this] { btnRemoveClick(); });
  add(popFiles, "Clear", [this] { btnClearClick(); });
  add(popFiles, "Start", [this] { btnStartClick(); });
  popFiles->addSeparator();
  pending(popFiles, "Video Infomation");
  connect(popFiles, &QMenu::aboutToShow, this, [this] { updateEditMenu(popFiles, true); });
}

void TfrmMain::updateEditMenu(QMenu *menu, bool popup) {
  if (!popup && actVideoEffect) actVideoEffect->setVisible(true);
  const bool rowSelected = lvFiles->topLevelItemCount() > 0 && lvFiles->currentItem() &&
                           lvFiles->currentItem()->isSelected();
  for (QAction *a : menu->actions()) {
    if (a->isSeparator() || a->property("pending").toBool()) continue;
    if (popup && a->property("always").toBool()) {
      a->setEnabled(true);
      continue;
    }
    a->setEnabled(rowSelected);
  }
}

void TfrmMain::setColumns() {
  lvFiles->setColumnCount(5);
  lvFiles->setHeaderLabels({"Source", "Length", "Trimmed Length", "Destination File", "Progress"});
  // A column is never narrower than its caption needs in the font and style in use.
  const int widths[] = {140, 65, 90, 120, 60};
  for (int i = 0; i < 5; ++i) lvFiles->setColumnWidth(i, std::max(widths[i], lvFiles->header()->sectionSizeHint(i)));
}

void TfrmMain::FormCreate() {
  TGlobalObject &global = GlobalObject();
  QApplication::setApplicationName(QString::fromStdString(global.AppTitle()));
  const int skin = TAppSettings().SkinIndex(0);
  ApplySkin(ValidSkinIndex(skin) ? skin : 0);

  // The preview player's libraries; a failure is noted for the curious and start-up goes on.
  if (!FFLoader().LibsLoaded(PlayerLibs)) {
    const std::string folder = ExecutableFolder() + "LibAV";
    FFLoader().SetLibraryPath(std::filesystem::is_directory(folder) ? folder : std::string());
    if (!FFLoader().LoadLibs(PlayerLibs))
      mmoLog->appendPlainText(QString::fromStdString(FFLoader().LastError()));
  }
  created_ = true;
}

void TfrmMain::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) QMetaObject::invokeMethod(this, [this] { FormShow(); },
                                                       Qt::QueuedConnection);
}

void TfrmMain::FormShow() {
  setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
  imgbtnPlay->setEnabled(true);
  imgbtnPAuse->setEnabled(false);
  imgbtnStop->setEnabled(false);
  imgbtnSnap->setEnabled(false);
  PlayAfterAdd = false;
  trcPreview->setEnabled(false);
  PreviewStopped = true;
  PreviewPaused = false;

  TAppSettings settings;
  filling_ = true;
  edDirectory->setText(QString::fromStdString(settings.OutPutDir()));
  filling_ = false;
  CurrentFormatCode = settings.Ini().ReadString(SettingsSection, "FormatCode", "1");
  CurrentFormatName = settings.FormatName("iPod Video MPEG-4");
  trcVolume->setValue(settings.PreviewVolume());
  ckMute->setChecked(settings.Mute());

  if (lvFiles->topLevelItemCount() == 0) setColumns();
  GlobalObject().SetVersionText(TGlobalObject::FileVersionText());
  setWindowTitle(QString::fromStdString(GlobalObject().AppTitle() + TGlobalObject::FileVersionText()));

  FillFormatCatalogue();
  SkipExitPrompt = false;
  if (options_.UpdateCheck) RunUpdateCheck();
}

void TfrmMain::RunUpdateCheck() {
  TUpdateCheck check;
  check.Url = GlobalObject().UpdateInfoUrl();
  // Beside the settings file: a program started from a menu has no working folder of its own.
  check.Folder = QFileInfo(QString::fromStdString(GlobalObject().SettingsFile()))
                     .absolutePath()
                     .toStdString() + "/";
  QDir().mkpath(QString::fromStdString(check.Folder));
  check.AppTitle = GlobalObject().AppTitle();
  check.VersionText = TGlobalObject::FileVersionText();
  check.UpgradeUrl = GlobalObject().UpdateUrl();
  check.TimeoutMs = options_.UpdateTimeoutMs;
  LastUpdate = ::RunUpdateCheck(check);
  News = LastUpdate.News;
  if (LastUpdate.UpgradeAccepted) {
    SkipExitPrompt = true;
    close();
  }
}

void TfrmMain::closeEvent(QCloseEvent *event) {
  if (closed_ || FormCloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TfrmMain::FormCloseQuery() {
  if (!SkipExitPrompt &&
      UiServices().Message(this, "Do you really want to exit?", "Warning", TMsgIcon::Warning,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return false;
  SaveGroupStates();
  ccavc_->OnCustomHook = nullptr;
  ccavc_->OnProgress = nullptr;
  ccavc_->OnTerminate = nullptr;
  StopConversion();
  StopPreview();
  TaskRows.clear();
  ConversionPreview = QImage();
  closed_ = true;
  return true;
}

void TfrmMain::ChooseSkin(int index) {
  if (index == TAppSettings().SkinIndex(1)) {
    SkinActions[index]->setChecked(true);
    return;
  }
  hide();
  ApplySkin(index);
  for (int i = 0; i < SkinCount; ++i) SkinActions[i]->setChecked(i == index);
  show();
  TAppSettings().SetSkinIndex(index);
}

void TfrmMain::message(const QString &text, const QString &caption, int icon) {
  UiServices().Message(this, text, caption, static_cast<TMsgIcon>(icon), QMessageBox::Ok);
}
