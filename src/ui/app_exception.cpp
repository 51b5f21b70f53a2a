// Shows exceptions that no handler caught, through the injectable message boxes.
// Deciding what failed and why is the thrower's business.
#include "ui/app_exception.h"

#include "engine/ffmpeg_exception.h"
#include "formats/global.h"
#include "ui/services.h"

std::string ExceptionMessageText(const std::string &message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

void ShowAppException(const std::exception_ptr &error) {
  QString text;
  TMsgIcon icon = TMsgIcon::Error;
  QString caption = QApplication::applicationName();
  try {
    std::rethrow_exception(error);
  } catch (const FFmpegException &e) {
    text = QString::fromStdString(ExceptionMessageText(e.what()));
    icon = TMsgIcon::Warning;
    caption = QString::fromStdString(GlobalObject().AppTitle());
  } catch (const std::exception &e) {
    text = QString::fromStdString(ExceptionMessageText(e.what()));
  } catch (...) {
    text = "Unknown error.";
  }
  UiServices().Message(QApplication::activeWindow(), text, caption, icon, QMessageBox::Ok);
}

bool TMarloApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowAppException(std::current_exception());
    return false;
  }
}
