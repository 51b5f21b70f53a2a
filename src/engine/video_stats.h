// The video statistics file ("vstats", "vstats_file"): one line per encoded picture with
// its quality, PSNR, sizes and bit rates. Not the progress report or two-pass logs.
#pragma once

#include "engine/transcode_state.h"

// Appends the line for one encoded picture (its packet, with the encoder's quality side
// data); opens the file on first use and raises "fopen fail: <name>" when it cannot.
void WriteVideoStats(TTranscodeState &s, TOutputStream &ost, const AVPacket *pkt);

// PSNR in decibels of a squared-error sum over a width x height plane of 8-bit samples.
double Psnr(double errorSum, int width, int height);
