// What the windows ask of the desktop: file and folder dialogs, message boxes, opening
// addresses and folders, the beep and the power-off request. Tests put a fake in its place.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

enum class TMsgIcon { None, Information, Warning, Error, Question };

class TUiServices {
public:
  virtual ~TUiServices() = default;

  // Chosen paths; empty when the user cancels.
  virtual QStringList GetOpenFileNames(QWidget *parent, const QString &caption,
                                       const QString &filter);
  virtual QString GetExistingDirectory(QWidget *parent, const QString &caption,
                                       const QString &start);
  // A modal message box; the button pressed (QMessageBox::Ok when there is only Ok).
  virtual QMessageBox::StandardButton Message(QWidget *parent, const QString &text,
                                              const QString &caption, TMsgIcon icon,
                                              QMessageBox::StandardButtons buttons);
  virtual void OpenUrl(const QString &url);
  // Shows the folder in the desktop's file manager.
  virtual void OpenFolder(const QString &folder);
  virtual void Beep();
  // Asks the system to power the computer off; false with the reason when refused.
  virtual bool PowerOff(QString &reason);
};

// The services the windows use; the real desktop unless replaced.
TUiServices &UiServices();
// Replaces the services (tests); nullptr puts the real ones back.
void SetUiServices(std::unique_ptr<TUiServices> services);
