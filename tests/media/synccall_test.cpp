// Calls run on the user-interface thread for workers, without deadlock while that
// thread waits for them, and with failures carried back to the worker.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "media/logger.h"
#include "media/synccall.h"

namespace {

struct App {
  int argc = 1;
  char arg0[8] = "test";
  char *argv[2] = {arg0, nullptr};
  QCoreApplication app{argc, argv};
};

constexpr auto kPatience = std::chrono::seconds(20);

} // namespace

TEST(SyncCall, WorkerCallsRunOnTheUIThreadWhileItPumps) {
  App a;
  const auto ui = std::this_thread::get_id();
  // Touched only on the UI thread, so plain ints are enough if SyncCall is right.
  int calls = 0;
  std::vector<std::thread::id> ranOn;
  std::atomic<int> finished{0};
  constexpr int kWorkers = 4, kCallsEach = 50;

  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        int seen = -1;
        SyncCall([&] {
          ++calls;
          ranOn.push_back(std::this_thread::get_id());
          seen = calls;
        });
        EXPECT_GT(seen, 0); // the call has run before SyncCall returned
        EXPECT_FALSE(IsUIThread());
      }
      ++finished;
    });
  const bool done = WaitPumping([&] { return finished == kWorkers; }, kPatience);
  for (auto &t : workers) t.join();
  ASSERT_TRUE(done) << "UI thread waiting with WaitPumping was never served";
  EXPECT_EQ(calls, kWorkers * kCallsEach);
  for (auto id : ranOn) ASSERT_EQ(id, ui);
}

TEST(SyncCall, PumpMessagesServesAWaitingWorker) {
  App a;
  std::atomic<bool> done{false};
  std::thread t([&] {
    SyncCall([] {});
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done && std::chrono::steady_clock::now() < deadline) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool served = done;
  if (!served) QCoreApplication::processEvents(); // let the worker go before joining
  t.join();
  EXPECT_TRUE(served);
}

TEST(SyncCall, RunsDirectlyOnTheUIThreadAndWithoutApplication) {
  {
    App a;
    EXPECT_TRUE(IsUIThread());
    bool ran = false;
    SyncCall([&] { ran = true; }); // no event loop needed: a direct call
    EXPECT_TRUE(ran);
  }
  // Without an application (a command-line run) a worker's call runs on the worker.
  std::thread::id ranOn;
  std::thread t([&] { SyncCall([&] { ranOn = std::this_thread::get_id(); }); });
  const auto worker = t.get_id();
  t.join();
  EXPECT_EQ(ranOn, worker);
}

TEST(SyncCall, AFailureOfTheCallReachesTheWorker) {
  App a;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread t([&] {
    try {
      SyncCall([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error &e) {
      caught = e.what();
    }
    done = true;
  });
  ASSERT_TRUE(WaitPumping([&] { return done.load(); }, kPatience));
  t.join();
  EXPECT_EQ(caught, "handler failed");
}

// The application goes away while a worker waits for a call it never served: the worker is
// released with the reason instead of waiting for ever.
TEST(SyncCall, AWorkerIsReleasedWhenTheApplicationGoesAwayUnserved) {
  auto a = std::make_unique<App>();
  std::atomic<bool> called{false};
  std::string caught;
  std::thread t([&] {
    try {
      SyncCall([&] { called = true; });
    } catch (const std::runtime_error &e) {
      caught = e.what();
    }
  });
  // The UI thread never serves events here; give the worker time to post its call.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  a.reset();
  t.join();
  EXPECT_FALSE(called);
  EXPECT_EQ(caught, "The user-interface thread ended before the call could run");
}

TEST(SyncCall, TheEventLoopServesCallsToo) {
  App a;
  int value = 0;
  std::thread t([&] {
    SyncCall([&] { value = 7; });
    SyncCall([] { QCoreApplication::quit(); });
  });
  QTimer::singleShot(std::chrono::seconds(20), [] { QCoreApplication::exit(1); });
  const int rc = QCoreApplication::exec();
  t.join();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(value, 7);
}

// Posted calls run later on the UI thread, in the order they were posted, without the
// worker waiting; one that fails is logged and the others still run.
TEST(PostToUIThread, CallsRunInOrderOnTheUIThreadAndAFailureIsLogged) {
  App a;
  const auto ui = std::this_thread::get_id();
  std::vector<int> order;
  std::vector<std::thread::id> ranOn;
  std::vector<std::string> logged;
  FFLogger().SetTriggerEventInMainThread(false);
  FFLogger().SetOnLog([&](const void *, uint32_t, TLogLevel level, const std::string &msg) {
    if (level == llError) logged.push_back(msg);
  });
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i)
      PostToUIThread([&, i] {
        order.push_back(i);
        ranOn.push_back(std::this_thread::get_id());
        if (i == 1) throw std::runtime_error("no room");
      });
  });
  worker.join(); // the worker never waited for its calls
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(WaitPumping([&] { return order.size() == 3; }, kPatience));
  FFLogger().SetOnLog(nullptr);
  EXPECT_EQ(order, std::vector<int>({0, 1, 2}));
  for (auto id : ranOn) EXPECT_EQ(id, ui);
  EXPECT_EQ(logged, std::vector<std::string>({"A call on the user-interface thread failed: no room"}));
}

TEST(WaitPumping, GivesUpAfterItsTimeout) {
  App a;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitPumping([] { return false; }, std::chrono::milliseconds(50)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_TRUE(WaitPumping([] { return true; }));
}
