// The video path: hook pre-processing, frame-rate sync, crop and scale without a graph,
// encoding and previews. Not the filter graph, deinterlacing, plug-ins or stream copy.
#include "engine/transcode_state.h"
#include "engine/video_filter.h"

#include <cmath>

namespace {

void MakeScaler(TTranscodeState &s, TOutputStream &ost, int w, int h, AVPixelFormat fmt) {
  AVCodecContext *enc = ost.Enc.get();
  const TOptionState &o = s.Engine.Options();
  int cropW = w - ost.Crop[2] - ost.Crop[3], cropH = h - ost.Crop[0] - ost.Crop[1];
  ost.Sws.reset(ff.sws_getContext(cropW, cropH, fmt, enc->width, enc->height, enc->pix_fmt, o.SwsFlags, nullptr,
                                  nullptr, nullptr));
  if (!ost.Sws) Fail("Cannot get resampling context");
  ost.SrcW = w;
  ost.SrcH = h;
  ost.SrcFmt = fmt;
}

// The encoder's input picture to the preview window or the preview-bitmap event, at
// most once per preview interval.
void Preview(TTranscodeState &s, const AVFrame *picture, int64_t pts, int frameNumber) {
  TCustomFFmpeg &e = s.Engine;
  const int64_t kPreviewInterval = 100000;
  bool wantBitmap, wantWindow;
  {
    std::lock_guard lock(PreviewLock());
    uint8_t flags = e.PreviewFlags;
    wantBitmap = (flags & 2) && e.PreviewBitmapSlot;
    wantWindow = !wantBitmap && (flags & 1);
    int64_t now = ff.av_gettime_relative();
    if ((!wantBitmap && !wantWindow) || now - s.LastPreview <= kPreviewInterval) return;
    s.LastPreview = now;
  }
  if (!FrameToBitmap(s.PreviewConv, picture)) {
    EngineLog(&e, llError, "Cannot initialize the toRGB conversion context");
    std::lock_guard lock(PreviewLock());
    e.PreviewFlags &= uint8_t(wantBitmap ? ~2 : ~1);
    return;
  }
  if (wantBitmap) {
    TPreviewInfo info;
    info.Bitmap = &s.PreviewConv.Bitmap();
    info.PTS = pts;
    info.FrameNumber = frameNumber;
    e.PreviewBitmapSlot(info);
  } else if (!s.PreviewWindow.Show(s.PreviewConv.Bitmap(), pts)) {
    {
      std::lock_guard lock(PreviewLock());
      e.PreviewFlags &= uint8_t(~1);
    }
    s.PreviewWindow.Free();
  }
}

// The hook's bitmap becomes the picture. It goes into a picture of its own rather than the
// decoder's, which the decoder may still be reading: that one would have to be copied
// first, only to be overwritten.
bool DrawingIntoPicture(FrameBitmapConverter &conv, AVFrame *frame) {
  TFramePtr drawn(ff.av_frame_alloc());
  if (!drawn) return false;
  drawn->format = frame->format;
  drawn->width = frame->width;
  drawn->height = frame->height;
  if (ff.av_frame_get_buffer(drawn.get(), 0) < 0 || ff.av_frame_copy_props(drawn.get(), frame) < 0 ||
      !BitmapToFrame(conv, conv.Bitmap(), drawn.get()))
    return false;
  ff.av_frame_unref(frame);
  ff.av_frame_move_ref(frame, drawn.get());
  return true;
}

} // namespace

