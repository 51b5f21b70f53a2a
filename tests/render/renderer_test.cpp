// Checks the whole frame renderer: skipping, the four step orders, the image file's errors and
// cache, and the dialog form's positions. The single steps are checked in their own tests.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <thread>
#include <atomic>

#include "frames.h"
#include "render/renderer.h"

namespace {

QImage noise(int w, int h) {
  std::mt19937 rng(11);
  QImage f(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) f.scanLine(y)[x] = uint8_t(rng());
  return f;
}

class RendererTest : public ::testing::Test {
protected:
  QTemporaryDir dir;

  std::string bitmap(const char *name, int w, int h, Bgr fill) {
    const std::string path = dir.filePath(name).toStdString();
    EXPECT_TRUE(Frame(w, h, fill).save(QString::fromStdString(path), "BMP"));
    return path;
  }
};

TEST_F(RendererTest, NoChangeValuesLeaveEveryByte) {
  const TlvFilesRecord rec;
  EXPECT_FALSE(RenderActive(rec));
  const QImage before = noise(31, 7);
  QImage f = before.copy();
  RenderFrame(f, rec);
  EXPECT_EQ(f, before);
}

TEST_F(RendererTest, EmptyFramesAreLeftAloneAndOtherFormatsRefused) {
  EnsureGui();
  TlvFilesRecord rec;
  rec.Brightness = 300;
  rec.Exposure = 50;
  rec.MarkText = "x";
  rec.MarkImageFile = bitmap("mark.bmp", 2, 2, {0, 0, 0});
  const struct {
    const char *what;
    std::function<void(QImage &)> step;
  } steps[] = {
      {"colour", [](QImage &f) { ColorStep(f, 300, 10, 300); }},
      {"exposure", [](QImage &f) { ExposureStep(f, 10); }},
      {"text", [&](QImage &f) { TextStep(f, "x", rec.MarkFont, 0, 0); }},
      {"blend", [](QImage &f) { ImageBlend(f, Frame(2, 2, {0, 0, 0}), 0, 0, 100, 1); }},
      {"crop frame", [&](QImage &f) { DrawCropFrame(f, rec, TCropFrameStyle::Exact); }},
      {"record form", [&](QImage &f) { RenderFrame(f, rec); }},
  };
  for (const auto &s : steps) {
    QImage empty;
    EXPECT_NO_THROW(s.step(empty)) << s.what;
    QImage rgb32(4, 4, QImage::Format_RGB32);
    rgb32.fill(Qt::gray);
    const QImage before = rgb32.copy();
    EXPECT_THROW(s.step(rgb32), TRenderError) << s.what;
    EXPECT_EQ(rgb32, before) << s.what;
  }
}

// One scene in which every order gives a different picture: the text and the image overlap,
// and both effects are at work.
struct Scene {
  TlvFilesRecord rec;
  QImage overlay;
};

enum Step { E, T, I };

void applyStep(QImage &f, Step s, const Scene &sc) {
  const TlvFilesRecord &r = sc.rec;
  if (s == E)
    EffectsStep(f, true, r.Brightness, r.Contrast, r.Saturation, true, float(r.Exposure));
  if (s == T) TextStep(f, r.MarkText, r.MarkFont, r.MarkTextX, r.MarkTextY);
  if (s == I) ImageBlend(f, sc.overlay, r.MarkImageX, r.MarkImageY, r.MarkImageAlpha,
                         r.MarkImageStyle);
}

TEST_F(RendererTest, ProcessFlagsChooseTheOrderOfSteps) {
  EnsureGui();
  Scene sc;
  sc.rec.Brightness = 300;
  sc.rec.Contrast = 20;
  sc.rec.Saturation = 200;
  sc.rec.Exposure = 100;
  sc.rec.MarkText = "WWW";
  sc.rec.MarkFont.Size = 20;
  sc.rec.MarkFont.Color = 0x404040;
  sc.rec.MarkTextX = 5;
  sc.rec.MarkTextY = 5;
  sc.rec.MarkImageFile = bitmap("mark.bmp", 40, 20, {60, 128, 200});
  sc.rec.MarkImageX = 20;
  sc.rec.MarkImageY = 10;
  sc.rec.MarkImageAlpha = 180;
  sc.rec.MarkImageStyle = 1;
  sc.overlay = Frame(40, 20, {60, 128, 200});

  const struct {
    bool processText, processImage;
    std::array<Step, 3> order;
  } cases[] = {
      {true, false, {T, E, I}},
      {false, true, {I, E, T}},
      {true, true, {T, I, E}},
      {false, false, {E, T, I}},
  };
  const QImage source = noise(80, 40);
  std::vector<QImage> results;
  for (const auto &c : cases) {
    sc.rec.ProcessText = c.processText;
    sc.rec.ProcessImage = c.processImage;
    QImage expected = source.copy();
    for (Step s : c.order) applyStep(expected, s, sc);
    QImage f = source.copy();
    RenderFrame(f, sc.rec);
    EXPECT_EQ(f, expected) << "process text " << c.processText << ", image " << c.processImage;
    for (const QImage &other : results) EXPECT_NE(f, other) << "the scene cannot tell orders apart";
    results.push_back(f);
  }
}

TEST_F(RendererTest, ProcessedTextIsLightenedButNotTheImage) {
  EnsureGui();
  TlvFilesRecord rec;
  rec.Exposure = 100;
  rec.ProcessText = true;
  rec.MarkText = "HHH";
  rec.MarkFont.Size = 24;
  rec.MarkFont.Bold = true;
  rec.MarkFont.Color = 0x404040;
  rec.MarkImageFile = bitmap("grey.bmp", 10, 10, {128, 128, 128});
  rec.MarkImageX = 100;
  rec.MarkImageStyle = 2;
  QImage f = Frame(120, 50, {200, 200, 200});
  RenderFrame(f, rec);

  // Exposure 100 takes 64 to 125 and 200 to 238; the image multiplies the lightened frame.
  bool lightenedText = false, plainText = false;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) {
      lightenedText |= PixelAt(f, x, y) == Bgr{125, 125, 125};
      plainText |= PixelAt(f, x, y) == Bgr{64, 64, 64};
    }
  EXPECT_TRUE(lightenedText);
  EXPECT_FALSE(plainText);
  EXPECT_EQ(PixelAt(f, 105, 5), (Bgr{119, 119, 119})) << "238 * 128 / 255, not lightened after";
}

