// Small 24-bit BGR frames for the renderer's tests, built pixel by pixel.
// Test helpers only; nothing here renders.
#pragma once

#include <QGuiApplication>
#include <QImage>
#include <array>
#include <cstdint>
#include <string>

using Bgr = std::array<int, 3>; // blue, green, red

inline QImage Frame(int w, int h, Bgr fill) {
  QImage f(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) f.scanLine(y)[x * 3 + c] = uint8_t(fill[c]);
  return f;
}

inline Bgr PixelAt(const QImage &f, int x, int y) {
  const uchar *p = f.constScanLine(y) + x * 3;
  return {p[0], p[1], p[2]};
}

inline void SetPixel(QImage &f, int x, int y, Bgr v) {
  uchar *p = f.scanLine(y) + x * 3;
  for (int c = 0; c < 3; ++c) p[c] = uint8_t(v[c]);
}

// Text needs a GUI application; each test runs in its own process, so one per process will do.
inline void EnsureGui() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "render_tests";
  static char *argv[] = {name, nullptr};
  // Destroyed at exit, so that the font database is torn down and leak checkers stay quiet.
  static QGuiApplication app(argc, argv);
}
