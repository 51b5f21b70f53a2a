// Opening an input file with the current options: forced format and decoders, program
// selection, stream information, the start position and the per-stream defaults that
// later outputs inherit. Not reading packets: that is the loop's.
#include "engine/transcode_state.h"
#include "media/ffutils.h"
#include "media/loader.h"
#include "media/unicode_protocol.h"

namespace {

struct InputCloser {
  void operator()(AVFormatContext *c) const { CloseLibraryInput(&c); }
};
using TInputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

bool SelectProgram(AVFormatContext *ic, int programId) {
  bool found = false;
  for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    AVProgram *prog = ic->programs[p];
    if (prog->id == programId) {
      found = true;
      prog->discard = AVDISCARD_DEFAULT;
      for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
        ic->streams[prog->stream_index[k]]->discard = AVDISCARD_DEFAULT;
    } else {
      prog->discard = AVDISCARD_ALL;
    }
  }
  return found;
}

} // namespace

bool TCustomFFmpeg::OpenInput(const std::string &fileName) {
  TOptionState &o = options_;
  TTranscodeState &s = *state_;
  LastError.clear();
  if (int(s.Inputs.size()) >= MAX_FILES) {
    LastError = Format("max input files %d reached", MAX_FILES);
    return false;
  }
  try {
    const AVInputFormat *forced = nullptr;
    if (!o.FileFormat.empty()) {
      forced = ff.av_find_input_format(o.FileFormat.c_str());
      if (!forced) Fail(Format("Unknown input format: \"%s\"", o.FileFormat.c_str()));
      o.FileFormat.clear();
    }
    TFormatContextPtr fresh(ff.avformat_alloc_context());
    if (!fresh) Fail("avformat_alloc_context failed");
    AVFormatContext *ic = fresh.get();
    CopySetGenericOptions(o.Generic, o.Generic.Format(), ic, AV_OPT_FLAG_DECODING_PARAM);

    // Capture-style parameters only mean something to raw demuxers; they are passed as
    // demuxer options, which other demuxers ignore.
    AVDictionary *params = nullptr;
    std::unique_ptr<AVDictionary *, void (*)(AVDictionary **)> paramsOwner(
        &params, [](AVDictionary **d) { ff.av_dict_free(d); });
    if (forced) {
      if (o.AudioSampleRate) ff.av_dict_set_int(&params, "sample_rate", o.AudioSampleRate, 0);
      if (o.AudioChannels) ff.av_dict_set_int(&params, "channels", o.AudioChannels, 0);
      if (o.FrameRate.num && o.FrameRate.den)
        ff.av_dict_set(&params, "framerate", Format("%d/%d", o.FrameRate.num, o.FrameRate.den).c_str(), 0);
      if (o.FrameWidth && o.FrameHeight)
        ff.av_dict_set(&params, "video_size", Format("%dx%d", o.FrameWidth, o.FrameHeight).c_str(), 0);
      if (o.FramePixFmt != AV_PIX_FMT_NONE)
        ff.av_dict_set(&params, "pixel_format", ff.av_get_pix_fmt_name(o.FramePixFmt), 0);
      if (!o.VideoStandard.empty()) ff.av_dict_set(&params, "standard", o.VideoStandard.c_str(), 0);
      if (o.VideoChannel) ff.av_dict_set_int(&params, "channel", o.VideoChannel, 0);
    }

    auto strictOf = [&](AVMediaType t) {
      AVCodecContext *table = o.Generic.Codec(t);
      return table ? table->strict_std_compliance : FF_COMPLIANCE_NORMAL;
    };
    const AVCodec *vdec = FindCodecByName(o.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, strictOf(AVMEDIA_TYPE_VIDEO));
    const AVCodec *adec = FindCodecByName(o.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, strictOf(AVMEDIA_TYPE_AUDIO));
    const AVCodec *sdec =
        FindCodecByName(o.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, strictOf(AVMEDIA_TYPE_SUBTITLE));
    if (o.PgmyuvInput) vdec = ff.avcodec_find_decoder(AV_CODEC_ID_PGMYUV);
    if (vdec) ic->video_codec_id = vdec->id;
    if (adec) ic->audio_codec_id = adec->id;
    if (sdec) ic->subtitle_codec_id = sdec->id;
    ic->flags |= AVFMT_FLAG_NONBLOCK;

    AVFormatContext *raw = fresh.release();
    int err = OpenLibraryInput(&raw, fileName, forced, &params);
    if (err < 0) {
      LastError = FileErrorText(fileName, err);
      return false;
    }
    TInputPtr in(raw);
    ic = raw;

    if (o.ProgramId) {
      bool found = SelectProgram(ic, o.ProgramId);
      o.ProgramId = 0;
      if (!found) {
        LastError = "Specified program id not found";
        return false;
      }
    }

    {
      TCodecLockGuard lock(CodecLock());
      err = ff.avformat_find_stream_info(ic, nullptr);
    }
    if (err < 0 && o.Verbose >= 0) {
      LastError = Format("%s: could not find codec parameters", fileName.c_str());
      EngineLog(this, llVerbose, "%s", LastError.c_str());
      return false;
    }

    int64_t target = o.StartTime;
    if (ic->start_time != AV_NOPTS_VALUE) target += ic->start_time;
    if (o.StartTime != 0) {
      if (ff.av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD) < 0 && o.Verbose > 0)
        EngineLog(this, llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
                  double(target) / AV_TIME_BASE);
    }
    o.StartTime = 0;

    TInputFile file;
    file.FileName = fileName;
    file.ForcedDecoders.assign(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      AVStream *st = ic->streams[i];
      AVCodecParameters *par = st->codecpar;
      switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        o.FrameWidth = par->width;
        o.FrameHeight = par->height;
        AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        if (par->width && par->height) {
          double ratio = double(par->width) / par->height;
          o.FrameAspectRatio = sar.num ? av_q2d(sar) * ratio : ratio;
        } else {
          o.FrameAspectRatio = 4.0 / 3.0;
        }
        o.FramePixFmt = par->format < 0 ? AVPixelFormat(0) : AVPixelFormat(par->format);
        AVRational codecRate = st->avg_frame_rate;
        if (codecRate.num && st->r_frame_rate.num && av_cmp_q(codecRate, st->r_frame_rate) != 0 &&
            o.Verbose >= 0)
          EngineLog(this, llInfo,
                    "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                    "%2.2f (%d/%d)",
                    int(i), av_q2d(codecRate), codecRate.num, codecRate.den, av_q2d(st->r_frame_rate),
                    st->r_frame_rate.num, st->r_frame_rate.den);
        o.FrameRate = st->r_frame_rate;
        file.ForcedDecoders[i] = vdec;
        if (o.VideoDisable)
          st->discard = AVDISCARD_ALL;
        else if (o.VideoDiscard)
          st->discard = AVDiscard(o.VideoDiscard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        if (par->ch_layout.nb_channels) o.AudioChannels = par->ch_layout.nb_channels;
        if (par->sample_rate) o.AudioSampleRate = par->sample_rate;
        o.AudioSampleFmt = AVSampleFormat(par->format);
        file.ForcedDecoders[i] = adec;
        if (o.AudioDisable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        file.ForcedDecoders[i] = sdec;
        if (o.SubtitleDisable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
        break;
      default:
        Fail("invalid codec_type");
      }
    }

    if (ic->duration != AV_NOPTS_VALUE && ic->duration > s.TotalDuration) s.TotalDuration = ic->duration;

    file.InputOffset = o.InputTsOffset;
    file.SeekTarget = target;
    // Until the run decides (copyts may still be set for the output), the start is time 0.
    file.TsOffset = o.InputTsOffset - target;
    int index = int(s.Inputs.size());
    for (int k = 0; k < MAX_STREAMS; ++k) file.TsScale[k] = o.TimestampScale[index][k];
    if (o.Verbose >= 0) ff.av_dump_format(ic, index, fileName.c_str(), 0);
    file.Ctx = in.release();
    s.Inputs.push_back(std::move(file));

    o.VideoChannel = 0;
    o.VideoCodecName.clear();
    o.AudioCodecName.clear();
    o.SubtitleCodecName.clear();
    return true;
  } catch (const std::exception &e) {
    LastError = e.what();
    return false;
  }
}
