// Times whole processes: the engine verb of marlo-convert against the minimal transcoder
// beside it, with and without the custom hook, and their peak memory. Judges nothing else.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_sources.h"
#include "fixtures/fixtures.h"
#include "media/ffapi.h"
#include "media/loader.h"

namespace fs = std::filesystem;

namespace {

// One conversion, as each program is told to make it. The minimal program holds the same
// encoder settings under its preset letter.
struct Conversion {
  const char *Label;
  const char *Preset;    // bench_minimal_transcode --preset
  const char *Extension; // of the output
  std::vector<const char *> EngineOptions;
};

const Conversion kConversions[] = {
    {"(a) MPEG-4 640x480 + MP3, AVI",
     "a",
     ".avi",
     {"f=avi", "vcodec=mpeg4", "s=640x480", "b=1000000", "g=12", "acodec=libmp3lame", "ab=128000", "ar=44100",
      "ac=2"}},
    {"(b) H.264 320x240 iPod + AAC, MP4",
     "b",
     ".mp4",
     {"f=mp4", "vcodec=libx264", "vpre=libx264-ipod", "s=320x240", "acodec=aac", "ab=128000", "ar=44100", "ac=2"}},
};

enum Program { Minimal, Engine, EngineHook, EngineDraw, kPrograms };
const char *const kProgramNames[kPrograms] = {"minimal", "engine", "engine+hook", "engine+draw"};

constexpr double kEngineTarget = 1.05; // engine / minimal
constexpr double kHookTarget = 1.25;   // engine with hook / without
constexpr double kMemoryTargetMB = 250;

struct Run {
  double Seconds;    // wall time
  double CpuSeconds; // user and system time of the process and its threads
  double PeakMB;
};

std::string Folder(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string SelfFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) {
    std::fprintf(stderr, "bench_engine: cannot find its own folder: %s\n", ec.message().c_str());
    std::exit(1);
  }
  return Folder(self.string());
}

std::string Tail(const std::string &file, size_t bytes) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  return text.size() > bytes ? "..." + text.substr(text.size() - bytes) : text;
}

// Runs `argv` to its end with its output in `log`; the wall time and the process's peak
// resident memory. Throws with the command and the log's end when the run fails.
Run Time(const std::vector<std::string> &argv, const std::string &log) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::close(fd);
    }
    ::execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid)
    throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string line;
    for (const std::string &a : argv) line += a + " ";
    throw std::runtime_error("this run failed (" +
                             (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                                : "signal " + std::to_string(WTERMSIG(status))) +
                             "):\n  " + line + "\n" + Tail(log, 2000));
  }
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  return {seconds, cpu, usage.ru_maxrss / 1024.0};
}

std::vector<std::string> Command(Program program, const std::string &bin, const Conversion &c,
                                 const std::string &in, const std::string &out) {
  if (program == Minimal)
    return {bin + "/bench_minimal_transcode", in, out, "--preset", c.Preset};
  std::vector<std::string> argv = {bin + "/marlo-convert", "engine", "--loglevel", "error",
                                   "--input",              in,       "--output",   out};
  for (const char *option : c.EngineOptions) {
    argv.push_back("--out-opt");
    argv.push_back(option);
  }
  if (program == EngineHook) argv.push_back("--hook");
  if (program == EngineDraw) argv.push_back("--hook=draw");
  return argv;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What an output holds, read back to show that both programs made the same thing.
struct Summary {
  std::string Container, Video, Audio, EncoderSettings;
  int64_t VideoPackets = 0, AudioPackets = 0, Bytes = 0;
};

// The settings text the H.264 encoder writes into its first packet ("cabac=0 ref=1 ...").
std::string EncoderSettings(const AVPacket *pkt) {
  const std::string data(reinterpret_cast<const char *>(pkt->data), size_t(pkt->size));
  const size_t at = data.find("options: ");
  if (at == std::string::npos) return {};
  const size_t end = data.find('\0', at);
  return data.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9);
}

struct InputFree {
  void operator()(AVFormatContext *c) const { ff.avformat_close_input(&c); }
};
struct PacketFree {
  void operator()(AVPacket *p) const { ff.av_packet_free(&p); }
};

