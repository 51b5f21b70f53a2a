// The set-up at the start of a run: stream table, source of every output stream,
// stream copy or encoder set-up, opening codecs, metadata, chapters and headers.
// Not the packet loop, and not how decoded data is converted (the audio and video paths).
#include "engine/transcode_state.h"
#include "media/ffutils.h"
#include "media/loader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Each call its own text, so that two can stand in one message.
std::string TypeName(AVMediaType t) { return StreamTypeName(t); }

void DumpOutput(TTranscodeState &s, int file) {
  ff.av_dump_format(s.Outputs[file].Ctx, file, s.Outputs[file].FileName.c_str(), 1);
}

// The source of an output stream without a map: among the streams nobody took yet, of
// the same type, not discarded by the container, the one the demuxer rates best (it
// weighs the frames seen while probing), else the first; failing that the last stream
// of the type that the container keeps.
int ChooseSource(TTranscodeState &s, const TOutputStream &ost, int programId) {
  int first = -1;
  for (int i = 0; i < int(s.Ist.size()); ++i) {
    const TInputStream &ist = s.Ist[i];
    if (!ist.Discard || ist.Type() != ost.Type || ist.St->discard == AVDISCARD_ALL) continue;
    AVFormatContext *ic = s.Inputs[ist.File].Ctx;
    if (programId && !ff.av_find_program_from_stream(ic, nullptr, ist.Index)) continue;
    if (first < 0) first = i;
    if (ff.av_find_best_stream(ic, ost.Type, -1, -1, nullptr, 0) == ist.Index) return i;
  }
  if (first >= 0 || programId) return first;
  int last = -1;
  for (int i = 0; i < int(s.Ist.size()); ++i)
    if (s.Ist[i].Type() == ost.Type && s.Ist[i].St->discard != AVDISCARD_ALL) last = i;
  return last;
}

