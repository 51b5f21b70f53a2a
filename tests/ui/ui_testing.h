// Helpers of the window tests: desktop services that record what the windows ask and answer
// from a script, and a scratch folder with its own settings file. Knows no window.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/global.h"
#include "ui/frm_main.h"
#include "ui/services.h"

namespace ui_test {

struct TShownMessage {
  QString Text, Caption;
  TMsgIcon Icon;
};

// Every dialog answered without a person; nothing reaches the desktop or the power switch.
class FakeServices : public TUiServices {
public:
  std::vector<TShownMessage> Messages;
  std::deque<QMessageBox::StandardButton> Answers; // for questions; Yes when empty
  QStringList OpenFiles;                           // what the open dialog returns
  QString OpenFilter;
  QString Folder; // what the folder dialog returns
  QStringList OpenedFolders, OpenedUrls;
  int Beeps = 0;
  int PowerOffs = 0;
  QStringList Calls; // folder openings and power-off requests in the order they came

  QStringList GetOpenFileNames(QWidget *, const QString &, const QString &filter) override {
    OpenFilter = filter;
    return OpenFiles;
  }
  QString GetExistingDirectory(QWidget *, const QString &, const QString &) override {
    return Folder;
  }
  QMessageBox::StandardButton Message(QWidget *, const QString &text, const QString &caption,
                                      TMsgIcon icon, QMessageBox::StandardButtons buttons) override {
    Messages.push_back({text, caption, icon});
    if (!(buttons & QMessageBox::Yes)) return QMessageBox::Ok;
    if (Answers.empty()) return QMessageBox::Yes;
    const auto answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  void OpenUrl(const QString &url) override { OpenedUrls << url; }
  void OpenFolder(const QString &folder) override {
    OpenedFolders << folder;
    Calls << "open " + folder;
  }
  void Beep() override { ++Beeps; }
  bool PowerOff(QString &) override {
    ++PowerOffs;
    Calls << "power off";
    return true;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto &m : Messages) texts << m.Text;
    return texts;
  }
};

// Installs fake services for the lifetime of the object and hands them out.
class ServicesScope {
public:
  ServicesScope() {
    auto fake = std::make_unique<FakeServices>();
    fake_ = fake.get();
    SetUiServices(std::move(fake));
  }
  ~ServicesScope() { SetUiServices(nullptr); }
  FakeServices &operator*() { return *fake_; }
  FakeServices *operator->() { return fake_; }

private:
  FakeServices *fake_;
};

// A fresh folder with a settings file of its own, made the global object's settings file,
// and the shipped profile file.
class Scratch {
public:
  Scratch() {
    GlobalObject().SetSettingsFile(File("settings.ini"));
    GlobalObject().SetProfileFile(std::string(MARLO_TEST_DATA_DIR) + "/marlohdformat.ini");
  }
  std::string Path() const { return dir_.path().toStdString(); }
  std::string File(const std::string &name) const { return Path() + "/" + name; }
  std::string Settings() const { return File("settings.ini"); }

private:
  QTemporaryDir dir_;
};

// Waits for a condition while the event loop runs; false when time ran out.
inline bool WaitFor(const std::function<bool()> &done, int ms = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

// Shows the main window without the update check, once its format picker is filled.
inline std::unique_ptr<TfrmMain> openWindow() {
  TMainOptions options;
  options.UpdateCheck = false;
  auto frm = std::make_unique<TfrmMain>(options);
  frm->show();
  WaitFor([&] { return !frm->edt1->text().isEmpty(); }, 5000);
  return frm;
}

inline void closeWindow(std::unique_ptr<TfrmMain> &frm) {
  frm->SkipExitPrompt = true;
  frm->close();
  frm.reset();
}

} // namespace ui_test
