// The "engine" verb: runs one conversion task through the conversion component, with the
// input's and each output's options given as name=value pairs. Converts nothing itself.
#include <QCoreApplication>
#include <QImage>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/media_converter.h"
#include "media/ffutils.h"
#include "cli/run_support.h"

namespace cli {

namespace {

void usage(FILE *out) {
  std::fputs(
      "Usage: marlo-convert engine --input FILE [--in-opt NAME=VALUE]...\n"
      "                            --output FILE [--out-opt NAME=VALUE]...\n"
      "                            [--output FILE [--out-opt NAME=VALUE]...]...\n"
      "                            [--loglevel LEVEL] [--hook[=draw]]\n"
      "Converts one input into one or more outputs. --in-opt options apply to the input,\n"
      "each --out-opt to the --output before it; names are the engine's option names\n"
      "without the leading dash (vcodec=libx264, ab=128000, t=10, newaudio ...).\n"
      "--hook hands every decoded picture of every output to a hook as a bitmap; the hook\n"
      "leaves it as it is. With --hook=draw the hook takes the pixels for writing without\n"
      "changing them, so the bitmap goes back into the picture as a real effect's drawing\n"
      "does. Both measure what the hook costs.\n"
      "LEVEL is quiet, panic, fatal, error, warning, info, verbose, debug or a number.\n"
      "Exit status: 0 finished, 1 failed, 2 usage error, 3 stopped by SIGINT or SIGTERM.\n",
      out);
}

struct Output {
  std::string File;
  std::string Options; // ExtOptions lines
};

struct Args {
  std::string Input;
  std::string InputOptions;
  std::vector<Output> Outputs;
  std::string LogLevel = "info";
  enum { NoHook, LookingHook, DrawingHook } Hook = NoHook;
};

void appendLine(std::string &lines, const std::string &line) {
  if (!lines.empty()) lines += '\n';
  lines += line;
}

// Fills `args`; returns an error text for a usage error, nothing when fine.
std::optional<std::string> parse(int argc, char **argv, Args &args) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    std::optional<std::string> v;
    if (arg == "--input" || arg == "--in-opt" || arg == "--output" || arg == "--out-opt" ||
        arg == "--loglevel") {
      v = value();
      if (!v) return arg + " needs a value";
    }
    if (arg == "--input") {
      if (!args.Input.empty()) return std::string("only one --input is allowed");
      args.Input = *v;
    } else if (arg == "--in-opt") {
      appendLine(args.InputOptions, *v);
    } else if (arg == "--output") {
      args.Outputs.push_back({*v, {}});
    } else if (arg == "--out-opt") {
      if (args.Outputs.empty()) return std::string("--out-opt must follow an --output");
      appendLine(args.Outputs.back().Options, *v);
    } else if (arg == "--loglevel") {
      args.LogLevel = *v;
    } else if (arg == "--hook") {
      args.Hook = Args::LookingHook;
    } else if (arg == "--hook=draw") {
      args.Hook = Args::DrawingHook;
    } else {
      return "unknown argument \"" + arg + "\"";
    }
  }
  if (args.Input.empty()) return std::string("--input is missing");
  if (args.Outputs.empty()) return std::string("at least one --output is needed");
  return std::nullopt;
}

void printProgress(const TProgressInfo &p) {
  std::string line = "time=" + FormatMediaTime(p.CurrentDuration);
  if (p.TotalDuration > 0) {
    line += " / " + FormatMediaTime(p.TotalDuration);
    line += " (" + std::to_string(p.CurrentDuration * 100 / p.TotalDuration) + "%)";
  }
  if (p.FrameNumber >= 0)
    line += " frame=" + std::to_string(p.FrameNumber) + " fps=" + std::to_string(p.FPS);
  line += " size=" + std::to_string(p.CurrentSize / 1024) + "kB";
  char rate[32];
  std::snprintf(rate, sizeof rate, " bitrate=%.1fkbit/s", static_cast<double>(p.BitRate));
  line += rate;
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
}

} // namespace

int RunEngine(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      usage(stdout);
      return 0;
    }
  Args args;
  if (auto error = parse(argc, argv, args)) {
    std::fprintf(stderr, "marlo-convert engine: %s\n\n", error->c_str());
    usage(stderr);
    return 2;
  }

  int qtArgc = 1;
  char *qtArgv[] = {argv[0], nullptr};
  QCoreApplication app(qtArgc, qtArgv);

  const bool terminal = ::isatty(STDERR_FILENO);
  bool progressShown = false;
  if (!InstallConsoleLog(args.LogLevel, terminal)) {
    std::fprintf(stderr, "marlo-convert engine: unknown log level \"%s\"\n\n",
                 args.LogLevel.c_str());
    usage(stderr);
    return 2;
  }

  TMediaConverter converter;
  if (!converter.LoadAVLib(ProgramFolder() + "LibAV")) {
    std::fprintf(stderr, "marlo-convert engine: %s\n", converter.LastErrMsg().c_str());
    return 1;
  }

  TInputOptions input;
  input.ExtOptions = args.InputOptions;
  const int task = converter.AddTask(args.Input, &input);
  if (task < 0) {
    std::fprintf(stderr, "marlo-convert engine: %s\n", converter.LastErrMsg().c_str());
    return 1;
  }
  for (const Output &out : args.Outputs) {
    TOutputOptions options;
    options.ExtOptions = out.Options;
    options.CustomHook = args.Hook != Args::NoHook;
    if (!converter.SetOutputFile(task, out.File, &options)) {
      std::fprintf(stderr, "marlo-convert engine: %s: %s\n", out.File.c_str(),
                   converter.LastErrMsg().c_str());
      return 1;
    }
  }

  TSignalStop signalStop([&] { converter.Stop(false); });
  if (!signalStop.Ok()) {
    std::fprintf(stderr, "marlo-convert engine: %s\n", signalStop.Error().c_str());
    return 1;
  }

  // The picture has already gone to the bitmap when the handler runs. An untouched bitmap
  // stays out of the picture; one taken for writing goes back into it.
  if (args.Hook == Args::LookingHook) converter.OnCustomHook = [](TCustomMediaConverter *, PHookInfo) {};
  if (args.Hook == Args::DrawingHook)
    converter.OnCustomHook = [](TCustomMediaConverter *, PHookInfo info) {
      info->Bitmap->bits(); // the pixels taken for writing: the bitmap counts as drawn on
    };
  if (terminal)
    converter.OnProgress = [&](TCustomMediaConverter *, PProgressInfo info) {
      printProgress(*info);
      progressShown = true;
    };
  TTerminateInfo result;
  converter.OnTerminate = [&](TCustomMediaConverter *, const TTerminateInfo &info) {
    if (info.TaskIndex >= 0) {
      result = info;
      return;
    }
    QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  };
  converter.StartTask(1);
  app.exec();

  if (progressShown) std::fputs("\n", stderr);
  if (result.Failed) {
    std::fprintf(stderr, "marlo-convert engine: %s\n", result.ErrorMessage.c_str());
    return 1;
  }
  if (signalStop.Stopped()) return 3;
  return result.Finished ? 0 : 1;
}

} // namespace cli
