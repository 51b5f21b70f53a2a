// The real desktop behind TUiServices: Qt's dialogs and message boxes, the desktop's URL
// handler and the system's power-off request through logind.
#include "ui/services.h"

#include <QApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

QStringList TUiServices::GetOpenFileNames(QWidget *parent, const QString &caption,
                                          const QString &filter) {
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TUiServices::GetExistingDirectory(QWidget *parent, const QString &caption,
                                          const QString &start) {
  return QFileDialog::getExistingDirectory(parent, caption, start);
}

QMessageBox::StandardButton TUiServices::Message(QWidget *parent, const QString &text,
                                                 const QString &caption, TMsgIcon icon,
                                                 QMessageBox::StandardButtons buttons) {
  static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                            QMessageBox::Warning, QMessageBox::Critical,
                                            QMessageBox::Question};
  QMessageBox box(icons[static_cast<int>(icon)], caption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TUiServices::OpenUrl(const QString &url) {
  if (!url.isEmpty()) QDesktopServices::openUrl(QUrl(url));
}

void TUiServices::OpenFolder(const QString &folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TUiServices::Beep() { QApplication::beep(); }

bool TUiServices::PowerOff(QString &reason) {
  // logind decides whether this user may power off; "interactive" lets it ask for a password.
  QDBusInterface logind("org.freedesktop.login1", "/org/freedesktop/login1",
                        "org.freedesktop.login1.Manager", QDBusConnection::systemBus());
  if (!logind.isValid()) {
    reason = logind.lastError().message();
    return false;
  }
  QDBusReply<void> reply = logind.call("PowerOff", true);
  if (!reply.isValid()) {
    reason = reply.error().message();
    return false;
  }
  return true;
}

namespace {
std::unique_ptr<TUiServices> &servicesSlot() {
  static std::unique_ptr<TUiServices> s = std::make_unique<TUiServices>();
  return s;
}
} // namespace

TUiServices &UiServices() { return *servicesSlot(); }

void SetUiServices(std::unique_ptr<TUiServices> services) {
  servicesSlot() = services ? std::move(services) : std::make_unique<TUiServices>();
}
