// A decoded picture as a 24-bit BGR bitmap (QImage Format_BGR888, rows padded to 4 bytes)
// and the bitmap back into the picture. Not a renderer: it never draws on the bitmap.
#pragma once

#include <QImage>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVFrame;
struct SwsContext;

// One per hook user. Owns the bitmap, the conversion buffer and the scaling contexts;
// reused from picture to picture. Needs the scaling and utility libraries.
class FrameBitmapConverter {
public:
  FrameBitmapConverter() = default;
  ~FrameBitmapConverter();
  FrameBitmapConverter(const FrameBitmapConverter &) = delete;
  FrameBitmapConverter &operator=(const FrameBitmapConverter &) = delete;

  // The bitmap the last FrameToBitmap filled (null before the first one).
  QImage &Bitmap() { return bitmap_; }
  const QImage &Bitmap() const { return bitmap_; }

private:
  friend bool FrameToBitmap(FrameBitmapConverter &, const uint8_t *const[4], const int[4],
                            AVPixelFormat, int, int);
  friend bool BitmapToFrame(FrameBitmapConverter &, const QImage &, AVFrame *);
  friend void ResetConverter(FrameBitmapConverter &);

  AVPixelFormat destFormat_ = AV_PIX_FMT_BGR24;
  QImage bitmap_; // made again only when the picture size changes
  SwsContext *toBitmap_ = nullptr;
  SwsContext *fromBitmap_ = nullptr;
};

// Fills conv.Bitmap() (width x height) from the picture, converting when its format is
// not packed BGR24, its size is odd or its rows are not laid out as the bitmap's.
// Returns false when the picture is empty or no conversion can be made.
bool FrameToBitmap(FrameBitmapConverter &conv, const uint8_t *const data[4], const int linesize[4],
                   AVPixelFormat fmt, int width, int height);
bool FrameToBitmap(FrameBitmapConverter &conv, const AVFrame *frame);

// Writes a bitmap of the frame's size back into the frame's own pixel format (after a
// hook has drawn on it). The frame must be writable. Returns false when sizes differ or
// no conversion can be made.
bool BitmapToFrame(FrameBitmapConverter &conv, const QImage &bitmap, AVFrame *frame);

// Frees the bitmap, the buffer and both scaling contexts; back to the starting state.
void ResetConverter(FrameBitmapConverter &conv);
