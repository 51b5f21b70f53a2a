// The video path on real files: filter texts and the size they end at, the pixel format
// each encoder is opened with, filter errors, and frame-rate sync by dropping and
// duplicating pictures.
#include "paths_support.h"

#include <QColor>
#include <QImage>

#include "fixtures/fixtures.h"
#include "media/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>

using namespace ts;

namespace {

bool Black(const uint8_t *rgb) { return rgb[0] < 40 && rgb[1] < 40 && rgb[2] < 40; }
bool White(const uint8_t *rgb) { return rgb[0] > 200 && rgb[1] > 200 && rgb[2] > 200; }

// Two transport streams of one second joined end to end in `dir`: 320x240, then 160x120.
std::string JoinedSizes(const std::string &dir) {
  fixtures::MediaSpec big;
  big.container = "mpegts";
  big.vcodec = "mpeg2video";
  big.seconds = 1;
  fixtures::MediaSpec small = big;
  small.width = 160;
  small.height = 120;
  std::string joined = dir + "/joined.ts";
  std::ofstream out(joined, std::ios::binary);
  for (const auto &part : {fixtures::Make("big.ts", big), fixtures::Make("small.ts", small)}) {
    std::ifstream in(part, std::ios::binary);
    out << in.rdbuf();
  }
  return joined;
}

} // namespace

// Sizes and filter texts as the option builder writes them for letter-boxed and cropped
// formats; every one must come out at the padded size with black bars on top and the
// picture (white bar at the left) below them.
TEST(PathsVideo, FilterTextsEndAtThePaddedSizeWithBars) {
  struct Case {
    const char *name, *target;
    OptionList options;
    int width, height, barRows, barColumns = 0;
  };
  const Case cases[] = {
      {"letter-box into MPEG-4", "lbox.mp4", {{"vcodec", "mpeg4"}, {"s", "160x112"}, {"vf", "pad=160:120:0:4"}}, 160,
       120, 4},
      {"crop, scale and pad", "crop.avi",
       {{"vcodec", "mpeg4"}, {"vf", "crop=320:220:0:10,scale=160:110,pad=160:120:0:5"}}, 160, 120, 5},
      {"H.263 takes only its own sizes", "phone.3gp",
       {{"vcodec", "h263"}, {"acodec", "aac"}, {"s", "176x132"}, {"vf", "pad=176:144:0:6"}}, 176, 144, 6},
      {"NTSC DV", "ntsc.dv",
       {{"vcodec", "dvvideo"}, {"r", "30000/1001"}, {"s", "640x464"}, {"vf", "pad=720:480:40:8"},
        {"acodec", "pcm_s16le"}, {"ar", "48000"}},
       720, 480, 8, 40},
      {"PAL DV", "pal.dv",
       {{"vcodec", "dvvideo"}, {"r", "25"}, {"s", "720x540"}, {"vf", "pad=720:576:0:18"}, {"acodec", "pcm_s16le"},
        {"ar", "48000"}},
       720, 576, 18},
  };
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = dir + "/" + c.target;
    TRunResult r = Convert(fixtures::Path("av.avi"), {}, out, c.options);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary sum = Inspect(out);
    const StreamSummary *v = sum.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Width, c.width);
    EXPECT_EQ(v->Height, c.height);
    EXPECT_GE(v->Packets, 45);
    paths::Picture p = paths::FirstPicture(out);
    ASSERT_EQ(p.Width, c.width);
    int x = c.barColumns + 5; // inside the white bar, right of any side bar
    EXPECT_TRUE(Black(p.At(x, 0))) << "no bar above the picture";
    if (c.barColumns) {
      EXPECT_TRUE(Black(p.At(c.barColumns / 2, c.height / 2))) << "no bar left of the picture";
    }
    EXPECT_TRUE(White(p.At(x, c.barRows + 8))) << "the picture is not below the bar";
  }
}

// Encoders that list more formats than they take at the given size or compliance level.
TEST(PathsVideo, EncodersGetAFormatTheyAccept) {
  struct Case {
    const char *target;
    OptionList options;
    AVPixelFormat format;
  };
  const Case cases[] = {
      {"wii.avi", {{"vcodec", "mjpeg"}, {"acodec", "pcm_s16le"}}, AV_PIX_FMT_YUVJ420P},
      {"wii.mov", {{"vcodec", "mjpeg"}, {"acodec", "pcm_s16le"}, {"s", "640x480"}}, AV_PIX_FMT_YUVJ420P},
      {"ntsc.dv", {{"vcodec", "dvvideo"}, {"s", "720x480"}, {"r", "30000/1001"}, {"an", "1"}}, AV_PIX_FMT_YUV411P},
      {"pal.dv", {{"vcodec", "dvvideo"}, {"s", "720x576"}, {"r", "25"}, {"an", "1"}}, AV_PIX_FMT_YUV420P},
  };
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.target);
    std::string out = dir + "/" + c.target;
    TRunResult r = Convert(fixtures::Path("av.mp4"), {}, out, c.options);
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    EXPECT_EQ(paths::FirstPicture(out).CodedFormat, c.format);
  }
}

