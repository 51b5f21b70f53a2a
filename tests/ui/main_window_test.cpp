// The main window driven as a user drives it, headless: adding files, choosing formats and
// adjusting their controls, converting through the progress window, pausing, stopping, closing.
#include <QCheckBox>
#include <QSlider>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include "fixtures/fixtures.h"
#include "formats/catalogue.h"
#include "formats/inifile.h"
#include "formats/settings.h"
#include "media/avprobe.h"
#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/framebitmap.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include "ui/format_picker.h"
#include "ui/frm_main.h"
#include "ui/frm_progress.h"
#include "ui/skins.h"
#include "ui_testing.h"

using namespace ui_test;
namespace fs = std::filesystem;

namespace {

constexpr int AviCode = 2604;
constexpr const char *AviName = "AVI Video (*.avi)";
constexpr int Mp3Code = 2700;

std::string aviSection() { return FormatSectionName(AviCode); }

// A source long enough to stop or pause in its middle.
std::string longSource() {
  fixtures::MediaSpec recipe;
  recipe.container = "avi";
  recipe.vcodec = "mpeg4";
  recipe.acodec = "libmp3lame";
  recipe.seconds = 12;
  return fixtures::Make("long.avi", recipe);
}

std::string copyTo(const std::string &from, const std::string &to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  return to;
}

// The settings a test starts from: the AVI format at 320x240, outputs into the scratch folder.
void baseSettings(const Scratch &scratch) {
  TIniFile ini(scratch.Settings());
  ini.WriteString(SettingsSection, "OutPutDir", scratch.File("out"));
  ini.WriteString(SettingsSection, "FormatCode", std::to_string(AviCode));
  ini.WriteString(SettingsSection, "FormatName", AviName);
  ini.WriteString(aviSection(), "paraVideoSize", "320x240");
}

QStringList column(const TfrmMain &frm, int col) {
  QStringList texts;
  for (int i = 0; i < frm.RowCount(); ++i) texts << frm.Row(i)->text(col);
  return texts;
}

std::string pick(const Scratch &scratch, int code, const std::string &key) {
  return TIniFile(scratch.Settings()).ReadString(FormatSectionName(code), key, "<none>");
}

int pickerRowOf(TfrmMain &frm, int code) {
  const int group = FormatGroupOf(code);
  for (int i = 0; i < frm.lst1->count(); ++i) {
    const TItemInfo info = frm.lst1->Info(i);
    if (info.IsGroupRow && info.Code == group && info.Collapsed) frm.lst1->ExpandGroup(i, 49);
  }
  for (int i = 0; i < frm.lst1->count(); ++i)
    if (frm.lst1->Info(i).IsFormatRow && frm.lst1->Info(i).Code == code) return i;
  return -1;
}

// The first picture of a file's video, as a bitmap; a null image when there is none.
QImage firstPicture(const std::string &path) {
  AVFormatContext *raw = nullptr;
  if (ff.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return {};
  TInputContextPtr fmt(raw);
  if (ff.avformat_find_stream_info(fmt.get(), nullptr) < 0) return {};
  const int index = ff.av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return {};
  const AVCodecParameters *par = fmt->streams[index]->codecpar;
  TCodecContextPtr dec(ff.avcodec_alloc_context3(ff.avcodec_find_decoder(par->codec_id)));
  if (ff.avcodec_parameters_to_context(dec.get(), par) < 0 ||
      ff.avcodec_open2(dec.get(), dec->codec, nullptr) < 0)
    return {};
  TPacketPtr pkt(ff.av_packet_alloc());
  TFramePtr frame(ff.av_frame_alloc());
  while (ff.av_read_frame(fmt.get(), pkt.get()) >= 0) {
    const bool ours = pkt->stream_index == index;
    if (ours) ff.avcodec_send_packet(dec.get(), pkt.get());
    ff.av_packet_unref(pkt.get());
    if (ours && ff.avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
      FrameBitmapConverter conv;
      if (!FrameToBitmap(conv, frame.get())) return {};
      return conv.Bitmap().copy();
    }
  }
  return {};
}

// Runs `during` once the progress window shows, while Start runs its batch.
void startWith(TfrmMain &frm, std::function<void()> during) {
  auto *timer = new QTimer(&frm);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [&frm, timer, during] {
    if (!frm.frmProgress() || !frm.frmProgress()->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    if (during) during();
  });
  timer->start();
  frm.btnStartClick();
}

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void addFillsRowsAndSkipsDuplicatesFoldersAndUnreadableFiles() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    const std::string av = fixtures::Path("av.avi");
    const std::string upper = copyTo(av, scratch.File("AV.avi"));
    const std::string lower = copyTo(av, scratch.File("av.avi"));
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(lower), QString::fromStdString(lower),
                           QString::fromStdString(scratch.Path()),
                           QString::fromStdString(fixtures::Path("random.bin")),
                           QString::fromStdString(upper)};
    frm->btnAddClick();

