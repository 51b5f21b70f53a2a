// Names handed to the libraries, and inputs and outputs opened through our own file
// I/O: reading, writing, seeking and the failures a caller reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "fixtures/fixtures.h"
#include "media/ffapi.h"
#include "media/ffutils.h"
#include "media/loader.h"
#include "media/unicode_protocol.h"

namespace fs = std::filesystem;

namespace {

void loadLibs() { ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError(); }

// A scratch folder, also the working folder while it lives (relative names land in it).
struct Scratch {
  fs::path dir, before;
  Scratch() {
    dir = fs::temp_directory_path() / ("marlo-unicode-" + std::to_string(getpid()));
    fs::create_directories(dir);
    before = fs::current_path();
    fs::current_path(dir);
  }
  ~Scratch() {
    fs::current_path(before);
    fs::remove_all(dir);
  }
  std::string Path(const std::string &name) const { return (dir / name).string(); }
};

struct InputCloser {
  void operator()(AVFormatContext *c) const { CloseLibraryInput(&c); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct Summary {
  int streams = 0;
  int packets = 0;
  int64_t bytes = 0;
  int64_t duration = 0;
};

// Opens `name` with OpenLibraryInput and reads every packet.
Summary readAll(const std::string &name) {
  AVFormatContext *raw = nullptr;
  const int err = OpenLibraryInput(&raw, name, nullptr, nullptr);
  EXPECT_EQ(err, 0) << ErrorText(name, err);
  Input in(raw);
  Summary s;
  if (!in) return s;
  EXPECT_GE(ff.avformat_find_stream_info(in.get(), nullptr), 0);
  s.streams = int(in->nb_streams);
  s.duration = in->duration;
  AVPacket *pkt = ff.av_packet_alloc();
  int ret;
  while ((ret = ff.av_read_frame(in.get(), pkt)) >= 0) {
    ++s.packets;
    s.bytes += pkt->size;
    ff.av_packet_unref(pkt);
  }
  ff.av_packet_free(&pkt);
  EXPECT_EQ(ret, AVERROR_EOF);
  return s;
}

// Copies every stream of `from` into a new file `to` of container `format`.
int remux(const std::string &from, const std::string &to, const char *format,
          const char *muxerOption = nullptr, const char *muxerValue = nullptr) {
  AVFormatContext *raw = nullptr;
  if (int err = OpenLibraryInput(&raw, from, nullptr, nullptr); err < 0) return err;
  Input in(raw);
  if (int err = ff.avformat_find_stream_info(in.get(), nullptr); err < 0) return err;
  AVFormatContext *out = nullptr;
  if (int err = ff.avformat_alloc_output_context2(&out, nullptr, format, to.c_str()); err < 0) return err;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> owner(out, [](AVFormatContext *c) {
    CloseLibraryOutput(c);
    ff.avformat_free_context(c);
  });
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream *st = ff.avformat_new_stream(out, nullptr);
    ff.avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar);
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[i]->time_base;
  }
  if (muxerOption) ff.av_opt_set(out->priv_data, muxerOption, muxerValue, 0);
  if (out->oformat->flags & AVFMT_NOFILE)
    UseLibraryFileIO(out); // the muxer opens its files itself
  else if (int err = OpenLibraryOutput(out, to, AVIO_FLAG_WRITE, nullptr); err < 0)
    return err;
  if (int err = ff.avformat_write_header(out, nullptr); err < 0) return err;
  AVPacket *pkt = ff.av_packet_alloc();
  while (ff.av_read_frame(in.get(), pkt) >= 0) {
    ff.av_packet_rescale_ts(pkt, in->streams[pkt->stream_index]->time_base,
                            out->streams[pkt->stream_index]->time_base);
    pkt->pos = -1;
    const int err = ff.av_interleaved_write_frame(out, pkt);
    if (err < 0) {
      ff.av_packet_free(&pkt);
      return err;
    }
  }
  ff.av_packet_free(&pkt);
  if (int err = ff.av_write_trailer(out); err < 0) return err;
  return CloseLibraryOutput(out);
}

} // namespace

TEST(LibraryFileName, OnlyLocalNamesTheLibrariesWouldMisreadAreRewritten) {
  loadLibs();
  Scratch s;
  std::ofstream("clip:1.mp4") << "x";
  struct Case {
    const char *name;
    const char *library;
  } cases[] = {
      {"/tmp/a.mp4", "/tmp/a.mp4"},
      {"/tmp/Кино с пробелами.mp4", "/tmp/Кино с пробелами.mp4"}, // bytes go as they are
      {"relative/dir:x/a.mp4", "relative/dir:x/a.mp4"},              // a path, not a URL
      {"http://хост/a.mp4", "http://хост/a.mp4"},                    // pass-through protocols
      {"udp://239.0.0.1:1234", "udp://239.0.0.1:1234"},
      {"pipe:0", "pipe:0"},
      {"unicode:utf8:/tmp/a.mp4", "unicode:utf8:/tmp/a.mp4"},
      {"https://example.com/a.mp4", "https://example.com/a.mp4"}, // a URL of any protocol
      {"file:a.mp4", "file:a.mp4"},                               // a protocol the library knows
      {"clip:1.mp4", "unicode:utf8:clip:1.mp4"},                  // an existing local file
      {"take:2.mkv", "unicode:utf8:take:2.mkv"},                  // an output about to be made
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ToLibraryFileName(c.name), c.library) << c.name;
    if (!IsUnicodeURL(c.name)) {
      EXPECT_EQ(FromLibraryFileName(ToLibraryFileName(c.name)), c.name) << c.name;
    }
  }
}

