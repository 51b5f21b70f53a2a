// Reading back what the audio and video paths produced: decoded pictures as RGB and
// decoded sound as float samples. Not a test itself.
#pragma once

#include "transcode_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace paths {

struct Picture {
  int Width = 0, Height = 0;
  AVPixelFormat CodedFormat = AV_PIX_FMT_NONE; // as the decoder hands it out
  std::vector<uint8_t> Rgb;                    // packed RGB24, Width * 3 bytes a row
  const uint8_t *At(int x, int y) const { return &Rgb[(size_t(y) * Width + x) * 3]; }
};

// The first picture of the first video stream; an empty picture (and a test failure) when
// there is none.
Picture FirstPicture(const std::string &path);
// The last picture of the first video stream, likewise.
Picture LastPicture(const std::string &path);

struct Sound {
  int SampleRate = 0, Channels = 0;
  std::vector<float> Samples; // interleaved
  double StartSeconds = 0;     // time of the first decoded block
  int64_t Frames() const { return Channels ? int64_t(Samples.size()) / Channels : 0; }
};

// Every sample of the first audio stream, as float.
Sound DecodeSound(const std::string &path);

// The largest |sample| among frames [from, to) of the sound.
float Peak(const Sound &s, int64_t from, int64_t to);

// Lines of a capture that contain `needle`.
int CountLines(const std::string &text, const std::string &needle);

} // namespace paths
