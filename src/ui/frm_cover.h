// The splash window: a picture shown while the program starts, closed once the main window
// shows. Which picture: the built-in one, replaced by the cover files beside the program.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <string>

class QTimer;

// The splash picture for a program in that folder: "skin/hdcover.jpg" when present, else
// "skin/videocover.jpg", else the built-in picture.
QPixmap CoverPicture(const std::string &executableFolder);
QPixmap BuiltInCover();

class TfrmCover : public QWidget {
  Q_OBJECT
public:
  // `mainWindow` is the window whose showing closes the splash (may be set later).
  explicit TfrmCover(const std::string &executableFolder);
  void SetMainWindow(QWidget *mainWindow) { mainWindow_ = mainWindow; }
  const QPixmap &Picture() const { return picture_; }
  QTimer *Timer = nullptr;

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QPixmap picture_;
  QWidget *mainWindow_ = nullptr;
};
