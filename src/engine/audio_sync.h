// Keeping encoded sound in step with the timeline: silence, discarded samples and the
// resampler's drift compensation of the audio sync methods ("async"), and the resampler's
// settings. Not conversion, framing or encoding (audio.cpp).
#pragma once

#include "engine/transcode_state.h"

// Samples of drift tolerated before anything is done about it.
inline constexpr int kAudioDriftTolerance = 50;

// The resampler's filter: length 16, 2^10 phases, no linear interpolation, cutoff 0.8.
// Called between allocating the resampler and initialising it.
void ResamplerSettings(SwrContext *swr);

// Brings the output in step before `frame` is converted, with a sync method in force:
// silence goes into the fifo ahead of the block, or the block's first samples are
// dropped, or the resampler is told to stretch. False when the whole block is dropped.
bool SyncAudio(TTranscodeState &s, TOutputStream &ost, TInputStream &ist, const AVFrame *frame);
