// Driving one engine without the component, and reading back what it wrote.
// Not a test itself.
#include "transcode_support.h"

#include "media/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace ts {

const StreamSummary *FileSummary::First(AVMediaType type) const {
  for (const auto &s : Streams)
    if (s.Type == type) return &s;
  return nullptr;
}

namespace {

std::map<std::string, std::string> ToMap(const AVDictionary *d) {
  std::map<std::string, std::string> m;
  const AVDictionaryEntry *e = nullptr;
  // Containers spell keys in their own case ("TITLE", "title"): compare in lower case.
  while ((e = ff.av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX))) {
    std::string key = e->key;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    m[key] = e->value;
  }
  return m;
}

} // namespace

// The conversion libraries, loaded once per process.
void EnsureLibs() {
  static bool loaded = FFLoader().LoadLibs(ConverterLibs);
  ASSERT_TRUE(loaded) << FFLoader().LastError();
}

FileSummary Inspect(const std::string &path) {
  FileSummary out;
  EnsureLibs();
  AVFormatContext *ic = nullptr;
  if (ff.avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return out;
  }
  ff.avformat_find_stream_info(ic, nullptr);
  out.Duration = ic->duration == AV_NOPTS_VALUE ? 0 : ic->duration / 1e6;
  out.Metadata = ToMap(ic->metadata);
  for (unsigned i = 0; i < ic->nb_chapters; ++i) {
    const AVChapter *c = ic->chapters[i];
    out.Chapters.push_back({c->start * av_q2d(c->time_base), c->end * av_q2d(c->time_base)});
    const AVDictionaryEntry *t = ff.av_dict_get(c->metadata, "title", nullptr, 0);
    out.ChapterTitles.push_back(t ? t->value : "");
  }
  std::vector<int64_t> lastTs(ic->nb_streams, AV_NOPTS_VALUE);
  std::vector<bool> seen(ic->nb_streams, false);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    StreamSummary s;
    const AVCodecParameters *par = ic->streams[i]->codecpar;
    s.Type = par->codec_type;
    s.Codec = par->codec_id;
    s.Width = par->width;
    s.Height = par->height;
    s.SampleRate = par->sample_rate;
    s.Channels = par->ch_layout.nb_channels;
    s.Metadata = ToMap(ic->streams[i]->metadata);
    out.Streams.push_back(s);
  }
  AVPacket *pkt = ff.av_packet_alloc();
  while (ff.av_read_frame(ic, pkt) >= 0) {
    StreamSummary &s = out.Streams[pkt->stream_index];
    AVRational tb = ic->streams[pkt->stream_index]->time_base;
    s.Packets++;
    s.Bytes += pkt->size;
    if (pkt->flags & AV_PKT_FLAG_KEY) s.KeyPackets++;
    int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (t != AV_NOPTS_VALUE) {
      double sec = t * av_q2d(tb);
      if (!seen[pkt->stream_index] || sec < s.FirstPts) s.FirstPts = sec;
      seen[pkt->stream_index] = true;
      s.End = std::max(s.End, sec + std::max<int64_t>(pkt->duration, 0) * av_q2d(tb));
      int64_t &last = lastTs[pkt->stream_index];
      if (pkt->dts != AV_NOPTS_VALUE) {
        if (last != AV_NOPTS_VALUE) s.MaxDtsGap = std::max(s.MaxDtsGap, (pkt->dts - last) * av_q2d(tb));
        last = pkt->dts;
      }
    }
    ff.av_packet_unref(pkt);
  }
  ff.av_packet_free(&pkt);
  ff.avformat_close_input(&ic);
  return out;
}

void Prepare(TCustomFFmpeg &engine) {
  EnsureLibs();
  engine.Reset();
  engine.Options().Verbose = 1;
}

std::string Open(TCustomFFmpeg &engine, const std::string &input, const OptionList &inOpts,
                 const std::string &output, const OptionList &outOpts) {
  try {
    for (const auto &[name, value] : inOpts) DispatchOption(engine, name, value);
    if (!engine.OpenInput(input)) return engine.LastError;
    for (const auto &[name, value] : outOpts) DispatchOption(engine, name, value);
    if (engine.OpenOutput(output) < 0) return engine.LastError;
  } catch (const std::exception &e) {
    return e.what();
  }
  return "";
}

TRunResult Convert(const std::string &input, const OptionList &inOpts, const std::string &output,
                   const OptionList &outOpts) {
  TCustomFFmpeg engine;
  Prepare(engine);
  std::string err = Open(engine, input, inOpts, output, outOpts);
  if (!err.empty()) {
    engine.Release();
    return TRunResult{false, true, err};
  }
  return engine.Run();
}

std::string TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "marlo-transcode-XXXXXX").string();
  char *made = mkdtemp(pattern.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  return made;
}

void AddChapters(const std::string &source, const std::string &target,
                 const std::vector<std::pair<double, double>> &chapters) {
  EnsureLibs();
  AVFormatContext *ic = nullptr;
  ASSERT_GE(ff.avformat_open_input(&ic, source.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(ff.avformat_find_stream_info(ic, nullptr), 0);
  AVFormatContext *oc = nullptr;
  ASSERT_GE(ff.avformat_alloc_output_context2(&oc, nullptr, nullptr, target.c_str()), 0);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream *st = ff.avformat_new_stream(oc, nullptr);
    ff.avcodec_parameters_copy(st->codecpar, ic->streams[i]->codecpar);
    st->codecpar->codec_tag = 0;
    st->time_base = ic->streams[i]->time_base;
  }
  for (size_t k = 0; k < chapters.size(); ++k) {
    auto *c = static_cast<AVChapter *>(ff.av_mallocz(sizeof(AVChapter)));
    c->id = int64_t(k + 1);
    c->time_base = AVRational{1, 1000};
    c->start = llround(chapters[k].first * 1000);
    c->end = llround(chapters[k].second * 1000);
    ff.av_dict_set(&c->metadata, "title", ("Chapter " + std::to_string(k + 1)).c_str(), 0);
    ASSERT_GE(ff.av_dynarray_add_nofree(&oc->chapters, reinterpret_cast<int *>(&oc->nb_chapters), c), 0);
  }
  ASSERT_GE(ff.avio_open(&oc->pb, target.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(ff.avformat_write_header(oc, nullptr), 0);
  AVPacket *pkt = ff.av_packet_alloc();
  while (ff.av_read_frame(ic, pkt) >= 0) {
    ff.av_packet_rescale_ts(pkt, ic->streams[pkt->stream_index]->time_base,
                            oc->streams[pkt->stream_index]->time_base);
    ff.av_interleaved_write_frame(oc, pkt);
  }
  ff.av_packet_free(&pkt);
  ff.av_write_trailer(oc);
  ff.avio_closep(&oc->pb);
  ff.avformat_free_context(oc);
  ff.avformat_close_input(&ic);
}

} // namespace ts
