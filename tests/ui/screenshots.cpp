// Pictures of the windows for a person to look at: the main window in every skin, the open
// format picker and the progress window. Not a test; run by hand with a folder to write to.
#include <QApplication>
#include <QDir>
#include <QTreeWidget>
#include <QLineEdit>
#include <QTimer>

#include "formats/global.h"
#include "ui/format_picker.h"
#include "ui/frm_main.h"
#include "ui/frm_progress.h"
#include "ui/skins.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString out = argv[1];
  QDir().mkpath(out);
  const QStringList files = QCoreApplication::arguments().mid(2);
  TMainOptions options;
  options.UpdateCheck = false;
  TfrmMain main(options);
  main.show();
  QApplication::processEvents();
  main.FormShow();
  if (!files.isEmpty()) main.AddFiles(files);
  for (int i = 0; i < SkinCount; ++i) {
    ApplySkin(i);
    QApplication::processEvents();
    main.grab().save(out + QString("/main-skin%1.png").arg(i));
  }
  ApplySkin(0);
  main.ShowPicker(true, false);
  QApplication::processEvents();
  main.grab().save(out + "/picker.png");
  main.HidePicker();

  // A real run when files were given: the progress window as it shows a conversion.
  if (!files.isEmpty()) {
    QTimer::singleShot(1500, &main, [&] {
      if (main.frmProgress()) main.frmProgress()->grab().save(out + "/progress-run.png");
    });
    main.btnStartClick();
    main.grab().save(out + "/main-after-run.png");
  }

  TProgressHost host;
  QImage preview(320, 240, QImage::Format_RGB888);
  preview.fill(QColor(200, 80, 40));
  host.Preview = [&]() -> const QImage * { return &preview; };
  host.News = [] { return BuiltInNews(); };
  TfrmProgress progress(&main, host);
  progress.show();
  QApplication::processEvents();
  progress.ShowProgress(45500000, 91000000, 1234567, 0, 3,
                        ProgressFileText("/home/user/Videos/a rather long folder name/and a long file name.avi"));
  progress.SetBar(50);
  progress.RedrawPreview();
  QApplication::processEvents();
  progress.grab().save(out + "/progress.png");
  progress.hide();
  main.SkipExitPrompt = true;
  main.close();
  return 0;
}
