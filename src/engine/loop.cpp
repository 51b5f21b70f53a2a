// The packet loop of a run: input choice, timestamp correction, decoding, stream copy,
// subtitles, writing through the filters into the muxers, and the flush at the end.
// Not how decoded sound and pictures are converted: the audio and video paths do that.
#include "engine/transcode_state.h"
#include "engine/deinterlace.h"
#include "engine/video_filter.h"
#include "engine/video_stats.h"
#include "media/ffutils.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Each call its own text, so that two can stand in one message.
std::string TypeName(AVMediaType t) { return StreamTypeName(t); }

int FrameLimit(const TOptionState &o, AVMediaType type) {
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: return o.MaxVideoFrames;
  case AVMEDIA_TYPE_AUDIO: return o.MaxAudioFrames;
  case AVMEDIA_TYPE_SUBTITLE: return o.MaxSubtitleFrames;
  default: return o.MaxDataFrames;
  }
}

int64_t OutputPosition(const TOutputFile &of) {
  return of.Ctx->pb ? ff.avio_seek(of.Ctx->pb, 0, SEEK_CUR) : 0;
}

// Volume other than 256: every sample times volume / 256, clipped.
void ScaleVolume(AVFrame *frame, int volume) {
  int planes = ff.av_sample_fmt_is_planar(AVSampleFormat(frame->format)) ? frame->ch_layout.nb_channels : 1;
  int perPlane = frame->nb_samples * (planes == 1 ? frame->ch_layout.nb_channels : 1);
  if (ff.av_frame_make_writable(frame) < 0) return;
  for (int p = 0; p < planes; ++p) {
    switch (ff.av_get_packed_sample_fmt(AVSampleFormat(frame->format))) {
    case AV_SAMPLE_FMT_S16: {
      auto *d = reinterpret_cast<int16_t *>(frame->extended_data[p]);
      for (int i = 0; i < perPlane; ++i) d[i] = int16_t(std::clamp((d[i] * volume + 128) >> 8, -32768, 32767));
      break;
    }
    case AV_SAMPLE_FMT_S32: {
      auto *d = reinterpret_cast<int32_t *>(frame->extended_data[p]);
      for (int i = 0; i < perPlane; ++i)
        d[i] = int32_t(std::clamp<int64_t>((int64_t(d[i]) * volume + 128) >> 8, INT32_MIN, INT32_MAX));
      break;
    }
    case AV_SAMPLE_FMT_U8: {
      // Unsigned bytes centre on 128.
      uint8_t *d = frame->extended_data[p];
      for (int i = 0; i < perPlane; ++i) d[i] = uint8_t(std::clamp((((d[i] - 128) * volume + 128) >> 8) + 128, 0, 255));
      break;
    }
    case AV_SAMPLE_FMT_S64: {
      auto *d = reinterpret_cast<int64_t *>(frame->extended_data[p]);
      for (int i = 0; i < perPlane; ++i)
        d[i] = int64_t(std::clamp<__int128>((__int128(d[i]) * volume + 128) >> 8, INT64_MIN, INT64_MAX));
      break;
    }
    case AV_SAMPLE_FMT_FLT: {
      auto *d = reinterpret_cast<float *>(frame->extended_data[p]);
      for (int i = 0; i < perPlane; ++i) d[i] = d[i] * volume / 256.0f;
      break;
    }
    case AV_SAMPLE_FMT_DBL: {
      auto *d = reinterpret_cast<double *>(frame->extended_data[p]);
      for (int i = 0; i < perPlane; ++i) d[i] = d[i] * volume / 256.0;
      break;
    }
    default: break;
    }
  }
}