Summary Summarise(const std::string &file) {
  Summary s;
  AVFormatContext *opened = nullptr;
  const int err = ff.avformat_open_input(&opened, file.c_str(), nullptr, nullptr);
  std::unique_ptr<AVFormatContext, InputFree> ctx(opened);
  if (err < 0 || ff.avformat_find_stream_info(opened, nullptr) < 0)
    throw std::runtime_error("cannot read back " + file);
  s.Container = ctx->iformat->name;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters *p = ctx->streams[i]->codecpar;
    char text[128];
    if (p->codec_type == AVMEDIA_TYPE_VIDEO)
      std::snprintf(text, sizeof text, "%s %dx%d SAR %d:%d %s", ff.avcodec_get_name(p->codec_id), p->width,
                    p->height, p->sample_aspect_ratio.num, p->sample_aspect_ratio.den,
                    ff.av_get_pix_fmt_name(AVPixelFormat(p->format)));
    else if (p->codec_type == AVMEDIA_TYPE_AUDIO)
      std::snprintf(text, sizeof text, "%s %d Hz %d ch", ff.avcodec_get_name(p->codec_id), p->sample_rate,
                    p->ch_layout.nb_channels);
    (p->codec_type == AVMEDIA_TYPE_VIDEO ? s.Video : s.Audio) = text;
  }
  std::unique_ptr<AVPacket, PacketFree> owner(ff.av_packet_alloc());
  AVPacket *pkt = owner.get();
  if (!pkt) throw std::runtime_error("out of memory");
  int read;
  while ((read = ff.av_read_frame(opened, pkt)) >= 0) {
    const AVMediaType type = ctx->streams[pkt->stream_index]->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
      if (s.VideoPackets++ == 0) s.EncoderSettings = EncoderSettings(pkt);
    } else if (type == AVMEDIA_TYPE_AUDIO) {
      s.AudioPackets++;
    }
    ff.av_packet_unref(pkt);
  }
  if (read != AVERROR_EOF) throw std::runtime_error("cannot read " + file + " to its end");
  s.Bytes = int64_t(fs::file_size(file));
  return s;
}

// Prints both outputs side by side; false when they differ in what must be equal.
bool Compare(const Conversion &c, const std::string &minimal, const std::string &engine) {
  const Summary m = Summarise(minimal), e = Summarise(engine);
  std::printf("%s\n", c.Label);
  std::printf("  minimal: %s | %s, %lld frames | %s, %lld packets | %lld kB\n", m.Container.c_str(), m.Video.c_str(),
              (long long)m.VideoPackets, m.Audio.c_str(), (long long)m.AudioPackets, (long long)m.Bytes / 1024);
  std::printf("  engine:  %s | %s, %lld frames | %s, %lld packets | %lld kB\n", e.Container.c_str(), e.Video.c_str(),
              (long long)e.VideoPackets, e.Audio.c_str(), (long long)e.AudioPackets, (long long)e.Bytes / 1024);
  bool same = m.Container == e.Container && m.Video == e.Video && m.Audio == e.Audio &&
              m.VideoPackets == e.VideoPackets;
  if (m.EncoderSettings != e.EncoderSettings) {
    std::printf("  encoder settings differ:\n    minimal: %s\n    engine:  %s\n", m.EncoderSettings.c_str(),
                e.EncoderSettings.c_str());
    same = false;
  } else if (!m.EncoderSettings.empty()) {
    std::printf("  same H.264 settings: %s\n", m.EncoderSettings.c_str());
  }
  if (!same) std::printf("  MISMATCH: the two programs do not make the same output\n");
  return same;
}

const char *Mark(bool met) { return met ? "met" : "MISSED"; }

