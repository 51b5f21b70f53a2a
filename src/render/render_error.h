// The exception a frame's rendering ends with (an unreadable watermark picture, a frame that
// cannot be drawn on), and the check every step makes of its frame. Does no rendering.
#pragma once

#include <QImage>
#include <stdexcept>

class TRenderError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// False for a frame without pixels, which every step leaves alone; throws for a frame that is
// not 24-bit BGR, since its bytes would be misread.
inline bool RenderableFrame(const QImage &frame) {
  if (frame.isNull()) return false;
  if (frame.format() != QImage::Format_BGR888)
    throw TRenderError("The frame to render is not a 24-bit BGR picture");
  return true;
}
