// A decoded picture as a 24-bit BGR bitmap (QImage Format_BGR888, rows padded to 4 bytes)
// and the bitmap back into the picture. Not a renderer: it never draws on the bitmap.
#include "media/framebitmap.h"

#include <cstring>

#include "media/ffapi.h"

namespace {

bool sizeUsable(int width, int height) { return width > 0 && height > 0 && width <= 32768 && height <= 32768; }

} // namespace

FrameBitmapConverter::~FrameBitmapConverter() { ResetConverter(*this); }

void ResetConverter(FrameBitmapConverter &conv) {
  conv.bitmap_ = QImage();
  if (conv.toBitmap_) ff.sws_freeContext(conv.toBitmap_);
  if (conv.fromBitmap_) ff.sws_freeContext(conv.fromBitmap_);
  conv.toBitmap_ = conv.fromBitmap_ = nullptr;
  conv.destFormat_ = AV_PIX_FMT_BGR24;
}

bool FrameToBitmap(FrameBitmapConverter &conv, const uint8_t *const data[4], const int linesize[4],
                   AVPixelFormat fmt, int width, int height) {
  if (!data || !linesize || !data[0] || !sizeUsable(width, height) || fmt == AV_PIX_FMT_NONE)
    return false;
  if (conv.bitmap_.isNull() || conv.bitmap_.width() != width || conv.bitmap_.height() != height) {
    conv.bitmap_ = QImage(width, height, QImage::Format_BGR888);
    if (conv.bitmap_.isNull()) return false;
  }
  const int rowBytes = int(conv.bitmap_.bytesPerLine());

  const int stride = linesize[0];
  const bool convert = fmt != conv.destFormat_ || (width & 1) || (height & 1) || stride != rowBytes;
  if (convert) {
    // Straight into the bitmap, whose rows are laid out as the scaler writes them; the
    // bitmap is only made again when the size changes.
    conv.toBitmap_ = ff.sws_getCachedContext(conv.toBitmap_, width, height, fmt, width, height,
                                             conv.destFormat_, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!conv.toBitmap_) return false;
    uint8_t *dst[4] = {conv.bitmap_.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {rowBytes, 0, 0, 0};
    return ff.sws_scale(conv.toBitmap_, data, linesize, 0, height, dst, dstStride) == height;
  }
  for (int y = 0; y < height; ++y)
    std::memcpy(conv.bitmap_.scanLine(y), data[0] + ptrdiff_t(y) * stride, size_t(rowBytes));
  return true;
}

bool FrameToBitmap(FrameBitmapConverter &conv, const AVFrame *frame) {
  if (!frame) return false;
  return FrameToBitmap(conv, frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                       frame->width, frame->height);
}

bool BitmapToFrame(FrameBitmapConverter &conv, const QImage &bitmap, AVFrame *frame) {
  if (!frame || !frame->data[0] || bitmap.isNull() || bitmap.format() != QImage::Format_BGR888 ||
      bitmap.width() != frame->width || bitmap.height() != frame->height)
    return false;
  const auto fmt = static_cast<AVPixelFormat>(frame->format);
  conv.fromBitmap_ = ff.sws_getCachedContext(conv.fromBitmap_, frame->width, frame->height,
                                             AV_PIX_FMT_BGR24, frame->width, frame->height, fmt,
                                             SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!conv.fromBitmap_) return false;
  const uint8_t *src[4] = {bitmap.constBits(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {int(bitmap.bytesPerLine()), 0, 0, 0};
  return ff.sws_scale(conv.fromBitmap_, src, srcStride, 0, frame->height, frame->data,
                      frame->linesize) == frame->height;
}
