// Progress reports, the status line, the final statistics, and the release of every
// file and stream a task opened. Not the decision when to report: the loop makes it.
#include "engine/transcode_state.h"
#include "engine/video_stats.h"
#include "media/ffutils.h"
#include "media/loader.h"
#include "media/unicode_protocol.h"

#include <cmath>
#include <cstdio>

int64_t OutputFileSize(const TOutputFile &of) {
  AVIOContext *pb = of.Ctx ? of.Ctx->pb : nullptr;
  if (!pb) return 0;
  int64_t size = ff.avio_size(pb);
  if (size < 0) size = ff.avio_seek(pb, 0, SEEK_CUR);
  return std::max<int64_t>(size, 0);
}

namespace {

// "PSNR=Y:.. U:.. V:.. *:.. " of the last coded picture, or of the whole stream in the final
// report (the encoder's running sums over every picture). The chroma planes have a quarter
// of the pixels.
std::string PsnrText(const TOutputStream &ost, bool final) {
  const AVCodecContext *enc = ost.Enc.get();
  if (!enc) return {};
  const int frames = final ? std::max(enc->frame_number, 1) : 1;
  std::string text = "PSNR=";
  double errorSum = 0, planes = 0;
  for (int j = 0; j < 3; ++j) {
    const double error = final ? double(enc->error[j]) : double(ost.LastErrors[j]);
    const double share = j == 0 ? 1.0 : 0.25;
    errorSum += error;
    planes += share;
    text += Format("%c:%2.2f ", "YUV"[j], Psnr(error / share, enc->width, enc->height * frames));
  }
  text += Format("*:%2.2f ", Psnr(errorSum / planes, enc->width, enc->height * frames));
  return text;
}

} // namespace

void PrintReport(TTranscodeState &s, int inputIndex, bool final) {
  TCustomFFmpeg &e = s.Engine;
  const TOptionState &o = e.Options();
  int64_t total = s.Outputs.empty() ? 0 : OutputFileSize(s.Outputs[0]);

  std::string text;
  bool hasVideo = false;
  int frames = -1, fps = -1;
  float quality = -1.0f;
  // Outputs that wrote nothing yet do not count; with none at all the time is the floor.
  double outputTime = 1e10;
  for (const auto &ost : s.Ost) {
    if (ost.Type == AVMEDIA_TYPE_VIDEO) {
      float q = ost.Copy ? -1.0f : ost.LastQuality / kQp2Lambda;
      if (!hasVideo) {
        // Nothing to say until a picture is in the file (encoders may hold many back).
        if (!ost.PacketsWritten) return;
        hasVideo = true;
        double t = double(ff.av_gettime_relative() - s.RunStart) / 1000000;
        frames = int(ost.PacketsWritten);
        fps = t > 1 ? int(frames / t + 0.5) : 0;
        quality = q;
        text += Format("frame=%5d fps=%3d q=%3.1f ", frames, fps, q);
        if (final) text += "L";
        if (o.QpHistogram && !ost.Copy) {
          int qp = int(lrintf(q));
          if (qp >= 0 && qp < kQpBuckets) s.QpHistogram[qp]++;
          for (int j = 0; j < 32; ++j) text += Format("%X", int(lrint(log2(s.QpHistogram[j] + 1))));
        }
        if (o.DoPsnr && !ost.Copy) text += PsnrText(ost, final);
      } else {
        text += Format("q=%2.1f ", q);
      }
    }
    if (ost.MuxEnd != AV_NOPTS_VALUE) {
      double end = ost.MuxEnd * av_q2d(ost.St->time_base);
      if (end > 0 && end < outputTime) outputTime = end;
    }
  }
  if (outputTime == 1e10) outputTime = 0;
  outputTime = std::max(outputTime, 0.01);
  double bitrate = total * 8 / outputTime / 1000.0;

  bool handler = bool(e.ProgressSlot);
  if (handler || o.Verbose > 0 || final) {
    text += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", total / 1024.0, outputTime, bitrate);
    if (s.DupFrames || s.DropFrames)
      text += Format(" dup=%lld drop=%lld", (long long)s.DupFrames, (long long)s.DropFrames);
    if (s.DupDropFlag && o.Verbose >= 0 && handler) {
      s.DupDropFlag = false;
      EngineLog(&e, llVerbose, "%s", text.c_str());
    }
    if (handler) {
      TProgressInfo info;
      info.FileIndex = inputIndex;
      info.TotalDuration = s.TotalDuration;
      info.CurrentDuration = int64_t(outputTime * 1000000);
      info.CurrentSize = total;
      info.BitRate = float(bitrate);
      info.Quality = quality;
      info.FPS = fps;
      info.FrameNumber = frames;
      e.ProgressSlot(info);
    } else if (o.Verbose >= 0) {
      EngineLog(&e, llVerbose, "%s", text.substr(0, 1023).c_str());
    }
  }
  if (final && o.Verbose >= 0) {
    int64_t raw = s.VideoSize + s.AudioSize + s.ExtraSize;
    double overhead = raw ? double(total - raw) * 100.0 / raw : 0.0;
    EngineLog(&e, llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
              s.VideoSize / 1024.0, s.AudioSize / 1024.0, s.ExtraSize / 1024.0, overhead);
  }
}

void TCustomFFmpeg::Release() {
  TTranscodeState &s = *state_;
  if (!FFLoader().LibsLoaded(ConverterLibs)) return;
  CloseEncoders(s);
  CloseDecoders(s);
  s.Ost.clear();
  s.Ist.clear();
  for (auto &of : s.Outputs) {
    CloseLibraryOutput(of.Ctx);
    ff.avformat_free_context(of.Ctx);
    of.Ctx = nullptr;
    // A file that never got a byte is no result; one with content is kept even when
    // the run failed, since it may be what the user wants to inspect.
    if (FileSizeByName(of.FileName) == 0) std::remove(of.FileName.c_str());
  }
  s.Outputs.clear();
  for (auto &in : s.Inputs) CloseLibraryInput(&in.Ctx);
  s.Inputs.clear();
  s.SubtitleBuf.clear();
  s.SubtitleBuf.shrink_to_fit();
  ResetConverter(s.HookConv);
  ResetConverter(s.PreviewConv);
  s.PreviewWindow.Free();
}
