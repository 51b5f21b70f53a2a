// The engine's exception for option and set-up failures: its message is the text the host sees.
// Not for programming errors, which stay std::logic_error.
#pragma once

#include <stdexcept>
#include <string>

class FFmpegException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
