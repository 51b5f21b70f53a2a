// Checks where the preview's crop outline lands for both styles, and that it is only an outline.
// The crop itself is the engine's and is not tested here.
#include <gtest/gtest.h>

#include <QRect>

#include "frames.h"
#include "render/crop_frame.h"

namespace {

const Bgr grey{90, 90, 90}, green{0, 128, 0};

QRect greenArea(const QImage &f) {
  QRect r;
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      const Bgr p = PixelAt(f, x, y);
      if (p == green) r |= QRect(x, y, 1, 1);
      else EXPECT_EQ(p, grey) << "only solid green is drawn, at " << x << "," << y;
    }
  return r;
}

TEST(DrawCropFrame, OutlinesTheMarginsExactlyOrInset) {
  TlvFilesRecord rec;
  rec.CropLeft = 5;
  rec.CropTop = 4;
  rec.CropRight = 6;
  rec.CropBottom = 3;
  const struct {
    TCropFrameStyle style;
    QPoint topLeft, bottomRight; // the corners of the outline's path
  } cases[] = {
      {TCropFrameStyle::Exact, {5, 4}, {40 - 6, 30 - 3}},
      {TCropFrameStyle::Inset, {6, 5}, {40 - 6 - 2, 30 - 3 - 2}},
  };
  for (const auto &c : cases) {
    QImage f = Frame(40, 30, grey);
    DrawCropFrame(f, rec, c.style);
    const QRect area = greenArea(f);
    // A 2-pixel pen straddles the path: one pixel either side.
    EXPECT_EQ(area.topLeft(), c.topLeft - QPoint(1, 1));
    EXPECT_EQ(area.bottomRight(), c.bottomRight);
    EXPECT_EQ(PixelAt(f, 20, 15), grey) << "the inside is not filled";
    EXPECT_EQ(PixelAt(f, c.topLeft.x() + 3, c.topLeft.y()), green) << "top edge";
    EXPECT_EQ(PixelAt(f, c.topLeft.x(), c.topLeft.y() + 3), green) << "left edge";
  }
}

} // namespace