void CopySetup(TTranscodeState &s, TOutputStream &ost, TInputStream &ist) {
  TCustomFFmpeg &e = s.Engine;
  const AVCodecParameters *ipar = ist.St->codecpar;
  if (uint64_t(ipar->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
    Fail("icodec.extradata_size is invalid (too large)");
  AVCodecParameters *par = ost.St->codecpar;
  uint32_t wantedTag = par->codec_tag;
  if (ff.avcodec_parameters_copy(par, ipar) < 0) Fail("av_mallocz fail");
  // Keep the input's tag only where the container would read it back as the same codec.
  const AVOutputFormat *ofmt = s.Outputs[ost.File].Ctx->oformat;
  if (wantedTag) {
    par->codec_tag = wantedTag;
  } else if (ofmt->codec_tag && ff.av_codec_get_id(ofmt->codec_tag, ipar->codec_tag) != ipar->codec_id &&
             ff.av_codec_get_tag(ofmt->codec_tag, ipar->codec_id) > 0) {
    par->codec_tag = 0;
  }
  // Packets keep the input stream's own time base: the muxer converts them into its
  // own, so no timestamp is rounded on the way.
  AVRational tb = ist.St->time_base;
  ost.SrcTb = tb;
  ost.St->time_base = tb;
  switch (ost.Type) {
  case AVMEDIA_TYPE_VIDEO:
    if (e.HookSlot) Fail("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    if (!e.Options().FrameHooks.Empty())
      Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
    if (e.PreviewFlags & 3) Fail("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    // Local headers asked for: every key picture gets the stream headers in front, as an
    // encoder would write them, ahead of the filters the user named. Only where the headers
    // are stored in the form the pictures carry them (MPEG-4 Part 2 start codes); an
    // H.264 or HEVC header record in front of a picture would break it.
    if (ost.LocalHeaders && par->codec_id == AV_CODEC_ID_MPEG4 && par->extradata_size > 0)
      ost.BsfChain.insert(ost.BsfChain.begin(), TBsfEntry{"dump_extra", "freq=keyframe"});
    ost.St->sample_aspect_ratio = ist.St->sample_aspect_ratio;
    ost.St->avg_frame_rate = ist.St->avg_frame_rate;
    ost.St->r_frame_rate = ist.St->r_frame_rate;
    break;
  case AVMEDIA_TYPE_AUDIO:
    if (e.Options().AudioVolume != 256) Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
    if ((par->codec_id == AV_CODEC_ID_MP3 && par->block_align == 1) || par->codec_id == AV_CODEC_ID_AC3)
      par->block_align = 0;
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    break;
  default:
    Fail("invalid codec_type of output stream");
  }
}

void PassLogSetup(TTranscodeState &s, TOutputStream &ost) {
  AVCodecContext *enc = ost.Enc.get();
  if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
  const TOptionState &o = s.Engine.Options();
  std::string name = (o.PassLogFileName.empty() ? std::string("ffmpeg2pass") : o.PassLogFileName) + "-" +
                     std::to_string(&ost - &s.Ost[0]) + ".log";
  name = name.substr(0, 1023);
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    ost.PassLog.reset(fopen(name.c_str(), "wb"));
    if (!ost.PassLog) Fail(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
  } else {
    std::ifstream in(name, std::ios::binary);
    if (!in) Fail(Format("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
    std::ostringstream all;
    all << in.rdbuf();
    ost.PassStats = all.str();
    enc->stats_in = ost.PassStats.data();
  }
}

void OpenDecoder(TTranscodeState &s, TInputStream &ist);

void OpenEncoder(TTranscodeState &s, TOutputStream &ost) {
  TCustomFFmpeg &e = s.Engine;
  const TInputStream &ist = s.Ist[ost.Source];
  AVCodecContext *enc = ost.Enc.get();
  const AVCodec *codec = ost.Encoder ? ost.Encoder : ff.avcodec_find_encoder(enc->codec_id);
  auto where = [&] { return Format("#%d.%d (%s)", ost.File, ost.Index, TypeName(ost.Type).c_str()); };
  if (!codec) {
    LogStreamMapping(s);
    std::string msg = Format("Encoder (codec id %d) not found for output stream ", int(enc->codec_id)) + where();
    EngineLog(&e, llError, "%s", msg.c_str());
    Fail(msg);
  }
  ost.Encoder = codec;
  if (ost.Type == AVMEDIA_TYPE_SUBTITLE) {
    // Text subtitle encoders write the style header the decoder makes: open the
    // decoder first and hand it over.
    TInputStream &src = s.Ist[ost.Source];
    if (!src.DecoderOpen) OpenDecoder(s, src);
    if (src.Dec->subtitle_header_size && !enc->subtitle_header) {
      enc->subtitle_header = static_cast<uint8_t *>(ff.av_mallocz(src.Dec->subtitle_header_size + 1));
      if (!enc->subtitle_header) Fail("av_mallocz fail");
      memcpy(enc->subtitle_header, src.Dec->subtitle_header, src.Dec->subtitle_header_size);
      enc->subtitle_header_size = src.Dec->subtitle_header_size;
    }
  }
  AVDictionary *opts = e.Options().Generic.PrivateOptionsCopy(ost.Type);
  std::unique_ptr<AVDictionary *, void (*)(AVDictionary **)> optsOwner(&opts,
                                                                        [](AVDictionary **d) { ff.av_dict_free(d); });
  int err;
  {
    TCodecLockGuard lock(CodecLock());
    err = ff.avcodec_open2(enc, codec, &opts);
  }
  if (err < 0) {
    LogStreamMapping(s);
    std::string msg = "Error while opening encoder for output stream " + where() +
                      " - maybe incorrect parameters such as bit_rate, rate, width or height. Please check error "
                      "log message to find out more detail information.";
    EngineLog(&e, llError, "%s", msg.c_str());
    Fail(msg);
  }
  ost.EncoderOpen = true;
  WarnUnusedEncoderOptions(&e, opts, codec);
  s.ExtraSize += enc->extradata_size;
  if (ff.avcodec_parameters_from_context(ost.St->codecpar, enc) < 0) Fail("av_mallocz fail");
  ost.SrcTb = enc->time_base;
  ost.St->time_base = enc->time_base;
  if (ost.Type == AVMEDIA_TYPE_VIDEO) {
    ost.St->avg_frame_rate = enc->framerate;
    ost.St->sample_aspect_ratio = enc->sample_aspect_ratio;
  }
  (void)ist;
}

void OpenDecoder(TTranscodeState &s, TInputStream &ist) {
  TCustomFFmpeg &e = s.Engine;
  const TInputFile &in = s.Inputs[ist.File];
  const AVCodec *codec = in.ForcedDecoders[ist.Index] ? in.ForcedDecoders[ist.Index]
                                                       : ff.avcodec_find_decoder(ist.St->codecpar->codec_id);
  auto where = [&] { return Format("#%d.%d (%s)", ist.File, ist.Index, TypeName(ist.Type()).c_str()); };
  if (!codec) {
    LogStreamMapping(s);
    std::string msg = Format("Decoder (codec id %d) not found for input stream ", int(ist.St->codecpar->codec_id)) +
                      where();
    EngineLog(&e, llError, "%s", msg.c_str());
    Fail(msg);
  }
  ist.Dec.reset(ff.avcodec_alloc_context3(codec));
  if (!ist.Dec || ff.avcodec_parameters_to_context(ist.Dec.get(), ist.St->codecpar) < 0)
    Fail("Error while opening decoder for input stream " + where());
  ist.Dec->pkt_timebase = ist.St->time_base;
  const TOptionState &o = e.Options();
  int flags = AV_OPT_FLAG_DECODING_PARAM;
  if (ist.Type() == AVMEDIA_TYPE_VIDEO) flags |= AV_OPT_FLAG_VIDEO_PARAM;
  if (ist.Type() == AVMEDIA_TYPE_AUDIO) flags |= AV_OPT_FLAG_AUDIO_PARAM;
  if (AVCodecContext *table = o.Generic.Codec(ist.Type())) CopySetGenericOptions(o.Generic, table, ist.Dec.get(), flags);
  int err;
  {
    TCodecLockGuard lock(CodecLock());
    err = ff.avcodec_open2(ist.Dec.get(), codec, nullptr);
  }
  if (err < 0) {
    LogStreamMapping(s);
    std::string msg = "Error while opening decoder for input stream " + where();
    EngineLog(&e, llError, "%s", msg.c_str());
    Fail(msg);
  }
  ist.DecoderOpen = true;
}

void CopyChapters(TTranscodeState &s, int inFile, int outFile) {
  const TOptionState &o = s.Engine.Options();
  AVFormatContext *is = s.Inputs[inFile].Ctx;
  AVFormatContext *os = s.Outputs[outFile].Ctx;
  for (unsigned i = 0; i < is->nb_chapters; ++i) {
    AVChapter *in = is->chapters[i];
    int64_t offset = ff.av_rescale_q(o.StartTime - s.Inputs[inFile].TsOffset, AVRational{1, AV_TIME_BASE}, in->time_base);
    int64_t limit = o.RecordingTime == INT64_MAX
                        ? INT64_MAX
                        : ff.av_rescale_q(o.RecordingTime, AVRational{1, AV_TIME_BASE}, in->time_base);
    if (in->end < offset) continue;
    if (limit != INT64_MAX && in->start > offset + limit) break;
    auto *out = static_cast<AVChapter *>(ff.av_mallocz(sizeof(AVChapter)));
    if (!out) Fail("av_mallocz fail");
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<int64_t>(0, in->start - offset);
    out->end = limit == INT64_MAX ? in->end - offset : std::min(limit, in->end - offset);
    ff.av_dict_copy(&out->metadata, in->metadata, 0);
    if (ff.av_dynarray_add_nofree(&os->chapters, reinterpret_cast<int *>(&os->nb_chapters), out) < 0) {
      ff.av_dict_free(&out->metadata);
      ff.av_free(out);
      Fail("av_mallocz fail");
    }
  }
}

} // namespace

void LogStreamMapping(TTranscodeState &s) {
  TCustomFFmpeg &e = s.Engine;
  if (e.Options().Verbose < 0) return;
  EngineLog(&e, llVerbose, "Stream mapping:");
  for (const auto &ost : s.Ost) {
    if (ost.Source < 0) continue;
    const TInputStream &ist = s.Ist[ost.Source];
    std::string line = Format("  Stream #%d.%d -> #%d.%d (%s)", ist.File, ist.Index, ost.File, ost.Index,
                              TypeName(ost.Type).c_str());
    if (ost.Sync >= 0 && ost.Sync != ost.Source)
      line += Format(" [sync #%d.%d (%s)]", s.Ist[ost.Sync].File, s.Ist[ost.Sync].Index,
                     TypeName(s.Ist[ost.Sync].Type()).c_str());
    EngineLog(&e, llVerbose, "%s", line.c_str());
  }
}

void TranscodeSetup(TTranscodeState &s) {
  TCustomFFmpeg &e = s.Engine;
  TOptionState &o = e.Options();
  if (s.Inputs.empty()) Fail("At least one input file must be specified");
  if (s.Outputs.empty()) Fail("At least one output file must be specified");

  // 1. input stream table
  s.Ist.clear();
  for (int f = 0; f < int(s.Inputs.size()); ++f) {
    TInputFile &in = s.Inputs[f];
    in.FirstStream = int(s.Ist.size());
    // Decided here rather than when the input was opened: "copyts" arrives with the
    // output's options, after the input is open.
    in.TsOffset = o.CopyTs ? in.InputOffset : in.InputOffset - in.SeekTarget;
    for (unsigned i = 0; i < in.Ctx->nb_streams; ++i) {
      TInputStream ist;
      ist.File = f;
      ist.Index = int(i);
      ist.St = in.Ctx->streams[i];
      if (o.RateEmu) ist.WallStart = ff.av_gettime_relative();
      s.Ist.push_back(std::move(ist));
    }
  }

  // 2. every output needs a stream
  for (int f = 0; f < int(s.Outputs.size()); ++f)
    if (s.Outputs[f].Ctx->nb_streams == 0) {
      DumpOutput(s, f);
      Fail(Format("Output file #%d does not contain any stream", f));
    }

  // 3. maps
  auto findStream = [&](int file, int stream) -> int {
    if (file < 0 || file >= int(s.Inputs.size())) return -1;
    if (stream < 0 || stream >= int(s.Inputs[file].Ctx->nb_streams)) return -1;
    return s.Inputs[file].FirstStream + stream;
  };
  if (!o.StreamMaps.empty()) {
    if (o.StreamMaps.size() != s.Ost.size()) Fail("Number of stream maps must match number of output streams");
    for (const auto &m : o.StreamMaps) {
      if (findStream(m.FileIndex, m.StreamIndex) < 0)
        Fail(Format("Could not find input stream #%d.%d", m.FileIndex, m.StreamIndex));
      if (findStream(m.SyncFileIndex, m.SyncStreamIndex) < 0)
        Fail(Format("Could not find sync stream #%d.%d", m.SyncFileIndex, m.SyncStreamIndex));
    }
  }

  // 4. sources
  for (int k = 0; k < int(s.Ost.size()); ++k) {
    TOutputStream &ost = s.Ost[k];
    int src;
    if (!o.StreamMaps.empty()) {
      const TStreamMap &m = o.StreamMaps[k];
      src = findStream(m.FileIndex, m.StreamIndex);
      if (s.Ist[src].Type() != ost.Type) {
        DumpOutput(s, ost.File);
        Fail(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", m.FileIndex, m.StreamIndex,
                    TypeName(s.Ist[src].Type()).c_str(), ost.File, ost.Index, TypeName(ost.Type).c_str()));
      }
      ost.Sync = findStream(m.SyncFileIndex, m.SyncStreamIndex);
    } else {
      src = ChooseSource(s, ost, o.ProgramId);
      if (src < 0) {
        DumpOutput(s, ost.File);
        Fail(Format("Could not find input stream matching output stream #%d.%d (%s)", ost.File, ost.Index,
                    TypeName(ost.Type).c_str()));
      }
      ost.Sync = src;
    }
    ost.Source = src;
    s.Ist[src].Discard = false;
  }

  // 5. copy or encode set-up
  for (auto &ost : s.Ost) {
    TInputStream &ist = s.Ist[ost.Source];
    ff.av_dict_copy(&ost.St->metadata, ist.St->metadata, AV_DICT_DONT_OVERWRITE);
    ost.St->disposition = ist.St->disposition;
    if (ost.Copy) {
      CopySetup(s, ost, ist);
      continue;
    }
    AVCodecContext *enc = ost.Enc.get();
    enc->bits_per_raw_sample = ist.St->codecpar->bits_per_raw_sample;
    enc->chroma_sample_location = ist.St->codecpar->chroma_location;
    switch (ost.Type) {
    case AVMEDIA_TYPE_AUDIO: AudioSetup(s, ost); break;
    case AVMEDIA_TYPE_VIDEO: VideoSetup(s, ost); break;
    case AVMEDIA_TYPE_SUBTITLE: enc->time_base = AVRational{1, 1000}; break;
    default: Fail("invalid codec_type of output stream");
    }
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
    PassLogSetup(s, ost);
  }

  // 6, 7. encoders, then decoders
  for (auto &ost : s.Ost)
    if (ost.EncodingNeeded) OpenEncoder(s, ost);
  for (auto &ist : s.Ist)
    if (ist.DecodingNeeded && !ist.DecoderOpen) OpenDecoder(s, ist);

  // Bitstream filters work on the final stream parameters.
  for (auto &ost : s.Ost) {
    if (ost.BsfChain.empty()) continue;
    ost.Bsf = std::make_unique<TBsfStream>(ost.BsfChain, ost.St->codecpar, ost.SrcTb);
    if (ff.avcodec_parameters_copy(ost.St->codecpar, ost.Bsf->OutputParameters()) < 0) Fail("av_mallocz fail");
    ost.St->time_base = ost.Bsf->OutputTimeBase();
  }

  // 8. initial times
  for (auto &ist : s.Ist) {
    AVRational rate = ist.St->avg_frame_rate;
    int delay = ist.St->codecpar->video_delay;
    ist.Pts = rate.num ? -llround(double(delay) * AV_TIME_BASE / av_q2d(rate)) : 0;
    ist.NextPts = AV_NOPTS_VALUE;
    ist.IsStart = true;
  }

  // 9. metadata maps
  for (const auto &m : o.MetaDataMaps) {
    if (m.OutFile < 0 || m.OutFile >= int(s.Outputs.size()))
      Fail(Format("Invalid output file index %d map_meta_data(%d,%d)", m.OutFile, m.OutFile, m.InFile));
    if (m.InFile < 0 || m.InFile >= int(s.Inputs.size()))
      Fail(Format("Invalid input file index %d map_meta_data(%d,%d)", m.InFile, m.OutFile, m.InFile));
    ff.av_dict_copy(&s.Outputs[m.OutFile].Ctx->metadata, s.Inputs[m.InFile].Ctx->metadata, AV_DICT_DONT_OVERWRITE);
  }

  // 10. chapters
  for (int in = 0; in < int(s.Inputs.size()); ++in) {
    if (!s.Inputs[in].Ctx->nb_chapters) continue;
    for (int out = 0; out < int(s.Outputs.size()); ++out) CopyChapters(s, in, out);
  }

  // 11. headers
  for (int f = 0; f < int(s.Outputs.size()); ++f) {
    // The muxer's own settings (a target's "muxrate", say) reach it here; any it does not
    // know are named rather than dropped in silence.
    AVDictionary *muxOpts = e.Options().Generic.FormatPrivateOptionsCopy();
    int err = ff.avformat_write_header(s.Outputs[f].Ctx, &muxOpts);
    for (const AVDictionaryEntry *t = nullptr; (t = ff.av_dict_get(muxOpts, "", t, AV_DICT_IGNORE_SUFFIX));)
      EngineLog(&e, llWarning, "Option \"%s\" = \"%s\" was not used by muxer %s", t->key, t->value,
                s.Outputs[f].Ctx->oformat->name);
    ff.av_dict_free(&muxOpts);
    if (err < 0) {
      LogStreamMapping(s);
      std::string msg = Format("Could not write header for output file #%d (incorrect codec parameters ?)", f);
      EngineLog(&e, llError, "%s: %s", msg.c_str(), CauseText(err).c_str());
      Fail(msg);
    }
    s.Outputs[f].HeaderWritten = true;
  }

  // 12. descriptions and the mapping
  for (int f = 0; f < int(s.Outputs.size()); ++f) DumpOutput(s, f);
  LogStreamMapping(s);

  // 13.
  s.RunStart = ff.av_gettime_relative();
  s.LastReport = s.RunStart;
}

void CloseEncoders(TTranscodeState &s) {
  for (auto &ost : s.Ost) {
    if (!ost.EncoderOpen) continue;
    TCodecLockGuard lock(CodecLock());
    ost.Enc.reset();
    ost.EncoderOpen = false;
  }
}

void CloseDecoders(TTranscodeState &s) {
  for (auto &ist : s.Ist) {
    if (!ist.DecoderOpen) continue;
    TCodecLockGuard lock(CodecLock());
    ist.Dec.reset();
    ist.DecoderOpen = false;
  }
}
