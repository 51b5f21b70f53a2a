// The main window's preview box driven as a user drives it, headless: playing a row, pausing,
// the end of the file, the seek bar, volume and mute settings, and snapshots on disk.
#include <QCheckBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include "fixtures/fixtures.h"
#include "formats/inifile.h"
#include "formats/settings.h"
#include "player/ffplayer.h"
#include "ui/frm_main.h"
#include "ui_testing.h"

using namespace ui_test;
namespace fs = std::filesystem;

namespace {

std::string longSource() {
  fixtures::MediaSpec recipe;
  recipe.container = "avi";
  recipe.vcodec = "mpeg4";
  recipe.acodec = "libmp3lame";
  recipe.seconds = 6;
  return fixtures::Make("preview.avi", recipe);
}

std::unique_ptr<TfrmMain> openWindow(const Scratch &scratch) {
  TIniFile ini(scratch.Settings());
  ini.WriteString(SettingsSection, "OutPutDir", scratch.File("out"));
  ini.WriteString(SettingsSection, "SnapOutPutDir", scratch.File("snaps"));
  return ::openWindow();
}

void doubleClickFirstRow(TfrmMain &frm) {
  QTreeWidgetItem *row = frm.lvFiles->topLevelItem(0);
  frm.lvFiles->setCurrentItem(row);
  row->setSelected(true);
  const QRect r = frm.lvFiles->visualItemRect(row);
  // A double-click counts on the row the press before it chose, as a real one does.
  QTest::mouseClick(frm.lvFiles->viewport(), Qt::LeftButton, {}, r.center());
  QTest::mouseDClick(frm.lvFiles->viewport(), Qt::LeftButton, {}, r.center());
}

} // namespace

class PreviewPaneTest : public QObject {
  Q_OBJECT
private slots:
  void doubleClickPlaysAndPauseHolds() {
    Scratch scratch;
    ServicesScope services;
    auto frm = openWindow(scratch);
    frm->AddFiles({QString::fromStdString(longSource())});
    QCOMPARE(frm->RowCount(), 1);

    doubleClickFirstRow(*frm);
    QVERIFY(!frm->PreviewStopped);
    QVERIFY(!frm->imgbtnPlay->isEnabled());
    QVERIFY(frm->imgbtnPAuse->isEnabled());
    // The duration arrives with the opening, the position while it plays.
    QVERIFY(WaitFor([&] { return frm->lblPTS->text() == "0:00:06"; }, 10000));
    QVERIFY(WaitFor([&] { return frm->lblTime->text() > "00:00:00.500"; }, 10000));
    QVERIFY(frm->mmoLog->toPlainText().contains("duration: 6.0"));
    // The probe report of the previewed file goes to the hidden log with it.
    QVERIFY(frm->mmoLog->toPlainText().contains(
        QString::fromStdString("File Name: " + frm->Row(0)->Record.SourceFile)));

    QTest::mouseClick(frm->imgbtnPAuse, Qt::LeftButton);
    QVERIFY(frm->PreviewPaused);
    QTest::qWait(300); // a position already on its way may still land
    const QString held = frm->lblTime->text();
    QTest::qWait(700);
    QCOMPARE(frm->lblTime->text(), held);

    // Play resumes the same file where it stood.
    QTest::mouseClick(frm->imgbtnPlay, Qt::LeftButton);
    QVERIFY(!frm->PreviewPaused);
    QVERIFY(WaitFor([&] { return frm->lblTime->text() > held; }, 10000));

    QTest::mouseClick(frm->imgbtnStop, Qt::LeftButton);
    QVERIFY(frm->PreviewStopped);
    QVERIFY(!frm->FFPlayer().FileOpened());
    QCOMPARE(frm->lblTime->text(), QString("00:00:00"));
    QCOMPARE(frm->lblPTS->text(), QString("00:00:00"));
    QVERIFY(frm->imgbtnPlay->isEnabled());
    QVERIFY(!frm->imgbtnSnap->isEnabled());
    closeWindow(frm);
  }

  void endOfFileHoldsAtTheStartAsStopped() {
    Scratch scratch;
    ServicesScope services;
    auto frm = openWindow(scratch);
    frm->AddFiles({QString::fromStdString(fixtures::Path("av.avi"))});
    QTest::mouseClick(frm->imgbtnPlay, Qt::LeftButton);
    QVERIFY(!frm->PreviewStopped);
    QVERIFY(WaitFor([&] { return frm->PreviewStopped; }, 15000));
    QVERIFY(frm->imgbtnPlay->isEnabled());
    QVERIFY(!frm->imgbtnPAuse->isEnabled());
    QVERIFY(!frm->trcPreview->isEnabled());
    QCOMPARE(frm->lblTime->text(), QString("00:00:00"));
    // Play opens the file anew.
    QTest::mouseClick(frm->imgbtnPlay, Qt::LeftButton);
    QVERIFY(!frm->PreviewStopped);
    QVERIFY(WaitFor([&] { return frm->lblPTS->text() == "0:00:02"; }, 10000));
    closeWindow(frm);
  }

