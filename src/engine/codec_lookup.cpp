// Finding a decoder or encoder by the name a user gave, with the messages for unknown,
// mistyped and experimental codecs. Not the choice of a codec when none is named.
#include "engine/transcode_state.h"

const AVCodec *FindCodecByName(const std::string &name, AVMediaType type, bool encoder, int strict) {
  if (name.empty()) return nullptr;
  const char *kind = encoder ? "encoder" : "decoder";
  // Stored settings may name an encoder the current libraries call differently.
  const std::string current = encoder ? ResolveLegacyCodecName(name) : name;
  const AVCodec *codec = encoder ? ff.avcodec_find_encoder_by_name(current.c_str())
                                 : ff.avcodec_find_decoder_by_name(current.c_str());
  if (!codec) Fail(Format("Unknown %s '%s'", kind, current.c_str()));
  if (codec->type != type) Fail(Format("Invalid %s type '%s'", kind, current.c_str()));
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
    std::string msg = Format("%s '%s' is experimental and might produce bad results.\r\n"
                             "Add '-strict experimental' if you want to use it.",
                             kind, codec->name);
    const AVCodec *alt =
        encoder ? ff.avcodec_find_encoder(codec->id) : ff.avcodec_find_decoder(codec->id);
    if (alt && !(alt->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      msg += Format("\r\nOr use the non experimental %s '%s'.", kind, alt->name);
    Fail(msg);
  }
  return codec;
}
