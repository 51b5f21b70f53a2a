// One format's sections: its profile (what the format offers, read-only) and the user's
// picks (what was chosen, in the settings file), with the labels the parameter controls
// show mapped to the values they store. Builds no conversion option.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/inifile.h"

// The profile's value-list keys, each with its default-index key ("i" + name).
inline constexpr const char *ProfileListKeys[] = {"VideoSize",   "VideoBitRate", "FrameRate",
                                                  "VideoEncoder", "AudioBitRate", "SampleRate",
                                                  "AudioEncoder", "Channel",     "Volume"};
// The H.264 extras a profile may carry and the encoder choice copies into the picks.
inline constexpr const char *H264ExtraKeys[] = {"paraBitExact", "paraMaxBitrate", "paraBufferSize",
                                                "paraLevel",    "paraQscale",     "paraGop",
                                                "paraCoder"};

class TFormatProfile {
public:
  TFormatProfile(std::string profileFile, int code);

  int Code() const { return code_; }
  const std::string &Section() const { return section_; }
  const TIniFile &Ini() const { return ini_; }

  std::string Read(const std::string &key, const std::string &def) const;
  // "Format" (default "null") and "FileExt" (default "mp4").
  std::string Format() const;
  std::string FileExt() const;
  // The items of a value list; nothing when the key is absent or holds "null".
  std::optional<std::vector<std::string>> List(const std::string &listKey) const;
  // "i" + listKey, default 0.
  int DefaultIndex(const std::string &listKey) const;
  // The list's item at its default index; nothing when there is no list or the index
  // lies outside it.
  std::optional<std::string> DefaultItem(const std::string &listKey) const;

private:
  TIniFile ini_;
  int code_;
  std::string section_;
};

// Encoder labels (compared without regard to case) to the names the picks store;
// nothing for a label the controls do not know.
std::optional<std::string> MapVideoEncoderLabel(const std::string &label);
std::optional<std::string> MapAudioEncoderLabel(const std::string &label);
// "as source", "mono 1 channel", "stereo 2 channels" to "as source", "1", "2".
std::optional<std::string> MapChannelItem(const std::string &item);
// "100%" to "256": the number before the last character, when it is one of the offered
// percentages, times 256 / 100. Throws std::invalid_argument when the number part is not
// a whole number; nothing for a whole number that is not offered.
std::optional<std::string> MapVolumeItem(const std::string &item);

// The value a picks key holds for a format the user never adjusted: the profile's default
// item of the matching list, mapped as the controls map it. Nothing when the profile offers
// no list for that key (or it has no list, such as "paraZoom").
std::optional<std::string> ProfileDefaultPick(const TFormatProfile &profile,
                                              const std::string &picksKey);