  void playOnAnEmptyListAddsThenPlays() {
    Scratch scratch;
    ServicesScope services;
    services->OpenFiles = {QString::fromStdString(fixtures::Path("av.mp4"))};
    auto frm = openWindow(scratch);
    QTest::mouseClick(frm->imgbtnPlay, Qt::LeftButton);
    QCOMPARE(frm->RowCount(), 1);
    QVERIFY(!frm->PlayAfterAdd);
    QVERIFY(!frm->PreviewStopped);
    QVERIFY(WaitFor([&] { return frm->lblPTS->text() == "0:00:02"; }, 10000));
    closeWindow(frm);
  }

  void seekBarReleaseSeeksToItsShareOfTheFile() {
    Scratch scratch;
    ServicesScope services;
    auto frm = openWindow(scratch);
    frm->AddFiles({QString::fromStdString(longSource())});
    doubleClickFirstRow(*frm);
    QVERIFY(WaitFor([&] { return frm->PreviewDuration > 0; }, 10000));
    QTest::mouseClick(frm->imgbtnPAuse, Qt::LeftButton);
    QCOMPARE(frm->trcPreview->maximum(), frm->trcPreview->width());
    frm->trcPreview->setValue(frm->trcPreview->maximum() * 3 / 4);
    QTest::mouseRelease(frm->trcPreview, Qt::LeftButton);
    // Three quarters of six seconds, shown while paused.
    QVERIFY(WaitFor([&] { return frm->lblTime->text().startsWith("00:00:04"); }, 10000));
    closeWindow(frm);
  }

  void volumeAndMuteReachThePlayerAndTheSettings() {
    Scratch scratch;
    ServicesScope services;
    {
      TIniFile ini(scratch.Settings());
      ini.WriteInteger(SettingsSection, "volume", 40);
      ini.WriteInteger(SettingsSection, "mute", 1);
    }
    auto frm = openWindow(scratch);
    QCOMPARE(frm->FFPlayer().AudioVolume(), 40);
    QVERIFY(frm->FFPlayer().Mute());

    QTest::mouseClick(frm->ckMute, Qt::LeftButton);
    QVERIFY(!frm->FFPlayer().Mute());
    QCOMPARE(TAppSettings().Mute(), false);
    frm->trcVolume->setValue(100);
    QCOMPARE(frm->FFPlayer().AudioVolume(), 100);
    QTest::mouseRelease(frm->trcVolume, Qt::LeftButton);
    QCOMPARE(TAppSettings().Volume(), 100);
    closeWindow(frm);
  }

  void snapshotWritesThePicturesAndOpensTheFolder() {
    Scratch scratch;
    ServicesScope services;
    auto frm = openWindow(scratch);
    QTest::mouseClick(frm->imgbtnSnap, Qt::LeftButton); // nothing open: nothing written
    frm->imgbtnSnapClick();
    QVERIFY(!fs::exists(scratch.File("snaps")) || fs::is_empty(scratch.File("snaps")));

    frm->AddFiles({QString::fromStdString(fixtures::Path("av.mp4"))});
    doubleClickFirstRow(*frm);
    QVERIFY(WaitFor([&] { return frm->lblTime->text() > "00:00:00.200"; }, 10000));
    QTest::mouseClick(frm->imgbtnPAuse, Qt::LeftButton);
    QTest::mouseClick(frm->imgbtnSnap, Qt::LeftButton);

    const std::string folder = scratch.File("snaps") + "/";
    const struct {
      const char *name;
      QSize size;
    } cases[] = {{"Snapshot_full.bmp", {320, 240}},
                 {"Snapshot_small.bmp", {243, 171}},
                 {"Snapshot_full.jpg", {320, 240}},
                 {"Snapshot_small.jpg", {243, 171}}};
    for (const auto &c : cases) {
      const QImage picture(QString::fromStdString(folder + c.name));
      QVERIFY2(!picture.isNull(), c.name);
      QCOMPARE(picture.size(), c.size);
    }
    QCOMPARE(services->OpenedFolders, QStringList{QString::fromStdString(folder)});

    // Only the JPEG pictures when BMP is off.
    for (const auto &c : cases) fs::remove(folder + c.name);
    TIniFile(scratch.Settings()).WriteInteger(SettingsSection, "snapBmp", 0);
    frm->imgbtnSnapClick();
    QVERIFY(!fs::exists(folder + "Snapshot_full.bmp"));
    QVERIFY(fs::exists(folder + "Snapshot_small.jpg"));

    // A picture that cannot be written is reported, and the folder is not shown as if done.
    fs::remove(folder + "Snapshot_full.jpg");
    fs::create_directory(folder + "Snapshot_full.jpg");
    services->OpenedFolders.clear();
    frm->imgbtnSnapClick();
    QCOMPARE(services->Messages.size(), size_t(1));
    QVERIFY(services->Messages[0].Text.contains("Snapshot_full.jpg"));
    QVERIFY(services->OpenedFolders.isEmpty());
    closeWindow(frm);
  }
};

QTEST_MAIN(PreviewPaneTest)
#include "preview_pane_test.moc"
