// Checks the effect and watermark flags and the render verb on real picture files.
// The rendering itself is checked in the renderer's own tests.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "frames.h"
#include "render/render_flags.h"

namespace cli {
int RunRender(int argc, char **argv);
}

namespace {

// Runs a command line given as strings; argv[0] is the verb's name.
struct Args {
  std::vector<std::string> words;
  std::vector<char *> argv;
  explicit Args(std::vector<std::string> w) : words(std::move(w)) {
    for (auto &s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
  int argc() const { return int(words.size()); }
};

struct FlagCase {
  std::vector<std::string> args;
  std::function<bool(const TlvFilesRecord &)> check;
};

TEST(RenderFlags, EachFlagSetsItsField) {
  const FlagCase cases[] = {
      {{"--brightness", "0"}, [](auto &r) { return r.Brightness == 0; }},
      {{"--contrast", "-100"}, [](auto &r) { return r.Contrast == -100; }},
      {{"--saturation", "512"}, [](auto &r) { return r.Saturation == 512; }},
      {{"--exposure", "-255"}, [](auto &r) { return r.Exposure == -255; }},
      {{"--text", "Hello, world"}, [](auto &r) { return r.MarkText == "Hello, world"; }},
      {{"--text-at", "-3,40"}, [](auto &r) { return r.MarkTextX == -3 && r.MarkTextY == 40; }},
      {{"--font", "DejaVu Serif"}, [](auto &r) { return r.MarkFont.Name == "DejaVu Serif"; }},
      {{"--font-size", "70"}, [](auto &r) { return r.MarkFont.Size == 70; }},
      {{"--font-color", "#4080c0"}, [](auto &r) { return r.MarkFont.Color == 0x4080C0u; }},
      {{"--bold", "--italic", "--underline", "--strikeout"},
       [](auto &r) {
         return r.MarkFont.Bold && r.MarkFont.Italic && r.MarkFont.Underline &&
                r.MarkFont.StrikeOut;
       }},
      {{"--image", "a b.bmp"}, [](auto &r) { return r.MarkImageFile == "a b.bmp"; }},
      {{"--image-at", "5,6"}, [](auto &r) { return r.MarkImageX == 5 && r.MarkImageY == 6; }},
      {{"--image-alpha", "255"}, [](auto &r) { return r.MarkImageAlpha == 255; }},
      {{"--image-style", "2"}, [](auto &r) { return r.MarkImageStyle == 2; }},
      {{"--process-text", "--process-image"},
       [](auto &r) { return r.ProcessText && r.ProcessImage; }},
  };
  for (const auto &c : cases) {
    Args a(c.args);
    TlvFilesRecord rec;
    std::string error;
    for (int i = 0; i < a.argc();)
      ASSERT_EQ(ConsumeRenderFlag(a.argc(), a.argv.data(), i, rec, error),
                TFlagResult::Consumed)
          << c.args[0] << ": " << error;
    EXPECT_TRUE(c.check(rec)) << c.args[0];
  }
}

TEST(RenderFlags, BadValuesAreRefusedWithTheReason) {
  const struct {
    std::vector<std::string> args;
    const char *reason;
  } cases[] = {
      {{"--brightness", "513"}, "outside 0..512"},
      {{"--contrast", "-101"}, "outside -100..100"},
      {{"--saturation", "12x"}, "not a whole number"},
      {{"--exposure", ""}, "not a whole number"},
      {{"--image-alpha", "256"}, "outside 0..255"},
      {{"--image-style", "3"}, "outside 1..2"},
      {{"--font-size", "0"}, "outside 1..500"},
      {{"--font-color", "red"}, "not a colour #RRGGBB"},
      {{"--font-color", "#12345"}, "not a colour #RRGGBB"},
      {{"--text-at", "10"}, "not a position X,Y"},
      {{"--image-at", "1,2,3"}, "not a position X,Y"},
      {{"--text"}, "needs a value TEXT"},
  };
  for (const auto &c : cases) {
    Args a(c.args);
    TlvFilesRecord rec;
    std::string error;
    int i = 0;
    EXPECT_EQ(ConsumeRenderFlag(a.argc(), a.argv.data(), i, rec, error), TFlagResult::Error)
        << c.args[0];
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.rfind(c.args[0], 0), 0u) << "names the flag: " << error;
  }
}

TEST(RenderFlags, OtherArgumentsAreLeftToTheCaller) {
  Args a({"--vcodec", "mpeg4", "in.avi"});
  TlvFilesRecord rec;
  std::string error;
  int i = 0;
  EXPECT_EQ(ConsumeRenderFlag(a.argc(), a.argv.data(), i, rec, error), TFlagResult::NotRenderFlag);
  EXPECT_EQ(i, 0);
}

class RenderVerb : public ::testing::Test {
protected:
  QTemporaryDir dir;
  std::string path(const char *name) { return dir.filePath(name).toStdString(); }
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    Args a(std::move(args));
    return cli::RunRender(a.argc(), a.argv.data());
  }
};

TEST_F(RenderVerb, RendersAPictureIntoBmpOrPng) {
  const std::string in = path("in.bmp");
  ASSERT_TRUE(Frame(64, 32, {100, 100, 100}).save(QString::fromStdString(in), "BMP"));
  const std::string mark = path("mark.bmp");
  ASSERT_TRUE(Frame(8, 8, {0, 0, 0}).save(QString::fromStdString(mark), "BMP"));

  for (const char *name : {"out.png", "out.BMP"}) {
    const std::string out = path(name);
    ASSERT_EQ(run({in, out, "--brightness", "512", "--saturation", "256", "--image", mark,
                   "--image-at", "60,30", "--image-style", "2", "--text", "Hi", "--text-at",
                   "2,2", "--font-color", "#FF0000", "--font-size", "16", "--bold"}),
              0)
        << name;
    QImage got(QString::fromStdString(out));
    ASSERT_FALSE(got.isNull()) << name;
    got.convertTo(QImage::Format_BGR888);
    EXPECT_EQ(got.size(), QSize(64, 32));
    EXPECT_EQ(PixelAt(got, 40, 20), (Bgr{199, 199, 199})) << name << ": brightness 512";
    EXPECT_EQ(PixelAt(got, 61, 31), (Bgr{0, 0, 0})) << name << ": image cut at the corner";
    bool red = false;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) red |= PixelAt(got, x, y) == Bgr{0, 0, 255};
    EXPECT_TRUE(red) << name << ": text drawn";
  }
}

TEST_F(RenderVerb, ReportsFailuresAndUsageErrors) {
  const std::string in = path("in.png");
  ASSERT_TRUE(Frame(4, 4, {1, 2, 3}).save(QString::fromStdString(in), "PNG"));
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{in, path("o.png")}, 0},
      {{in}, 2},
      {{in, path("o.jpg")}, 2},
      {{in, path("o.png"), "extra"}, 2},
      {{in, path("o.png"), "--frobnicate"}, 2},
      {{in, path("o.png"), "--contrast", "500"}, 2},
      {{path("nothing.png"), path("o.png")}, 1},
      {{in, path("o.png"), "--image", path("nothing.bmp")}, 1},
      {{in, path("no/such/folder/o.png")}, 1},
  };
  for (const auto &c : cases) {
    const int status = run(c.args);
    EXPECT_EQ(status, c.status) << c.args.back();
  }
  EXPECT_EQ(run({"--help"}), 0);
}

} // namespace
