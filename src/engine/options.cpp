// The option dispatcher: the tables of option names, the rules behind them and the generic setter.
// Not the option state's consumers, nor presets and bitstream filters (their own files).
#include "engine/options.h"

#include "engine/ffmpeg_exception.h"

struct TGenericOptions::Impl {};

TGenericOptions::TGenericOptions() = default;
TGenericOptions::~TGenericOptions() = default;
void TGenericOptions::Reset(int) {}
bool TGenericOptions::Allocated() const { return false; }
AVCodecContext *TGenericOptions::Codec(AVMediaType) const { return nullptr; }
AVFormatContext *TGenericOptions::Format() const { return nullptr; }
SwsContext *TGenericOptions::Scaler() const { return nullptr; }
void TGenericOptions::NoteSet(const std::string &) {}
AVDictionary *TGenericOptions::PrivateOptionsCopy(AVMediaType) const { return nullptr; }
AVDictionary *&TGenericOptions::PrivateOptions(AVMediaType) {
  static AVDictionary *none = nullptr;
  return none;
}

void TOptionState::Reset() {}

void DispatchOption(TOptionHost &, const std::string &, const std::string &) {}
void DispatchOption(TCustomFFmpeg &, const std::string &, const std::string &) {}
bool SetGenericOption(TOptionHost &, const std::string &, const std::string &) { return false; }
void ApplyTargetPreset(TOptionHost &, const std::string &, const std::string &, const std::string &) {}
void ApplyPreset(TOptionHost &, const std::string &, const std::string &) {}
void CopySetGenericOptions(const TGenericOptions &, void *, void *, int) {}
void WarnUnusedEncoderOptions(const void *, const AVDictionary *, const AVCodec *) {}
std::string ResolveLegacyCodecName(const std::string &name) { return name; }
int ParseInt(const std::string &) { return 0; }
int64_t ParseInt64(const std::string &) { return 0; }
double ParseDouble(const std::string &) { return 0; }
TMatrix ParseMatrix(const std::string &) { return {}; }
