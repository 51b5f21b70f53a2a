// The generated source the benchmarks measure on. Not a benchmark itself.
#pragma once

#include "fixtures/fixtures.h"

namespace bench {

// An H.264 + AAC MP4 of the given picture size and length, encoded quickly: only what is
// done with it is measured.
inline fixtures::MediaSpec HdSource(int width, int height, double seconds) {
  fixtures::MediaSpec recipe;
  recipe.container = "mp4";
  recipe.vcodec = "libx264";
  recipe.acodec = "aac";
  recipe.width = width;
  recipe.height = height;
  recipe.seconds = seconds;
  recipe.videoOptions = {{"preset", "veryfast"}};
  return recipe;
}

} // namespace bench