void VideoSetup(TTranscodeState &s, TOutputStream &ost) {
  const TOptionState &o = s.Engine.Options();
  const TInputStream &ist = s.Ist[ost.Source];
  const AVCodecParameters *par = ist.St->codecpar;
  AVCodecContext *enc = ost.Enc.get();
  if (par->format == AV_PIX_FMT_NONE) Fail("Video pixel format is unknown, stream cannot be encoded");
  int cropW = par->width - o.FrameLeftBand - o.FrameRightBand;
  int cropH = par->height - o.FrameTopBand - o.FrameBottomBand;
  if (!enc->width || !enc->height) {
    enc->width = cropW;
    enc->height = cropH;
  }
  ost.SrcW = par->width;
  ost.SrcH = par->height;
  ost.SrcFmt = AVPixelFormat(par->format);
  ost.Crop[0] = o.FrameTopBand;
  ost.Crop[1] = o.FrameBottomBand;
  ost.Crop[2] = o.FrameLeftBand;
  ost.Crop[3] = o.FrameRightBand;
  ost.InitialW = par->width;
  ost.InitialH = par->height;
  VideoPathSetup(s, ost);
}

void PreProcessPicture(TTranscodeState &s, TInputStream &ist, AVFrame *frame) {
  TCustomFFmpeg &e = s.Engine;
  ist.Frames++;
  if (s.PluginsOff) return;
  if (!e.HookSlot) {
    const TFrameHookList &plugins = e.Options().FrameHooks;
    if (plugins.Empty()) return;
    // Plug-ins paint into the picture: it must be ours alone.
    if (ff.av_frame_make_writable(frame) < 0) {
      EngineLog(&e, llError, "hook buf malloc error.");
      return;
    }
    plugins.Process(frame, ist.Pts);
    return;
  }
  if (!FrameToBitmap(s.HookConv, frame)) {
    EngineLog(&e, llError, "Cannot initialize the toRGB conversion context");
    e.HookSlot = nullptr;
    return;
  }
  THookInfo info;
  info.Bitmap = &s.HookConv.Bitmap();
  info.FrameNumber = int(ist.Frames);
  info.PTS = ist.Pts;
  // Any drawing on the bitmap (its pixels, a painter) gives it a new key.
  const qint64 untouched = info.Bitmap->cacheKey();
  try {
    e.HookSlot(info);
  } catch (const std::exception &ex) {
    EngineLog(&e, llError, "Error occurs OnCustomHook: %s", ex.what());
    info.Update = false;
  }
  // A bitmap nobody drew on stays out of the picture: the round trip through 24-bit colour
  // would only round the picture's colours and cost a second conversion.
  if (info.Update && info.Bitmap->cacheKey() != untouched && !DrawingIntoPicture(s.HookConv, frame)) {
    EngineLog(&e, llError, "Cannot initialize the fromRGB conversion context");
    info.StopHook = true;
  }
  if (info.StopHook) {
    e.HookSlot = nullptr;
    s.PluginsOff = true;
  }
}

