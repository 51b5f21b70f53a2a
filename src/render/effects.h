// The colour effects of a frame: brightness, contrast and saturation (the colour step) and
// exposure, each by per-call lookup tables. Knows nothing of watermarks or of step order.
#pragma once

#include <QImage>

// Frames are QImage::Format_BGR888 (blue, green, red bytes; rows padded to 4 bytes) and are
// changed in place. Parameters outside their ranges are clamped into them:
// brightness 0..512, contrast -100..100, saturation 0..512, exposure -255..512.

// Brightness scales the levels (256 keeps them), contrast pivots around level 170,
// saturation sets each channel's distance from the pixel's grey level (256 keeps it).
void ColorStep(QImage &frame, int brightness, int contrast, int saturation);

// Exponential lightening (positive) or darkening (negative); levels 0 and 255 never move.
void ExposureStep(QImage &frame, float exposure);

// The colour step followed by the exposure step in a single pass over the pixels; either
// may be switched off. The result is the same as running the two steps one after the other.
void EffectsStep(QImage &frame, bool color, int brightness, int contrast, int saturation,
                 bool exposure, float exposureValue);
