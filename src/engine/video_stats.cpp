// The video statistics file ("vstats", "vstats_file"): one line per encoded picture with
// its quality, PSNR, sizes and bit rates. Not the progress report or two-pass logs.
#include "engine/video_stats.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <cmath>

double Psnr(double errorSum, int width, int height) {
  return -10.0 * std::log10(errorSum / (double(width) * height * 255.0 * 255.0));
}

void WriteVideoStats(TTranscodeState &s, TOutputStream &ost, const AVPacket *pkt) {
  const TOptionState &o = s.Engine.Options();
  if (o.VStatsFileName.empty() || pkt->size <= 0) return;
  if (!s.VStatsFile) {
    s.VStatsFile.reset(fopen(o.VStatsFileName.c_str(), "w"));
    if (!s.VStatsFile) Fail("fopen fail: " + o.VStatsFileName);
  }
  const AVCodecContext *enc = ost.Enc.get();
  // The encoder's side data: quality (32 bits), picture type, error count, then errors.
  size_t size = 0;
  const uint8_t *q = ff.av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
  int quality = q && size >= 4 ? int(AV_RL32(q)) : 0;
  auto type = q && size >= 5 ? AVPictureType(q[4]) : AV_PICTURE_TYPE_NONE;
  if (type == AV_PICTURE_TYPE_NONE) type = (pkt->flags & AV_PKT_FLAG_KEY) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_P;
  FILE *f = s.VStatsFile.get();
  fprintf(f, "frame= %5d q= %2.1f ", int(ost.FramesWritten + 1), quality / double(kQp2Lambda));
  if ((enc->flags & AV_CODEC_FLAG_PSNR) && q && size >= 14 && q[5] > 0)
    fprintf(f, "PSNR= %6.2f ", Psnr(double(AV_RL64(q + 8)), enc->width, enc->height));
  fprintf(f, "f_size= %6d ", pkt->size);
  double time = std::max(0.01, double(ost.FrameNumber) * av_q2d(enc->time_base));
  double br = pkt->size * 8 / av_q2d(enc->time_base) / 1000.0;
  double avg = double(s.VideoSize) * 8 / time / 1000.0;
  fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", s.VideoSize / 1024.0, time, br,
          avg);
  fprintf(f, "type= %c\n", ff.av_get_picture_type_char(type));
}
