// What the windows write and show besides converting: output names, snapshot files, the
// progress window's texts and preview, the exception text rule and the splash picture.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <set>

#include "engine/ffmpeg_exception.h"
#include "formats/inifile.h"
#include "formats/output_name.h"
#include "formats/settings.h"
#include "formats/snapshot.h"
#include "ui/app_exception.h"
#include "ui/frm_cover.h"
#include "ui/frm_main.h"
#include "ui/frm_progress.h"
#include "ui_testing.h"

using namespace ui_test;
namespace fs = std::filesystem;

namespace {

void touch(const std::string &path) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << "x";
}

QStringList namesIn(const std::string &folder) {
  QStringList names = QDir(QString::fromStdString(folder)).entryList(QDir::Files);
  names.sort();
  return names;
}

} // namespace

class OutputFilesTest : public QObject {
  Q_OBJECT

private slots:
  void outputNames_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << QStringList() << "/media/clip.avi" << "_ipod.mp4" << "clip_(new)_ipod.mp4";
    QTest::newRow("numbered past existing")
        << QStringList({"clip_(new)_ipod.mp4", "clip_(new_1)_ipod.mp4"}) << "/media/clip.avi"
        << "_ipod.mp4" << "clip_(new_2)_ipod.mp4";
    QTest::newRow("only the last extension goes") << QStringList() << "/m/a.b.mkv" << ".avi"
                                                  << "a.b_(new).avi";
    QTest::newRow("no extension") << QStringList() << "/m/noext" << ".mp3" << "noext_(new).mp3";
    QTest::newRow("another suffix is another name") << QStringList({"clip_(new)_ipod.mp4"})
                                                    << "/m/clip.avi" << ".mp4" << "clip_(new).mp4";
  }

  void outputNames() {
    QFETCH(QStringList, existing);
    QFETCH(QString, source);
    QFETCH(QString, suffix);
    QFETCH(QString, expected);
    Scratch scratch;
    const std::string out = scratch.File("out");
    TAppSettings(scratch.Settings()).SetOutPutDir(out);
    for (const QString &name : existing) touch(out + "/" + name.toStdString());
    QCOMPARE(QString::fromStdString(MakeOutputName(source.toStdString(), suffix.toStdString())),
             QString::fromStdString(out + "/") + expected);
  }

  void namesPromisedToTheRunCountAsTaken() {
    Scratch scratch;
    TAppSettings(scratch.Settings()).SetOutPutDir(scratch.File("out/"));
    TOutputNameSources sources;
    std::set<std::string> promised;
    sources.Taken = [&](const std::string &p) { return promised.count(p) > 0; };
    const std::string first = MakeOutputName("/a/clip.avi", ".mp4", sources);
    promised.insert(first);
    const std::string second = MakeOutputName("/b/clip.mkv", ".mp4", sources);
    QCOMPARE(QString::fromStdString(first), QString::fromStdString(scratch.File("out/clip_(new).mp4")));
    QCOMPARE(QString::fromStdString(second), QString::fromStdString(scratch.File("out/clip_(new_1).mp4")));
  }

  void anOutputFolderThatCannotBeMadeFallsBackWithAWarning() {
    Scratch scratch;
    qputenv("HOME", QByteArray::fromStdString(scratch.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(scratch.File("config")));
    touch(scratch.File("plain-file"));
    const std::string bad = scratch.File("plain-file/sub");
    TAppSettings(scratch.Settings()).SetOutPutDir(bad);
    QStringList warnings;
    TOutputNameSources sources;
    sources.Warn = [&](const std::string &text, const std::string &caption) {
      warnings << QString::fromStdString(caption + "|" + text);
    };
    const std::string name = MakeOutputName("/m/clip.avi", ".mp4", sources);
    const std::string fallback = DefaultOutputFolder();
    QCOMPARE(warnings, QStringList{QString::fromStdString(
                           "Warning|Cannot create output directory:" + bad +
                           ".It will create default directory " + fallback + "!")});
    QCOMPARE(name, fallback + "/clip_(new).mp4");
    QVERIFY(fs::is_directory(fallback));
    QCOMPARE(TAppSettings(scratch.Settings()).OutPutDir(), fallback);
  }

  void snapshotSwitches_data() {
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("small");
    QTest::addColumn<QString>("bmp");
    QTest::addColumn<QString>("jpg");
    QTest::addColumn<QStringList>("files");
    const QStringList all = {"Snapshot_full.bmp", "Snapshot_full.jpg", "Snapshot_small.bmp",
                             "Snapshot_small.jpg"};
    QTest::newRow("defaults") << "" << "" << "" << "" << all;
    QTest::newRow("jpeg only") << "1" << "1" << "0" << "1"
                               << QStringList({"Snapshot_full.jpg", "Snapshot_small.jpg"});
    QTest::newRow("2 is off") << "2" << "1" << "1" << "1"
                              << QStringList({"Snapshot_small.bmp", "Snapshot_small.jpg"});
    QTest::newRow("full bitmap only") << "1" << "0" << "1" << "0" << QStringList({"Snapshot_full.bmp"});
  }

  void snapshotSwitches() {
    QFETCH(QString, full);
    QFETCH(QString, small);
    QFETCH(QString, bmp);
    QFETCH(QString, jpg);
    QFETCH(QStringList, files);
    Scratch scratch;
    TIniFile ini(scratch.Settings());
    const std::string folder = scratch.File("snaps");
    ini.WriteString(SettingsSection, "SnapOutPutDir", folder);
    const std::pair<const char *, QString> switches[] = {
        {"snapFullSize", full}, {"snapSmallSize", small}, {"snapBmp", bmp}, {"snapJpg", jpg}};
    for (const auto &[key, value] : switches)
      if (!value.isEmpty()) ini.WriteString(SettingsSection, key, value.toStdString());
    QImage frame(64, 48, QImage::Format_BGR888);
    frame.fill(QColor(200, 30, 30));
    const TSnapshotResult r = SaveSnapshots(frame, MakeSmallSnapshot(frame));
    QCOMPARE(namesIn(folder), files);
    QCOMPARE(int(r.Written.size()), files.size());
    for (const QString &name : files) {
      QImage read(QString::fromStdString(folder + "/") + name);
      QVERIFY2(!read.isNull(), qPrintable(name));
      QCOMPARE(read.size(), name.contains("full") ? QSize(64, 48) : QSize(243, 171));
      QVERIFY(std::abs(read.pixelColor(10, 10).red() - 200) < 12);
    }
  }

  void snapshotQualityFollowsTheSetting() {
    Scratch scratch;
    TIniFile ini(scratch.Settings());
    ini.WriteString(SettingsSection, "SnapOutPutDir", scratch.File("snaps"));
    ini.WriteInteger(SettingsSection, "snapBmp", 0);
    QImage frame(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) frame.setPixel(x, y, qRgb((x * 7) & 255, (y * 13) & 255, (x * y) & 255));
    auto size = [&](int quality) {
      ini.WriteInteger(SettingsSection, "jpgCmp", quality);
      SaveSnapshots(frame, MakeSmallSnapshot(frame));
      return fs::file_size(scratch.File("snaps/Snapshot_full.jpg"));
    };
    QVERIFY(size(10) < size(95));
  }

  void exceptionText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Cannot open file" << "Cannot open file.";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("comma sorts before the full stop") << "Stopped," << "Stopped,";
    QTest::newRow("digit") << "Error 5" << "Error 5.";
    QTest::newRow("closing bracket sorts before it") << "Bad value (x)" << "Bad value (x)";
    QTest::newRow("empty") << "" << "";
  }

  void exceptionText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromStdString(ExceptionMessageText(message.toStdString())), shown);
  }

  void exceptionsAreShownWithTheirIcons() {
    ServicesScope services;
    GlobalObject().SetAppTitle("Marlo HD Video Converter");
    ShowAppException(std::make_exception_ptr(FFmpegException("Codec not found")));
    ShowAppException(std::make_exception_ptr(std::runtime_error("Disk full")));
    QCOMPARE(services->Texts(), QStringList({"Codec not found.", "Disk full."}));
    QCOMPARE(services->Messages[0].Icon, TMsgIcon::Warning);
    QCOMPARE(services->Messages[0].Caption, QString("Marlo HD Video Converter"));
    QCOMPARE(services->Messages[1].Icon, TMsgIcon::Error);
  }

  void progressTexts_data() {
    QTest::addColumn<qint64>("current");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");
    QTest::newRow("half") << qint64(45500000) << qint64(91000000) << 50;
    QTest::newRow("rounded down") << qint64(999999) << qint64(3000000) << 33;
    QTest::newRow("unknown length") << qint64(5000000) << qint64(-1) << 0;
    QTest::newRow("zero length") << qint64(5000000) << qint64(0) << 0;
    QTest::newRow("past the end") << qint64(5000000) << qint64(4000000) << 100;
  }

  void progressTexts() {
    QFETCH(qint64, current);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QCOMPARE(ProgressPercent(current, total), percent);
  }

  void progressFileText() {
    const std::string shortPath(50, 'a');
    QCOMPARE(ProgressFileText(shortPath), shortPath);
    const std::string longPath = "/home/user/" + std::string(60, 'b') + ".mkv";
    QCOMPARE(ProgressFileText(longPath), longPath.substr(0, 44) + "...mkv");
    QCOMPARE(ProgressFileText("/very/long/folder.name/" + std::string(40, 'c')),
             ("/very/long/folder.name/" + std::string(40, 'c')).substr(0, 44) + "..");
  }

  void progressWindowShowsReportsAndResetsOnEveryShowing() {
    ServicesScope services;
    QImage preview(320, 120, QImage::Format_BGR888);
    preview.fill(QColor(255, 0, 0));
    int stops = 0;
    TProgressHost host;
    host.Preview = [&]() -> const QImage * { return &preview; };
    host.Stop = [&] { ++stops; };
    host.News = [] { return BuiltInNews(); };
    TfrmProgress w(nullptr, host);
    w.BeginRun();
    w.show();
    QCOMPARE(w.windowTitle(), QString("Progress"));
    QVERIFY(w.ckOpen->isChecked());
    w.ShowProgress(45500000, 91000000, 1234567, 0, 3, "/m/clip.avi");
    w.SetBar(50);
    QCOMPARE(w.lblTime->text(), QString("45 Second"));
    QCOMPARE(w.lblLength->text(), QString("91 Second"));
    QCOMPARE(w.lblSize->text(), QString("1234 kb"));
    QCOMPARE(w.lblProgress->text(), QString("[1/3]"));
    QCOMPARE(w.lblOutput->text(), QString("/m/clip.avi"));
    // A path longer than the window keeps its ends, and is whole in the tool tip.
    const QString deep = "/home/user/" + QString("very long folder name/").repeated(8) + "holiday.avi";
    w.ShowProgress(0, 1, 0, 0, 1, deep.toStdString());
    QVERIFY(w.lblOutput->fontMetrics().horizontalAdvance(w.lblOutput->text()) <= w.lblOutput->width());
    QVERIFY(w.lblOutput->text().startsWith("/home/user/"));
    QVERIFY(w.lblOutput->text().endsWith("holiday.avi"));
    QCOMPARE(w.lblOutput->toolTip(), deep);
    w.ShowProgress(45500000, 91000000, 1234567, 0, 3, "/m/clip.avi");
    QCOMPARE(w.progbarFile->value(), 50);
    QCOMPARE(w.mem1->text().toStdString(), BuiltInNews()[0].Info);

    // The picture is fitted by its width and centred in sky blue.
    w.RedrawPreview();
    const QImage shown = w.imgPreview->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(389, 210));
    QCOMPARE(shown.pixelColor(194, 5), PreviewSkyBlue);
    QCOMPARE(shown.pixelColor(194, 105), QColor(255, 0, 0));

    // A snapshot: the run's picture as it is, and the fitted picture the window shows.
    Scratch scratch;
    TIniFile(scratch.Settings()).WriteString(SettingsSection, "SnapOutPutDir", scratch.File("snaps"));
    w.imgbtnSnap->click();
    QCOMPARE(QImage(QString::fromStdString(scratch.File("snaps/Snapshot_full.bmp"))).size(),
             QSize(320, 120));
    QCOMPARE(QImage(QString::fromStdString(scratch.File("snaps/Snapshot_small.jpg"))).size(),
             QSize(389, 210));
    QVERIFY(services->OpenedFolders.isEmpty()); // only the main window opens the folder

    // The title bar's close stops the run like Cancel does; the next showing starts afresh
    // but keeps the shutdown choice.
    w.ckOpen->setChecked(false);
    w.ckShutDown->setChecked(true);
    w.close();
    QCOMPARE(stops, 1);
    w.BeginRun();
    w.show();
    QVERIFY(w.ckOpen->isChecked());
    QVERIFY(w.ckShutDown->isChecked());
    QCOMPARE(w.lblTime->text(), QString());
    QCOMPARE(w.progbarFile->value(), 0);
    w.btnCancel->click();
    QCOMPARE(stops, 2);
    QVERIFY(!w.isVisible());
  }

  void fitRect_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide") << QSize(778, 210) << QRect(0, 52, 389, 105);
    QTest::newRow("tall") << QSize(100, 420) << QRect(170, 0, 50, 210);
    QTest::newRow("same shape") << QSize(389, 210) << QRect(0, 0, 389, 210);
    QTest::newRow("no area") << QSize(0, 10) << QRect();
  }

  void fitRect() {
    QFETCH(QSize, picture);
    QFETCH(QRect, expected);
    QCOMPARE(FitRect(picture.width(), picture.height(), 389, 210), expected);
  }

  void splashTakesTheHdCoverWhenBothArePresent() {
    Scratch scratch;
    const std::string folder = scratch.Path() + "/";
    QCOMPARE(CoverPicture(folder).size(), BuiltInCover().size());
    fs::create_directories(folder + "skin");
    QImage video(100, 50, QImage::Format_RGB32), hd(120, 70, QImage::Format_RGB32);
    video.fill(Qt::red);
    hd.fill(Qt::blue);
    QVERIFY(video.save(QString::fromStdString(folder + "skin/videocover.jpg")));
    QCOMPARE(CoverPicture(folder).size(), QSize(100, 50));
    QVERIFY(hd.save(QString::fromStdString(folder + "skin/hdcover.jpg")));
    QCOMPARE(CoverPicture(folder).size(), QSize(120, 70));
    TfrmCover cover(folder);
    QCOMPARE(cover.size(), QSize(120, 70));
  }

  void openDialogFilterKeepsTheOrderAndBothCases() {
    const QStringList rows = OpenDialogFilter().split(";;");
    QCOMPARE(rows.size(), 36);
    QVERIFY(rows[0].startsWith("All Supported Video Formats (*.avi *.AVI *.avm *.AVM"));
    QCOMPARE(rows[2], QString("AVI files (*.avi *.AVI)"));
    QCOMPARE(rows.last(), QString("All files (*)"));
  }
};

QTEST_MAIN(OutputFilesTest)
#include "output_files_test.moc"