TEST(PathsVideo, BrokenFilterTextsFailTheSetUp) {
  const char *texts[] = {"nosuchfilter", "crop=9999:9999", "scale=160:120[x];[y]null"};
  std::string dir = TempDir();
  for (const char *text : texts) {
    SCOPED_TRACE(text);
    TRunResult r = Convert(fixtures::Path("av.avi"), {}, dir + "/out.avi", {{"vcodec", "mpeg4"}, {"vf", text}});
    EXPECT_TRUE(r.Failed);
    EXPECT_EQ(r.ErrorMessage.rfind("Error opening filters", 0), 0u) << r.ErrorMessage;
  }
}

// 25 fps to 25 neither drops nor duplicates; to 30 one picture in five is doubled; 30 fps
// to 25 drops one in six. Each drop or duplicate is logged at high verbosity.
TEST(PathsVideo, FrameRateSyncDropsAndDuplicates) {
  fixtures::MediaSpec thirty;
  thirty.container = "matroska";
  thirty.vcodec = "mpeg4";
  thirty.fps = {30, 1};
  const std::string src30 = fixtures::Make("v30.mkv", thirty);
  struct Case {
    const char *name;
    std::string source, rate;
    int dups, drops, pictures;
  };
  const Case cases[] = {
      {"25 to 25", fixtures::Path("av.mkv"), "25", 0, 0, 50},
      {"25 to 30", fixtures::Path("av.mkv"), "30", 10, 0, 60},
      {"30 to 25", src30, "25", 0, 10, 50},
  };
  std::string dir = TempDir();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    std::string out = dir + "/sync.avi";
    TRunResult r = Convert(c.source, {}, out, {{"vcodec", "mpeg4"}, {"an", "1"}, {"r", c.rate}, {"vsync", "1"}, {"v", "3"}});
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    std::string text = log.Text();
    int dups = paths::CountLines(text, "*** 1 dup!"), drops = paths::CountLines(text, "*** drop!");
    EXPECT_EQ(paths::CountLines(text, "dup!"), dups) << "only single duplicates expected";
    EXPECT_NEAR(dups, c.dups, 1);
    EXPECT_NEAR(drops, c.drops, 1);
    const FileSummary summary = Inspect(out); // owns what First points into
    const StreamSummary *v = summary.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(v, nullptr);
    EXPECT_NEAR(v->Packets, c.pictures, 2);
  }
}