void CopyPacket(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, const AVPacket *pkt) {
  const TOptionState &o = s.Engine.Options();
  if (!ost.FramesWritten && !(pkt->flags & AV_PKT_FLAG_KEY) && !o.CopyInitialNonKeyframes) return;
  TPacketPtr opkt(ff.av_packet_alloc());
  if (!opkt || ff.av_packet_ref(opkt.get(), pkt) < 0) Fail("av_mallocz fail");
  AVRational itb = ist.St->time_base;
  int64_t start = FromMicros(o.StartTime, ost.SrcTb);
  opkt->pts = pkt->pts != AV_NOPTS_VALUE ? ff.av_rescale_q(pkt->pts, itb, ost.SrcTb) - start : AV_NOPTS_VALUE;
  // A packet the demuxer could not date (the first pictures of a reordering stream in a
  // container that stores presentation times only) gets its decoding time from the muxer,
  // which derives it from the presentation times and the stream's reorder delay. The
  // stream's clock would be a guess that can land after the packet's own presentation time,
  // which the muxer refuses.
  if (pkt->dts != AV_NOPTS_VALUE)
    opkt->dts = ff.av_rescale_q(pkt->dts, itb, ost.SrcTb) - start;
  else if (opkt->pts == AV_NOPTS_VALUE)
    opkt->dts = FromMicros(ist.Pts, ost.SrcTb) - start;
  else
    opkt->dts = AV_NOPTS_VALUE;
  opkt->duration = ff.av_rescale_q(pkt->duration, itb, ost.SrcTb);
  if (ost.Type == AVMEDIA_TYPE_VIDEO) {
    s.VideoSize += pkt->size;
    ost.FrameNumber++;
  } else if (ost.Type == AVMEDIA_TYPE_AUDIO) {
    s.AudioSize += pkt->size;
  }
  ost.FramesWritten++;
  WritePacket(s, ost, opkt.get());
}

