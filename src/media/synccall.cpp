// Running a call on the Qt user-interface thread and waiting for it, and keeping that
// thread responsive while it waits. Knows nothing of windows or media.
#include "media/synccall.h"

#include "media/logger.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

#if defined(__SANITIZE_THREAD__)
// Qt's queue locks are invisible to the thread checker (the library is not instrumented):
// tell it that what the worker wrote before posting is seen by the thread that runs the call.
void HandOver(void *token) { __tsan_release(token); }
void TakeOver(void *token) { __tsan_acquire(token); }
#else
void HandOver(void *) {}
void TakeOver(void *) {}
#endif

// What a worker waits on: set when its call has run, or when the call was dropped because
// the application went away first.
struct THandover {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Finished = false;
  bool Ran = false;
  std::exception_ptr Failure;
};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A call for the user-interface thread: one a worker waits for (with a hand-over), or one
// posted to run whenever it comes up (without).
class TCallEvent : public QEvent {
public:
  TCallEvent(std::function<void()> call, std::shared_ptr<THandover> handover)
      : QEvent(kCallEvent), call_(std::move(call)), handover_(std::move(handover)) {}
  // Also when Qt drops the event unrun: a worker must not wait for ever.
  ~TCallEvent() override { finish(false, nullptr); }

  void Run() {
    std::exception_ptr failure;
    try {
      call_();
    } catch (const std::exception &e) {
      failure = std::current_exception();
      if (!handover_) FFLogger().Log(nullptr, llError, std::string("A call on the user-interface thread failed: ") + e.what());
    } catch (...) {
      failure = std::current_exception();
      if (!handover_) FFLogger().Log(nullptr, llError, "A call on the user-interface thread failed");
    }
    finish(true, failure);
  }

private:
  void finish(bool ran, std::exception_ptr failure) {
    if (!handover_) return;
    std::lock_guard lock(handover_->Lock);
    if (handover_->Finished) return;
    handover_->Finished = true;
    handover_->Ran = ran;
    handover_->Failure = failure;
    handover_->Changed.notify_all();
  }

  std::function<void()> call_;
  std::shared_ptr<THandover> handover_; // none for a posted call
};

class TCallReceiver : public QObject {
protected:
  bool event(QEvent *e) override {
    TakeOver(e); // before the event is read at all
    if (e->type() != kCallEvent) return QObject::event(e);
    static_cast<TCallEvent *>(e)->Run();
    return true;
  }
};

// One receiver on the application's thread, made on first use and deleted with the
// application, which drops (and so releases) the calls it never served.
std::mutex receiverLock;
QCoreApplication *receiverApp = nullptr;
TCallReceiver *receiver = nullptr;

void Post(QCoreApplication *app, TCallEvent *event) {
  std::lock_guard lock(receiverLock);
  if (receiverApp != app || !receiver) {
    receiver = new TCallReceiver;
    receiver->moveToThread(app->thread());
    receiverApp = app;
    QObject::connect(app, &QObject::destroyed, receiver, [] {
      std::lock_guard lock(receiverLock);
      delete receiver;
      receiver = nullptr;
      receiverApp = nullptr;
    }, Qt::DirectConnection);
  }
  HandOver(event);
  QCoreApplication::postEvent(receiver, event);
}

} // namespace

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
  // The call is posted to the UI thread, whose event loop and every processEvents serve
  // it, so a UI thread waiting in PumpMessages still runs it. The exception is carried back
  // so it is never lost on the wrong thread.
  auto handover = std::make_shared<THandover>();
  Post(app, new TCallEvent(call, handover));
  std::unique_lock lock(handover->Lock);
  handover->Changed.wait(lock, [&] { return handover->Finished; });
  if (handover->Failure) std::rethrow_exception(handover->Failure);
  if (!handover->Ran) throw std::runtime_error("The user-interface thread ended before the call could run");
}

void PostToUIThread(std::function<void()> call) {
  QCoreApplication *app = QCoreApplication::instance();
  if (!app) {
    call();
    return;
  }
  Post(app, new TCallEvent(std::move(call), nullptr));
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
