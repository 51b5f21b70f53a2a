// A decoded picture as a 24-bit BGR bitmap (QImage Format_BGR888, rows padded to 4 bytes)
// and the bitmap back into the picture. Not a renderer: it never draws on the bitmap.
#include "media/framebitmap.h"

#include <algorithm>
#include <cstring>

#include "media/ffapi.h"

namespace {

// The bitmap's own row layout: 3 bytes a pixel, rows padded to 4 bytes.
constexpr int kBitmapAlign = 4;

bool sizeUsable(int width, int height) { return width > 0 && height > 0 && width <= 32768 && height <= 32768; }

} // namespace

FrameBitmapConverter::~FrameBitmapConverter() { ResetConverter(*this); }

void ResetConverter(FrameBitmapConverter &conv) {
  conv.bitmap_ = QImage();
  if (conv.buffer_) ff.av_free(conv.buffer_);
  conv.buffer_ = nullptr;
  conv.bufferSize_ = 0;
  if (conv.toBitmap_) ff.sws_freeContext(conv.toBitmap_);
  if (conv.fromBitmap_) ff.sws_freeContext(conv.fromBitmap_);
  conv.toBitmap_ = conv.fromBitmap_ = nullptr;
  conv.destFormat_ = AV_PIX_FMT_BGR24;
  std::fill(std::begin(conv.picData_), std::end(conv.picData_), nullptr);
  std::fill(std::begin(conv.picLinesize_), std::end(conv.picLinesize_), 0);
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

  const uint8_t *rows = data[0];
  int stride = linesize[0];
  const bool convert = fmt != conv.destFormat_ || (width & 1) || (height & 1) || stride != rowBytes;
  if (convert) {
    const int size = ff.av_image_get_buffer_size(conv.destFormat_, width, height, kBitmapAlign);
    if (size < 0) return false;
    // The buffer only ever grows: pictures of one stream keep their size.
    if (size > conv.bufferSize_) {
      if (conv.buffer_) ff.av_free(conv.buffer_);
      conv.bufferSize_ = 0;
      conv.buffer_ = static_cast<uint8_t *>(ff.av_malloc(size));
      if (!conv.buffer_) return false;
      conv.bufferSize_ = size;
    }
    if (ff.av_image_fill_arrays(conv.picData_, conv.picLinesize_, conv.buffer_, conv.destFormat_,
                                width, height, kBitmapAlign) < 0)
      return false;
    conv.toBitmap_ = ff.sws_getCachedContext(conv.toBitmap_, width, height, fmt, width, height,
                                             conv.destFormat_, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!conv.toBitmap_) return false;
    if (ff.sws_scale(conv.toBitmap_, data, linesize, 0, height, conv.picData_, conv.picLinesize_) != height)
      return false;
    rows = conv.picData_[0];
    stride = conv.picLinesize_[0];
  }
  const size_t copy = size_t(std::min(stride, rowBytes));
  for (int y = 0; y < height; ++y)
    std::memcpy(conv.bitmap_.scanLine(y), rows + ptrdiff_t(y) * stride, copy);
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
