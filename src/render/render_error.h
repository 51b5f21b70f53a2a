// The exception a frame's rendering ends with (an unreadable watermark picture, a frame that
// cannot be drawn on); its message is the text the conversion hook or the player logs.
#pragma once

#include <stdexcept>

class TRenderError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
