// The video path's own set-up and filter graph: the encoder's pixel-format refinement,
// the graph between the decoder and the encoder, and pushing pictures through it.
// Not frame-rate sync, scaling without a graph or encoding (video.cpp does those).
#pragma once

#include "engine/transcode_state.h"

#include <functional>

// A configured graph: "buffer" source, optional crop and scale, the user's text between
// "in" and "out", and a sink that hands out only the encoder's pixel format.
struct TVideoFilter {
  TVideoFilter() = default;
  TVideoFilter(const TVideoFilter &) = delete;
  TVideoFilter &operator=(const TVideoFilter &) = delete;
  ~TVideoFilter();
  AVFilterGraph *Graph = nullptr;
  AVFilterContext *Source = nullptr; // owned by the graph
  AVFilterContext *Sink = nullptr;   // owned by the graph
  bool Drained = false;
};

// The pixel format the encoder is opened with: the listed one closest to the requested,
// with the twins and sizes the MJPEG and DV encoders accept.
AVPixelFormat EncoderPixelFormat(const AVCodec *codec, const AVCodecContext *enc);

// Builds the graph for an encoded video output from the source stream's size and format
// and the option state's crop bands, scaler flags and filter text; the encoder takes the
// sink's size. Raises "Error opening filters: ..." on failure.
std::shared_ptr<TVideoFilter> BuildVideoFilter(TTranscodeState &s, TOutputStream &ost);

// Pushes one picture (its time in microseconds), or none at the end, through the graph
// and hands every picture that comes out, with its time in microseconds, to `take`.
void RunVideoFilter(TTranscodeState &s, TVideoFilter &f, AVFrame *frame, int64_t pts,
                    const std::function<void(AVFrame *, int64_t)> &take);

// Everything the video path sets up beyond the transcoder's defaults (called at the end
// of VideoSetup): the pixel format and, with a filter text, the graph.
void VideoPathSetup(TTranscodeState &s, TOutputStream &ost);
// Pictures still held in the graph at the end of the stream go out before the encoder
// is flushed.
void FlushVideoPath(TTranscodeState &s, TOutputStream &ost, TInputStream &ist);
// Encodes one picture after frame-rate sync, crop and scale (video.cpp).
void EmitVideo(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, AVFrame *frame);
