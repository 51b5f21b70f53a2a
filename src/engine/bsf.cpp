// Bitstream-filter chains and the per-stream filter contexts made from them.
// Not the packet loop that feeds them.
#include "engine/bsf.h"

#include "engine/ffmpeg_exception.h"
#include "media/ffowners.h"

namespace {
std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string LibError(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  ff.av_strerror(err, buf, sizeof buf);
  return buf;
}

} // namespace

void AppendBitstreamFilter(TBsfChain &chain, const std::string &value) {
  if (value.empty() || value[0] == '=') return;
  size_t eq = value.find('=');
  TBsfEntry entry;
  entry.Name = eq == std::string::npos ? value : value.substr(0, eq);
  if (eq != std::string::npos) entry.Args = value.substr(eq + 1);
  if (!ff.av_bsf_get_by_name(entry.Name.c_str()))
    throw FFmpegException("Unknown bitstream filter " + Trim(value));
  chain.push_back(std::move(entry));
}

void BsfContextFree::operator()(AVBSFContext *c) const { ff.av_bsf_free(&c); }

TBsfStream::TBsfStream(const TBsfChain &chain, const AVCodecParameters *par, AVRational timeBase)
    : inputPar_(par), inputTimeBase_(timeBase) {
  const AVCodecParameters *in = par;
  AVRational tb = timeBase;
  for (const TBsfEntry &entry : chain) {
    const AVBitStreamFilter *filter = ff.av_bsf_get_by_name(entry.Name.c_str());
    if (!filter) throw FFmpegException("Unknown bitstream filter " + entry.Name);
    AVBSFContext *raw = nullptr;
    if (int err = ff.av_bsf_alloc(filter, &raw); err < 0)
      throw FFmpegException("Cannot allocate bitstream filter " + entry.Name + ": " + LibError(err));
    TBsfContextPtr ctx(raw);
    if (int err = ff.avcodec_parameters_copy(ctx->par_in, in); err < 0)
      throw FFmpegException("Cannot set up bitstream filter " + entry.Name + ": " + LibError(err));
    ctx->time_base_in = tb;
    // Arguments name the filter's options in order ("value:value") or by name ("key=value").
    if (!entry.Args.empty() && filter->priv_class) {
      std::vector<const char *> shorthand;
      const AVOption *o = nullptr;
      while ((o = ff.av_opt_next(ctx->priv_data, o)))
        if (o->type != AV_OPT_TYPE_CONST) shorthand.push_back(o->name);
      shorthand.push_back(nullptr);
      if (int err = ff.av_opt_set_from_string(ctx->priv_data, entry.Args.c_str(), shorthand.data(), "=", ":"); err < 0)
        throw FFmpegException("Invalid arguments \"" + entry.Args + "\" for bitstream filter " + entry.Name + ": " +
                              LibError(err));
    }
    if (int err = ff.av_bsf_init(ctx.get()); err < 0)
      throw FFmpegException("Cannot initialize bitstream filter " + entry.Name + ": " + LibError(err));
    in = ctx->par_out;
    tb = ctx->time_base_out;
    filters_.push_back(std::move(ctx));
  }
}

const AVCodecParameters *TBsfStream::OutputParameters() const {
  return filters_.empty() ? inputPar_ : filters_.back()->par_out;
}

AVRational TBsfStream::OutputTimeBase() const {
  return filters_.empty() ? inputTimeBase_ : filters_.back()->time_base_out;
}

int TBsfStream::Push(size_t index, AVPacket *pkt, const std::function<int(AVPacket *)> &emit) {
  if (index == filters_.size()) return pkt ? emit(pkt) : 0;
  AVBSFContext *ctx = filters_[index].get();
  if (int err = ff.av_bsf_send_packet(ctx, pkt); err < 0) return err;
  TPacketPtr out(ff.av_packet_alloc());
  if (!out) return AVERROR(ENOMEM);
  for (;;) {
    int err = ff.av_bsf_receive_packet(ctx, out.get());
    if (err == AVERROR(EAGAIN)) return 0;
    if (err == AVERROR_EOF) return Push(index + 1, nullptr, emit); // drained: drain the rest
    if (err < 0) return err;
    err = Push(index + 1, out.get(), emit);
    ff.av_packet_unref(out.get());
    if (err < 0) return err;
  }
}
