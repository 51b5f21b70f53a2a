// The program's entry: the splash window, the application title, the main window and the
// message loop. Everything the program does lives in the windows it starts.
#include <QTimer>

#include "formats/global.h"
#include "ui/app_exception.h"
#include "ui/frm_cover.h"
#include "ui/frm_main.h"

int main(int argc, char **argv) {
  TMarloApplication app(argc, argv);
  TfrmCover cover(ExecutableFolder());
  cover.show();
  cover.repaint();
  QApplication::processEvents();
  QApplication::setApplicationName("Marlo Video Converter");

  int result = 0;
  try {
    TfrmMain main;
    cover.SetMainWindow(&main);
    main.show();
    result = app.exec();
  } catch (...) {
    // A failure while the window is made: shown like every other one, then the program ends.
    ShowAppException(std::current_exception());
    result = 1;
  }
  return result;
}