TEST_F(RendererTest, MissingOrBadImageFailsTheFrameAndLeavesItAsItWas) {
  const std::string garbage = dir.filePath("garbage.bmp").toStdString();
  std::ofstream(garbage) << "not a picture at all";
  const std::string missing = dir.filePath("missing.bmp").toStdString();
  for (const std::string &path : {missing, garbage}) {
    TlvFilesRecord rec;
    rec.Exposure = 300; // effects run first: they must not be left half done
    rec.MarkImageFile = path;
    const QImage before = noise(16, 16);
    QImage f = before.copy();
    try {
      RenderFrame(f, rec);
      ADD_FAILURE() << path << " rendered without an error";
    } catch (const TRenderError &e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(f, before) << path;
  }
}

TEST_F(RendererTest, ChangedImageFileIsReadAgain) {
  TlvFilesRecord rec;
  rec.MarkImageFile = bitmap("mark.bmp", 4, 4, {255, 255, 255});
  rec.MarkImageStyle = 2;
  QImage f = Frame(4, 4, {90, 90, 90});
  RenderFrame(f, rec);
  EXPECT_EQ(PixelAt(f, 0, 0), (Bgr{90, 90, 90}));

  // Same path, same size, only the contents and the modification time differ.
  namespace fs = std::filesystem;
  const auto stamp = fs::last_write_time(rec.MarkImageFile);
  bitmap("mark.bmp", 4, 4, {0, 0, 0});
  fs::last_write_time(rec.MarkImageFile, stamp + std::chrono::seconds(2));
  RenderFrame(f, rec);
  EXPECT_EQ(PixelAt(f, 0, 0), (Bgr{0, 0, 0}));

  fs::remove(rec.MarkImageFile);
  EXPECT_THROW(RenderFrame(f, rec), TRenderError) << "a deleted file is not served from memory";
}

TEST_F(RendererTest, ThreadsSharingPicturesEachGetTheirOwn) {
  // A conversion and a preview may render at once; more files than the cache keeps force
  // evictions while other threads read.
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i)
    files.push_back(bitmap(("m" + std::to_string(i) + ".bmp").c_str(), 8, 8, {i * 40, 0, 255}));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int n = 0; n < 40; ++n) {
        const int i = (t + n) % 6;
        TlvFilesRecord rec;
        rec.MarkImageFile = files[i];
        rec.MarkImageStyle = 2;
        QImage f = Frame(8, 8, {255, 255, 255});
        RenderFrame(f, rec);
        if (PixelAt(f, 7, 7) != Bgr{i * 40, 0, 255}) ++wrong;
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(RendererTest, DialogFormPlacesByPercentAndHandsPositionsBack) {
  EnsureGui();
  const struct {
    int w, h, horz, vert, x, y;
  } cases[] = {
      {333, 101, 50, 33, 166, 33},
      {320, 240, 0, 0, 0, 0},
      {320, 240, 100, 100, 320, 240},
      {7, 3, 99, 99, 6, 2},
  };
  const std::string mark = bitmap("dot.bmp", 1, 1, {0, 0, 0});
  for (const auto &c : cases) {
    TWaterMarkParams p;
    p.Text = "x";
    p.TextHorzPct = c.horz;
    p.TextVertPct = c.vert;
    p.ImageFile = mark;
    p.ImageHorzPct = c.horz;
    p.ImageVertPct = c.vert;
    p.ImageStyle = 2;
    QImage f = Frame(c.w, c.h, {200, 200, 200});
    RenderFrame(f, p);
    EXPECT_EQ((std::array{p.LastTextX, p.LastTextY, p.LastImageX, p.LastImageY}),
              (std::array{c.x, c.y, c.x, c.y}))
        << c.w << "x" << c.h << " at " << c.horz << "%," << c.vert << "%";
    if (c.x < c.w && c.y < c.h) {
      EXPECT_EQ(PixelAt(f, c.x, c.y), (Bgr{0, 0, 0}));
    }
  }
}

TEST_F(RendererTest, DialogFormWithoutImageSkipsTheBlendButNotThePosition) {
  TWaterMarkParams p;
  p.ImageHorzPct = 50;
  p.ImageAlpha = 255;
  p.LastImageX = 17;
  p.Brightness = 255;
  p.Saturation = 255;
  const QImage before = noise(20, 10);
  QImage f = before.copy();
  RenderFrame(f, p);
  EXPECT_EQ(f, before);
  EXPECT_EQ(p.LastImageX, 10) << "the position is handed back all the same";

  p.ImageFile = dir.filePath("missing.bmp").toStdString();
  p.ImageHorzPct = 100;
  EXPECT_THROW(RenderFrame(f, p), TRenderError);
  EXPECT_EQ(p.LastImageX, 10) << "a failed frame hands back nothing";
}

} // namespace