void EncodeSubtitle(TTranscodeState &s, TOutputStream &ost, AVSubtitle *sub, int64_t pts) {
  const TOptionState &o = s.Engine.Options();
  if (pts == AV_NOPTS_VALUE) {
    if (o.ExitOnError) Fail("Subtitle packets must have a pts");
    EngineLog(&s.Engine, llError, "Subtitle packets must have a pts");
    return;
  }
  const int kSubtitleBuffer = 1024 * 1024;
  if (s.SubtitleBuf.empty()) s.SubtitleBuf.resize(kSubtitleBuffer);
  AVCodecContext *enc = ost.Enc.get();
  int passes = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  for (int i = 0; i < passes; ++i) {
    AVSubtitle copy = *sub;
    copy.pts = pts + int64_t(sub->start_display_time) * 1000;
    copy.end_display_time -= copy.start_display_time;
    copy.start_display_time = 0;
    if (i == 1) copy.num_rects = 0; // the clearing packet
    int size = ff.avcodec_encode_subtitle(enc, reinterpret_cast<uint8_t *>(s.SubtitleBuf.data()), kSubtitleBuffer,
                                          &copy);
    if (size < 0) Fail("Subtitle encoding failed");
    TPacketPtr pkt(ff.av_packet_alloc());
    if (!pkt || ff.av_new_packet(pkt.get(), size) < 0) Fail("av_mallocz fail");
    memcpy(pkt->data, s.SubtitleBuf.data(), size);
    pkt->pts = FromMicros(copy.pts, ost.SrcTb);
    if (enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
      pkt->pts += ff.av_rescale_q(i == 0 ? sub->start_display_time : sub->end_display_time, AVRational{1, 1000},
                                  ost.SrcTb);
    pkt->dts = pkt->pts;
    pkt->duration = ff.av_rescale_q(copy.end_display_time, AVRational{1, 1000}, ost.SrcTb);
    ost.FramesWritten++;
    WritePacket(s, ost, pkt.get());
  }
}

bool StartReached(const TOptionState &o, const TInputStream &ist) { return o.StartTime == 0 || ist.Pts >= o.StartTime; }

void FlushEncoders(TTranscodeState &s, TInputStream &ist) {
  for (auto &ost : s.Ost) {
    if (&s.Ist[ost.Source] != &ist || !ost.EncodingNeeded || ost.Eof) continue;
    ost.Eof = true;
    if (ost.Type == AVMEDIA_TYPE_AUDIO)
      FlushAudio(s, ost);
    else if (ost.Type == AVMEDIA_TYPE_VIDEO) {
      FlushVideoPath(s, ost, ist);
      EncodeAndWrite(s, ost, nullptr);
    }
  }
}

// Hands decoded pictures or sound to every encoded output fed by this stream.
void Deliver(TTranscodeState &s, TInputStream &ist, AVFrame *frame) {
  const TOptionState &o = s.Engine.Options();
  if (ist.Type() == AVMEDIA_TYPE_VIDEO) {
    if (!Deinterlace(s, ist, frame)) return;
    PreProcessPicture(s, ist, frame);
  }
  if (ist.Type() == AVMEDIA_TYPE_AUDIO && o.AudioVolume != 256) ScaleVolume(frame, o.AudioVolume);
  if (o.RateEmu) {
    int64_t ahead = ist.Pts - (ff.av_gettime_relative() - ist.WallStart);
    if (ahead > 1000) std::this_thread::sleep_for(std::chrono::milliseconds(ahead / 1000));
  }
  if (!StartReached(o, ist)) return;
  for (auto &ost : s.Ost) {
    if (&s.Ist[ost.Source] != &ist || !ost.EncodingNeeded || ost.Eof) continue;
    if (ost.Type == AVMEDIA_TYPE_AUDIO)
      DoAudioOut(s, ost, ist, frame);
    else if (ost.Type == AVMEDIA_TYPE_VIDEO)
      DoVideoOut(s, ost, ist, frame);
    else
      Fail("invalid codec_type");
  }
}

// One packet of an input stream, or none (nullptr) to flush its decoder and then the
// encoders it feeds. Returns a negative code when the packet could not be decoded.
int ProcessPacket(TTranscodeState &s, TInputStream &ist, const AVPacket *pkt) {
  const TOptionState &o = s.Engine.Options();
  AVRational tb = ist.St->time_base;
  if (pkt && pkt->dts != AV_NOPTS_VALUE) ist.NextPts = ist.Pts = ToMicros(pkt->dts, tb);
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;

  if (pkt) {
    // Where nothing is decoded the stream's clock advances by the packet's length.
    if (!ist.DecodingNeeded) {
      ist.Pts = ist.NextPts;
      int64_t duration = 0;
      if (pkt->duration > 0)
        duration = ToMicros(pkt->duration, tb);
      else if (ist.Type() == AVMEDIA_TYPE_AUDIO && ist.St->codecpar->sample_rate)
        duration = int64_t(AV_TIME_BASE) * ist.St->codecpar->frame_size / ist.St->codecpar->sample_rate;
      else if (ist.Type() == AVMEDIA_TYPE_VIDEO && ist.St->avg_frame_rate.num)
        duration = llround(AV_TIME_BASE / av_q2d(ist.St->avg_frame_rate));
      ist.NextPts += duration;
    }
    if (StartReached(o, ist))
      for (auto &ost : s.Ost)
        if (ost.Copy && &s.Ist[ost.Source] == &ist) CopyPacket(s, ost, ist, pkt);
  }
  if (!ist.DecodingNeeded) return 0;

  AVCodecContext *dec = ist.Dec.get();
  if (ist.Type() == AVMEDIA_TYPE_SUBTITLE) {
    if (!pkt) return 0;
    AVSubtitle sub{};
    int got = 0;
    int err = ff.avcodec_decode_subtitle2(dec, &sub, &got, const_cast<AVPacket *>(pkt));
    if (err < 0) return err;
    if (!got) return 0;
    std::unique_ptr<AVSubtitle, void (*)(AVSubtitle *)> owner(&sub, [](AVSubtitle *p) { ff.avsubtitle_free(p); });
    int64_t pts = pkt->pts != AV_NOPTS_VALUE ? ToMicros(pkt->pts, tb) : AV_NOPTS_VALUE;
    if (StartReached(o, ist))
      for (auto &ost : s.Ost)
        if (!ost.Copy && ost.EncodingNeeded && &s.Ist[ost.Source] == &ist) EncodeSubtitle(s, ost, &sub, pts);
    return 0;
  }

  int err = ff.avcodec_send_packet(dec, pkt);
  if (err < 0 && err != AVERROR_EOF && err != AVERROR(EAGAIN)) return err;
  TFramePtr frame(ff.av_frame_alloc());
  if (!frame) Fail("av_mallocz fail");
  for (;;) {
    err = ff.avcodec_receive_frame(dec, frame.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
    if (err < 0) return err;
    int64_t best = frame->best_effort_timestamp;
    ist.Pts = best != AV_NOPTS_VALUE ? ToMicros(best, tb) : ist.NextPts;
    if (ist.Type() == AVMEDIA_TYPE_AUDIO) {
      if (frame->sample_rate) ist.NextPts = ist.Pts + int64_t(frame->nb_samples) * AV_TIME_BASE / frame->sample_rate;
    } else {
      AVRational rate = ist.St->avg_frame_rate.num ? ist.St->avg_frame_rate : ist.St->r_frame_rate;
      int64_t duration = frame->pkt_duration > 0 ? ToMicros(frame->pkt_duration, tb)
                         : rate.num             ? llround(AV_TIME_BASE / av_q2d(rate))
                                                : 0;
      ist.NextPts = ist.Pts + duration;
      ist.Quality = frame->quality;
    }
    Deliver(s, ist, frame.get());
    ff.av_frame_unref(frame.get());
  }
  if (!pkt) {
    DrainDeinterlacer(s, ist, [&](AVFrame *held) { Deliver(s, ist, held); });
    FlushEncoders(s, ist);
  }
  return 0;
}

} // namespace

void WritePacket(TTranscodeState &s, TOutputStream &ost, AVPacket *pkt) {
  const TOptionState &o = s.Engine.Options();
  AVFormatContext *oc = s.Outputs[ost.File].Ctx;
  auto mux = [&](AVPacket *p, AVRational tb) {
    p->stream_index = ost.Index;
    ff.av_packet_rescale_ts(p, tb, ost.St->time_base);
    int64_t at = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
    if (at != AV_NOPTS_VALUE) {
      int64_t end = at + std::max<int64_t>(p->duration, 0);
      if (ost.MuxEnd == AV_NOPTS_VALUE || end > ost.MuxEnd) ost.MuxEnd = end;
    }
    ost.PacketsWritten++;
    int err = ff.av_interleaved_write_frame(oc, p);
    // The muxer may only note a failed write in its I/O context: a full disk ends the run
    // at once rather than at the trailer.
    if (err >= 0 && oc->pb && oc->pb->error < 0) err = oc->pb->error;
    if (err < 0) Fail("av_interleaved_write_frame(): " + CauseText(err));
    return 0;
  };
  if (!ost.Bsf) {
    mux(pkt, ost.SrcTb);
    return;
  }
  TPacketPtr original(ff.av_packet_clone(pkt));
  int err = ost.Bsf->Filter(pkt, [&](AVPacket *p) { return mux(p, ost.Bsf->OutputTimeBase()); });
  if (err < 0) {
    std::string names;
    for (const auto &b : ost.BsfChain) names += (names.empty() ? "" : ",") + b.Name;
    std::string msg = Format("%s failed for stream %d, codec %s", names.c_str(), ost.Index,
                             ost.Copy ? "copy" : (ost.Encoder ? ost.Encoder->name : "copy")) +
                      ": " + CauseText(err);
    if (o.ExitOnError) Fail(msg);
    EngineLog(&s.Engine, llError, "%s", msg.c_str());
    if (original) mux(original.get(), ost.SrcTb);
  }
}

void EncodeAndWrite(TTranscodeState &s, TOutputStream &ost, AVFrame *frame) {
  AVCodecContext *enc = ost.Enc.get();
  const char *failure = ost.Type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed";
  int err = ff.avcodec_send_frame(enc, frame);
  if (err < 0 && err != AVERROR_EOF) Fail(failure);
  TPacketPtr pkt(ff.av_packet_alloc());
  if (!pkt) Fail("av_mallocz fail");
  for (;;) {
    err = ff.avcodec_receive_packet(enc, pkt.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
    if (err < 0) Fail(failure);
    if (ost.Type == AVMEDIA_TYPE_VIDEO) {
      s.VideoSize += pkt->size;
      size_t sideSize = 0;
      if (const uint8_t *q = ff.av_packet_get_side_data(pkt.get(), AV_PKT_DATA_QUALITY_STATS, &sideSize);
          q && sideSize >= 4) {
        ost.LastQuality = float(AV_RL32(q));
        // Then the picture type, the number of error sums, two spare bytes and the sums.
        const int errors = sideSize >= 6 ? std::min<int>(q[5], 3) : 0;
        for (int j = 0; j < errors && sideSize >= size_t(8 + 8 * (j + 1)); ++j) ost.LastErrors[j] = AV_RL64(q + 8 + 8 * j);
      }
      WriteVideoStats(s, ost, pkt.get());
    } else {
      // A decoded block may yield several frames: the limit holds exactly all the same.
      if (ost.FramesWritten >= s.Engine.Options().MaxAudioFrames) {
        ff.av_packet_unref(pkt.get());
        continue;
      }
      s.AudioSize += pkt->size;
      ost.FramesWritten++;
    }
    if (ost.PassLog && enc->stats_out) fputs(enc->stats_out, ost.PassLog.get());
    WritePacket(s, ost, pkt.get());
    ff.av_packet_unref(pkt.get());
  }
}

void TranscodeLoop(TTranscodeState &s) {
  TCustomFFmpeg &e = s.Engine;
  TOptionState &o = e.Options();
  int noPacketCount = 0;
  TPacketPtr pkt(ff.av_packet_alloc());
  if (!pkt) Fail("av_mallocz fail");

  while (!e.StopRequested) {
    e.PauseGate.Pass();
    if (e.StopRequested) break;

    // 1. the input whose streams lag most
    int fileIndex = -1;
    double iptsMin = 1e100, optsMin = 1e100;
    for (auto &ost : s.Ost) {
      TInputStream &ist = s.Ist[ost.Source];
      TInputFile &in = s.Inputs[ist.File];
      if (ist.PastRecordingTime || in.NoPacket) continue;
      double opts = ost.MuxEnd == AV_NOPTS_VALUE ? 0.0 : ost.MuxEnd * av_q2d(ost.St->time_base);
      double ipts = double(ist.Pts);
      if (!in.Eof) {
        if (ipts < iptsMin) {
          iptsMin = ipts;
          if (o.InputSync) fileIndex = ist.File;
        }
        if (opts < optsMin) {
          optsMin = opts;
          if (!o.InputSync) fileIndex = ist.File;
        }
      }
      if (ost.FramesWritten >= FrameLimit(o, ost.Type)) {
        fileIndex = -1;
        break;
      }
    }
    // 2.
    if (fileIndex < 0) {
      if (noPacketCount > 0) {
        noPacketCount = 0;
        for (auto &in : s.Inputs) in.NoPacket = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      break;
    }
    // 3.
    if (o.LimitFileSize && OutputPosition(s.Outputs[0]) > o.LimitFileSize) break;

    // 4.
    TInputFile &in = s.Inputs[fileIndex];
    int err = ff.av_read_frame(in.Ctx, pkt.get());
    if (err == AVERROR(EAGAIN)) {
      in.NoPacket = true;
      noPacketCount++;
      continue;
    }
    if (err < 0) {
      in.Eof = true;
      if (o.Shortest) break;
      continue;
    }
    // 5.
    noPacketCount = 0;
    for (auto &f : s.Inputs) f.NoPacket = false;

    // 6. streams that appeared after probing, and streams nobody takes, are dropped
    if (pkt->stream_index >= int(in.ForcedDecoders.size())) {
      ff.av_packet_unref(pkt.get());
      continue;
    }
    TInputStream &ist = s.Ist[in.FirstStream + pkt->stream_index];
    if (ist.Discard) {
      ff.av_packet_unref(pkt.get());
      continue;
    }

    // 7. offset and scale
    AVRational tb = ist.St->time_base;
    int64_t offset = FromMicros(in.TsOffset, tb);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
    if (double scale = in.TsScale[pkt->stream_index < MAX_STREAMS ? pkt->stream_index : 0];
        scale != 0 && pkt->stream_index < MAX_STREAMS) {
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = llrint(pkt->dts * scale);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = llrint(pkt->pts * scale);
    }

    // 8. discontinuities of formats that allow them
    if (pkt->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE && (in.Ctx->iformat->flags & AVFMT_TS_DISCONT) &&
        !o.CopyTs) {
      int64_t pktDts = ToMicros(pkt->dts, tb);
      int64_t delta = pktDts - ist.NextPts;
      if (std::llabs(delta) > int64_t(o.DtsDeltaThreshold * AV_TIME_BASE) || pktDts + 1 < ist.Pts) {
        in.TsOffset -= delta;
        if (o.Verbose > 2)
          EngineLog(&e, llVerbose, "timestamp discontinuity %lld, new offset= %lld", (long long)delta,
                    (long long)in.TsOffset);
        int64_t shift = FromMicros(delta, tb);
        pkt->dts -= shift;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
      }
    }

    // A jump can reach a packet's presentation time before its decoding time (a
    // reordered picture just before the jump point); a lead beyond the threshold is such
    // a jump, and the picture keeps the lead its stream had before.
    if (pkt->dts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE && (in.Ctx->iformat->flags & AVFMT_TS_DISCONT) &&
        !o.CopyTs) {
      int64_t lead = ToMicros(pkt->pts - pkt->dts, tb);
      if (lead > int64_t(o.DtsDeltaThreshold * AV_TIME_BASE))
        pkt->pts -= FromMicros(lead - ist.Reorder, tb);
      else
        ist.Reorder = std::max<int64_t>(lead, 0);
    }

    // 9. recording time
    if (o.RecordingTime != INT64_MAX && pkt->pts != AV_NOPTS_VALUE &&
        ff.av_compare_ts(pkt->pts, tb, o.RecordingTime + o.StartTime, AVRational{1, AV_TIME_BASE}) >= 0) {
      ist.PastRecordingTime = true;
      ff.av_packet_unref(pkt.get());
      continue;
    }

    // 10.
    err = ProcessPacket(s, ist, pkt.get());
    ff.av_packet_unref(pkt.get());
    if (err < 0) {
      std::string msg = Format("Error while decoding stream #%d.%d (%s)", ist.File, ist.Index, TypeName(ist.Type()).c_str());
      if (o.ExitOnError) Fail(msg);
      if (o.Verbose >= 0) EngineLog(&e, llVerbose, "%s", msg.c_str());
      continue;
    }

    // 11.
    int64_t now = ff.av_gettime_relative();
    if (now - s.LastReport > e.ProgressInterval) {
      s.LastReport = now;
      PrintReport(s, fileIndex, false);
    }
  }

  for (auto &ist : s.Ist)
    if (ist.DecodingNeeded) ProcessPacket(s, ist, nullptr);
  for (auto &of : s.Outputs) {
    if (!of.HeaderWritten) continue;
    int err = ff.av_write_trailer(of.Ctx);
    of.HeaderWritten = false;
    if (err < 0) Fail(FileErrorText(of.FileName, err));
  }
  PrintReport(s, -1, true);
  CloseEncoders(s);
  CloseDecoders(s);
  e.Finished = !e.StopRequested;
}