// The deinterlacer looks one picture ahead; none may be lost at the start or the end.
TEST(PathsVideo, DeinterlacingKeepsEveryPicture) {
  std::string out = TempDir() + "/deint.mkv";
  TRunResult r = Convert(fixtures::Path("av.mkv"), {}, out, {{"vcodec", "mpeg4"}, {"an", "1"}, {"deinterlace", "1"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  const FileSummary summary = Inspect(out); // owns what First points into
  const StreamSummary *v = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Packets, 50);
  EXPECT_NEAR(v->FirstPts, 0.0, 0.001);
  EXPECT_NEAR(v->End, 2.0, 0.041);
  EXPECT_TRUE(White(paths::FirstPicture(out).At(10, 10)));
}

// What the hook draws is what gets encoded, unless it says not to or raises: then the
// picture goes on as decoded.
TEST(PathsVideo, TheHooksDrawingReachesTheOutputUnlessItDeclinesOrRaises) {
  struct Case {
    const char *name;
    bool keep;  // the handler sets Update to False
    bool raise; // the handler raises after drawing
    bool red;   // expected at the drawn place in the output's first picture
  } cases[] = {
      {"drawn", false, false, true},
      {"Update False", true, false, false},
      {"raised", false, true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TCustomFFmpeg engine;
    Prepare(engine);
    const std::string out = TempDir() + "/hooked.avi";
    ASSERT_EQ(Open(engine, fixtures::Path("av.mkv"), {}, out, {{"vcodec", "mpeg4"}, {"qscale", "2"}}), "");
    engine.HookSlot = [&](THookInfo &info) {
      for (int y = 8; y < 40; ++y)
        for (int x = 8; x < 40; ++x) info.Bitmap->setPixelColor(x, y, QColor(255, 0, 0));
      if (c.keep) info.Update = false;
      if (c.raise) throw std::runtime_error("hook trouble");
    };
    TRunResult r = engine.Run();
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    const paths::Picture first = paths::FirstPicture(out);
    ASSERT_GT(first.Width, 40);
    const uint8_t *px = first.At(24, 24); // in the white bar of the source
    if (c.red) {
      EXPECT_TRUE(px[0] > 200 && px[1] < 60 && px[2] < 60) << int(px[0]) << "," << int(px[1]) << "," << int(px[2]);
    } else {
      EXPECT_TRUE(White(px)) << int(px[0]) << "," << int(px[1]) << "," << int(px[2]);
    }
  }
}

// A hook that only looks at the bitmap leaves the pictures exactly as they were: the file is
// the one made without a hook, byte for byte.
TEST(PathsVideo, AHookThatOnlyLooksChangesNothing) {
  const std::string dir = TempDir();
  auto convert = [&](const std::string &name, bool hooked) {
    TCustomFFmpeg engine;
    Prepare(engine);
    const std::string out = dir + "/" + name;
    EXPECT_EQ(Open(engine, fixtures::Path("av.mkv"), {}, out, {{"vcodec", "mpeg4"}, {"an", "1"}}), "");
    int looked = 0;
    if (hooked)
      engine.HookSlot = [&](THookInfo &info) {
        const QImage &bitmap = *info.Bitmap;
        looked += bitmap.pixelColor(10, 10).red() > 200;
        looked += bitmap.constScanLine(0)[0] > 200;
      };
    TRunResult r = engine.Run();
    EXPECT_FALSE(r.Failed) << r.ErrorMessage;
    if (hooked) {
      EXPECT_EQ(looked, 100);
    }
    std::ifstream in(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string plain = convert("plain.avi", false), looked = convert("looked.avi", true);
  ASSERT_GT(plain.size(), 10000u);
  EXPECT_TRUE(plain == looked) << "the pictures went through the bitmap and back";
}

// Whatever the source container and codecs, the converted sound and picture end together
// and where the source ends.
TEST(PathsVideo, ConvertedStreamsEndTogether) {
  const char *sources[] = {"av.avi", "av.mp4", "av.mkv", "av.ts", "odd.avi", "surround.mkv"};
  std::string dir = TempDir();
  for (const char *name : sources) {
    SCOPED_TRACE(name);
    std::string out = dir + "/ends.mkv";
    // Stereo: the sound encoder takes no more channels.
    TRunResult r = Convert(fixtures::Path(name), {}, out, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}, {"ac", "2"}});
    ASSERT_FALSE(r.Failed) << r.ErrorMessage;
    FileSummary sum = Inspect(out);
    const StreamSummary *v = sum.First(AVMEDIA_TYPE_VIDEO), *a = sum.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    const double frame = 0.04;
    EXPECT_NEAR(v->End - v->FirstPts, 2.0, frame);
    EXPECT_NEAR(a->End - a->FirstPts, 2.0, frame);
    EXPECT_NEAR(v->End, a->End, frame);
  }
}

// The final status line: with "qphist" one hexadecimal digit per quantiser from 0 to 31 (a
// fixed quantiser fills one bucket only), with "psnr" each plane's quality and their mean.
TEST(PathsVideo, FinalStatusLineCarriesTheQuantiserHistogramAndPsnr) {
  LogCapture log;
  TRunResult r = Convert(fixtures::Path("av.mkv"), {}, TempDir() + "/out.avi",
                         {{"vcodec", "mpeg4"}, {"qscale", "4"}, {"an", "1"}, {"qphist", "1"}, {"psnr", "1"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  const std::string text = log.Text();
  const size_t at = text.find("frame=   50 fps=");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string line = text.substr(at, text.find('\n', at) - at);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(q=4\.0 L([0-9A-F]{32})PSNR=Y:([0-9.]+) U:([0-9.]+) V:([0-9.]+) \*:([0-9.]+) size=)")))
      << line;
  const std::string histogram = m[1];
  for (int bucket = 0; bucket < 32; ++bucket) {
    if (bucket == 4) {
      EXPECT_NE(histogram[bucket], '0') << histogram;
    } else {
      EXPECT_EQ(histogram[bucket], '0') << histogram;
    }
  }
  double y = std::stod(m[2]), u = std::stod(m[3]), v = std::stod(m[4]), mean = std::stod(m[5]);
  for (double plane : {y, u, v}) {
    EXPECT_GT(plane, 25.0) << line; // the generated picture is simple: good quality
    EXPECT_LT(plane, 99.0) << line;
  }
  EXPECT_GE(mean, std::min({y, u, v}) - 0.01) << line;
  EXPECT_LE(mean, std::max({y, u, v}) + 0.01) << line;
}

// One statistics line per encoded picture, with PSNR when asked for; the first is a key
// picture.
TEST(PathsVideo, StatisticsFileHasALinePerPicture) {
  std::string dir = TempDir();
  std::string stats = dir + "/vstats.log";
  TRunResult r = Convert(fixtures::Path("av.mkv"), {}, dir + "/out.avi",
                         {{"vcodec", "mpeg4"}, {"an", "1"}, {"psnr", "1"}, {"vstats_file", stats}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  std::ifstream in(stats);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 50u);
  EXPECT_EQ(lines[0].rfind("frame=     1 q= ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("type= I"), std::string::npos) << lines[0];
  for (const auto &line : lines) {
    double psnr = 0;
    size_t at = line.find("PSNR= ");
    ASSERT_NE(at, std::string::npos) << line;
    psnr = std::stod(line.substr(at + 6));
    EXPECT_GT(psnr, 25.0) << line; // the generated picture is simple: good quality
    EXPECT_NE(line.find(" f_size= "), std::string::npos);
    EXPECT_NE(line.find("kbits/s avg_br= "), std::string::npos);
  }
  TRunResult bad = Convert(fixtures::Path("av.mkv"), {}, dir + "/out2.avi",
                           {{"vcodec", "mpeg4"}, {"an", "1"}, {"vstats_file", dir + "/no/such/folder/v.log"}});
  EXPECT_TRUE(bad.Failed);
  EXPECT_EQ(bad.ErrorMessage, "fopen fail: " + dir + "/no/such/folder/v.log");
}

// Two transport streams joined end to end: the picture halves its size half-way. The
// output keeps its size and the crop bands shrink with the picture, so the same part of
// the scene stays in view.
TEST(PathsVideo, ASizeChangeMidStreamKeepsTheOutputAndRescalesTheCrop) {
  std::string dir = TempDir();
  std::string joined = JoinedSizes(dir);
  LogCapture log;
  std::string out = dir + "/resized.avi";
  // The top quarter is cut: what is left is two thirds bars, one third the black strip.
  TRunResult r = Convert(joined, {}, out, {{"vcodec", "mpeg4"}, {"croptop", "60"}, {"s", "160x120"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  EXPECT_NE(log.Text().find("frame size changed to 160x90, yuv420p"), std::string::npos) << log.Text();
  const FileSummary summary = Inspect(out); // owns what First points into
  const StreamSummary *v = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Width, 160);
  EXPECT_EQ(v->Height, 120);
  EXPECT_NEAR(v->Packets, 50, 2);
  for (const paths::Picture &p : {paths::FirstPicture(out), paths::LastPicture(out)}) {
    ASSERT_EQ(p.Width, 160);
    const uint8_t *yellow = p.At(30, 120 * 6 / 10); // second bar, just above the strip
    EXPECT_TRUE(yellow[0] > 200 && yellow[1] > 200 && yellow[2] < 80)
        << int(yellow[0]) << "," << int(yellow[1]) << "," << int(yellow[2]);
    EXPECT_TRUE(Black(p.At(30, 120 * 9 / 10)));
  }
}

// A frame-hook plug-in sees every decoded picture and what it paints is encoded: the test
// plug-in fills the brightness plane with its argument, so the black bar turns white.
TEST(PathsVideo, PluginsPaintEveryPicture) {
  std::string out = TempDir() + "/painted.avi";
  TRunResult r = Convert(fixtures::Path("av.mkv"), {}, out,
                         {{"vcodec", "mpeg4"}, {"an", "1"}, {"vhook", std::string(MARLO_HOOK_DIR) + "/marlo_test_hook.so 235"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  for (const paths::Picture &p : {paths::FirstPicture(out), paths::LastPicture(out)})
    EXPECT_TRUE(White(p.At(300, 10))) << "the black bar is not painted";
}

// The same joined stream through a filter text: the graph takes the new size and the
// output keeps the padded size.
TEST(PathsVideo, ASizeChangeMidStreamPassesThroughTheFilterGraph) {
  std::string dir = TempDir();
  std::string joined = JoinedSizes(dir);
  std::string out = dir + "/padded.avi";
  TRunResult r = Convert(joined, {}, out, {{"vcodec", "mpeg4"}, {"s", "160x112"}, {"vf", "pad=160:120:0:4"}});
  ASSERT_FALSE(r.Failed) << r.ErrorMessage;
  const FileSummary summary = Inspect(out); // owns what First points into
  const StreamSummary *v = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Width, 160);
  EXPECT_EQ(v->Height, 120);
  EXPECT_NEAR(v->Packets, 50, 2);
  paths::Picture last = paths::LastPicture(out);
  ASSERT_EQ(last.Width, 160);
  EXPECT_TRUE(Black(last.At(5, 0)));
  EXPECT_TRUE(White(last.At(5, 20)));
}
