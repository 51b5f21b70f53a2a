// The logger: levels, filtering, the assembly of library output into lines per thread,
// and delivery on the user-interface thread. Not the loader's own failures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "media/ffapi.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/synccall.h"

namespace {

struct Line {
  const void *sender;
  uint32_t thread;
  TLogLevel level;
  std::string text;
};

// Collects delivered lines; safe from any thread.
struct Collector {
  std::mutex lock;
  std::vector<Line> lines;

  void Attach(TFFLogger &l) {
    l.SetOnLog([this](const void *s, uint32_t t, TLogLevel lv, const std::string &m) {
      std::lock_guard lk(lock);
      lines.push_back({s, t, lv, m});
    });
  }
  std::vector<std::string> Texts() {
    std::lock_guard lk(lock);
    std::vector<std::string> out;
    for (auto &l : lines) out.push_back(l.text);
    return out;
  }
};

// A library context of our own: the log names it by its class's item name.
const char *itemName(void *) { return "probe"; }
AVClass makeFakeClass() {
  AVClass c{};
  c.class_name = "fake";
  c.item_name = itemName;
  c.version = LIBAVUTIL_VERSION_INT;
  return c;
}
const AVClass kFakeClass = makeFakeClass();
struct FakeContext {
  const AVClass *cls = &kFakeClass;
} fakeContext;

std::string prefixOf(const void *ctx) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "[probe @ %08" PRIXPTR "]", reinterpret_cast<uintptr_t>(ctx));
  return buf;
}

void loadLibs() { ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError(); }

} // namespace

TEST(Logger, LevelsMapToLibraryNumbersAndBack) {
  struct Case {
    int lib;
    TLogLevel level;
  } cases[] = {{-100, llQuiet}, {-8, llQuiet}, {-7, llPanic}, {0, llPanic},    {7, llPanic},
               {8, llFatal},    {16, llError}, {23, llError}, {24, llWarning}, {32, llInfo},
               {40, llVerbose}, {47, llVerbose}, {48, llDebug}, {99, llDebug}};
  for (const auto &c : cases) EXPECT_EQ(LevelFromLib(c.lib), c.level) << c.lib;
  const int libOf[] = {-8, 0, 8, 16, 24, 32, 40, 48};
  for (int l = llQuiet; l <= llDebug; ++l) EXPECT_EQ(LevelToLib(TLogLevel(l)), libOf[l]);
}

