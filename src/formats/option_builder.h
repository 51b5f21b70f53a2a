// Turns a format's profile, the user's picks for it and one file's record into the options
// of a conversion task. Reads the two INI files; converts nothing and shows nothing.
#pragma once

#include <functional>
#include <string>

#include "engine/records.h"
#include "formats/files_record.h"

class TCustomAVProbe;

// What the builder needs to know of the source's first video stream.
struct TSourceVideo {
  int VideoStreamCount = -1; // -1 when the source could not be opened
  int Width = -1;
  int Height = -1;
  int BitRate = -1; // bit/s; 0 or less when unknown
  std::string ForcedFormatName;
};

// The probe's view of its file, as the builder reads it.
TSourceVideo SourceVideoOf(TCustomAVProbe &probe);

// A yes/no question for the user: true for Yes.
using TAskQuestion = std::function<bool(const std::string &text, const std::string &caption)>;

inline constexpr const char *FrameSizeQuestion =
    "Error output Video Size.Use the default size 320x240?";
inline constexpr const char *FrameSizeQuestionCaption = "Warning";

struct TOptionSources {
  std::string ProfileFile;  // empty: the global object's
  std::string SettingsFile; // empty: the global object's
  // Asked when the picked frame size is not "width x height"; unset means Yes.
  TAskQuestion Ask;
};

// Fills the codec, size, rate, filter and audio options of one task. Throws FFmpegException
// when a pick cannot be used (a volume that is not a whole number).
void BuildTaskOptions(const TlvFilesRecord &row, int formatCode, TOutputOptions &output,
                      const TSourceVideo &source, TInputOptions &input,
                      const TOptionSources &sources = {});
void BuildTaskOptions(const TlvFilesRecord &row, int formatCode, TOutputOptions &output,
                      TCustomAVProbe &probe, TInputOptions &input,
                      const TOptionSources &sources = {});

// The whole of one file as Start queues it: fresh records, the source and output names,
// the trim, the row's zoom mode from the picks ("parazoom", default "lbox"), the options
// above and the custom hook. `probe` is opened on the row's source; the caller has made
// the output name.
void AssembleTaskOptions(TlvFilesRecord &row, int formatCode, const std::string &outputFileName,
                         TCustomAVProbe &probe, TInputOptions &input, TOutputOptions &output,
                         const TOptionSources &sources = {});

// Number tests of the option texts: a signed decimal whole number, and a decimal real.
bool IsInteger(const std::string &text);
bool IsNumber(const std::string &text);
