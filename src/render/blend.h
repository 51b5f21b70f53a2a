// Blends a watermark picture into a frame at a position, by alpha or by multiplying.
// Knows nothing of where the picture comes from.
#pragma once

#include <QImage>

// Style 1: out = ((256 - alpha) * frame + alpha * overlay) >> 8, so alpha 0 keeps the frame and
// 255 comes within one level of the overlay. Any other style: out = frame * overlay / 255
// (white keeps the frame, black blackens it). Alpha is clamped to 0..255.
// The overlay is cut at the frame's edges, on all four sides; a position at or past the
// right or bottom edge draws nothing. The frame must be Format_BGR888; an overlay of another
// format is converted first.
void ImageBlend(QImage &frame, const QImage &overlay, int x, int y, int alpha, int style);