// Runs every round and prints the comparison, the table and the memory lines; the exit status.
int Measure(double seconds, int rounds, const std::string &bin, const std::string &source,
            const std::string &source1080, const std::string &work) {
  const std::string log = work + "/run.log";
  auto output = [&](size_t c, int program) {
    return work + "/" + kConversions[c].Preset + "-" + std::to_string(program) + kConversions[c].Extension;
  };

  // times[conversion][program] over the rounds; the order within a round turns each round,
  // so that a change of load or a warm cache favours no program.
  constexpr size_t kConversionCount = std::size(kConversions);
  std::vector<double> times[kConversionCount][kPrograms], cpuTimes[kConversionCount][kPrograms];
  double peak[kConversionCount][kPrograms] = {};
  for (int round = 0; round < rounds; ++round) {
    for (size_t c = 0; c < kConversionCount; ++c)
      for (int k = 0; k < kPrograms; ++k) {
        const int program = (k + round) % kPrograms;
        const Run run = Time(Command(Program(program), bin, kConversions[c], source, output(c, program)), log);
        times[c][program].push_back(run.Seconds);
        cpuTimes[c][program].push_back(run.CpuSeconds);
        peak[c][program] = std::max(peak[c][program], run.PeakMB);
      }
    std::printf("round %d of %d done\n", round + 1, rounds);
    std::fflush(stdout);
  }

  std::printf("\nWhat each program made (1280x720, 25 fps, %.0f s source):\n", seconds);
  bool same = true;
  for (size_t c = 0; c < kConversionCount; ++c)
    same = Compare(kConversions[c], output(c, Minimal), output(c, Engine)) && same;

  std::printf("\nWhole processes, median of %d round%s; targets: engine/minimal <= %.2f, hook/no-hook <= %.2f\n",
              rounds, rounds == 1 ? "" : "s", kEngineTarget, kHookTarget);
  std::printf("%-34s | %9s | %9s | %14s | %11s | %13s | %11s | %9s | %s\n", "conversion", "minimal s",
              "engine s", "engine/minimal", "engine+hook", "hook/no-hook", "engine+draw", "draw/none",
              "peak MB minimal/engine/+hook/+draw");
  bool met = true;
  for (size_t c = 0; c < kConversionCount; ++c) {
    const double m = Median(times[c][Minimal]), e = Median(times[c][Engine]), h = Median(times[c][EngineHook]),
                 d = Median(times[c][EngineDraw]);
    met = met && e / m <= kEngineTarget && h / e <= kHookTarget;
    std::printf("%-34s | %9.2f | %9.2f | %7.3f %-6s | %11.2f | %6.3f %-6s | %11.2f | %9.3f | %.0f / %.0f / %.0f / %.0f\n",
                kConversions[c].Label, m, e, e / m, Mark(e / m <= kEngineTarget), h, h / e,
                Mark(h / e <= kHookTarget), d, d / e, peak[c][Minimal], peak[c][Engine], peak[c][EngineHook],
                peak[c][EngineDraw]);
  }

  // Wall times move with the machine's load; processor time tells extra work from waiting.
  std::printf("\nProcessor time (user + system, median s), minimal / engine / engine+hook / engine+draw:\n");
  for (size_t c = 0; c < kConversionCount; ++c)
    std::printf("  %-34s %.2f / %.2f / %.2f / %.2f\n", kConversions[c].Label, Median(cpuTimes[c][Minimal]),
                Median(cpuTimes[c][Engine]), Median(cpuTimes[c][EngineHook]), Median(cpuTimes[c][EngineDraw]));

  std::printf("\nPeak memory of the engine on a 1920x1080 source, %s (target < %.0f MB):\n",
              kConversions[0].Label, kMemoryTargetMB);
  for (Program program : {Engine, EngineHook, EngineDraw}) {
    const Run run = Time(Command(program, bin, kConversions[0], source1080, output(0, program)), log);
    met = met && run.PeakMB < kMemoryTargetMB;
    std::printf("  %-12s %6.1f MB %-6s (%.2f s)\n", kProgramNames[program], run.PeakMB,
                Mark(run.PeakMB < kMemoryTargetMB), run.Seconds);
  }
  std::printf("\nload average after the runs: ");
  std::fflush(stdout);
  std::ifstream loadavg("/proc/loadavg");
  std::string load;
  std::getline(loadavg, load);
  std::printf("%s\n", load.c_str());

  std::printf("%s\n", met ? "every target met" : "a target was MISSED (see above)");

  // A miss is a figure to report; outputs that differ make the comparison itself wrong.
  return same ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else {
      std::fprintf(stderr, "Usage: bench_engine [--quick]\n");
      return 2;
    }
  }
  const int rounds = quick ? 1 : 5;
  const double seconds = quick ? 4 : 20;

  const std::string bin = SelfFolder();
  for (const char *program : {"marlo-convert", "bench_minimal_transcode"})
    if (::access((bin + "/" + program).c_str(), X_OK) != 0) {
      std::fprintf(stderr, "bench_engine: %s/%s is missing; build it first\n", bin.c_str(), program);
      return 1;
    }
  if (!FFLoader().LoadLibs(ConverterLibs)) {
    std::fprintf(stderr, "bench_engine: %s\n", FFLoader().LastError().c_str());
    return 1;
  }

  std::string source, source1080;
  try {
    std::printf("making the sources (cached in %s) ...\n", fixtures::Dir().c_str());
    std::fflush(stdout);
    source = fixtures::Make(quick ? "engine-720p-quick.mp4" : "engine-720p.mp4", bench::HdSource(1280, 720, seconds));
    source1080 =
        fixtures::Make(quick ? "engine-1080p-quick.mp4" : "engine-1080p.mp4", bench::HdSource(1920, 1080, seconds));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "bench_engine: %s\n", e.what());
    return 1;
  }

  std::string work = (fs::temp_directory_path() / "marlo-bench-engine-XXXXXX").string();
  if (!::mkdtemp(work.data())) {
    std::perror("bench_engine: mkdtemp");
    return 1;
  }
  // The outputs go with the folder however the measuring ends.
  struct RemoveFolder {
    std::string Path;
    ~RemoveFolder() {
      std::error_code ec;
      fs::remove_all(Path, ec);
    }
  } removeWork{work};
  try {
    return Measure(seconds, rounds, bin, source, source1080, work);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "bench_engine: %s\n", e.what());
    return 1;
  }
}
