// Measures the preview player: time from Open to the first picture on screen, and the
// processor time spent per second of playing a 1280x720 file into the main window's
// 243x171 preview panel. Prints one line per figure.
#include <sys/resource.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench_sources.h"
#include "fixtures/fixtures.h"
#include "media/loader.h"
#include "media/synccall.h"
#include "player/ffplayer.h"

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
         u.ru_stime.tv_usec / 1e6;
}

double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  QApplication app(argc, argv);
  if (!FFLoader().LoadLibs(PlayerLibs)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
    return 1;
  }
  const std::string file = fixtures::Make("hd720.mp4", bench::HdSource(1280, 720, 8));

  QWidget panel;
  panel.resize(243, 171);
  panel.show();
  TFFPlayer player;
  player.OnFileOpen = [](TCustomPlayer *, int64_t, int, int, int &w, int &h) {
    w = 243;
    h = 171;
  };

  constexpr int kRuns = 5;
  double firstPicture = 0;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!player.Open(file, &panel)) {
      std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
      return 1;
    }
    // The position is first computed right after the first picture is drawn.
    WaitPumping([&] { return player.Position() >= 0; });
    firstPicture += since(start);
    player.Close(true);
  }
  std::printf("open to first picture (1280x720 h264+aac, mean of %d): %.1f ms\n", kRuns,
              firstPicture / kRuns * 1000);

  if (!player.Open(file, &panel)) return 1;
  WaitPumping([&] { return player.Position() >= 500000; }); // past the start-up
  const double cpu0 = cpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  const int64_t pos0 = player.Position();
  WaitPumping([&] { return since(wall0) >= 5.0; });
  const double cpu = cpuSeconds() - cpu0, wall = since(wall0);
  const double played = (player.Position() - pos0) / 1e6;
  player.Close(true);
  std::printf("processor time per second played (1280x720 into 243x171): %.3f s "
              "(%.1f %% of one core; %.2f s of media in %.2f s)\n",
              cpu / played, 100 * cpu / wall, played, wall);
  return 0;
}
