// The one logger of the process: library log lines and the components' messages, cut
// into lines and handed to one event. Writes nothing anywhere by itself.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// Level <-> the libraries' level number (llQuiet = -8, llPanic = 0 ... llDebug = 48).
int LevelToLib(TLogLevel level);
TLogLevel LevelFromLib(int libLevel);

// The libraries' threshold: library messages above it are dropped. Starts at 32 (info).
int LibLogLevel();

// One delivered message.
struct TLogInfo {
  const void *Sender = nullptr; // the logger for library lines, else the component
  uint32_t ThreadID = 0;        // the producing thread (kernel thread id)
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

using TLogEvent = std::function<void(const void *Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string &ALogMsg)>;

// The calling thread's kernel id, as carried in TLogInfo::ThreadID.
uint32_t CurrentThreadID();

class TFFLogger {
public:
  // Only one may exist: a second throws std::logic_error
  // ("Allow creating only one instance of TFFLogger.").
  TFFLogger();
  ~TFFLogger();
  TFFLogger(const TFFLogger &) = delete;
  TFFLogger &operator=(const TFFLogger &) = delete;

  TLogLevel LogLevel() const { return logLevel_.load(); }
  // Stores the level and, when it changed, applies it to the libraries.
  void SetLogLevel(TLogLevel level);
  // Names "quiet" .. "debug" (any case) or a decimal library level number; throws
  // std::invalid_argument ("'x' is not a valid integer value") for an unreadable text.
  void SetLogLevelByName(const std::string &name);

  // When true (the default) the handler runs on the user-interface thread through
  // SyncCall while the producing thread waits; otherwise on the producing thread.
  bool TriggerEventInMainThread() const { return triggerInMain_.load(); }
  void SetTriggerEventInMainThread(bool on) { triggerInMain_ = on; }

  // Unassigned by default; may be set or cleared from any thread.
  void SetOnLog(TLogEvent handler);
  bool HasOnLog() const;

  // A component's message: delivered when the level is at or below LogLevel, and
  // llVerbose at every setting except llQuiet.
  void Log(const void *sender, TLogLevel level, const std::string &msg);
  void LogFmt(const void *sender, TLogLevel level, const char *fmt, ...)
      __attribute__((format(printf, 4, 5)));

  // Routes the libraries' log output here and applies the level; needs the utility
  // library to be loaded.
  void InstallLibraryLogHook();
  // Hands LogLevel to the libraries (when the utility library is loaded).
  void ApplyLogLevel();

  // One chunk of library output as the library's callback hands it over (exposed so
  // that the line assembly can be driven without the library).
  void LibraryOutput(int libLevel, const std::string &prefix, const std::string &text);

private:
  void deliver(const TLogInfo &info);

  std::atomic<TLogLevel> logLevel_;
  std::atomic<bool> triggerInMain_{true};
  mutable std::mutex handlerLock_;
  TLogEvent onLog_;
};

// The single logger, created on first use (unless a host created one first).
TFFLogger &FFLogger();

// Routes the media libraries' log output into the logger and applies its level.
// Called by the loader each time the utility library is loaded.
void HookLibraryLog();
// Detaches the hook before the utility library goes away.
void UnhookLibraryLog();