TEST(LibraryFileName, URLFormIsRecognisedAndDecoded) {
  struct Case {
    const char *text;
    bool isURL;
    const char *name;
  } cases[] = {
      {"unicode:utf8:", false, "unicode:utf8:"},
      {"unicode:utf8:a", true, "a"},
      {"unicode:utf8:c:/x/Кино.avi", true, "c:/x/Кино.avi"}, // a colon in the name survives
      {"Unicode:utf8:a", false, "Unicode:utf8:a"},
      {"unicode:utf16:a", false, "unicode:utf16:a"},
      {"", false, ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(IsUnicodeURL(c.text), c.isURL) << c.text;
    EXPECT_EQ(FromLibraryFileName(c.text), c.name) << c.text;
  }
  EXPECT_EQ(EncodeUnicodeURL("/v/Кино.mp4"), "unicode:utf8:/v/Кино.mp4");
  EXPECT_EQ(DecodeUnicodeURL("unicode:utf8:/v/Кино.mp4"), "/v/Кино.mp4");
}

TEST(OpenLibraryInput, URLFormReadsTheSameAsAPlainName) {
  loadLibs();
  for (const char *name : {"av.mp4", "av.ts", "Кино с пробелами.mp4"}) {
    const std::string path = fixtures::Path(name);
    const Summary plain = readAll(path);
    const Summary viaURL = readAll(EncodeUnicodeURL(path));
    EXPECT_EQ(viaURL.streams, plain.streams) << name;
    EXPECT_EQ(viaURL.packets, plain.packets) << name;
    EXPECT_EQ(viaURL.bytes, plain.bytes) << name;
    EXPECT_EQ(viaURL.duration, plain.duration) << name;
    EXPECT_GT(plain.packets, 0) << name;
  }
}

TEST(OpenLibraryInput, KeepsTheURLAsTheInputsNameAndServesItsSize) {
  loadLibs();
  const std::string path = fixtures::Path("av.mkv");
  AVFormatContext *raw = nullptr;
  ASSERT_EQ(OpenLibraryInput(&raw, EncodeUnicodeURL(path), nullptr, nullptr), 0);
  Input in(raw);
  EXPECT_STREQ(in->url, EncodeUnicodeURL(path).c_str());
  EXPECT_EQ(FromLibraryFileName(in->url), path);
  EXPECT_EQ(ff.avio_size(in->pb), FileSizeByName(path));
  // Seeking back to the start after reading gives the first packet again.
  AVPacket *pkt = ff.av_packet_alloc();
  ASSERT_EQ(ff.av_read_frame(in.get(), pkt), 0);
  const int64_t firstPos = pkt->pos;
  ff.av_packet_unref(pkt);
  for (int i = 0; i < 20 && ff.av_read_frame(in.get(), pkt) >= 0; ++i) ff.av_packet_unref(pkt);
  ASSERT_GE(ff.av_seek_frame(in.get(), -1, 0, AVSEEK_FLAG_BACKWARD), 0);
  ASSERT_EQ(ff.av_read_frame(in.get(), pkt), 0);
  EXPECT_EQ(pkt->pos, firstPos);
  ff.av_packet_free(&pkt);
}

TEST(OpenLibraryInput, BadInputFailsWithItsCause) {
  loadLibs();
  Scratch s;
  fs::create_directories("folder.mp4");
  struct Case {
    std::string name;
    int err;
  } cases[] = {
      {EncodeUnicodeURL(s.Path("missing.mp4")), AVERROR(ENOENT)},
      {s.Path("missing.mp4"), AVERROR(ENOENT)},
      {"gone:1.mp4", AVERROR(ENOENT)}, // a local name in URL form that points nowhere
      {EncodeUnicodeURL(s.Path("no/such/folder/a.mp4")), AVERROR(ENOENT)},
      {EncodeUnicodeURL(s.Path("folder.mp4")), AVERROR(EISDIR)},
      {EncodeUnicodeURL(fixtures::Path("random.bin")), AVERROR_INVALIDDATA},
  };
  for (const auto &c : cases) {
    AVFormatContext *ctx = nullptr;
    EXPECT_EQ(OpenLibraryInput(&ctx, c.name, nullptr, nullptr), c.err) << c.name;
    EXPECT_EQ(ctx, nullptr) << c.name;
  }
  // A context the caller allocated is freed on failure, as the library does.
  AVFormatContext *own = ff.avformat_alloc_context();
  const int err = OpenLibraryInput(&own, EncodeUnicodeURL(s.Path("missing.mp4")), nullptr, nullptr);
  EXPECT_EQ(own, nullptr);
  EXPECT_EQ(ErrorText("missing.mp4", err), "missing.mp4: No such file or directory");

  // Empty and cut files fail or read short, but never crash or hang.
  for (const char *name : {"empty.mp4", "truncated.mp4"}) {
    AVFormatContext *ctx = nullptr;
    if (OpenLibraryInput(&ctx, EncodeUnicodeURL(fixtures::Path(name)), nullptr, nullptr) == 0) {
      Input in(ctx);
      ff.avformat_find_stream_info(in.get(), nullptr);
      AVPacket *pkt = ff.av_packet_alloc();
      while (ff.av_read_frame(in.get(), pkt) >= 0) ff.av_packet_unref(pkt);
      ff.av_packet_free(&pkt);
    } else {
      EXPECT_EQ(ctx, nullptr) << name;
    }
  }
  CloseLibraryInput(nullptr);
}

TEST(OpenLibraryOutput, WritesAPlayableFileThroughTheURLForm) {
  loadLibs();
  Scratch s;
  const std::string source = fixtures::Path("av.mp4");
  // MP4 goes back to patch its sizes, so this also exercises seeking while writing.
  struct Case {
    std::string to;
    const char *format;
  } cases[] = {
      {EncodeUnicodeURL(s.Path("Кино.mp4")), "mp4"},
      {"take:2.mkv", "matroska"}, // a local name the library would take for a URL
      {s.Path("plain.mkv"), "matroska"},
  };
  const Summary original = readAll(source);
  for (const auto &c : cases) {
    ASSERT_EQ(remux(source, c.to, c.format), 0) << c.to;
    const Summary copy = readAll(c.to);
    EXPECT_EQ(copy.streams, original.streams) << c.to;
    EXPECT_EQ(copy.packets, original.packets) << c.to;
    EXPECT_NEAR(double(copy.duration), double(original.duration), 100000.0) << c.to;
  }
  EXPECT_TRUE(fs::exists(s.dir / "take:2.mkv"));
}

TEST(OpenLibraryOutput, ReplacesAnExistingFileAndFailsWithoutItsFolder) {
  loadLibs();
  Scratch s;
  const std::string target = s.Path("old.mkv");
  std::ofstream(target) << std::string(4 << 20, 'z');
  ASSERT_EQ(remux(fixtures::Path("av.mkv"), EncodeUnicodeURL(target), "matroska"), 0);
  EXPECT_LT(FileSizeByName(target), 4 << 20); // created anew, not written over the old bytes
  EXPECT_EQ(readAll(target).streams, 2);

  AVFormatContext *out = nullptr;
  ASSERT_EQ(ff.avformat_alloc_output_context2(&out, nullptr, "matroska", nullptr), 0);
  EXPECT_EQ(OpenLibraryOutput(out, EncodeUnicodeURL(s.Path("no/such/a.mkv")), AVIO_FLAG_WRITE, nullptr),
            AVERROR(ENOENT));
  EXPECT_EQ(out->pb, nullptr);
  EXPECT_EQ(CloseLibraryOutput(out), 0);
  ff.avformat_free_context(out);
}

TEST(OpenLibraryOutput, FilesAMuxerOpensItselfAlsoTakeTheURLForm) {
  loadLibs();
  Scratch s;
  const std::string source = fixtures::Path("av.ts");
  ASSERT_EQ(remux(source, EncodeUnicodeURL(s.Path("Кусок%d.ts")), "segment", "segment_format", "mpegts"), 0);
  int packets = 0;
  for (int i = 0; fs::exists(s.dir / ("Кусок" + std::to_string(i) + ".ts")); ++i)
    packets += readAll(EncodeUnicodeURL(s.Path("Кусок" + std::to_string(i) + ".ts"))).packets;
  EXPECT_TRUE(fs::exists(s.dir / "Кусок0.ts"));
  EXPECT_EQ(packets, readAll(source).packets);
}

TEST(OpenLibraryInput, InstallingOurFileIOTwiceStillReachesTheLibrarysOwn) {
  loadLibs();
  // A second install must not take our own hook for the library's: plain names would
  // then loop back into it forever.
  AVFormatContext *raw = ff.avformat_alloc_context();
  UseLibraryFileIO(raw);
  UseLibraryFileIO(raw);
  ASSERT_EQ(OpenLibraryInput(&raw, fixtures::Path("av.mp4"), nullptr, nullptr), 0);
  Input in(raw);
  EXPECT_EQ(in->nb_streams, 2u);
}
