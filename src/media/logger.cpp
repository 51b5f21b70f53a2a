// The one logger of the process: library log lines and the components' messages, cut
// into lines and handed to one event. Writes nothing anywhere by itself.
#include "media/logger.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

#include "media/ffapi.h"
#include "media/synccall.h"

namespace {

std::atomic<int> libLogLevel{AV_LOG_INFO};
std::atomic<TFFLogger *> instance{nullptr};

struct LevelName {
  const char *name;
  int libLevel;
};
constexpr LevelName kLevelNames[] = {
    {"quiet", AV_LOG_QUIET}, {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
    {"error", AV_LOG_ERROR}, {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
    {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
};

// Library output of this thread not yet ended by a line feed. Kept per thread rather
// than in a list keyed by thread id: the kernel reuses ids, and a new thread must not
// inherit a finished thread's unterminated text.
thread_local std::string pendingText;

constexpr size_t kMaxChunk = 2047;

// One call's output, at most kMaxChunk bytes. A cut keeps the closing line feed, or
// the cut line would run on into whatever the thread logs next.
std::string formatChunk(const char *fmt, va_list vl) {
  va_list copy;
  va_copy(copy, vl);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (size_t(n) < sizeof small) return std::string(small, size_t(n));
  std::string text(size_t(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, vl);
  if (text.size() > kMaxChunk) {
    const bool endsLine = text.back() == '\n';
    text.resize(kMaxChunk);
    if (endsLine) text.back() = '\n';
  }
  return text;
}

void libraryLogCallback(void *avcl, int level, const char *fmt, va_list vl) {
  level &= 0xFF; // the libraries may add flag bits above the level
  if (level > libLogLevel.load()) return;
  std::string prefix;
  if (avcl) {
    const AVClass *cls = *static_cast<const AVClass *const *>(avcl);
    const char *item = cls && cls->item_name ? cls->item_name(avcl) : nullptr;
    char buf[128];
    std::snprintf(buf, sizeof buf, "[%s @ %08" PRIXPTR "]", item ? item : "NULL",
                  reinterpret_cast<uintptr_t>(avcl));
    prefix = buf;
  }
  std::string text = formatChunk(fmt, vl);
  // The library calls us from C: nothing may be thrown back into it. A handler that
  // fails here has no caller to tell, so the failure goes to the standard error.
  try {
    FFLogger().LibraryOutput(level, prefix, text);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "log handler failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "log handler failed\n");
  }
}

} // namespace

int LevelToLib(TLogLevel level) { return (int(level) - 1) * 8; }

TLogLevel LevelFromLib(int libLevel) {
  return static_cast<TLogLevel>(std::clamp(libLevel / 8 + 1, int(llQuiet), int(llDebug)));
}

int LibLogLevel() { return libLogLevel.load(); }

uint32_t CurrentThreadID() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

TFFLogger::TFFLogger() : logLevel_(LevelFromLib(libLogLevel.load())) {
  TFFLogger *expected = nullptr;
  if (!instance.compare_exchange_strong(expected, this))
    throw std::logic_error("Allow creating only one instance of TFFLogger.");
}

TFFLogger::~TFFLogger() {
  TFFLogger *self = this;
  if (instance.compare_exchange_strong(self, nullptr) && ff.av_log_set_callback &&
      ff.av_log_default_callback)
    ff.av_log_set_callback(ff.av_log_default_callback);
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (logLevel_.exchange(level) != level) ApplyLogLevel();
}

void TFFLogger::SetLogLevelByName(const std::string &name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  for (const auto &n : kLevelNames)
    if (lower == n.name) {
      SetLogLevel(LevelFromLib(n.libLevel));
      return;
    }
  // The message may reach the user through an option error, so it names the text.
  const std::string refusal = "'" + name + "' is not a valid integer value";
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(name, &used, 10);
  } catch (const std::logic_error &) { // invalid_argument, out_of_range
    throw std::invalid_argument(refusal);
  }
  if (used != name.size()) throw std::invalid_argument(refusal);
  SetLogLevel(LevelFromLib(value));
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  std::lock_guard lk(handlerLock_);
  onLog_ = std::move(handler);
}

bool TFFLogger::HasOnLog() const {
  std::lock_guard lk(handlerLock_);
  return bool(onLog_);
}

void TFFLogger::deliver(const TLogInfo &info) {
  TLogEvent handler;
  {
    std::lock_guard lk(handlerLock_);
    handler = onLog_;
  }
  if (!handler) return;
  auto run = [&] { handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); };
  if (triggerInMain_.load())
    SyncCall(run);
  else
    run();
}

void TFFLogger::Log(const void *sender, TLogLevel level, const std::string &msg) {
  const TLogLevel current = logLevel_.load();
  const bool pass = level <= current || (level == llVerbose && current != llQuiet);
  if (!pass || !HasOnLog()) return;
  deliver(TLogInfo{sender, CurrentThreadID(), level, msg});
}

void TFFLogger::LogFmt(const void *sender, TLogLevel level, const char *fmt, ...) {
  va_list ap, copy;
  va_start(ap, fmt);
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, ap);
  va_end(ap);
  Log(sender, level, text);
}

void TFFLogger::InstallLibraryLogHook() {
  if (!ff.av_log_set_callback || !ff.av_log_set_level)
    throw std::logic_error("The utility library must be loaded before its log can be hooked");
  ff.av_log_set_callback(libraryLogCallback);
  ApplyLogLevel();
}

void TFFLogger::ApplyLogLevel() {
  if (!ff.av_log_set_level) return;
  libLogLevel = LevelToLib(logLevel_.load());
  ff.av_log_set_level(libLogLevel.load());
}

void TFFLogger::LibraryOutput(int libLevel, const std::string &prefix, const std::string &text) {
  std::string &pending = pendingText;
  // The prefix marks only the start of a line.
  pending += pending.empty() ? prefix + text : text;
  for (size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
    TLogInfo info{this, CurrentThreadID(), LevelFromLib(libLevel), pending.substr(0, lf)};
    pending.erase(0, lf + 1);
    deliver(info);
  }
}

TFFLogger &FFLogger() {
  static std::mutex creating;
  static std::unique_ptr<TFFLogger> own;
  if (TFFLogger *l = instance.load()) return *l;
  std::lock_guard lk(creating);
  if (TFFLogger *l = instance.load()) return *l;
  own = std::make_unique<TFFLogger>();
  return *own;
}

void HookLibraryLog() { FFLogger().InstallLibraryLogHook(); }

void UnhookLibraryLog() {
  if (ff.av_log_set_callback && ff.av_log_default_callback)
    ff.av_log_set_callback(ff.av_log_default_callback);
}
