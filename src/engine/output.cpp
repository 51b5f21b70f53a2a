// Creating an output container and its streams from the current options, with the
// sample, rate and pixel format choices of a new encoder. Not opening the encoders or
// writing anything but the empty file: that happens when the task runs.
#include "engine/transcode_state.h"
#include "media/ffutils.h"
#include "media/unicode_protocol.h"

#include <ctime>

namespace {


const AVCodec *DefaultEncoderFor(AVFormatContext *oc, AVMediaType type) {
  AVCodecID id = ff.av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, type);
  return id == AV_CODEC_ID_NONE ? nullptr : ff.avcodec_find_encoder(id);
}

// The encoder of a new stream: the one named, or without a name the container's own for
// the kind, and its context with the kind's generic options applied. Without an encoder
// (none known for the format's guess) the guessed id is kept so that the set-up can name it
// in its message.
AVCodecContext *SetUpEncoder(TOptionState &o, AVFormatContext *oc, TOutputStream &ost, AVMediaType type,
                             const std::string &name, int paramFlag) {
  const AVCodec *codec = name.empty() ? DefaultEncoderFor(oc, type)
                                      : FindCodecByName(name, type, true, FF_COMPLIANCE_NORMAL);
  TCodecContextPtr enc(ff.avcodec_alloc_context3(codec));
  if (!enc) Fail("Could not alloc stream");
  enc->codec_type = type;
  enc->codec_id = codec ? codec->id : ff.av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, type);
  ost.Enc = std::move(enc);
  ost.Encoder = codec;
  CopySetGenericOptions(o.Generic, o.Generic.Codec(type), ost.Enc.get(), paramFlag | AV_OPT_FLAG_ENCODING_PARAM);
  return ost.Enc.get();
}

// "start,end,q/start,end,q...": q > 0 a quantiser, else a quality factor of -q/100.
void ApplyRcOverride(AVCodecContext *enc, const std::string &text) {
  if (text.empty()) return;
  std::vector<RcOverride> groups;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t slash = text.find('/', pos);
    std::string group = text.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    int start, end, q, used = 0;
    if (sscanf(group.c_str(), "%d,%d,%d%n", &start, &end, &q, &used) != 3 || used != int(group.size()))
      Fail("error parsing rc_override");
    RcOverride o{};
    o.start_frame = start;
    o.end_frame = end;
    if (q > 0) {
      o.qscale = q;
      o.quality_factor = 1.0f;
    } else {
      o.qscale = 0;
      o.quality_factor = -q / 100.0f;
    }
    groups.push_back(o);
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  enc->rc_override = static_cast<RcOverride *>(ff.av_mallocz(sizeof(RcOverride) * groups.size()));
  if (!enc->rc_override) Fail("error parsing rc_override");
  std::copy(groups.begin(), groups.end(), enc->rc_override);
  enc->rc_override_count = int(groups.size());
}

uint16_t *CopyMatrix(const TMatrix &m) {
  auto *out = static_cast<uint16_t *>(ff.av_malloc(sizeof(uint16_t) * 64));
  if (!out) Fail("Could not alloc stream");
  std::copy(m.begin(), m.end(), out);
  return out;
}

AVRational AspectToSar(double aspect, int width, int height) {
  double value = width && height ? aspect * height / width : aspect * 3.0 / 4.0;
  return ff.av_d2q(value, 255);
}

} // namespace

void ChooseSampleFormat(const AVCodec *codec, AVCodecContext *enc) {
  if (codec && codec->sample_fmts) {
    const AVSampleFormat *p = codec->sample_fmts;
    for (; *p != AV_SAMPLE_FMT_NONE; ++p)
      if (*p == enc->sample_fmt) return;
    enc->sample_fmt = codec->sample_fmts[0];
  } else if (enc->sample_fmt == AV_SAMPLE_FMT_NONE) {
    enc->sample_fmt = AV_SAMPLE_FMT_S16;
  }
}

void ChooseSampleRate(const TCustomFFmpeg *engine, const AVCodec *codec, AVCodecContext *enc) {
  if (!codec || !codec->supported_samplerates) return;
  const int *p = codec->supported_samplerates;
  int best = 0, bestDist = INT_MAX;
  for (; *p; ++p) {
    int dist = std::abs(enc->sample_rate - *p);
    if (dist < bestDist) {
      bestDist = dist;
      best = *p;
    }
  }
  if (best != enc->sample_rate) {
    EngineLog(engine, llWarning, "Requested sampling rate unsupported using closest supported (%d)", best);
    enc->sample_rate = best;
  }
}