TEST(Logger, SetLogLevelByNameReadsNamesAndNumbers) {
  TFFLogger &l = FFLogger();
  struct Case {
    const char *name;
    TLogLevel level;
  } cases[] = {{"WARNING", llWarning}, {"debug", llDebug}, {"Quiet", llQuiet}, {"20", llError},
               {"-20", llQuiet},       {"99", llDebug},    {"0", llPanic}};
  for (const auto &c : cases) {
    l.SetLogLevel(llInfo);
    l.SetLogLevelByName(c.name);
    EXPECT_EQ(l.LogLevel(), c.level) << c.name;
  }
  for (const std::string bad : {"loud", "12x", "", "99999999999"}) {
    l.SetLogLevel(llInfo);
    try {
      l.SetLogLevelByName(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const std::invalid_argument &e) {
      EXPECT_EQ(e.what(), "'" + bad + "' is not a valid integer value");
    }
    EXPECT_EQ(l.LogLevel(), llInfo) << bad;
  }
}

TEST(Logger, ComponentMessagesPassByLevelAndVerboseAlmostAlways) {
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  struct Case {
    TLogLevel setting, message;
    bool delivered;
  } cases[] = {
      {llQuiet, llQuiet, true},      {llQuiet, llPanic, false},   {llQuiet, llVerbose, false},
      {llPanic, llVerbose, true},    {llError, llError, true},    {llError, llWarning, false},
      {llInfo, llVerbose, true},     {llInfo, llDebug, false},    {llVerbose, llDebug, false},
      {llDebug, llDebug, true},
  };
  for (const auto &c : cases) {
    Collector got;
    got.Attach(l);
    l.SetLogLevel(c.setting);
    int sender = 0;
    l.Log(&sender, c.message, "msg");
    ASSERT_EQ(got.lines.size(), c.delivered ? 1u : 0u) << c.setting << " " << c.message;
    if (c.delivered) {
      EXPECT_EQ(got.lines[0].sender, &sender);
      EXPECT_EQ(got.lines[0].level, c.message);
      EXPECT_EQ(got.lines[0].thread, CurrentThreadID());
    }
  }
  l.SetOnLog(nullptr);
  l.Log(nullptr, llError, "nobody listens"); // no handler: nothing to do, nothing fails
}

TEST(Logger, LogFmtFormatsLongTexts) {
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  Collector got;
  got.Attach(l);
  const std::string big(5000, 'y');
  l.LogFmt(nullptr, llError, "%s=%d %s", "n", 42, big.c_str());
  ASSERT_EQ(got.Texts(), std::vector<std::string>{"n=42 " + big});
}

TEST(Logger, OnlyOneLoggerMayExist) {
  TFFLogger &first = FFLogger();
  try {
    TFFLogger second;
    FAIL() << "a second logger was created";
  } catch (const std::logic_error &e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&FFLogger(), &first);
}

TEST(Logger, LibraryOutputIsCutIntoLinesWithThePrefixOfTheFirstPart) {
  loadLibs();
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  l.SetLogLevel(llInfo);
  Collector got;
  got.Attach(l);

  ff.av_log(&fakeContext, AV_LOG_ERROR, "opening %s ", "a.avi");
  EXPECT_TRUE(got.Texts().empty()); // held until the line ends
  ff.av_log(&fakeContext, AV_LOG_ERROR, "failed\n");
  ff.av_log(nullptr, AV_LOG_WARNING, "one\ntwo\n");
  ff.av_log(&fakeContext, AV_LOG_INFO, "three\n");

  const std::string p = prefixOf(&fakeContext);
  EXPECT_EQ(got.Texts(), (std::vector<std::string>{p + "opening a.avi failed", "one", "two", p + "three"}));
  ASSERT_EQ(got.lines.size(), 4u);
  EXPECT_EQ(got.lines[0].sender, &l);
  EXPECT_EQ(got.lines[0].level, llError);
  EXPECT_EQ(got.lines[1].level, llWarning);
  EXPECT_EQ(got.lines[3].level, llInfo);
}

TEST(Logger, LibraryLevelFollowsLogLevel) {
  loadLibs();
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  Collector got;
  got.Attach(l);
  l.SetLogLevel(llWarning);
  EXPECT_EQ(LibLogLevel(), AV_LOG_WARNING);
  EXPECT_EQ(ff.av_log_get_level(), AV_LOG_WARNING);

  ff.av_log(nullptr, AV_LOG_INFO, "too chatty\n");
  ff.av_log(nullptr, AV_LOG_WARNING, "kept\n");
  // Library lines are filtered by the library level only, so llVerbose's special pass
  // for component messages does not apply to them.
  ff.av_log(nullptr, AV_LOG_VERBOSE, "verbose\n");
  EXPECT_EQ(got.Texts(), std::vector<std::string>{"kept"});
}

TEST(Logger, ThreadsAssembleTheirOwnLines) {
  loadLibs();
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  l.SetLogLevel(llInfo);
  Collector got;
  got.Attach(l);

  uint32_t other = 0;
  ff.av_log(nullptr, AV_LOG_ERROR, "main starts ");
  std::thread([&] {
    other = CurrentThreadID();
    ff.av_log(nullptr, AV_LOG_ERROR, "worker ");
    ff.av_log(nullptr, AV_LOG_ERROR, "line\n");
  }).join();
  ff.av_log(nullptr, AV_LOG_ERROR, "main ends\n");

  ASSERT_EQ(got.lines.size(), 2u);
  EXPECT_EQ(got.lines[0].text, "worker line");
  EXPECT_EQ(got.lines[0].thread, other);
  EXPECT_EQ(got.lines[1].text, "main starts main ends");
  EXPECT_EQ(got.lines[1].thread, CurrentThreadID());
}

TEST(Logger, OverlongLibraryOutputIsCutButKeepsItsLineEnd) {
  loadLibs();
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(false);
  Collector got;
  got.Attach(l);
  const std::string big(3000, 'x');
  ff.av_log(nullptr, AV_LOG_ERROR, "%s\n", big.c_str());
  ff.av_log(nullptr, AV_LOG_ERROR, "next\n");
  EXPECT_EQ(got.Texts(), (std::vector<std::string>{std::string(2046, 'x'), "next"}));
}

TEST(Logger, DeliveryRunsOnTheUIThreadWhileTheProducerWaits) {
  int argc = 1;
  char arg0[] = "test", *argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  loadLibs();
  TFFLogger &l = FFLogger();
  l.SetTriggerEventInMainThread(true);
  l.SetLogLevel(llInfo);

  const auto uiThread = std::this_thread::get_id();
  std::vector<std::thread::id> ranOn;
  std::vector<Line> lines; // touched only on the UI thread: no lock needed
  l.SetOnLog([&](const void *s, uint32_t t, TLogLevel lv, const std::string &m) {
    ranOn.push_back(std::this_thread::get_id());
    lines.push_back({s, t, lv, m});
  });

  std::atomic<bool> done{false};
  uint32_t worker = 0;
  std::thread t([&] {
    worker = CurrentThreadID();
    l.Log(&app, llError, "from component");
    // The handler has run by now: the producer waited for it.
    EXPECT_EQ(lines.size(), 1u);
    ff.av_log(nullptr, AV_LOG_ERROR, "from library\n");
    EXPECT_EQ(lines.size(), 2u);
    done = true;
  });
  const bool finished = WaitPumping([&] { return done.load(); }, std::chrono::seconds(20));
  t.join();
  ASSERT_TRUE(finished);
  ASSERT_EQ(lines.size(), 2u);
  for (auto id : ranOn) EXPECT_EQ(id, uiThread);
  EXPECT_EQ(lines[0].thread, worker);
  EXPECT_EQ(lines[0].sender, &app);
  EXPECT_EQ(lines[1].text, "from library");
  EXPECT_EQ(lines[1].thread, worker);
  l.SetOnLog(nullptr);
}
