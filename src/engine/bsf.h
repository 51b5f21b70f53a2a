// Bitstream-filter chains: the names and arguments an option collects, and the filter contexts
// made from them for one output stream. Not which packets pass through them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/ffapi.h"

struct TBsfEntry {
  std::string Name;
  std::string Args; // text after the first "=", empty without one
};
using TBsfChain = std::vector<TBsfEntry>;

// "absf", "vbsf", "sbsf" value "name[=args]": appends to the chain. An empty value or one that
// starts with "=" does nothing; an unknown filter raises "Unknown bitstream filter %s".
void AppendBitstreamFilter(TBsfChain &chain, const std::string &value);

struct BsfContextFree {
  void operator()(AVBSFContext *c) const;
};
using TBsfContextPtr = std::unique_ptr<AVBSFContext, BsfContextFree>;

// The filters of one output stream, initialised in chain order on that stream's parameters.
class TBsfStream {
public:
  // Raises FFmpegException when a filter cannot be set up for these parameters.
  TBsfStream(const TBsfChain &chain, const AVCodecParameters *par, AVRational timeBase);
  bool Empty() const { return filters_.empty(); }
  // Parameters and time base coming out of the last filter (the input's when empty).
  const AVCodecParameters *OutputParameters() const;
  AVRational OutputTimeBase() const;
  // Runs one packet (nullptr to drain) through the chain; every packet out is handed to emit.
  // Returns 0 or a negative library error code.
  template <class Emit> int Filter(AVPacket *pkt, Emit &&emit);

private:
  int Push(size_t index, AVPacket *pkt, const std::function<int(AVPacket *)> &emit);
  std::vector<TBsfContextPtr> filters_;
  const AVCodecParameters *inputPar_;
  AVRational inputTimeBase_;
};

template <class Emit> int TBsfStream::Filter(AVPacket *pkt, Emit &&emit) {
  return Push(0, pkt, std::function<int(AVPacket *)>(std::forward<Emit>(emit)));
}
