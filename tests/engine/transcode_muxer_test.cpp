// The muxer's own settings, such as a disc target's fixed multiplex rate, reach the muxer.
#include "transcode_support.h"

#include "fixtures/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace ts;

namespace {

// The multiplex rate of the first MPEG-1 pack header, in units of 50 bytes per second.
int FirstPackMuxRate(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  const auto at = data.find(std::string("\x00\x00\x01\xBA", 4));
  if (at == std::string::npos || at + 12 > data.size()) return -1;
  const auto *b = reinterpret_cast<const unsigned char *>(data.data() + at + 9);
  return int(((b[0] & 0x7F) << 15) | (b[1] << 7) | (b[2] >> 1));
}

} // namespace

TEST(TranscodeMuxer, DiscTargetFixesTheMultiplexRate) {
  LogCapture log;
  const std::string out = TempDir() + "/vcd.mpg";
  TRunResult r = Convert(fixtures::Path("av.avi"), {}, out, {{"target", "pal-vcd"}});
  ASSERT_TRUE(r.Finished) << r.ErrorMessage;
  EXPECT_EQ(FirstPackMuxRate(out), 1411200 / 8 / 50); // the target's 1411200 bit/s
  EXPECT_EQ(log.Text().find("was not used by muxer"), std::string::npos) << log.Text();
}
