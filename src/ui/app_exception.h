// The application-wide handler of exceptions that reach the event loop: the message rule,
// the icon by kind, and an application object that routes every handler's exception to it.
#pragma once

#include <QApplication>
#include <exception>
#include <string>

// The text shown for an exception message: a "." is appended when the text is not empty and
// its last character sorts after "." ("Failed" gives "Failed.", "Done." stays).
std::string ExceptionMessageText(const std::string &message);

// Shows the exception: the engine's FFmpegException with the application title as caption
// and a warning icon, anything else with an error icon. The program goes on.
void ShowAppException(const std::exception_ptr &error);

// An application whose event handlers may throw: what escapes a handler is shown by
// ShowAppException instead of ending the program.
class TMarloApplication : public QApplication {
public:
  TMarloApplication(int &argc, char **argv) : QApplication(argc, argv) {}
  bool notify(QObject *receiver, QEvent *event) override;
};