    QVERIFY(services->OpenFilter.startsWith("All Supported Video Formats ("));
    QCOMPARE(column(*frm, fcSource), QStringList({QString::fromStdString(lower),
                                                   QString::fromStdString(upper)}));
    QCOMPARE(column(*frm, fcLength), QStringList({"2", "2"}));
    QCOMPARE(column(*frm, fcTrimmed), QStringList({"2", "2"}));
    QCOMPARE(column(*frm, fcDestination), QStringList({"av_(new)_ipod.avi", "AV_(new)_ipod.avi"}));
    QCOMPARE(column(*frm, fcProgress), QStringList({"", ""}));
    QCOMPARE(frm->Row(0)->checkState(fcSource), Qt::Checked);
    const TlvFilesRecord &rec = frm->Row(1)->Record;
    QCOMPARE(rec.OpenIndex, 4);
    QCOMPARE(rec.DurationSec, 2);
    QCOMPARE(rec.ZoomMode, std::string("lbox"));
    QCOMPARE(rec.DestFile, scratch.File("out") + "/AV_(new)_ipod.avi");
    QVERIFY(frm->btnStart->isEnabled());
    QCOMPARE(frm->CCAVC().TaskCount(), 0); // the probing tasks are gone

    frm->btnAddClick(); // the same files again add nothing
    QCOMPARE(frm->RowCount(), 2);
    QVERIFY(services->Messages.empty());
    closeWindow(frm);
  }

  // The list's captions stay whole in a font larger than the one the widths were made for.
  void columnCaptionsAreWholeInALargeFont() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    frm->lvFiles->header()->setStyleSheet("font-size: 16pt;");
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi"))};
    frm->btnAddClick(); // the first row lays the columns out again
    QCOMPARE(frm->RowCount(), 1);
    for (int col = 0; col < frm->lvFiles->columnCount(); ++col)
      QVERIFY2(frm->lvFiles->columnWidth(col) >= frm->lvFiles->header()->sectionSizeHint(col),
               qPrintable(frm->lvFiles->headerItem()->text(col)));
    closeWindow(frm);
  }

  void removeClearAndCheckCommands() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    for (const char *name : {"av.avi", "av.mp4", "av.mkv"})
      services->OpenFiles << QString::fromStdString(fixtures::Path(name));
    frm->btnAddClick();
    QCOMPARE(frm->RowCount(), 3);

    auto checks = [&] {
      QString s;
      for (int i = 0; i < frm->RowCount(); ++i)
        s += frm->Row(i)->checkState(fcSource) == Qt::Checked ? "1" : "0";
      return s;
    };
    frm->Row(1)->setCheckState(fcSource, Qt::Unchecked);
    frm->CheckAll(2);
    QCOMPARE(checks(), QString("010"));
    frm->CheckAll(1);
    QCOMPARE(checks(), QString("111"));
    frm->CheckAll(0);
    QCOMPARE(checks(), QString("000"));
    frm->lvFiles->setCurrentItem(frm->Row(2));
    frm->CheckSelected(true);
    QCOMPARE(checks(), QString("001"));

    frm->btnRemoveClick(); // the last row: the new last row is selected
    QCOMPARE(frm->RowCount(), 2);
    QCOMPARE(frm->lvFiles->currentItem(), frm->Row(1));
    frm->lvFiles->setCurrentItem(frm->Row(0));
    frm->btnRemoveClick(); // the first row: the row that moved up is selected
    QCOMPARE(column(*frm, fcSource), QStringList({QString::fromStdString(fixtures::Path("av.mp4"))}));
    QCOMPARE(frm->lvFiles->currentItem(), frm->Row(0));
    frm->btnClearClick();
    QCOMPARE(frm->RowCount(), 0);
    closeWindow(frm);
  }

  void choosingFormatsFillsControlsAndWritesPicks() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();

    // Sound only: the five video controls are off whatever their lists say.
    frm->ChooseFormat(pickerRowOf(*frm, Mp3Code));
    QCOMPARE(frm->edt1->text(), QString("MP3 MPEG Layer-3 Audio (*.mp3)"));
    QCOMPARE(TAppSettings(scratch.Settings()).FormatCode(), Mp3Code);
    QCOMPARE(frm->CurrentFormatCode, std::to_string(Mp3Code));
    for (QComboBox *c : {frm->cmbVideoSize, frm->cmbVideoEncoder, frm->cmbVideoBitRate,
                         frm->cmbFrameRate, frm->cmbZoom})
      QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(frm->cmbAudioEncoder->isEnabled());
    QVERIFY(!frm->lst1->isVisible());

    // A format never adjusted shows its profile defaults: what Start would convert.
    frm->ChooseFormat(pickerRowOf(*frm, AviCode));
    QCOMPARE(frm->edt1->text(), QString(AviName));
    for (QComboBox *c : {frm->cmbVideoSize, frm->cmbVideoEncoder, frm->cmbVideoBitRate,
                         frm->cmbFrameRate, frm->cmbZoom})
      QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(frm->cmbVideoSize->currentText(), QString("320x240")); // the stored pick
    QCOMPARE(frm->cmbVideoBitRate->currentText(), QString("1500"));
    QCOMPARE(frm->cmbFrameRate->currentText(), QString("29.97"));
    QCOMPARE(frm->cmbChannel->currentText(), QString("stereo 2 channels"));
    QCOMPARE(frm->cmbVolume->currentText(), QString("100%"));
    QCOMPARE(frm->cmbZoom->currentText(), QString("Letter Box"));

    struct Change {
      QComboBox *Combo;
      const char *Item;
      const char *Key;
      const char *Stored;
    };
    const Change changes[] = {
        {frm->cmbChannel, "mono 1 channel", "paraChannel", "1"},
        {frm->cmbChannel, "stereo 2 channels", "paraChannel", "2"},
        {frm->cmbVolume, "50%", "paraVolume", "128"},
        {frm->cmbVolume, "400%", "paraVolume", "1024"},
        {frm->cmbVideoEncoder, "Xvid", "paraVideoEncoder", "libxvid"},
        {frm->cmbVideoEncoder, "MPEG-4", "paraVideoEncoder", "mpeg4"},
        {frm->cmbAudioEncoder, "MP3", "paraAudioEncoder", "libmp3lame"},
        {frm->cmbZoom, "Pan and Scan", "paraZoom", "pan"},
        {frm->cmbZoom, "Full Screen", "paraZoom", "full"},
        {frm->cmbFrameRate, "25", "paraFrameRate", "25"},
        {frm->cmbVideoBitRate, "768", "paraVideoBitRate", "768"},
        {frm->cmbSamplerate, "48000", "paraSampleRate", "48000"},
    };
    for (const auto &c : changes) {
      const int i = c.Combo->findText(c.Item);
      QVERIFY2(i >= 0, c.Item);
      if (c.Combo->currentIndex() == i) c.Combo->setCurrentIndex(-1);
      c.Combo->setCurrentIndex(i);
      QCOMPARE(pick(scratch, AviCode, c.Key), std::string(c.Stored));
    }
    QCOMPARE(pick(scratch, AviCode, "iVolume"), std::string("11"));
    frm->cmbVideoSize->setCurrentIndex(3);
    emit frm->cmbVideoSize->activated(3);
    QCOMPARE(pick(scratch, AviCode, "paraVideoSize"), std::string("1280x720"));
    QCOMPARE(pick(scratch, AviCode, "iVideoSize"), std::string("3"));

    // The picks come back when the format is chosen again.
    frm->ChooseFormat(pickerRowOf(*frm, Mp3Code));
    frm->ChooseFormat(pickerRowOf(*frm, AviCode));
    QCOMPARE(frm->cmbZoom->currentText(), QString("Full Screen"));
    QCOMPARE(frm->cmbSamplerate->currentText(), QString("48000"));
    QCOMPARE(frm->cmbVideoSize->currentText(), QString("1280x720"));
    QVERIFY(services->Messages.empty());
    closeWindow(frm);
  }

  void pickerGroupsExpandInOrderAndRememberTheirState() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    TFormatPicker &lst = *frm->lst1;
    QCOMPARE(lst.count(), 28); // every group collapsed at first
    const int header = 2;      // "Apple TV"
    lst.ToggleGroup(header);
    QCOMPARE(lst.Info(header).Collapsed, false);
    for (int i = 0; i < 6; ++i) QCOMPARE(lst.Info(header + 1 + i).Code, 200 + i);
    QVERIFY(lst.Info(header + 7).IsGroupRow);
    lst.ToggleGroup(header);
    QCOMPARE(lst.count(), 28);
    lst.ToggleGroup(header);
    frm->SaveGroupStates();
    closeWindow(frm);

    frm = openWindow();
    QCOMPARE(frm->lst1->count(), 28 + 6);
    QCOMPARE(frm->lst1->Info(3).Code, 200);
    frm->ShowPicker(true, false);
    QVERIFY(frm->lst1->isVisible());
    QCOMPARE(frm->lst1->geometry().bottom() + 1, frm->edt1->mapTo(frm->centralWidget(), QPoint()).y());
    QCOMPARE(frm->lst1->height(), std::min(20 * frm->lst1->count() + 20, 386));
    closeWindow(frm);
  }

  void frameSizeCheckCorrectsAndStores_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("stored");
    QTest::newRow("odd sizes") << "641x361" << "Frame Size must be a multiple of 2.\nThe correct value:640x360"
                               << "640x360" << "640x360";
    QTest::newRow("zero width") << "0x240" << "Frame Size must be a multiple of 2.\nThe correct value:2x240"
                                << "2x240" << "2x240";
    QTest::newRow("even sizes") << "176x144" << "" << "176x144" << "176x144";
    // Refused texts select the second item and keep the stored pick.
    QTest::newRow("no x") << "640" << "Frame Size is not a valid value!" << "320x240" << "1920x1080";
    QTest::newRow("not numbers") << "axb" << "Frame Size is not a valid value!" << "320x240" << "1920x1080";
    QTest::newRow("as source") << "As Source" << "" << "As Source" << "1920x1080";
  }

  void frameSizeCheckCorrectsAndStores() {
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QFETCH(QString, stored);
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    TIniFile(scratch.Settings()).WriteString(aviSection(), "paraVideoSize", "1920x1080");
    auto frm = openWindow();
    frm->cmbVideoSize->setEditText(typed);
    frm->cmbVideoSizeExit();
    QCOMPARE(services->Texts(), message.isEmpty() ? QStringList() : QStringList{message});
    if (message.startsWith("Frame Size must")) {
      QCOMPARE(services->Messages[0].Caption, QString("Input Error!"));
    }
    QCOMPARE(frm->cmbVideoSize->currentText(), shown);
    QCOMPARE(pick(scratch, AviCode, "paraVideoSize"), stored.toStdString());
    closeWindow(frm);
  }

  void numberFieldsRefuseWhatIsNotANumber() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();

    frm->cmbVideoBitRate->setEditText("12a");
    QCOMPARE(services->Texts(), QStringList{"Video BitRate is not a valid value!"});
    QCOMPARE(frm->cmbVideoBitRate->currentText(), QString("1000")); // the second item
    QCOMPARE(pick(scratch, AviCode, "paraVideoBitRate"), std::string("<none>"));
    frm->cmbVideoBitRate->setEditText("2500");
    QCOMPARE(pick(scratch, AviCode, "paraVideoBitRate"), std::string("2500"));
    QCOMPARE(pick(scratch, AviCode, "iVideoBitRate"), std::string("-1"));
    frm->cmbAudioBitRate->setEditText("96.5"); // audio bit rates may be real numbers
    QCOMPARE(pick(scratch, AviCode, "paraAudioBitRate"), std::string("96.5"));
    frm->cmbSamplerate->setEditText("44.1");
    QCOMPARE(services->Texts().last(), QString("Audio SampleRate is not a valid value!"));

    // Key filters: a letter in a number field is refused with a message and a beep; the frame
    // size takes one "x" and digits.
    services->Messages.clear();
    QLineEdit *rate = frm->cmbVideoBitRate->lineEdit();
    rate->setText("25");
    QTest::keyClick(rate, Qt::Key_A, Qt::NoModifier);
    QCOMPARE(rate->text(), QString("25"));
    QCOMPARE(services->Texts(), QStringList{"Please enter numerical."});
    QCOMPARE(services->Beeps, 1);
    QLineEdit *size = frm->cmbVideoSize->lineEdit();
    size->setText("640x");
    size->end(false);
    QTest::keyClick(size, Qt::Key_X, Qt::NoModifier);
    QTest::keyClick(size, Qt::Key_Y, Qt::NoModifier);
    QTest::keyClicks(size, "48");
    QCOMPARE(size->text(), QString("640x48"));
    QCOMPARE(services->Beeps, 3);
    closeWindow(frm);
  }

  void defaultWritesTheProfilePicks() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    TIniFile ini(scratch.Settings());
    ini.WriteString(aviSection(), "paraVolume", "64");
    ini.WriteString(aviSection(), "iVolume", "0");
    ini.WriteString(aviSection(), "paraZoom", "pan");
    auto frm = openWindow();
    frm->btnDefaultClick();
    const std::pair<const char *, const char *> expected[] = {
        {"paraVideoSize", "640x480"},  {"paraVideoBitRate", "1500"}, {"paraFrameRate", "29.97"},
        {"paraVideoEncoder", "mpeg4"}, {"paraZoom", "full"},         {"paraAudioEncoder", "libmp3lame"},
        {"paraAudioBitRate", "128"},   {"paraSampleRate", "44100"},  {"paraChannel", "2"},
        {"paraVolume", "256"},         {"iVolume", "3"}};
    for (const auto &[key, value] : expected) QCOMPARE(pick(scratch, AviCode, key), std::string(value));
    QVERIFY(services->Messages.empty());

    // A sound-only format has no frame size or video bit rate to complain about.
    frm->ChooseFormat(pickerRowOf(*frm, Mp3Code));
    frm->btnDefaultClick();
    QCOMPARE(services->Texts(), QStringList());
    QCOMPARE(pick(scratch, Mp3Code, "paraAudioEncoder"), std::string("libmp3lame"));
    closeWindow(frm);
  }

  void outputFolderControls() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    QCOMPARE(frm->edDirectory->text().toStdString(), scratch.File("out"));
    services->Folder = QString::fromStdString(scratch.File("elsewhere"));
    frm->btnBrowsClick();
    QCOMPARE(frm->edDirectory->text(), services->Folder);
    QCOMPARE(TAppSettings(scratch.Settings()).OutPutDir(), scratch.File("elsewhere"));
    frm->btnOpenClick();
    QCOMPARE(services->OpenedFolders, QStringList{services->Folder});
    closeWindow(frm);
  }

  void startConvertsCheckedRowsIntoTheOutputFolder() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi")),
                           QString::fromStdString(fixtures::Path("av.mp4")),
                           QString::fromStdString(fixtures::Path("av.mkv"))};
    frm->btnAddClick();
    frm->Row(2)->setCheckState(fcSource, Qt::Unchecked);
    startWith(*frm, nullptr);

    QCOMPARE(column(*frm, fcProgress), QStringList({"100%", "100%", ""}));
    // Two sources of one base name get two outputs, not one written twice.
    const std::string out = scratch.File("out") + "/";
    for (const char *name : {"av_(new).avi", "av_(new_1).avi"}) {
      TAVProbe probe;
      QVERIFY2(probe.LoadFile(out + name), name);
      TFileStreamInfo info;
      probe.GetFileStreamInfo(info);
      QVERIFY2(std::abs(info.Duration - 2000000) < 200000, name);
    }
    QVERIFY(!fs::exists(out + "av_(new_2).avi"));
    QCOMPARE(services->OpenedFolders, QStringList{QString::fromStdString(scratch.File("out"))});
    QCOMPARE(services->PowerOffs, 0);
    QVERIFY(frm->btnStart->isEnabled() && frm->btnAdd->isEnabled() && !frm->btnStop->isEnabled());
    QCOMPARE(frm->CCAVC().TaskCount(), 0);
    QVERIFY(!frm->frmProgress()->isVisible());
    QCOMPARE(frm->frmProgress()->progbarFile->value(), 100);
    closeWindow(frm);
  }

  void startWithoutCheckedRowsWarns_data() {
    QTest::addColumn<int>("setting");
    QTest::addColumn<int>("priority");
    QTest::newRow("0 idle") << 0 << int(tpIdle);
    QTest::newRow("1 normal") << 1 << int(tpNormal);
    QTest::newRow("2 lower") << 2 << int(tpLower);
    QTest::newRow("3 lowest") << 3 << int(tpLowest);
    QTest::newRow("other values keep it") << 7 << int(tpHighest);
  }

  void startWithoutCheckedRowsWarns() {
    QFETCH(int, setting);
    QFETCH(int, priority);
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    TIniFile(scratch.Settings()).WriteInteger(SettingsSection, "Priority", setting);
    auto frm = openWindow();
    frm->CCAVC().ThreadPriority = tpHighest;
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi"))};
    frm->btnAddClick();
    frm->CheckAll(0);
    frm->btnStartClick();
    QCOMPARE(services->Texts(), QStringList{"Please select a file by clicking the check box!"});
    QCOMPARE(services->Messages[0].Caption, QString("Warning"));
    QVERIFY(!frm->frmProgress());
    QCOMPARE(int(frm->CCAVC().ThreadPriority), priority);
    closeWindow(frm);
  }

  void theFolderOpensBeforeTheShutdownAfterTheLastFile() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi")),
                           QString::fromStdString(fixtures::Path("av.mp4"))};
    frm->btnAddClick();
    startWith(*frm, [&] { frm->frmProgress()->ckShutDown->setChecked(true); });
    QCOMPARE(services->Calls, QStringList({"open " + QString::fromStdString(scratch.File("out")),
                                           "power off"}));
    // The choice is kept for the next run; the folder box is checked again at every showing.
    frm->frmProgress()->ckShutDown->setChecked(false);
    closeWindow(frm);
  }

  void choosingH264CopiesTheProfileExtras() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    frm->ChooseFormat(pickerRowOf(*frm, 1)); // "iPod Video H.264"
    frm->cmbVideoEncoder->setCurrentIndex(-1);
    frm->cmbVideoEncoder->setCurrentIndex(frm->cmbVideoEncoder->findText("H264"));
    const std::pair<const char *, const char *> copied[] = {{"paraVideoEncoder", "libx264"},
                                                            {"paraLevel", "13"},
                                                            {"paraMaxBitrate", "768"},
                                                            {"paraBufferSize", "1000"},
                                                            {"paraCoder", "0"},
                                                            {"paraGop", "<none>"},
                                                            {"paraBitExact", "<none>"}};
    for (const auto &[key, value] : copied) QCOMPARE(pick(scratch, 1, key), std::string(value));
    closeWindow(frm);
  }

  void aFileThatCannotBeOpenedIsSkipped() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    const std::string broken = copyTo(fixtures::Path("av.mp4"), scratch.File("broken.mp4"));
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi")),
                           QString::fromStdString(broken),
                           QString::fromStdString(fixtures::Path("av.mkv"))};
    frm->btnAddClick();
    QCOMPARE(frm->RowCount(), 3);
    copyTo(fixtures::Path("random.bin"), broken); // spoilt after it was added
    startWith(*frm, nullptr);
    QCOMPARE(column(*frm, fcProgress), QStringList({"100%", "", "100%"}));
    QCOMPARE(services->OpenedFolders.size(), 1); // after the last file
    QVERIFY(services->Messages.empty());
    closeWindow(frm);
  }

  void stopDuringTheFirstOfThreeFiles() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    const std::string source = longSource();
    auto frm = openWindow();
    for (const char *name : {"one.avi", "two.avi", "three.avi"})
      services->OpenFiles << QString::fromStdString(copyTo(source, scratch.File(name)));
    frm->btnAddClick();
    startWith(*frm, [&] {
      QVERIFY(frm->btnStop->isEnabled());
      QVERIFY(!frm->btnStart->isEnabled());
      // At once: on a quiet machine the first file would finish within any fixed wait.
      frm->btnStopClick();
    });
    QVERIFY(!column(*frm, fcProgress).contains("100%"));
    QVERIFY(services->OpenedFolders.isEmpty());
    QVERIFY(frm->btnAdd->isEnabled() && frm->btnStart->isEnabled() && frm->btnClear->isEnabled());
    QVERIFY(!frm->btnStop->isEnabled() && !frm->btnPause->isEnabled());
    QVERIFY(!frm->frmProgress()->isVisible());
    QCOMPARE(frm->CCAVC().TaskCount(), 0);
    QVERIFY(!fs::exists(scratch.File("out") + "/two_(new).avi"));
    closeWindow(frm);
  }

  void cancelInTheProgressWindowStopsTheRun() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(longSource())};
    frm->btnAddClick();
    startWith(*frm, [&] {
      QTest::qWait(100);
      frm->frmProgress()->btnCancel->click();
    });
    QCOMPARE(column(*frm, fcProgress).contains("100%"), false);
    QVERIFY(frm->btnStart->isEnabled());
    QVERIFY(services->OpenedFolders.isEmpty());
    closeWindow(frm);
  }

  void pauseHoldsAndResumeContinues() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(copyTo(longSource(), scratch.File("clip.avi")))};
    frm->btnAddClick();
    const std::string output = scratch.File("out") + "/clip_(new).avi";
    bool held = false, pausedButtons = false, resumedButtons = false;
    startWith(*frm, [&] {
      TfrmProgress &progress = *frm->frmProgress();
      progress.btnPause->click();
      pausedButtons = !progress.btnPause->isEnabled() && progress.btnResume->isEnabled() &&
                      !frm->btnPause->isEnabled() && frm->btnResume->isEnabled();
      QTest::qWait(300); // a packet under way may still land
      const auto before = fs::exists(output) ? fs::file_size(output) : 0;
      const QString shown = frm->Row(0)->text(fcProgress);
      QTest::qWait(800);
      const auto after = fs::exists(output) ? fs::file_size(output) : 0;
      held = before == after && shown == frm->Row(0)->text(fcProgress);
      progress.btnResume->click();
      resumedButtons = progress.btnPause->isEnabled() && !progress.btnResume->isEnabled();
    });
    QVERIFY(pausedButtons);
    QVERIFY(held);
    QVERIFY(resumedButtons);
    QCOMPARE(column(*frm, fcProgress), QStringList{"100%"});
    closeWindow(frm);
  }

  void rowEffectsReachTheConvertedFrames() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->OpenFiles = {QString::fromStdString(copyTo(fixtures::Path("av.avi"), scratch.File("dark.avi"))),
                           QString::fromStdString(copyTo(fixtures::Path("av.avi"), scratch.File("plain.avi")))};
    frm->btnAddClick();
    frm->Row(0)->Record.Brightness = 0; // every pixel black
    startWith(*frm, nullptr);
    QCOMPARE(column(*frm, fcProgress), QStringList({"100%", "100%"}));
    // The white bar at the top left: black where the row asked for it, white where not.
    const QImage dark = firstPicture(scratch.File("out") + "/dark_(new).avi");
    const QImage plain = firstPicture(scratch.File("out") + "/plain_(new).avi");
    QVERIFY2(!dark.isNull(), "dark");
    QVERIFY2(!plain.isNull(), "plain");
    const QColor darkBar = dark.pixelColor(10, 10), plainBar = plain.pixelColor(10, 10);
    QVERIFY2(darkBar.value() < 40, qPrintable(darkBar.name()));
    QVERIFY2(plainBar.value() > 200, qPrintable(plainBar.name()));
    closeWindow(frm);
  }

  void closingAsksForConfirmation() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    services->Answers = {QMessageBox::No};
    QVERIFY(!frm->close());
    QVERIFY(frm->isVisible());
    QCOMPARE(services->Texts(), QStringList{"Do you really want to exit?"});
    QCOMPARE(services->Messages[0].Caption, QString("Warning"));
    services->Answers = {QMessageBox::Yes};
    QVERIFY(frm->close());
    QVERIFY(!frm->isVisible());
    QCOMPARE(services->Messages.size(), size_t(2));
    // The picker's group states were written on the way out.
    QVERIFY(TIniFile(scratch.Settings()).SectionExists("lstformat"));
    frm.reset();
  }

  void storedSettingsAreShown() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    TIniFile ini(scratch.Settings());
    ini.WriteInteger(SettingsSection, "skinIndex", 3);
    ini.WriteInteger(SettingsSection, "volume", 200); // out of range: shown at 64
    ini.WriteInteger(SettingsSection, "mute", 1);
    auto frm = openWindow();
    QCOMPARE(frm->trcVolume->value(), 64);
    QVERIFY(frm->ckMute->isChecked());
    QCOMPARE(CurrentSkin(), 3);
    QCOMPARE(Skin(3).Name, "Purple");
    emit frm->mnuSkin->aboutToShow();
    for (int i = 0; i < SkinCount; ++i) QCOMPARE(frm->SkinActions[i]->isChecked(), i == 3);
    frm->SkinActions[5]->trigger();
    QCOMPARE(CurrentSkin(), 5);
    QCOMPARE(TAppSettings(scratch.Settings()).SkinIndex(), 5);
    QVERIFY(frm->isVisible());
    QCOMPARE(Skin(5).OddRow, QColor(226, 247, 225));
    closeWindow(frm);
  }

  void editMenuEntriesFollowTheSelection() {
    Scratch scratch;
    ServicesScope services;
    baseSettings(scratch);
    auto frm = openWindow();
    auto enabled = [](QMenu *menu, const QString &text) {
      for (QAction *a : menu->actions())
        if (a->text() == text) return a->isEnabled();
      return false;
    };
    emit frm->popFiles->aboutToShow();
    QVERIFY(enabled(frm->popFiles, "Add"));
    QVERIFY(!enabled(frm->popFiles, "Remove"));
    emit frm->mnuEdit->aboutToShow();
    QVERIFY(!enabled(frm->mnuEdit, "&Check All"));
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.avi"))};
    frm->btnAddClick();
    emit frm->popFiles->aboutToShow();
    QVERIFY(enabled(frm->popFiles, "Remove"));
    emit frm->mnuEdit->aboutToShow();
    QVERIFY(enabled(frm->mnuEdit, "&Check All"));
    closeWindow(frm);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
