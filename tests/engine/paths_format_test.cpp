// The pixel format an encoder is opened with: the requested one when the encoder takes
// it at the size and compliance level in force, else its nearest acceptable twin.
#include "transcode_support.h"

#include "engine/video_filter.h"

#include <gtest/gtest.h>

TEST(PathsFormat, EncodersGetAPixelFormatTheyTake) {
  struct Case {
    const char *encoder;
    int width, height, strict;
    AVPixelFormat asked, taken;
  };
  const Case cases[] = {
      {"mjpeg", 320, 240, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P},
      {"mjpeg", 320, 240, 0, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUVJ422P},
      {"mjpeg", 320, 240, -1, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P}, // unofficial output allowed
      {"mjpeg", 320, 240, 0, AV_PIX_FMT_NONE, AV_PIX_FMT_YUVJ420P},
      {"dvvideo", 720, 480, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P}, // NTSC
      {"dvvideo", 720, 576, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P}, // PAL
      {"dvvideo", 720, 576, 0, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV422P}, // 50 Mbit/s
      {"dvvideo", 960, 720, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P}, // HD
      {"mpeg4", 320, 240, 0, AV_PIX_FMT_RGB24, AV_PIX_FMT_YUV420P},
      {"mpeg4", 320, 240, 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
  };
  TCustomFFmpeg engine;
  ts::Prepare(engine); // the libraries
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.encoder) + " " + std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                 (c.asked == AV_PIX_FMT_NONE ? "none" : ff.av_get_pix_fmt_name(c.asked)));
    const AVCodec *codec = ff.avcodec_find_encoder_by_name(c.encoder);
    ASSERT_NE(codec, nullptr);
    TCodecContextPtr enc(ff.avcodec_alloc_context3(codec));
    enc->width = c.width;
    enc->height = c.height;
    enc->strict_std_compliance = c.strict;
    enc->pix_fmt = c.asked;
    EXPECT_EQ(EncoderPixelFormat(codec, enc.get()), c.taken);
  }
}
