// Times the frame renderer's steps on a full-HD frame and compares each with copying the frame
// once. A measuring tool only: correctness is the tests' business.
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "render/renderer.h"

namespace {

// The thread's own CPU time: on a shared machine, time spent waiting for a core is not the
// renderer's.
double cpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Best of several rounds, in milliseconds per frame: the least disturbed by other processes.
double msPerFrame(const std::function<void()> &work, double roundSeconds) {
  work(); // warm caches and tables
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    int n = 0;
    const double start = cpuSeconds();
    double spent = 0;
    do {
      work();
      ++n;
      spent = cpuSeconds() - start;
    } while (spent < roundSeconds);
    best = std::min(best, spent * 1000.0 / n);
  }
  return best;
}

QImage noise(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  QImage f(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) f.scanLine(y)[x] = uint8_t(rng());
  return f;
}

} // namespace

int main(int argc, char **argv) {
  // --quick: shorter rounds, for a smoke run.
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const double roundSeconds = quick ? 0.05 : 0.4;
  // Text needs fonts, and fonts need a GUI application; no display is needed.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int appArgc = 1;
  QGuiApplication app(appArgc, argv);

  QImage frame = noise(1920, 1080, 1);
  const QImage overlay = noise(200, 100, 2);
  std::vector<uchar> copyTarget(size_t(frame.sizeInBytes()));

  QTemporaryDir dir;
  TlvFilesRecord fromFile;
  fromFile.MarkImageFile = dir.filePath("mark.bmp").toStdString();
  if (!overlay.save(QString::fromStdString(fromFile.MarkImageFile), "BMP")) {
    std::fprintf(stderr, "bench_render: cannot write %s\n", fromFile.MarkImageFile.c_str());
    return 1;
  }
  fromFile.MarkImageX = 860;
  fromFile.MarkImageY = 490;

  TlvFilesRecord withText;
  withText.MarkText = "Marlo Video Converter";
  withText.MarkFont.Size = 20;
  withText.MarkFont.Color = 0xFFFFFF;
  withText.MarkTextX = 40;
  withText.MarkTextY = 40;

  struct Row {
    const char *what;
    std::function<void()> work;
  };
  const Row rows[] = {
      {"copy the frame once (reference)",
       [&] { std::memcpy(copyTarget.data(), frame.constBits(), copyTarget.size()); }},
      {"colour step (B 300, C 20, S 200)", [&] { ColorStep(frame, 300, 20, 200); }},
      {"exposure step (100)", [&] { ExposureStep(frame, 100); }},
      {"colour and exposure, one pass",
       [&] { EffectsStep(frame, true, 300, 20, 200, true, 100); }},
      {"image blend 200x100, style 1", [&] { ImageBlend(frame, overlay, 860, 490, 168, 1); }},
      {"image blend 200x100, style 2", [&] { ImageBlend(frame, overlay, 860, 490, 0, 2); }},
      {"image watermark from its file", [&] { RenderFrame(frame, fromFile); }},
      {"text watermark, 21 letters at 20 pt", [&] { RenderFrame(frame, withText); }},
  };

  std::printf("Frame renderer on a %dx%d 24-bit frame (thread CPU time, best of 5 rounds)\n\n", frame.width(),
              frame.height());
  std::printf("%-36s %12s %10s\n", "step", "ms / frame", "x copy");
  double copyMs = 0;
  for (const Row &r : rows) {
    const double ms = msPerFrame(r.work, roundSeconds);
    if (copyMs == 0) copyMs = ms;
    std::printf("%-36s %12.3f %10.1f\n", r.what, ms, ms / copyMs);
  }
  return 0;
}
