// Pictures into 24-bit BGR bitmaps and back: layout, colours, odd sizes, refusals.
// Not the engine's hook itself, which only calls these.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/framebitmap.h"
#include "media/loader.h"

namespace {

using FramePtr = TFramePtr;

void loadLibs() { ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError(); }

FramePtr makeFrame(AVPixelFormat fmt, int w, int h) {
  FramePtr f(ff.av_frame_alloc());
  f->format = fmt;
  f->width = w;
  f->height = h;
  EXPECT_EQ(ff.av_frame_get_buffer(f.get(), 0), 0);
  return f;
}

// A solid YUV 4:2:0 picture (limited range BT.601).
FramePtr solidYUV(int w, int h, uint8_t y, uint8_t u, uint8_t v) {
  FramePtr f = makeFrame(AV_PIX_FMT_YUV420P, w, h);
  for (int r = 0; r < h; ++r) std::memset(f->data[0] + r * f->linesize[0], y, w);
  for (int r = 0; r < (h + 1) / 2; ++r) {
    std::memset(f->data[1] + r * f->linesize[1], u, (w + 1) / 2);
    std::memset(f->data[2] + r * f->linesize[2], v, (w + 1) / 2);
  }
  return f;
}

// Distinct bytes per pixel, so any shift or swap shows.
void fillPattern(uint8_t *row0, int stride, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) row0[y * stride + x] = uint8_t(y * 31 + x * 7);
}

void expectNear(QRgb got, int r, int g, int b, int tol = 6) {
  EXPECT_NEAR(qRed(got), r, tol);
  EXPECT_NEAR(qGreen(got), g, tol);
  EXPECT_NEAR(qBlue(got), b, tol);
}

} // namespace

TEST(FrameToBitmap, PackedBGRPicturesKeepEveryByte) {
  loadLibs();
  // Even sizes with the bitmap's own row layout are copied; odd ones go through
  // the scaler (the 5-pixel row is 15 bytes, the bitmap's 16) and must come out equal.
  struct Case {
    int w, h;
  } cases[] = {{8, 4}, {5, 4}, {6, 3}, {1, 1}};
  for (const auto &c : cases) {
    const int stride = (c.w * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(size_t(stride) * c.h);
    fillPattern(pixels.data(), stride, c.w, c.h);
    const uint8_t *data[4] = {pixels.data()};
    const int linesize[4] = {stride};

    FrameBitmapConverter conv;
    ASSERT_TRUE(FrameToBitmap(conv, data, linesize, AV_PIX_FMT_BGR24, c.w, c.h)) << c.w << "x" << c.h;
    const QImage &bmp = conv.Bitmap();
    ASSERT_EQ(bmp.format(), QImage::Format_BGR888);
    ASSERT_EQ(bmp.size(), QSize(c.w, c.h));
    ASSERT_EQ(bmp.bytesPerLine(), stride);
    for (int y = 0; y < c.h; ++y)
      EXPECT_EQ(std::memcmp(bmp.constScanLine(y), pixels.data() + y * stride, size_t(c.w) * 3), 0)
          << c.w << "x" << c.h << " row " << y;
  }
}

TEST(FrameToBitmap, ConvertsYUVPicturesTopDown) {
  loadLibs();
  // Top half red, bottom half blue: row 0 of the picture must be row 0 of the bitmap.
  FramePtr f = solidYUV(64, 48, 41, 240, 110); // blue
  for (int r = 0; r < 24; ++r) std::memset(f->data[0] + r * f->linesize[0], 81, 64);
  for (int r = 0; r < 12; ++r) {
    std::memset(f->data[1] + r * f->linesize[1], 90, 32);
    std::memset(f->data[2] + r * f->linesize[2], 240, 32);
  }
  FrameBitmapConverter conv;
  ASSERT_TRUE(FrameToBitmap(conv, f.get()));
  expectNear(conv.Bitmap().pixel(10, 5), 255, 0, 0);
  expectNear(conv.Bitmap().pixel(10, 40), 0, 0, 255);

  // A smaller picture next: the bitmap follows the picture's size.
  FramePtr small = solidYUV(33, 17, 145, 54, 34); // green
  ASSERT_TRUE(FrameToBitmap(conv, small.get()));
  EXPECT_EQ(conv.Bitmap().size(), QSize(33, 17));
  expectNear(conv.Bitmap().pixel(32, 16), 0, 255, 0);

  ResetConverter(conv);
  EXPECT_TRUE(conv.Bitmap().isNull());
  ASSERT_TRUE(FrameToBitmap(conv, f.get())); // usable again after a reset
}

TEST(FrameToBitmap, RefusesPicturesItCannotRead) {
  loadLibs();
  FrameBitmapConverter conv;
  uint8_t px[16] = {};
  const uint8_t *data[4] = {px};
  const uint8_t *none[4] = {};
  const int linesize[4] = {16};
  EXPECT_FALSE(FrameToBitmap(conv, none, linesize, AV_PIX_FMT_BGR24, 4, 1));
  EXPECT_FALSE(FrameToBitmap(conv, data, linesize, AV_PIX_FMT_BGR24, 0, 1));
  EXPECT_FALSE(FrameToBitmap(conv, data, linesize, AV_PIX_FMT_BGR24, 4, -1));
  EXPECT_FALSE(FrameToBitmap(conv, data, linesize, AV_PIX_FMT_NONE, 4, 1));
  // A hardware surface has no pixels the scaler could read.
  EXPECT_FALSE(FrameToBitmap(conv, data, linesize, AV_PIX_FMT_VAAPI, 4, 2));
  EXPECT_FALSE(FrameToBitmap(conv, static_cast<const AVFrame *>(nullptr)));
}

TEST(BitmapToFrame, DrawingOnTheBitmapReachesThePicture) {
  loadLibs();
  FramePtr f = solidYUV(64, 48, 41, 240, 110); // blue
  FrameBitmapConverter conv;
  ASSERT_TRUE(FrameToBitmap(conv, f.get()));
  QImage &bmp = conv.Bitmap();
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 64; ++x) bmp.setPixel(x, y, qRgb(255, 255, 255));
  ASSERT_TRUE(BitmapToFrame(conv, bmp, f.get()));
  EXPECT_NEAR(f->data[0][2 * f->linesize[0] + 2], 235, 3);  // white luma on top
  EXPECT_NEAR(f->data[0][40 * f->linesize[0] + 2], 41, 3);  // still blue below

  QImage wrong(32, 48, QImage::Format_BGR888);
  EXPECT_FALSE(BitmapToFrame(conv, wrong, f.get()));
  EXPECT_FALSE(BitmapToFrame(conv, bmp.convertToFormat(QImage::Format_RGB32), f.get()));
}
