// Deinterlacing of decoded pictures before the hook: a small graph per input stream
// with the libraries' deinterlacer, one picture out per picture in. Not the output's
// filter graph (video_filter.h).
#pragma once

#include "engine/transcode_state.h"

#include <functional>

struct TDeinterlacer;

// With deinterlacing on, pushes `frame` (its time is the stream's current time) and puts
// the deinterlaced picture that is ready in its place, with the stream's time set to it.
// The deinterlacer looks one picture ahead, so the first call holds its picture and
// returns false. A failure is logged and leaves the picture as decoded.
bool Deinterlace(TTranscodeState &s, TInputStream &ist, AVFrame *frame);

// At the end of the stream: hands every picture still held to `deliver`.
void DrainDeinterlacer(TTranscodeState &s, TInputStream &ist, const std::function<void(AVFrame *)> &deliver);
