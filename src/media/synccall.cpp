// Running a call on the Qt user-interface thread and waiting for it, and keeping that
// thread responsive while it waits. Knows nothing of windows or media.
#include "media/synccall.h"

#include <QCoreApplication>
#include <QThread>
#include <exception>
#include <stdexcept>
#include <thread>

bool IsUIThread() {
  const QCoreApplication *app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void SyncCall(const std::function<void()> &call) {
  QCoreApplication *app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  // A blocking queued call is served by the UI thread's event loop and by every
  // processEvents, so a UI thread waiting in PumpMessages still runs it. The
  // exception is carried back so it is never lost on the wrong thread.
  std::exception_ptr failure;
  bool ran = false;
  const bool posted = QMetaObject::invokeMethod(
      app,
      [&] {
        ran = true;
        try {
          call();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
  if (!posted || !ran)
    throw std::runtime_error("The user-interface thread ended before the call could run");
}

void PumpMessages() {
  if (!QCoreApplication::instance()) return;
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitPumping(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const bool ui = IsUIThread() && QCoreApplication::instance();
  while (!done()) {
    if (timeout.count() > 0 && std::chrono::steady_clock::now() >= deadline) return false;
    if (ui) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ui ? 1 : 2));
  }
  return true;
}