void ChoosePixelFormat(const AVCodec *codec, AVCodecContext *enc) {
  if (!codec || !codec->pix_fmts) {
    if (enc->pix_fmt == AV_PIX_FMT_NONE) enc->pix_fmt = AV_PIX_FMT_YUV420P;
    return;
  }
  const AVPixelFormat *p = codec->pix_fmts;
  if (codec->id == AV_CODEC_ID_MJPEG && enc->strict_std_compliance < 0)
    if (enc->pix_fmt == AV_PIX_FMT_YUV420P || enc->pix_fmt == AV_PIX_FMT_YUV422P) return;
  for (; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == enc->pix_fmt) return;
  enc->pix_fmt = codec->pix_fmts[0];
}

namespace {

// Common first step of every new stream: the stream itself on the last output file and
// its record, with the id, the bitstream filters and the codec tag.
TOutputStream &AddStream(TTranscodeState &s, AVMediaType type, TBsfChain &bsfs, uint32_t tag) {
  if (s.Outputs.empty()) Fail("Could not alloc stream");
  TOutputFile &of = s.Outputs.back();
  AVFormatContext *oc = of.Ctx;
  int index = int(oc->nb_streams);
  AVStream *st = ff.avformat_new_stream(oc, nullptr);
  if (!st) Fail("Could not alloc stream");
  if (index < MAX_STREAMS && s.Engine.Options().StreamIdMap[index]) st->id = s.Engine.Options().StreamIdMap[index];
  TOutputStream ost;
  ost.File = int(s.Outputs.size()) - 1;
  ost.Index = index;
  ost.St = st;
  ost.Type = type;
  ost.BsfChain = std::move(bsfs);
  bsfs.clear();
  st->codecpar->codec_type = type;
  st->codecpar->codec_tag = tag;
  s.Ost.push_back(std::move(ost));
  return s.Ost.back();
}

void SetLanguage(AVStream *st, const std::string &lang) {
  if (!lang.empty()) ff.av_dict_set(&st->metadata, "language", lang.c_str(), 0);
}

} // namespace

