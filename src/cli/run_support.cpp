// The verbs' shared run support: program folder, console log and the signal-to-stop pipe.
// The verbs' own arguments, tasks and progress lines live in their files.
#include "cli/run_support.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "media/logger.h"

namespace cli {

namespace {

// The signal handler only writes to this pipe; the stop itself runs on the main thread.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

} // namespace

std::string ProgramFolder() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  std::string path(buf.data(), size_t(n));
  const auto cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool InstallConsoleLog(const std::string &level, bool terminal) {
  TFFLogger &logger = FFLogger();
  try {
    logger.SetLogLevelByName(level);
  } catch (const std::exception &) {
    return false;
  }
  // Lines are printed where they arise: nothing here needs the main thread for them.
  logger.SetTriggerEventInMainThread(false);
  logger.SetOnLog([terminal](const void *, uint32_t, TLogLevel, const std::string &msg) {
    std::string text = msg;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // A log line must not be glued to the end of the progress line.
    std::fprintf(stderr, terminal ? "\r\033[K%s\n" : "%s\n", text.c_str());
  });
  return true;
}

TSignalStop::TSignalStop(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char buf[16];
    while (::read(signalPipe[0], buf, sizeof buf) > 0) {
    }
    if (stopped_) return;
    stopped_ = true;
    if (onStop_) onStop_();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

TSignalStop::~TSignalStop() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  notifier_.reset();
  for (int &fd : signalPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

} // namespace cli
