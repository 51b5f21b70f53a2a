// Checks the image blend's two styles and where the overlay is cut at the frame's edges.
// Reading the overlay from a file is tested with the renderer.
#include <gtest/gtest.h>

#include <QRect>

#include "frames.h"
#include "render/blend.h"

namespace {

struct StyleCase {
  const char *what;
  int style, alpha;
  Bgr frame, overlay, out;
};

const StyleCase styleCases[] = {
    {"alpha 0 keeps the frame", 1, 0, {100, 50, 0}, {200, 0, 255}, {100, 50, 0}},
    {"alpha 255 is not quite the overlay", 1, 255, {100, 50, 0}, {200, 0, 255}, {199, 0, 254}},
    {"alpha 128 halves", 1, 128, {100, 50, 0}, {200, 0, 255}, {150, 25, 127}},
    {"alpha outside its range is held at 255", 1, 999, {100, 50, 0}, {200, 0, 255}, {199, 0, 254}},
    {"multiply by white keeps the frame", 2, 0, {100, 50, 7}, {255, 255, 255}, {100, 50, 7}},
    {"multiply by black blackens", 2, 200, {100, 50, 7}, {0, 0, 0}, {0, 0, 0}},
    {"multiply by mid grey", 2, 0, {100, 255, 7}, {128, 128, 128}, {50, 128, 3}},
    {"any style but 1 multiplies", 7, 128, {100, 255, 7}, {128, 128, 128}, {50, 128, 3}},
};

TEST(ImageBlend, StylesMixEachChannel) {
  for (const auto &c : styleCases) {
    QImage f = Frame(3, 2, c.frame);
    ImageBlend(f, Frame(3, 2, c.overlay), 0, 0, c.alpha, c.style);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(f, x, y), c.out) << c.what;
  }
}

// The frame pixels a black multiply overlay blackened.
QRect blackened(const QImage &f) {
  QRect r;
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x)
      if (PixelAt(f, x, y) == Bgr{0, 0, 0}) r |= QRect(x, y, 1, 1);
  return r;
}

struct EdgeCase {
  const char *what;
  int x, y;
  QRect covered; // in the 8 x 4 frame, for a 4 x 2 overlay
};

const EdgeCase edgeCases[] = {
    {"inside", 2, 1, {2, 1, 4, 2}},
    {"touching the right edge", 4, 0, {4, 0, 4, 2}},
    {"cut at the right edge", 6, 1, {6, 1, 2, 2}},
    {"cut at the bottom edge", 0, 3, {0, 3, 4, 1}},
    {"cut at both", 7, 3, {7, 3, 1, 1}},
    {"at the frame's width", 8, 0, {}},
    {"at the frame's height", 0, 4, {}},
    {"past the corner", 20, 20, {}},
    {"cut at the left edge", -2, 0, {0, 0, 2, 2}},
    {"cut at the top edge", 1, -1, {1, 0, 4, 1}},
    {"wholly left of the frame", -4, 0, {}},
    {"wholly above the frame", 0, -2, {}},
};

TEST(ImageBlend, OverlayIsCutAtTheFrameEdges) {
  for (const auto &c : edgeCases) {
    QImage f = Frame(8, 4, {90, 90, 90});
    ImageBlend(f, Frame(4, 2, {0, 0, 0}), c.x, c.y, 0, 2);
    EXPECT_EQ(blackened(f), c.covered) << c.what;
    // Nothing outside the covered area changed, not even the next row's first pixels.
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x)
        if (!c.covered.contains(x, y)) {
          EXPECT_EQ(PixelAt(f, x, y), (Bgr{90, 90, 90})) << c.what;
        }
  }
}

TEST(ImageBlend, CutOverlayShowsTheMatchingPart) {
  // Columns 0 and 1 black, 2 and 3 white; rows likewise: a clipped blend must skip the hidden
  // columns and rows of the overlay, not draw its top-left corner.
  QImage overlay = Frame(4, 4, {255, 255, 255});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if (x < 2 || y < 2) SetPixel(overlay, x, y, {0, 0, 0});
  QImage f = Frame(4, 4, {90, 90, 90});
  ImageBlend(f, overlay, -2, -2, 0, 2);
  EXPECT_EQ(blackened(f), QRect()) << "only the white quarter lies inside the frame";

  QImage right = Frame(4, 4, {90, 90, 90});
  ImageBlend(right, overlay, 2, 2, 0, 2);
  EXPECT_EQ(blackened(right), QRect(2, 2, 2, 2)) << "the black corner lands at the position";
}

TEST(ImageBlend, OverlayOfAnotherFormatIsConverted) {
  QImage overlay(2, 2, QImage::Format_RGB32);
  overlay.fill(QColor(255, 0, 0)); // red
  QImage f = Frame(2, 2, {200, 200, 200});
  ImageBlend(f, overlay, 0, 0, 0, 2);
  EXPECT_EQ(PixelAt(f, 1, 1), (Bgr{0, 0, 200}));
}

} // namespace