void TCustomFFmpeg::NewVideoStream() {
  TOptionState &o = options_;
  TTranscodeState &s = *state_;
  TOutputStream &ost = AddStream(s, AVMEDIA_TYPE_VIDEO, o.VideoBsfs, o.VideoCodecTag);
  AVFormatContext *oc = s.Outputs.back().Ctx;
  AVStream *st = ost.St;
  bool globalHeader = (o.VideoGlobalHeader & 1) ||
                      (o.VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER));
  if (globalHeader) {
    if (AVCodecContext *table = o.Generic.Codec(AVMEDIA_TYPE_VIDEO)) table->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  if (o.VideoStreamCopy) {
    ost.Copy = true;
    ost.LocalHeaders = o.VideoGlobalHeader & 2;
    st->sample_aspect_ratio = AspectToSar(o.FrameAspectRatio, o.FrameWidth, o.FrameHeight);
  } else {
    AVRational rate = o.FrameRate.num && o.FrameRate.den ? o.FrameRate : AVRational{25, 1};
    AVCodecContext *enc = SetUpEncoder(o, oc, ost, AVMEDIA_TYPE_VIDEO, o.VideoCodecName, AV_OPT_FLAG_VIDEO_PARAM);
    const AVCodec *codec = ost.Encoder;
    if (globalHeader) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (o.VideoGlobalHeader & 2) enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    if (codec && codec->supported_framerates && !o.ForceFps)
      rate = codec->supported_framerates[ff.av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc->framerate = rate;
    enc->time_base = av_inv_q(rate);
    enc->width = o.FrameWidth;
    enc->height = o.FrameHeight;
    enc->sample_aspect_ratio = AspectToSar(o.FrameAspectRatio, o.FrameWidth, o.FrameHeight);
    st->sample_aspect_ratio = enc->sample_aspect_ratio;
    enc->pix_fmt = o.FramePixFmt;
    ChoosePixelFormat(codec, enc);
    if (o.IntraOnly) enc->gop_size = 0;
    if (o.VideoQScale > 0 || o.SameQuality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(kQp2Lambda * o.VideoQScale);
    }
    if (o.IntraMatrix) enc->intra_matrix = CopyMatrix(*o.IntraMatrix);
    if (o.InterMatrix) enc->inter_matrix = CopyMatrix(*o.InterMatrix);
    ApplyRcOverride(enc, o.VideoRcOverride);
    if (!enc->rc_initial_buffer_occupancy) enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = o.IntraDcPrecision - 8;
    if (o.DoPsnr) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (o.DoPass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (o.DoPass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
  }
  SetLanguage(st, o.VideoLanguage);
  o.VideoDisable = false;
  o.VideoCodecName.clear();
  o.VideoStreamCopy = false;
  o.FramePixFmt = AV_PIX_FMT_NONE;
}

void TCustomFFmpeg::NewAudioStream() {
  TOptionState &o = options_;
  TTranscodeState &s = *state_;
  TOutputStream &ost = AddStream(s, AVMEDIA_TYPE_AUDIO, o.AudioBsfs, o.AudioCodecTag);
  AVFormatContext *oc = s.Outputs.back().Ctx;
  AVStream *st = ost.St;
  if (o.AudioStreamCopy) {
    ost.Copy = true;
    ff.av_channel_layout_default(&st->codecpar->ch_layout, o.AudioChannels);
    st->codecpar->sample_rate = o.AudioSampleRate;
  } else {
    AVCodecContext *enc = SetUpEncoder(o, oc, ost, AVMEDIA_TYPE_AUDIO, o.AudioCodecName, AV_OPT_FLAG_AUDIO_PARAM);
    const AVCodec *codec = ost.Encoder;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (o.AudioQScale > -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(kQp2Lambda * o.AudioQScale);
    }
    ff.av_channel_layout_uninit(&enc->ch_layout);
    ff.av_channel_layout_default(&enc->ch_layout, o.AudioChannels > 0 ? o.AudioChannels : 2);
    enc->sample_fmt = o.AudioSampleFmt;
    enc->sample_rate = o.AudioSampleRate;
    ChooseSampleFormat(codec, enc);
    ChooseSampleRate(this, codec, enc);
    enc->time_base = AVRational{1, enc->sample_rate};
  }
  SetLanguage(st, o.AudioLanguage);
  o.AudioDisable = false;
  o.AudioCodecName.clear();
  o.AudioStreamCopy = false;
}

void TCustomFFmpeg::NewSubtitleStream() {
  TOptionState &o = options_;
  TTranscodeState &s = *state_;
  TOutputStream &ost = AddStream(s, AVMEDIA_TYPE_SUBTITLE, o.SubtitleBsfs, o.SubtitleCodecTag);
  AVFormatContext *oc = s.Outputs.back().Ctx;
  if (o.SubtitleStreamCopy) {
    ost.Copy = true;
  } else {
    // Without a name the container's own subtitle encoder is taken, as for sound and
    // pictures, so that a file with subtitles converts without naming one.
    SetUpEncoder(o, oc, ost, AVMEDIA_TYPE_SUBTITLE, o.SubtitleCodecName, AV_OPT_FLAG_SUBTITLE_PARAM);
  }
  SetLanguage(ost.St, o.SubtitleLanguage);
  o.SubtitleDisable = false;
  o.SubtitleCodecName.clear();
  o.SubtitleStreamCopy = false;
}

int TCustomFFmpeg::OpenOutput(const std::string &fileName, bool join) {
  (void)join; // one input per task: joining never applies
  TOptionState &o = options_;
  TTranscodeState &s = *state_;
  LastError.clear();
  if (int(s.Outputs.size()) >= MAX_FILES) {
    LastError = Format("max output files %d reached", MAX_FILES);
    return -1;
  }
  bool appended = false;
  AVFormatContext *oc = nullptr;
  try {
    const AVOutputFormat *fmt = nullptr;
    const std::string libName = ToLibraryFileName(fileName);
    if (!o.FileFormat.empty()) {
      fmt = ff.av_guess_format(o.FileFormat.c_str(), nullptr, nullptr);
      if (!fmt) {
        std::string name = o.FileFormat;
        o.FileFormat.clear();
        Fail(Format("Requested output format '%s' is not a suitable output format", name.c_str()));
      }
      o.FileFormat.clear();
    } else {
      fmt = ff.av_guess_format(nullptr, fileName.c_str(), nullptr);
      if (!fmt) Fail(Format("Unable to find a suitable output format for '%s'", fileName.c_str()));
    }
    // Made for the format, so that the muxer's own settings (loop count, preload) exist
    // before the header is written.
    if (ff.avformat_alloc_output_context2(&oc, fmt, nullptr, nullptr) < 0 || !oc)
      Fail("avformat_alloc_context failed");
    TFormatContextPtr owner(oc);
    ff.av_freep(&oc->url);
    oc->url = ff.av_strdup(libName.substr(0, 1023).c_str());

    bool useVideo = o.VideoStreamCopy || fmt->video_codec != AV_CODEC_ID_NONE || !o.VideoCodecName.empty();
    bool useAudio = o.AudioStreamCopy || fmt->audio_codec != AV_CODEC_ID_NONE || !o.AudioCodecName.empty();
    bool useSubtitle =
        o.SubtitleStreamCopy || fmt->subtitle_codec != AV_CODEC_ID_NONE || !o.SubtitleCodecName.empty();
    if (!s.Inputs.empty()) {
      bool hasVideo = false, hasAudio = false, hasSubtitle = false;
      try {
        for (const auto &in : s.Inputs)
          for (unsigned i = 0; i < in.Ctx->nb_streams; ++i) {
            switch (in.Ctx->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO: hasVideo = true; break;
            case AVMEDIA_TYPE_AUDIO: hasAudio = true; break;
            case AVMEDIA_TYPE_SUBTITLE: hasSubtitle = true; break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT: break;
            default: Fail("invalid codec_type of input file");
            }
          }
      } catch (const FFmpegException &e) {
        Fail(Format("check_audio_video_sub_inputs fail: %s", e.what()));
      }
      useVideo = useVideo && hasVideo;
      useAudio = useAudio && hasAudio;
      useSubtitle = useSubtitle && hasSubtitle;
    }
    if (o.AudioDisable) useAudio = false;
    if (o.VideoDisable) useVideo = false;
    if (o.SubtitleDisable) useSubtitle = false;

    TOutputFile of;
    of.Ctx = owner.release();
    of.FileName = fileName;
    s.Outputs.push_back(std::move(of));
    appended = true;

    auto create = [&](bool use, const char *what, void (TCustomFFmpeg::*make)()) {
      if (!use) return;
      try {
        (this->*make)();
      } catch (const std::exception &e) {
        Fail(Format("%s fail: %s", what, e.what()));
      }
    };
    create(useVideo, "new_video_stream", &TCustomFFmpeg::NewVideoStream);
    create(useAudio, "new_audio_stream", &TCustomFFmpeg::NewAudioStream);
    create(useSubtitle, "new_subtitle_stream", &TCustomFFmpeg::NewSubtitleStream);

    if (o.RecordingTimestamp) {
      time_t t = time_t(o.RecordingTimestamp);
      struct tm tmv;
      gmtime_r(&t, &tmv);
      char text[64];
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &tmv);
      ff.av_dict_set(&oc->metadata, "creation_time", text, 0);
    }
    while (!o.MetaData.empty()) {
      auto &pair = o.MetaData.back();
      ff.av_dict_set(&oc->metadata, pair.first.c_str(), pair.second.c_str(), 0);
      o.MetaData.pop_back();
    }

    if ((fmt->flags & AVFMT_NEEDNUMBER) && !ff.av_filename_number_test(libName.c_str()))
      Fail(ErrorText(fileName, AVERROR(EDOM)));
    if (!(fmt->flags & AVFMT_NOFILE)) {
      int err = OpenLibraryOutput(oc, fileName, AVIO_FLAG_WRITE, nullptr);
      if (err < 0) Fail(FileErrorText(fileName, err));
    }
    oc->max_delay = int(o.MuxMaxDelay * AV_TIME_BASE);
    // The initial delay is a setting of the muxers that use it (program streams); the
    // others have no such option and are left alone.
    // Only muxers with an option table have settings; others' private data is opaque.
    const bool hasSettings = oc->priv_data && fmt->priv_class;
    if (hasSettings) ff.av_opt_set_int(oc->priv_data, "preload", int64_t(o.MuxPreload * AV_TIME_BASE), 0);
    if (o.LoopOutput >= 0 && hasSettings) ff.av_opt_set_int(oc->priv_data, "loop", o.LoopOutput, 0);
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    CopySetGenericOptions(o.Generic, o.Generic.Format(), oc, AV_OPT_FLAG_ENCODING_PARAM);
    o.StreamIdMap.fill(0);
    return int(s.Outputs.size());
  } catch (const std::exception &e) {
    LastError = e.what();
    if (appended) {
      // Drop the half-made file again, with its streams' records.
      while (!s.Ost.empty() && s.Ost.back().File == int(s.Outputs.size()) - 1) s.Ost.pop_back();
      CloseLibraryOutput(oc);
      ff.avformat_free_context(oc);
      s.Outputs.pop_back();
      if (FileSizeByName(fileName) == 0) std::remove(fileName.c_str());
    }
    return -1;
  }
}
