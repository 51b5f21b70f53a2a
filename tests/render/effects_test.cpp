// Checks the colour and exposure steps byte for byte against worked examples.
// The order of a frame's steps and the watermarks are tested elsewhere.
#include <gtest/gtest.h>

#include <random>

#include "frames.h"
#include "render/effects.h"

namespace {

struct ColourCase {
  const char *what;
  int brightness, contrast, saturation;
  Bgr in, out;
};

const ColourCase colourCases[] = {
    {"all three at work", 255, 50, 255, {10, 100, 200}, {0, 70, 211}},
    {"saturation 0 gives grey", 255, 0, 0, {10, 100, 200}, {102, 102, 102}},
    {"saturation 256 still runs the levels", 255, 0, 256, {10, 100, 200}, {9, 99, 199}},
    {"white one level lower", 255, 0, 256, {255, 255, 255}, {254, 254, 254}},
    {"contrast 50 alone", 256, 50, 256, {0, 128, 255}, {0, 111, 255}},
    {"contrast -50 alone", 256, -50, 256, {0, 128, 255}, {50, 140, 230}},
    {"brightness 512 doubles", 512, 0, 256, {100, 100, 100}, {199, 199, 199}},
    {"brightness 128 halves", 128, 0, 256, {100, 100, 100}, {50, 50, 50}},
    {"brightness 512 clamps", 512, 0, 256, {200, 200, 200}, {255, 255, 255}},
    {"brightness 0 leaves one level", 0, 0, 256, {10, 100, 200}, {1, 1, 1}},
    {"saturation 0 at unit levels", 256, 0, 0, {10, 100, 200}, {103, 103, 103}},
    {"saturation 512 doubles the spread", 256, 0, 512, {10, 100, 200}, {0, 97, 255}},
    {"unit settings keep the pixel", 256, 0, 256, {10, 100, 200}, {10, 100, 200}},
};

TEST(ColorStep, TurnsEachExamplePixelIntoItsResult) {
  for (const auto &c : colourCases) {
    // An odd width, so rows carry padding the step must skip.
    QImage f = Frame(3, 2, c.in);
    ColorStep(f, c.brightness, c.contrast, c.saturation);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(f, x, y), c.out) << c.what << " at " << x;
  }
}

// A grey level g with brightness 256 and saturation 256 comes out as the contrast table's
// entry for g, so a grey ramp shows the whole table.
std::vector<int> contrastCurve(int contrast) {
  QImage f(256, 1, QImage::Format_BGR888);
  for (int g = 0; g < 256; ++g) SetPixel(f, g, 0, {g, g, g});
  ColorStep(f, 256, contrast, 256);
  std::vector<int> out;
  for (int g = 0; g < 256; ++g) {
    const Bgr p = PixelAt(f, g, 0);
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "grey " << g << " lost its greyness";
    out.push_back(p[0]);
  }
  return out;
}

TEST(ColorStep, ContrastExtremes) {
  const auto c99 = contrastCurve(99);
  EXPECT_EQ(contrastCurve(100), c99) << "contrast 100 must behave as 99";
  for (int g = 0; g <= 167; ++g) EXPECT_EQ(c99[g], 0) << g;
  for (int g = 173; g <= 255; ++g) EXPECT_EQ(c99[g], 255) << g;
  EXPECT_GT(c99[170], 0);
  EXPECT_LT(c99[170], 255);

  for (int v : contrastCurve(-100)) EXPECT_EQ(v, 170);
}

TEST(ColorStep, PaddingBetweenRowsIsLeftAlone) {
  QImage f = Frame(3, 3, {10, 100, 200});
  const int pad = int(f.bytesPerLine()) - 9;
  ASSERT_GT(pad, 0);
  for (int y = 0; y < 3; ++y) std::fill_n(f.scanLine(y) + 9, pad, 0xAB);
  ColorStep(f, 512, 30, 400);
  ExposureStep(f, 200);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < pad; ++i) EXPECT_EQ(f.constScanLine(y)[9 + i], 0xAB) << y;
}

struct ExposureCase {
  float exposure;
  int level, out;
};

const ExposureCase exposureCases[] = {
    {100, 64, 125},  {100, 128, 196},  {100, 192, 235}, {100, 255, 255},
    {-100, 128, 0},  {-100, 192, 52},  {-100, 254, 251},
    {512, 1, 8},     {512, 128, 252},
    // The two ends never move, however strong the exposure.
    {512, 0, 0},     {512, 255, 255},  {1, 0, 0},       {1, 255, 255},
    {-255, 0, 0},    {-255, 255, 255}, {-1, 0, 0},      {-1, 255, 255},
};

TEST(ExposureStep, MapsEachLevelAsTheTablesSay) {
  for (const auto &c : exposureCases) {
    // Each byte of a pixel is mapped on its own.
    QImage f = Frame(1, 1, {c.level, 0, 255});
    ExposureStep(f, c.exposure);
    EXPECT_EQ(PixelAt(f, 0, 0), (Bgr{c.out, 0, 255})) << "exposure " << c.exposure << " level "
                                                       << c.level;
  }
}

QImage noise(int w, int h) {
  std::mt19937 rng(7);
  QImage f(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) f.scanLine(y)[x] = uint8_t(rng());
  return f;
}

TEST(EffectsStep, OnePassEqualsColourThenExposure) {
  const struct {
    int b, c, s, x;
  } cases[] = {{300, 20, 100, 50}, {128, -70, 512, -200}, {512, 99, 0, 512}, {0, 0, 255, -1}};
  for (const auto &c : cases) {
    QImage separate = noise(17, 5);
    QImage combined = separate.copy();
    ColorStep(separate, c.b, c.c, c.s);
    ExposureStep(separate, float(c.x));
    EffectsStep(combined, true, c.b, c.c, c.s, true, float(c.x));
    EXPECT_EQ(combined, separate) << c.b << " " << c.c << " " << c.s << " " << c.x;
  }
}

} // namespace
