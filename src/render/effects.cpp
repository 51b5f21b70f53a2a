// Builds the colour and exposure lookup tables and runs them over a frame's bytes in one pass.
// Knows nothing of watermarks or of the order in which a frame's steps run.
#include "render/effects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "render/render_error.h"

namespace {

using ByteTable = std::array<uint8_t, 256>;

uint8_t clampByte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// Nearest integer, halves to the even neighbour, whatever the FPU's rounding mode is.
int64_t roundEven(double v) {
  const double lower = std::floor(v);
  const double diff = v - lower;
  auto r = static_cast<int64_t>(lower);
  if (diff > 0.5 || (diff == 0.5 && (r & 1))) ++r;
  return r;
}

ByteTable contrastTable(int contrast) {
  // At 100 the factor 1 / cos(pi/2) would be infinite.
  if (contrast == 100) contrast = 99;
  // The two branches use slightly different constants for pi/200. Do not unify them: some
  // levels would move by one, and users' settings would no longer give the pictures they gave.
  const double k = contrast > 0 ? 1.0 / std::cos(contrast * 0.015707963267948966)
                                : std::cos(contrast * 0.015708) * 1.0;
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = clampByte(roundEven((i - 170) * k + 170));
  return t;
}

ByteTable levelTable(int brightness, const ByteTable &contrast) {
  ByteTable t{};
  for (int j = 0; j < 256; ++j) {
    const int d = (brightness * (j - 1) + 256) / 256; // truncates toward zero
    t[j] = contrast[clampByte(d)];
  }
  return t;
}

ByteTable exposureTable(float exposure) {
  const double x = exposure;
  ByteTable t{};
  for (int i = 0; i < 256; ++i) {
    const double f = std::exp((i / -128.0) * (x / 128.0));
    const int64_t v = roundEven((1.0 - f) * 256.0);
    const int64_t inv = i ^ 255;
    int64_t e;
    if (x >= 0)
      e = i + ((v * inv) >> 8);
    else
      e = i - static_cast<int32_t>((-v * inv) >> 8); // the darkening is a 32-bit amount
    t[i] = clampByte(e);
  }
  return t;
}

ByteTable identityTable() {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}

// Every byte through one table: the exposure step alone.
void mapBytes(QImage &frame, const ByteTable &t) {
  const int h = frame.height();
  const qsizetype rowBytes = qsizetype(frame.width()) * 3;
  const qsizetype stride = frame.bytesPerLine();
  uint8_t *base = frame.bits();
  for (int y = 0; y < h; ++y) {
    uint8_t *p = base + y * stride;
    for (qsizetype i = 0; i < rowBytes; ++i) p[i] = t[p[i]];
  }
}

// Saturation: each channel c becomes grey[b+g+r] + sat[c], clamped, then through the level
// table (and the exposure table, when asked). The clamp and both level lookups are folded
// into one table indexed by the unclamped sum.
void mapColour(QImage &frame, int brightness, int contrast, int saturation,
               const ByteTable &after) {
  std::array<int, 256> sat{};
  for (int i = 0; i < 256; ++i) sat[i] = static_cast<int16_t>(((i + 1) * saturation) >> 8);
  std::array<int, 766> grey{};
  for (int s = 0; s < 766; ++s) grey[s] = s / 3 - sat[s / 3];

  // With saturation in 0..512: sat in 0..512, grey in -512..255, so the sum lies in -512..767.
  constexpr int offset = 512;
  const ByteTable levels = levelTable(brightness, contrastTable(contrast));
  std::array<uint8_t, 512 + 768> out{};
  for (int v = -offset; v < int(out.size()) - offset; ++v)
    out[v + offset] = after[levels[clampByte(v)]];
  std::array<int, 256> satOff{};
  for (int i = 0; i < 256; ++i) satOff[i] = sat[i] + offset;

  const int w = frame.width(), h = frame.height();
  const qsizetype stride = frame.bytesPerLine();
  uint8_t *base = frame.bits();
  for (int y = 0; y < h; ++y) {
    uint8_t *p = base + y * stride;
    for (int x = 0; x < w; ++x, p += 3) {
      const int m = grey[p[0] + p[1] + p[2]];
      p[0] = out[m + satOff[p[0]]];
      p[1] = out[m + satOff[p[1]]];
      p[2] = out[m + satOff[p[2]]];
    }
  }
}

} // namespace

void EffectsStep(QImage &frame, bool color, int brightness, int contrast, int saturation,
                 bool exposure, float exposureValue) {
  if (!RenderableFrame(frame) || (!color && !exposure)) return;
  const ByteTable after =
      exposure ? exposureTable(std::clamp(exposureValue, -255.0f, 512.0f)) : identityTable();
  if (!color) {
    mapBytes(frame, after);
    return;
  }
  mapColour(frame, std::clamp(brightness, 0, 512), std::clamp(contrast, -100, 100),
            std::clamp(saturation, 0, 512), after);
}

void ColorStep(QImage &frame, int brightness, int contrast, int saturation) {
  EffectsStep(frame, true, brightness, contrast, saturation, false, 0);
}

void ExposureStep(QImage &frame, float exposure) {
  EffectsStep(frame, false, 0, 0, 0, true, exposure);
}
