// File names handed to the media libraries, and the "unicode:utf8:" file I/O that serves
// names the libraries cannot open themselves. Not a general URL parser, no network I/O.
#include "media/unicode_protocol.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "media/ffapi.h"

namespace {

constexpr size_t kPrefixLen = sizeof(kUnicodeURLPrefix) - 1;
constexpr int kIOBufferSize = 32768;
constexpr char kSchemeChars[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.";

// ---- the file I/O behind a custom AVIOContext; `opaque` is the file descriptor ----

struct UnicodeFile {
  int fd = -1;
};

int errorCode() { return AVERROR(errno ? errno : EIO); }

int fileRead(void *opaque, uint8_t *buf, int size) {
  const int fd = static_cast<UnicodeFile *>(opaque)->fd;
  for (;;) {
    const ssize_t n = ::read(fd, buf, size_t(size));
    if (n > 0) return int(n);
    if (n == 0) return AVERROR_EOF;
    if (errno != EINTR) return errorCode();
  }
}

int fileWrite(void *opaque, uint8_t *buf, int size) {
  const int fd = static_cast<UnicodeFile *>(opaque)->fd;
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, buf + done, size_t(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errorCode();
    }
    done += int(n);
  }
  return done;
}

int64_t fileSeek(void *opaque, int64_t pos, int whence) {
  const int fd = static_cast<UnicodeFile *>(opaque)->fd;
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : int64_t(errorCode());
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
  const off_t at = ::lseek(fd, off_t(pos), whence);
  return at < 0 ? int64_t(errorCode()) : int64_t(at);
}

// Opens the file behind a decoded URL: reading an existing file, or writing (or reading
// and writing) a file that is always created new and empty.
int openFile(const std::string &path, int flags, int *fd) {
  int mode = O_RDONLY;
  if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    mode = O_RDWR | O_CREAT | O_TRUNC;
  else if (flags & AVIO_FLAG_WRITE)
    mode = O_WRONLY | O_CREAT | O_TRUNC;
  if (path.empty()) return AVERROR(ENOENT);
  const int f = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
  if (f < 0) return errorCode();
  // A folder opens for reading on Linux, yet is no media file.
  struct stat st;
  if (::fstat(f, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? AVERROR(EISDIR) : errorCode();
    ::close(f);
    return err;
  }
  *fd = f;
  return 0;
}

// The I/O context over an open file, owning the file and the buffer.
int makeIO(const std::string &path, int flags, AVIOContext **pb) {
  *pb = nullptr;
  int fd = -1;
  if (const int err = openFile(path, flags, &fd); err < 0) return err;
  auto *file = new UnicodeFile{fd};
  auto *buffer = static_cast<unsigned char *>(ff.av_malloc(kIOBufferSize));
  const bool writing = flags & AVIO_FLAG_WRITE;
  AVIOContext *io = buffer ? ff.avio_alloc_context(buffer, kIOBufferSize, writing ? 1 : 0, file,
                                                   fileRead, writing ? fileWrite : nullptr, fileSeek)
                           : nullptr;
  if (!io) {
    ff.av_free(buffer);
    ::close(fd);
    delete file;
    return AVERROR(ENOMEM);
  }
  *pb = io;
  return 0;
}

bool isOurIO(const AVIOContext *pb) { return pb && pb->seek == fileSeek && pb->read_packet == fileRead; }

// Frees an I/O context made by makeIO: flushes what is left, closes the file. Returns
// the first failure of the flush or the close.
int freeIO(AVIOContext **pb) {
  if (!*pb) return 0;
  AVIOContext *io = *pb;
  int err = 0;
  if (io->write_flag) {
    ff.avio_flush(io);
    err = io->error;
  }
  auto *file = static_cast<UnicodeFile *>(io->opaque);
  if (::close(file->fd) != 0 && err == 0) err = errorCode();
  delete file;
  ff.av_freep(&io->buffer);
  ff.avio_context_free(pb);
  return err;
}

// The library reads "scheme:rest" as a URL when the scheme is made of URL scheme
// characters; everything else it opens as a plain local path.
bool looksLikeURL(const std::string &name, size_t *schemeLen) {
  const size_t n = std::strspn(name.c_str(), kSchemeChars);
  *schemeLen = n;
  return n > 0 && n < name.size() && name[n] == ':';
}

bool passThrough(const std::string &name) {
  const auto colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string key = ":" + name.substr(0, colon) + ":";
  return std::strstr(kPassThroughProtocols, key.c_str()) != nullptr;
}

std::string folderOf(const std::string &name) {
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

bool exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Files a demuxer or muxer opens by itself (segments, playlists, references) come
// through the context's io_open; names in URL form get our I/O there too. The
// library's own callbacks are remembered at each install: they belong to the library
// copy that is loaded now.
using IOOpen = int (*)(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **);
using IOClose = int (*)(AVFormatContext *, AVIOContext *);
std::atomic<IOOpen> libraryOpen{nullptr};
std::atomic<IOClose> libraryClose{nullptr};

int hookOpen(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **opts) {
  if (url && IsUnicodeURL(url)) return makeIO(DecodeUnicodeURL(url), flags, pb);
  const IOOpen open = libraryOpen.load();
  return open ? open(s, pb, url, flags, opts) : AVERROR(ENOSYS);
}

int hookClose(AVFormatContext *s, AVIOContext *pb) {
  if (isOurIO(pb)) return freeIO(&pb);
  const IOClose close = libraryClose.load();
  return close ? close(s, pb) : ff.avio_close(pb);
}

} // namespace

void UseLibraryFileIO(AVFormatContext *ctx) {
  if (!ctx || ctx->io_open == hookOpen) return;
  if (ctx->io_open) libraryOpen = ctx->io_open;
  if (ctx->io_close2) libraryClose = ctx->io_close2;
  ctx->io_open = hookOpen;
  ctx->io_close2 = hookClose;
}

bool NeedsUnicodeName(const std::string &fileName) {
  if (passThrough(fileName)) return false;
  size_t schemeLen = 0;
  if (!looksLikeURL(fileName, &schemeLen)) return false;
  // "scheme://..." is a URL of some protocol: never a local name.
  if (fileName.compare(schemeLen + 1, 2, "//") == 0) return false;
  if (exists(fileName)) return true;
  // Not there (yet): a local name when the libraries know no such protocol and the
  // folder it would live in is there, as for an output about to be written.
  const bool knownProtocol = ff.avio_find_protocol_name && ff.avio_find_protocol_name(fileName.c_str());
  return !knownProtocol && exists(folderOf(fileName));
}

std::string EncodeUnicodeURL(const std::string &fileName) { return kUnicodeURLPrefix + fileName; }

bool IsUnicodeURL(const std::string &text) {
  return text.size() > kPrefixLen && text.compare(0, kPrefixLen, kUnicodeURLPrefix) == 0;
}

std::string DecodeUnicodeURL(const std::string &text) {
  std::string rest = text;
  for (int i = 0; i < 2; ++i) {
    const auto colon = rest.find(':');
    if (colon == std::string::npos) break;
    rest.erase(0, colon + 1);
  }
  return rest;
}

std::string ToLibraryFileName(const std::string &fileName) {
  return NeedsUnicodeName(fileName) ? EncodeUnicodeURL(fileName) : fileName;
}

std::string FromLibraryFileName(const std::string &text) {
  return IsUnicodeURL(text) ? DecodeUnicodeURL(text) : text;
}

int OpenLibraryInput(AVFormatContext **ctx, const std::string &fileName, const AVInputFormat *fmt,
                     AVDictionary **opts) {
  const std::string url = ToLibraryFileName(fileName);
  // A caller that brings its own I/O keeps it.
  if (!IsUnicodeURL(url) || (*ctx && (*ctx)->pb)) {
    if (!*ctx && !(*ctx = ff.avformat_alloc_context())) return AVERROR(ENOMEM);
    UseLibraryFileIO(*ctx);
    return ff.avformat_open_input(ctx, url.c_str(), fmt, opts);
  }

  AVIOContext *pb = nullptr;
  if (const int err = makeIO(DecodeUnicodeURL(url), AVIO_FLAG_READ, &pb); err < 0) {
    if (*ctx) {
      ff.avformat_free_context(*ctx); // as avformat_open_input does on failure
      *ctx = nullptr;
    }
    return err;
  }
  AVFormatContext *s = *ctx ? *ctx : ff.avformat_alloc_context();
  if (!s) {
    freeIO(&pb);
    return AVERROR(ENOMEM);
  }
  s->pb = pb;
  UseLibraryFileIO(s);
  // The library keeps the URL as the input's name, so FromLibraryFileName gives the
  // user's name back; on failure it frees the context but leaves our I/O to us.
  const int ret = ff.avformat_open_input(&s, url.c_str(), fmt, opts);
  if (ret < 0) {
    freeIO(&pb);
    *ctx = nullptr;
    return ret;
  }
  *ctx = s;
  return 0;
}

void CloseLibraryInput(AVFormatContext **ctx) {
  if (!ctx || !*ctx) return;
  AVIOContext *pb = (*ctx)->pb;
  const bool ours = ((*ctx)->flags & AVFMT_FLAG_CUSTOM_IO) && isOurIO(pb);
  ff.avformat_close_input(ctx);
  if (ours) freeIO(&pb);
}

int OpenLibraryOutput(AVFormatContext *ctx, const std::string &fileName, int flags,
                      AVDictionary **opts) {
  if (!ctx) return AVERROR(EINVAL);
  UseLibraryFileIO(ctx);
  const std::string url = ToLibraryFileName(fileName);
  if (!IsUnicodeURL(url)) return ff.avio_open2(&ctx->pb, url.c_str(), flags, &ctx->interrupt_callback, opts);
  AVIOContext *pb = nullptr;
  if (const int err = makeIO(DecodeUnicodeURL(url), flags | AVIO_FLAG_WRITE, &pb); err < 0) return err;
  ctx->pb = pb;
  return 0;
}

int CloseLibraryOutput(AVFormatContext *ctx) {
  if (!ctx || !ctx->pb) return 0;
  if (isOurIO(ctx->pb)) return freeIO(&ctx->pb);
  return ff.avio_closep(&ctx->pb);
}
