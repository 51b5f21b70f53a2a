// Checks that the text watermark is drawn where, how and in what colour it is asked for.
// Glyph shapes are the platform's and are not compared.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QRect>
#include <thread>

#include "frames.h"
#include "render/render_error.h"
#include "render/text_mark.h"

namespace {

const Bgr paper{255, 255, 255};

QRect ink(const QImage &f) {
  QRect r;
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x)
      if (PixelAt(f, x, y) != paper) r |= QRect(x, y, 1, 1);
  return r;
}

// The longest unbroken horizontal run of ink in any row.
int longestRun(const QImage &f) {
  int best = 0;
  for (int y = 0; y < f.height(); ++y) {
    int run = 0;
    for (int x = 0; x < f.width(); ++x) {
      run = PixelAt(f, x, y) != paper ? run + 1 : 0;
      best = std::max(best, run);
    }
  }
  return best;
}

QImage drawn(const TMarkFont &font, int x, int y, const char *text = "Hg") {
  QImage f = Frame(240, 90, paper);
  TextStep(f, text, font, x, y);
  return f;
}

TMarkFont sized(int size) {
  TMarkFont f;
  f.Size = size;
  return f;
}

struct StyleCase {
  const char *what;
  bool TMarkFont::*style;
  bool fullWidthLine; // draws a line across the whole text
};

const StyleCase styleCases[] = {
    {"plain", nullptr, false},
    {"bold", &TMarkFont::Bold, false},
    {"italic", &TMarkFont::Italic, false},
    {"underline", &TMarkFont::Underline, true},
    {"strike-out", &TMarkFont::StrikeOut, true},
};

TEST(TextStep, EachStyleIsDrawnAtItsTopLeftCorner) {
  EnsureGui();
  const QImage plain = drawn(sized(20), 30, 20);
  for (const auto &c : styleCases) {
    TMarkFont font = sized(20);
    if (c.style) font.*(c.style) = true;
    const QImage here = drawn(font, 30, 20);
    const QRect box = ink(here);
    ASSERT_FALSE(box.isEmpty()) << c.what << " drew nothing";
    // The top of the line is the given corner; glyphs start a little inside it.
    EXPECT_GE(box.left(), 28) << c.what;
    EXPECT_LE(box.left(), 36) << c.what;
    EXPECT_GE(box.top(), 20) << c.what;
    EXPECT_LE(box.top(), 30) << c.what;

    const QRect moved = ink(drawn(font, 100, 50));
    EXPECT_EQ(moved.topLeft() - box.topLeft(), QPoint(70, 30)) << c.what;

    if (c.style) {
      EXPECT_NE(here, plain) << c.what << " looks plain";
    }
    if (c.fullWidthLine)
      EXPECT_GE(longestRun(here), box.width() * 9 / 10) << c.what << " has no line across";
    else
      EXPECT_LT(longestRun(here), box.width() * 9 / 10) << c.what;
  }
}

TEST(TextStep, UsesTheFontColourWithoutBackground) {
  EnsureGui();
  TMarkFont font = sized(24);
  font.Bold = true;
  font.Color = 0x4080C0; // red 0x40, green 0x80, blue 0xC0
  QImage f = Frame(240, 90, {10, 20, 30});
  TextStep(f, "HHH", font, 10, 10);
  int solid = 0, other = 0;
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      const Bgr p = PixelAt(f, x, y);
      if (p == Bgr{0xC0, 0x80, 0x40}) ++solid;
      else if (p != Bgr{10, 20, 30}) ++other;
    }
  EXPECT_GT(solid, 50) << "the strokes carry the font colour";
  // Only glyph edges are blended; a background box would change far more pixels.
  EXPECT_LT(other, solid);
  EXPECT_EQ(PixelAt(f, 230, 80), (Bgr{10, 20, 30}));
}

TEST(TextStep, SizeIsInPoints) {
  EnsureGui();
  const int small = ink(drawn(sized(8), 0, 0, "HHHH")).height();
  const int big = ink(drawn(sized(24), 0, 0, "HHHH")).height();
  EXPECT_GT(small, 3);
  EXPECT_NEAR(double(big) / small, 3.0, 0.6);
}

TEST(TextStep, MissingFontFallsBackToSansSerif) {
  EnsureGui();
  const QFont fallback = MarkQFont(TMarkFont{}); // "MS Sans Serif"
  const QString family = QFontInfo(fallback).family();
  EXPECT_TRUE(QFontDatabase::hasFamily(family)) << family.toStdString();
  TMarkFont unknown;
  unknown.Name = "No Such Font 12345";
  EXPECT_EQ(QFontInfo(MarkQFont(unknown)).family(), family);
  EXPECT_FALSE(ink(drawn(TMarkFont{}, 5, 5)).isEmpty());
}

TEST(TextStep, DrawsTheSameOnAWorkerThread) {
  // The conversion hook renders on the task's own thread.
  EnsureGui();
  TMarkFont font = sized(16);
  font.Italic = true;
  const QImage here = drawn(font, 10, 10);
  QImage there;
  std::thread worker([&] { there = drawn(font, 10, 10); });
  worker.join();
  EXPECT_EQ(there, here);
}

TEST(TextStep, EmptyTextDrawsNothing) {
  EnsureGui();
  EXPECT_TRUE(ink(drawn(sized(20), 5, 5, "")).isEmpty());
}

TEST(TextStep, WithoutAGuiApplicationFailsInsteadOfCrashing) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  QImage f = Frame(20, 20, paper);
  EXPECT_THROW(TextStep(f, "x", TMarkFont{}, 0, 0), TRenderError);
}

} // namespace
