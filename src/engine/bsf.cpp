// Bitstream-filter chains and the per-stream filter contexts made from them.
// Not the packet loop that feeds them.
#include "engine/bsf.h"

void AppendBitstreamFilter(TBsfChain &, const std::string &) {}
void BsfContextFree::operator()(AVBSFContext *c) const { ff.av_bsf_free(&c); }
TBsfStream::TBsfStream(const TBsfChain &, const AVCodecParameters *par, AVRational tb)
    : inputPar_(par), inputTimeBase_(tb) {}
const AVCodecParameters *TBsfStream::OutputParameters() const { return inputPar_; }
AVRational TBsfStream::OutputTimeBase() const { return inputTimeBase_; }
int TBsfStream::Push(size_t, AVPacket *, const std::function<int(AVPacket *)> &) { return 0; }
