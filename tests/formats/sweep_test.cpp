// Every catalogue format converts a short source with sound into the file its profile's
// default picks promise. The builder's single steps are tested on their own elsewhere.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "engine/media_converter.h"
#include "fixtures/fixtures.h"
#include "formats/catalogue.h"
#include "formats/option_builder.h"
#include "formats/profile.h"
#include "media/avprobe.h"
#include "media/ffapi.h"
#include "media/loader.h"
#include "test_files.h"

namespace {

const std::string kProfile = MARLO_TEST_DATA_DIR "/marlohdformat.ini";
constexpr double kSourceSeconds = 1.0;

// What a file made by a format reads back as, by the container keyword or, where the
// extension decides, the extension.
const std::map<std::string, std::string> kDemuxerOf = {
    {"ipod", "mov,mp4,m4a,3gp,3g2,mj2"}, {"psp", "mov,mp4,m4a,3gp,3g2,mj2"},
    {"ps3", "mov,mp4,m4a,3gp,3g2,mj2"},  {"mov", "mov,mp4,m4a,3gp,3g2,mj2"},
    {"3gp", "mov,mp4,m4a,3gp,3g2,mj2"},  {"3g2", "mov,mp4,m4a,3gp,3g2,mj2"},
    {"mp4", "mov,mp4,m4a,3gp,3g2,mj2"},  {"m4a", "mov,mp4,m4a,3gp,3g2,mj2"},
    {"avi", "avi"},                      {"flv", "flv"},
    {"mpegts", "mpegts"},                {"ts", "mpegts"},
    {"pal-dvd", "mpeg"},                 {"ntsc-dvd", "mpeg"},
    {"pal-svcd", "mpeg"},                {"ntsc-svcd", "mpeg"},
    {"pal-vcd", "mpeg"},                 {"ntsc-vcd", "mpeg"},
    {"vob", "mpeg"},                     {"mpg", "mpeg"},
    {"dv", "dv"},                        {"mkv", "matroska,webm"},
    {"mp3", "mp3"},                      {"aac", "aac"},
    {"ac3", "ac3"},                      {"ogg", "ogg"},
    {"wav", "wav"},                      {"wma", "asf"},
    {"wmv", "asf"},                      {"swf", "swf"},
};

// The codecs an encoder label of the parameter controls stands for (a sound format may
// store its samples in either byte order).
const std::map<std::string, std::set<AVCodecID>> kCodecsOf = {
    {"MPEG-4", {AV_CODEC_ID_MPEG4}},         {"XVID", {AV_CODEC_ID_MPEG4}},
    {"DIVX", {AV_CODEC_ID_MPEG4}},           {"H264", {AV_CODEC_ID_H264}},
    {"FLV", {AV_CODEC_ID_FLV1}},             {"SWF", {AV_CODEC_ID_FLV1}},
    {"WMV1", {AV_CODEC_ID_WMV1}},            {"WMV2", {AV_CODEC_ID_WMV2}},
    {"H263", {AV_CODEC_ID_H263}},            {"MJPEG", {AV_CODEC_ID_MJPEG}},
    {"MPEG1VIDEO", {AV_CODEC_ID_MPEG1VIDEO}}, {"MPEG2VIDEO", {AV_CODEC_ID_MPEG2VIDEO}},
    {"DVVIDEO", {AV_CODEC_ID_DVVIDEO}},      {"MSMPEG4V2", {AV_CODEC_ID_MSMPEG4V2}},
    {"AAC", {AV_CODEC_ID_AAC}},              {"AC-3", {AV_CODEC_ID_AC3}},
    {"MP2", {AV_CODEC_ID_MP2}},              {"MP3", {AV_CODEC_ID_MP3}},
    {"OGG", {AV_CODEC_ID_VORBIS}},           {"AMR_NB", {AV_CODEC_ID_AMR_NB}},
    {"WMA1", {AV_CODEC_ID_WMAV1}},           {"WMA2", {AV_CODEC_ID_WMAV2}},
    {"PCM_S16", {AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S16BE}},
};

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What the profile's default items promise for one format.
struct Promise {
  std::string Demuxer;
  std::optional<std::set<AVCodecID>> Video, Audio; // nothing: no such stream
  int Width = 0, Height = 0;
  double Fps = 0;
  int SampleRate = 0, Channels = 0;
};

// Fills `p`; returns what the profile lacks for the promise, empty when complete.
std::string PromiseOf(const TFormatProfile &profile, int sourceChannels, Promise &p) {
  const std::string format = profile.Format();
  const auto demuxer = kDemuxerOf.find(format == "null" ? profile.FileExt() : format);
  if (demuxer == kDemuxerOf.end()) return "no demuxer known for " + format + "/" + profile.FileExt();
  p.Demuxer = demuxer->second;
  if (const auto label = profile.DefaultItem("VideoEncoder")) {
    const auto codecs = kCodecsOf.find(upper(*label));
    if (codecs == kCodecsOf.end()) return "unknown video encoder label " + *label;
    p.Video = codecs->second;
    const auto size = profile.DefaultItem("VideoSize");
    const auto rate = profile.DefaultItem("FrameRate");
    if (!size || std::sscanf(size->c_str(), "%dx%d", &p.Width, &p.Height) != 2)
      return "no default frame size";
    if (!rate) return "no default frame rate";
    p.Fps = std::stod(*rate);
  }
  if (const auto label = profile.DefaultItem("AudioEncoder")) {
    const auto codecs = kCodecsOf.find(upper(*label));
    if (codecs == kCodecsOf.end()) return "unknown audio encoder label " + *label;
    p.Audio = codecs->second;
    const auto rate = profile.DefaultItem("SampleRate");
    const auto channels = profile.DefaultItem("Channel");
    if (!rate || !channels) return "no default sample rate or channels";
    p.SampleRate = std::stoi(*rate);
    p.Channels = channels->rfind("mono", 0) == 0     ? 1
                 : channels->rfind("stereo", 0) == 0 ? 2
                                                     : sourceChannels;
  }
  return {};
}

// Converts `source` into format `code` as Start does; the error text, empty on success.
std::string Convert(int code, const std::string &source, const std::string &output,
                    const std::string &settings, std::string &optionsSeen) {
  TMediaConverter converter;
  if (!converter.LoadAVLib("")) return converter.LastErrMsg();
  TlvFilesRecord record;
  record.SourceFile = source;
  TInputOptions input;
  TOutputOptions options;
  TOptionSources sources;
  sources.ProfileFile = kProfile;
  sources.SettingsFile = settings;
  sources.Ask = [](const std::string &text, const std::string &) {
    ADD_FAILURE() << "the default picks asked: " << text;
    return true;
  };
  try {
    AssembleTaskOptions(record, code, output, converter.AVProbe(), input, options, sources);
  } catch (const std::exception &e) {
    return std::string("options: ") + e.what();
  }
  converter.AVProbe().CloseFile();
  options.CustomHook = false;
  std::ostringstream seen;
  seen << "format=" << options.FileFormat << " vcodec=" << options.VideoCodec
       << " s=" << options.FrameSize << " r=" << options.FrameRate << " vf=" << options.VideoFilters
       << " acodec=" << options.AudioCodec << " ar=" << options.AudioSampleRate
       << " ac=" << options.AudioChannels << " target=" << options.TargetType << "/"
       << options.TargetNorm << " ext=" << options.ExtOptions;
  optionsSeen = seen.str();
  const int task = converter.AddTask(source, &input);
  if (task < 0) return "AddTask: " + converter.LastErrMsg();
  if (!converter.SetOutputFile(task, output, &options)) return "SetOutputFile: " + converter.LastErrMsg();
  converter.StartTask(0);
  if (!converter.Task(task).Finished())
    return "not finished: " + converter.Task(task).ErrorMessage();
  return {};
}

// Seconds from the start to the end of the file's last packet, read through to its end.
double LastPacketEnd(AVFormatContext *ctx) {
  std::unique_ptr<AVPacket, void (*)(AVPacket *)> pkt(ff.av_packet_alloc(),
                                                      [](AVPacket *p) { ff.av_packet_free(&p); });
  double end = 0;
  while (ff.av_read_frame(ctx, pkt.get()) >= 0) {
    const AVStream *st = ctx->streams[pkt->stream_index];
    if (pkt->pts != AV_NOPTS_VALUE) {
      const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
      end = std::max(end, (pkt->pts - start + pkt->duration) * av_q2d(st->time_base));
    }
    ff.av_packet_unref(pkt.get());
  }
  return end;
}

// The differences between the output and its promise, one per line; empty when it keeps it.
std::string Check(const std::string &output, const Promise &p) {
  std::ostringstream bad;
  TAVProbe probe;
  if (!probe.LoadFile(output)) return "does not open: " + probe.LastErrMsg();
  if (probe.FormatName() != p.Demuxer)
    bad << "container " << probe.FormatName() << ", promised " << p.Demuxer << "\n";
  AVFormatContext *ctx = probe.FormatContext();
  const auto codecOf = [&](int index) { return ctx->streams[index]->codecpar->codec_id; };
  const auto nameOf = [](AVCodecID id) { return std::string(ff.avcodec_get_name(id)); };

  const int v = probe.FirstVideoStreamIndex();
  if (!p.Video) {
    if (v >= 0) bad << "a video stream where none was promised\n";
  } else if (v < 0) {
    bad << "no video stream\n";
  } else {
    TVideoStreamInfo info;
    probe.GetVideoStreamInfo(v, info);
    if (!p.Video->count(codecOf(v))) bad << "video codec " << nameOf(codecOf(v)) << "\n";
    if (info.Width != p.Width || info.Height != p.Height)
      bad << "frame " << info.Width << "x" << info.Height << ", promised " << p.Width << "x"
          << p.Height << "\n";
    // The average rate: the base rate of a millisecond-clocked container (ASF) reads 1000.
    const AVRational avg = ctx->streams[v]->avg_frame_rate;
    const double fps = avg.num > 0 && avg.den > 0 ? av_q2d(avg)
                       : info.FrameRateDen > 0   ? double(info.FrameRateNum) / info.FrameRateDen
                                                 : 0;
    if (std::abs(fps - p.Fps) > 0.01) bad << "frame rate " << fps << ", promised " << p.Fps << "\n";
  }

  const int a = probe.FirstAudioStreamIndex();
  if (!p.Audio) {
    if (a >= 0) bad << "a sound stream where none was promised\n";
  } else if (a < 0) {
    bad << "no sound stream\n";
  } else {
    TAudioStreamInfo info;
    probe.GetAudioStreamInfo(a, info);
    if (!p.Audio->count(codecOf(a))) bad << "audio codec " << nameOf(codecOf(a)) << "\n";
    if (info.SampleRate != p.SampleRate)
      bad << "sample rate " << info.SampleRate << ", promised " << p.SampleRate << "\n";
    if (info.Channels != p.Channels)
      bad << "channels " << info.Channels << ", promised " << p.Channels << "\n";
  }

  TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  // Some containers (SWF) keep no length at all: the end of their last packet tells it.
  double seconds = file.Duration / 1e6;
  if (seconds <= 0) seconds = LastPacketEnd(ctx);
  // A frame or an audio packet either way, and the rounding of the slowest formats' rates.
  if (std::abs(seconds - kSourceSeconds) > 0.2)
    bad << "plays " << seconds << " s, the source " << kSourceSeconds << " s\n";
  return bad.str();
}

std::string Source() {
  fixtures::MediaSpec recipe;
  recipe.container = "mp4";
  recipe.vcodec = "libx264";
  recipe.acodec = "aac";
  recipe.width = 320;
  recipe.height = 240;
  recipe.seconds = kSourceSeconds;
  return fixtures::Make("sweep.mp4", recipe);
}

// The catalogue in parts, so that they run side by side and each stays well inside the
// time a test may take.
constexpr int kParts = 8;

class CatalogueSweep : public ::testing::TestWithParam<int> {};

TEST_P(CatalogueSweep, EveryFormatMakesTheFileItsDefaultPicksPromise) {
  int argc = 1;
  char name[] = "sweep_tests";
  char *argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  ASSERT_TRUE(FFLoader().LoadLibs(ConverterLibs)) << FFLoader().LastError();
  const std::string source = Source();
  formats_test::ScratchDir dir;
  const std::string settings = dir.File("settings.ini"); // never written: no picks stored

  const auto all = CatalogueFormats();
  ASSERT_EQ(all.size(), 121u);
  const size_t from = all.size() * GetParam() / kParts, to = all.size() * (GetParam() + 1) / kParts;
  for (size_t k = from; k < to; ++k) {
    const TCatalogueFormat &format = all[k];
    const std::string which = "format " + std::to_string(format.Code) + " " + format.Name + ": ";
    const TFormatProfile profile(kProfile, format.Code);
    Promise promise;
    const std::string lacking = PromiseOf(profile, 2, promise);
    if (!lacking.empty()) {
      ADD_FAILURE() << which << "profile: " << lacking;
      continue;
    }
    const std::string output =
        dir.File("out" + std::to_string(format.Code) + "." + profile.FileExt());
    std::string options;
    const std::string error = Convert(format.Code, source, output, settings, options);
    if (!error.empty()) {
      ADD_FAILURE() << which << error << "\noptions: " << options;
      continue;
    }
    const std::string differences = Check(output, promise);
    EXPECT_EQ(differences, "") << which << "\noptions: " << options;
    std::filesystem::remove(output);
  }
}

INSTANTIATE_TEST_SUITE_P(Parts, CatalogueSweep, ::testing::Range(0, kParts));

} // namespace
