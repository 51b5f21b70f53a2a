// File names handed to the media libraries, and the "unicode:utf8:" file I/O that serves
// names the libraries cannot open themselves. Not a general URL parser, no network I/O.
#pragma once

#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;

// "unicode:utf8:" followed by a UTF-8 file name: served by our own file I/O.
inline constexpr const char kUnicodeURLPrefix[] = "unicode:utf8:";
// Protocols whose URLs are always handed to the libraries untouched.
inline constexpr const char kPassThroughProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// File names are UTF-8 byte strings throughout.
//
// A name needs the URL form only when the libraries would misread it: it starts like a
// URL ("name:rest", the scheme not in the pass-through list, no "//" after the colon)
// and is meant as a local file (it exists, or the libraries know no protocol by that
// scheme). Every other name the system can open goes to the libraries unchanged.
bool NeedsUnicodeName(const std::string &fileName);
std::string EncodeUnicodeURL(const std::string &fileName);
// True for the prefix followed by at least one byte.
bool IsUnicodeURL(const std::string &text);
// The file name inside a "unicode:utf8:" URL (everything after the second colon).
std::string DecodeUnicodeURL(const std::string &text);

// Every name given to or read back from the libraries passes through these two.
std::string ToLibraryFileName(const std::string &fileName);
std::string FromLibraryFileName(const std::string &text);

// Opens an input the way avformat_open_input does (same arguments, same results, same
// ownership of *ctx), but serves "unicode:utf8:" names (and names that ToLibraryFileName
// turns into one) through our own file I/O. `fileName` is the user's name or a URL.
// A missing file fails with AVERROR(ENOENT). Close with CloseLibraryInput only.
int OpenLibraryInput(AVFormatContext **ctx, const std::string &fileName, const AVInputFormat *fmt,
                     AVDictionary **opts);
// Closes what OpenLibraryInput opened (also an input opened without our I/O); sets *ctx
// to null. Safe on null.
void CloseLibraryInput(AVFormatContext **ctx);

// Lets the demuxer or muxer of `ctx` open further files in URL form itself (segments,
// playlists, references). OpenLibraryInput and OpenLibraryOutput do this; call it for a
// muxer that opens its own files (one without a file of its own, such as "segment")
// before writing its header.
void UseLibraryFileIO(AVFormatContext *ctx);

// Opens ctx->pb for writing the way avio_open2 does (flags: AVIO_FLAG_WRITE or
// AVIO_FLAG_READ_WRITE; the file is always created new and empty), with our own I/O
// for names that need it. Close with CloseLibraryOutput only.
int OpenLibraryOutput(AVFormatContext *ctx, const std::string &fileName, int flags,
                      AVDictionary **opts);
// Flushes and closes ctx->pb, whoever's I/O it is; sets it to null. Safe on null.
// Returns 0, or the error of the final flush/close.
int CloseLibraryOutput(AVFormatContext *ctx);
