// Texts and small helpers shared by the engine, the probe and the player: error texts,
// time, size, stream-type and codec texts, metadata and file look-ups. No I/O on media.
#pragma once

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVCodecParameters;
struct AVDictionary;

// name + ": " + ErrorMessage(err), e.g. "in.avi: No such file or directory".
std::string ErrorText(const std::string &name, int err);
// The words for a library error number; "Error number %d occurred" for unknown ones.
std::string ErrorMessage(int err);

// Microseconds as "%.2d:%.2d:%.2d.%.3d" (hours not wrapped); AV_NOPTS_VALUE gives "N/A".
std::string FormatMediaTime(int64_t us);
// Microseconds as "%.2d:%.2d:%.2d.%.3d" for window texts (no "N/A" case).
std::string FormatPlayTime(int64_t us);
// Microseconds as seconds with milliseconds, "%d.%.3d".
std::string FormatSeconds(int64_t us);
// Whole seconds as "H:MM:SS".
std::string FormatClock(int64_t seconds);
// "%.2f GB" / "%.2f MB" / "%.2f KB" above 1 GiB / MiB / KiB, else "%d Byte".
std::string FormatFileSize(int64_t bytes);
// AVMediaType number: "Video", "Audio", "Data", "Subtitle", "Attachment", else "Unknown".
std::string StreamTypeName(int type);

// "short(long name)" of the codec for the context's id (as encoder or decoder), else a
// fallback from the id, the descriptor or the codec tag. Needs the codec library.
std::string CodecDescription(const AVCodecContext *ctx, bool encoder);
std::string CodecDescription(const AVCodecParameters *par, bool encoder);

// The value of the first entry whose whole key is `key` (any letter case), else `def`. Needs the utility library.
std::string MetadataValue(const AVDictionary *m, const std::string &key, const std::string &def);

// Size of a regular file; -1 for a missing path, a folder or an unreadable entry.
int64_t FileSizeByName(const std::string &path);

// Seconds since 1970 as a date-time in days since 1899-12-30, shifted by the local
// time zone's standard offset (daylight saving not applied).
double UnixTimeToLocal(int64_t seconds);
