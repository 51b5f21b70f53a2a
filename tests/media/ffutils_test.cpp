// The shared texts and look-ups: error, time, size, stream-type and codec texts,
// metadata values, file sizes and the date-time of a Unix time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "media/ffapi.h"
#include "media/ffowners.h"
#include "media/ffutils.h"
#include "media/loader.h"

namespace fs = std::filesystem;

namespace {

void loadLibs() { ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError(); }


} // namespace

TEST(ErrorText, NamesTheFileAndTheCause) {
  struct Case {
    int code;
    const char *text;
  } cases[] = {
      {AVERROR(ENOENT), "in.avi: No such file or directory"},
      {AVERROR(EIO), "in.avi: I/O error"},
      {AVERROR(ENOMEM), "in.avi: Not enough memory"},
      {AVERROR_INVALIDDATA, "in.avi: Invalid data found when processing input"},
      {AVERROR(EINVAL), "in.avi: Invalid data found when processing input"},
      {AVERROR_EOF, "in.avi: End of file"},
      {AVERROR(EDOM), "in.avi: Number syntax expected in filename"},
      {AVERROR_DEMUXER_NOT_FOUND, "in.avi: Unknown format"},
      {AVERROR_PROTOCOL_NOT_FOUND, "in.avi: Unsupported network protocol"},
      {-1163346256, "in.avi: Not yet implemented in FFmpeg"},
      {-1, "in.avi: Error number -1 occurred"},
      {0, "in.avi: Error number 0 occurred"},
  };
  for (const auto &c : cases) EXPECT_EQ(ErrorText("in.avi", c.code), c.text) << c.code;
}

TEST(FormatTexts, TimesSizesAndStreamTypes) {
  EXPECT_EQ(FormatMediaTime(3723004000LL), "01:02:03.004");
  EXPECT_EQ(FormatMediaTime(0), "00:00:00.000");
  EXPECT_EQ(FormatMediaTime(999), "00:00:00.000");
  EXPECT_EQ(FormatMediaTime(360000000000LL), "100:00:00.000"); // hours not wrapped
  EXPECT_EQ(FormatMediaTime(AV_NOPTS_VALUE), "N/A");
  EXPECT_EQ(FormatPlayTime(3723004000LL), "01:02:03.004");
  EXPECT_EQ(FormatSeconds(12345678), "12.345");
  EXPECT_EQ(FormatClock(3723), "1:02:03");
  EXPECT_EQ(FormatClock(59), "0:00:59");

  struct Size {
    int64_t n;
    const char *text;
  } sizes[] = {{0, "0 Byte"},           {-1, "-1 Byte"},          {1024, "1024 Byte"},
               {1025, "1.00 KB"},        {1048576, "1024.00 KB"},  {1048577, "1.00 MB"},
               {1073741825, "1.00 GB"},  {5LL << 40, "5120.00 GB"}};
  for (const auto &s : sizes) EXPECT_EQ(FormatFileSize(s.n), s.text) << s.n;

  const char *types[] = {"Unknown", "Video", "Audio", "Data", "Subtitle", "Attachment", "Unknown"};
  for (int t = -1; t <= 5; ++t) EXPECT_EQ(StreamTypeName(t), types[t + 1]) << t;
}

TEST(CodecDescription, NamesCodersAndFallsBackToIdOrTag) {
  loadLibs();
  struct Case {
    AVCodecID id;
    unsigned tag;
    bool encoder;
    const char *text;
  } cases[] = {
      {AV_CODEC_ID_MPEG4, 0, true, "mpeg4(MPEG-4 part 2)"},
      {AV_CODEC_ID_MP2, 0, false, "mp2(MP2 (MPEG audio layer 2))"},
      {AV_CODEC_ID_MPEG2TS, 0, false, "mpeg2ts"},
      {AV_CODEC_ID_VP6, 0, true, "vp6"}, // known to the library, but no encoder
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), false, "XVID / 0x44495658"},
      {AV_CODEC_ID_NONE, 0x01, false, "0x0001"},
  };
  for (const auto &c : cases) {
    AVCodecParameters par{};
    par.codec_id = c.id;
    par.codec_tag = c.tag;
    EXPECT_EQ(CodecDescription(&par, c.encoder), c.text) << c.id;

    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> ctx(
        ff.avcodec_alloc_context3(nullptr), [](AVCodecContext *p) { ff.avcodec_free_context(&p); });
    ctx->codec_id = c.id;
    ctx->codec_tag = c.tag;
    EXPECT_EQ(CodecDescription(ctx.get(), c.encoder), c.text) << c.id;
  }
}

TEST(MetadataValue, MatchesTheWholeKeyInAnyCase) {
  loadLibs();
  AVDictionary *raw = nullptr;
  ff.av_dict_set(&raw, "Title", "Intro", 0);
  ff.av_dict_set(&raw, "artist", "", 0);
  TDictPtr m(raw);
  EXPECT_EQ(MetadataValue(m.get(), "Title", "-"), "Intro");
  EXPECT_EQ(MetadataValue(m.get(), "TITLE", "-"), "Intro");
  EXPECT_EQ(MetadataValue(m.get(), "Tit", "-"), "-"); // no prefix matches
  EXPECT_EQ(MetadataValue(m.get(), "Titles", "-"), "-");
  EXPECT_EQ(MetadataValue(m.get(), "artist", "-"), "");
  EXPECT_EQ(MetadataValue(m.get(), "album", "none"), "none");
  EXPECT_EQ(MetadataValue(nullptr, "Title", "none"), "none");
}

TEST(FileSizeByName, SizesOnlyRegularFiles) {
  const fs::path dir = fs::temp_directory_path() / ("marlo-size-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "five.bin") << "12345";
  std::ofstream(dir / "empty.bin");
  EXPECT_EQ(FileSizeByName((dir / "five.bin").string()), 5);
  EXPECT_EQ(FileSizeByName((dir / "empty.bin").string()), 0);
  EXPECT_EQ(FileSizeByName(dir.string()), -1);
  EXPECT_EQ(FileSizeByName((dir / "missing.bin").string()), -1);
  EXPECT_EQ(FileSizeByName(""), -1);
  fs::remove_all(dir);
}

TEST(UnixTimeToLocal, AddsTheStandardZoneOffsetOnly) {
  setenv("TZ", "UTC", 1);
  EXPECT_DOUBLE_EQ(UnixTimeToLocal(0), 25569.0);
  EXPECT_DOUBLE_EQ(UnixTimeToLocal(86400 + 43200), 25570.5);
  // New York is five hours behind UTC in winter and four in summer; only the
  // standard five apply, also on a summer date (2020-07-01 00:00 UTC).
  setenv("TZ", "EST5EDT", 1);
  EXPECT_DOUBLE_EQ(UnixTimeToLocal(0), 25569.0 - 5.0 / 24.0);
  EXPECT_DOUBLE_EQ(UnixTimeToLocal(1593561600), 1593561600 / 86400.0 + 25569.0 - 5.0 / 24.0);
  unsetenv("TZ");
  tzset();
}