void EmitVideo(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame) {
  TCustomFFmpeg &e = s.Engine;
  const TOptionState &o = e.Options();
  AVCodecContext *enc = ost.Enc.get();

  // 1, 2. how many times this picture is emitted
  double syncPos = double(ist.Pts - o.StartTime) / AV_TIME_BASE / av_q2d(enc->time_base);
  int64_t count = 1;
  int method = o.VideoSyncMethod;
  if (method < 0) method = (s.Outputs[ost.File].Ctx->oformat->flags & AVFMT_VARIABLE_FPS) ? 2 : 1;
  if (method) {
    double delta = syncPos - double(ost.FrameNumber);
    if (delta < -1.1) {
      count = 0;
    } else if (method == 2) {
      if (delta <= -0.6)
        count = 0;
      else if (delta > 0.6)
        ost.FrameNumber = llround(syncPos);
    } else if (delta > 1.1) {
      count = llround(delta);
    }
    if (count == 0) {
      s.DropFrames++;
      s.DupDropFlag = true;
      if (o.Verbose > 2) EngineLog(&e, llVerbose, "*** drop!");
    } else if (count > 1) {
      s.DupFrames += count - 1;
      s.DupDropFlag = true;
      if (o.Verbose > 2) EngineLog(&e, llVerbose, "*** %d dup!", int(count - 1));
    }
  } else {
    ost.FrameNumber = llround(syncPos);
  }
  // 3.
  count = std::min<int64_t>(count, int64_t(o.MaxVideoFrames) - ost.FramesWritten);
  if (count <= 0) return;

  // 4-6. crop and scale
  AVPixelFormat fmt = AVPixelFormat(frame->format);
  if (frame->width != ost.SrcW || frame->height != ost.SrcH || fmt != ost.SrcFmt) {
    if (!ost.Filter && ost.InitialW > 0 && ost.InitialH > 0) {
      // Bands in proportion to the new size, kept even for the chroma planes.
      const int initial[4] = {o.FrameTopBand, o.FrameBottomBand, o.FrameLeftBand, o.FrameRightBand};
      for (int b = 0; b < 4; ++b) {
        int64_t dim = b < 2 ? frame->height : frame->width, was = b < 2 ? ost.InitialH : ost.InitialW;
        ost.Crop[b] = int(dim * initial[b] / was) & ~1;
      }
    }
    int cropW = frame->width - ost.Crop[2] - ost.Crop[3];
    int cropH = frame->height - ost.Crop[0] - ost.Crop[1];
    EngineLog(&e, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.File, ist.Index, cropW, cropH,
              ff.av_get_pix_fmt_name(fmt));
    ost.Sws.reset();
  }
  bool crop = !ost.Filter && (ost.Crop[0] || ost.Crop[1] || ost.Crop[2] || ost.Crop[3]);
  bool scale = crop || frame->width != enc->width || frame->height != enc->height || fmt != enc->pix_fmt;
  AVFrame *picture = frame;
  if (scale) {
    if (!ost.Sws) MakeScaler(s, ost, frame->width, frame->height, fmt);
    if (!ost.Scaled) {
      ost.Scaled.reset(ff.av_frame_alloc());
      if (!ost.Scaled) Fail("Cannot allocate temp picture, check pix fmt");
    }
    if (!ost.Scaled->buf[0]) {
      ost.Scaled->format = enc->pix_fmt;
      ost.Scaled->width = enc->width;
      ost.Scaled->height = enc->height;
      if (ff.av_frame_get_buffer(ost.Scaled.get(), 0) < 0) Fail("Cannot allocate temp picture, check pix fmt");
    }
    // The encoder may still hold the previous picture.
    if (ff.av_frame_make_writable(ost.Scaled.get()) < 0) Fail("Cannot allocate temp picture, check pix fmt");
    const AVPixFmtDescriptor *desc = ff.av_pix_fmt_desc_get(fmt);
    const uint8_t *src[4] = {};
    for (int p = 0; p < 4 && frame->data[p]; ++p) {
      bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
      int top = chroma ? (ost.Crop[0] >> desc->log2_chroma_h) : ost.Crop[0];
      int left = chroma ? (ost.Crop[2] >> desc->log2_chroma_w) : ost.Crop[2];
      int pixelBytes = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) ? 1 : std::max(1, ff.av_get_bits_per_pixel(desc) / 8);
      src[p] = frame->data[p] + top * frame->linesize[p] + left * pixelBytes;
    }
    int cropH = frame->height - ost.Crop[0] - ost.Crop[1];
    ff.sws_scale(ost.Sws.get(), src, frame->linesize, 0, cropH, ost.Scaled->data, ost.Scaled->linesize);
    ff.av_frame_copy_props(ost.Scaled.get(), frame);
    picture = ost.Scaled.get();
  }

  // 7. emit
  for (int64_t i = 0; i < count && !e.StopRequested; ++i) {
    e.PauseGate.Pass();
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    picture->pts = ost.FrameNumber;
    // A fixed quantiser ("qscale") travels with every picture: the encoder reads it there.
    picture->quality = o.SameQuality ? ist.Quality : ost.Enc->global_quality;
    if (o.TopFieldFirst >= 0) picture->top_field_first = o.TopFieldFirst;
    EncodeAndWrite(s, ost, picture);
    Preview(s, picture, ist.Pts, int(ost.FrameNumber));
    ost.FrameNumber++;
    ost.FramesWritten++;
  }
}
