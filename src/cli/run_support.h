// What the verbs that drive the conversion component share: where the program lies, the
// log lines on the terminal, and SIGINT/SIGTERM turned into a stop on the main thread.
// Builds no task and prints no progress of its own.
#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <string>

namespace cli {

// The folder of the running program, ending with "/"; empty when it cannot be found.
std::string ProgramFolder();

// Sets the media libraries' log level by name and prints their lines on stderr, each on a
// line of its own even while a progress line is shown (`terminal`). False for an unknown level.
bool InstallConsoleLog(const std::string &level, bool terminal);

// While it lives, SIGINT and SIGTERM call `onStop` once, on the thread running the Qt event
// loop (a signal handler may do nearly nothing, so it only writes to a pipe). Needs a
// QCoreApplication. Restores the default handlers when it goes.
class TSignalStop {
public:
  explicit TSignalStop(std::function<void()> onStop);
  ~TSignalStop();
  TSignalStop(const TSignalStop &) = delete;
  TSignalStop &operator=(const TSignalStop &) = delete;
  // False when the pipe could not be made; the reason is in Error().
  bool Ok() const { return notifier_ != nullptr; }
  const std::string &Error() const { return error_; }
  bool Stopped() const { return stopped_; }

private:
  std::function<void()> onStop_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string error_;
  bool stopped_ = false;
};

} // namespace cli
