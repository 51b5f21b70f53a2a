// Blends a watermark picture into a frame, cutting it at the frame's edges.
// Knows nothing of files, caching or the order of a frame's steps.
#include "render/blend.h"

#include <algorithm>
#include <cstdint>

#include "render/render_error.h"

void ImageBlend(QImage &frame, const QImage &overlayIn, int x, int y, int alpha, int style) {
  if (!RenderableFrame(frame)) return;
  // The picture may be shared with other threads' frames: read it in place, copy only to convert.
  QImage converted;
  if (overlayIn.format() != QImage::Format_BGR888)
    converted = overlayIn.convertToFormat(QImage::Format_BGR888);
  const QImage &overlay = converted.isNull() ? overlayIn : converted;

  const int fw = frame.width(), fh = frame.height();
  const int ow = overlay.width(), oh = overlay.height();
  // The part of the overlay inside the frame: rows [r0, rows), columns [c0, cols).
  const int rows = y + oh < fh ? oh : fh - y;
  const int cols = x + ow < fw ? ow : fw - x;
  // A position left of or above the frame would write outside it; only the visible part is drawn.
  const int r0 = std::max(0, -y), c0 = std::max(0, -x);
  if (rows <= r0 || cols <= c0) return;

  const int a = std::clamp(alpha, 0, 255);
  const qsizetype fstride = frame.bytesPerLine(), ostride = overlay.bytesPerLine();
  uint8_t *fbase = frame.bits();
  const uint8_t *obase = overlay.constBits();
  const int n = (cols - c0) * 3;
  for (int r = r0; r < rows; ++r) {
    uint8_t *f = fbase + qsizetype(y + r) * fstride + qsizetype(x + c0) * 3;
    const uint8_t *o = obase + qsizetype(r) * ostride + qsizetype(c0) * 3;
    if (style == 1) {
      for (int i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(((256 - a) * f[i] + a * o[i]) >> 8);
    } else {
      for (int i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(f[i] * o[i] / 255);
    }
  }
}
