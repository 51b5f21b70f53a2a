// The "convert" verb: converts files one after another into a catalogue format as the main
// window's Start does, with a progress line and a summary. Builds no option itself.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "cli/run_support.h"
#include "engine/media_converter.h"
#include "formats/catalogue.h"
#include "formats/global.h"
#include "formats/inifile.h"
#include "formats/option_builder.h"
#include "formats/output_name.h"
#include "formats/profile.h"
#include "formats/settings.h"
#include "render/render_flags.h"
#include "render/renderer.h"

namespace cli {

namespace {

constexpr const char *kName = "marlo-convert convert";

void usage(FILE *out) {
  std::fputs(
      "Usage: marlo-convert convert [options] FILE...\n"
      "Converts the files one after another into one output format, as the window's Start\n"
      "does, with the format's picks from the settings file.\n"
      "\n"
      "Options:\n"
      "  --format CODE          format code (see \"marlo-convert formats\"); default: the\n"
      "                         settings' FormatCode\n"
      "  --out DIR              output folder for this run; default: the settings' OutPutDir\n"
      "  --settings FILE        settings file to read (it is never written)\n"
      "  --profile FILE         profile file to read\n"
      "  --pick KEY=VALUE       a pick of the format for this run (paraVideoSize=640x480 ...);\n"
      "                         may be repeated\n"
      "  --trim START[:LENGTH]  seconds (decimals allowed); LENGTH 0 or none: to the end\n"
      "  --crop TOP,BOTTOM,LEFT,RIGHT  margins to cut off, in source pixels\n"
      "  --zoom full|lbox|pan|center   how the picture fills the frame (the pick parazoom)\n"
      "  --loglevel LEVEL       media library messages shown (default warning)\n",
      out);
  std::fputs(RenderFlagsHelp().c_str(), out);
  std::fputs("\nExit status: 0 every file finished, 1 a file failed, 2 usage error,\n"
             "3 stopped by SIGINT or SIGTERM.\n",
             out);
}

struct Args {
  std::optional<int> FormatCode;
  std::string OutDir, SettingsFile, ProfileFile;
  std::vector<std::pair<std::string, std::string>> Picks;
  std::string LogLevel = "warning";
  TlvFilesRecord Record; // trim, crop and effects shared by every file
  std::vector<std::string> Files;
};

// A decimal number of seconds, not negative, in microseconds.
std::optional<int64_t> parseSeconds(const std::string &text) {
  if (text.empty() || !IsNumber(text)) return std::nullopt;
  const double seconds = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e9) return std::nullopt;
  return static_cast<int64_t>(std::llround(seconds * 1e6));
}

std::optional<std::string> parseTrim(const std::string &text, TlvFilesRecord &rec) {
  const auto colon = text.find(':');
  const auto start = parseSeconds(text.substr(0, colon));
  std::optional<int64_t> length = int64_t(0);
  if (colon != std::string::npos) length = parseSeconds(text.substr(colon + 1));
  if (!start || !length)
    return "--trim wants START[:LENGTH] in seconds, not \"" + text + "\"";
  rec.TrimStart = *start;
  rec.TrimLength = *length;
  return std::nullopt;
}

std::optional<std::string> parseCrop(const std::string &text, TlvFilesRecord &rec) {
  int v[4];
  size_t from = 0;
  for (int k = 0; k < 4; ++k) {
    const auto comma = text.find(',', from);
    const bool last = k == 3;
    if (last != (comma == std::string::npos) ||
        !ParseInteger(text.substr(from, comma == std::string::npos ? std::string::npos
                                                                   : comma - from),
                      v[k]) ||
        v[k] < 0)
      return "--crop wants four whole numbers TOP,BOTTOM,LEFT,RIGHT, not \"" + text + "\"";
    from = comma + 1;
  }
  rec.CropTop = v[0];
  rec.CropBottom = v[1];
  rec.CropLeft = v[2];
  rec.CropRight = v[3];
  return std::nullopt;
}

std::optional<std::string> parse(int argc, char **argv, Args &args) {
  static const char *const withValue[] = {"--format", "--out",  "--settings", "--profile",
                                          "--pick",   "--trim", "--crop",     "--zoom",
                                          "--loglevel"};
  for (int i = 1; i < argc;) {
    std::string error;
    switch (ConsumeRenderFlag(argc, argv, i, args.Record, error)) {
    case TFlagResult::Consumed:
      continue;
    case TFlagResult::Error:
      return error;
    case TFlagResult::NotRenderFlag:
      break;
    }
    const std::string arg = argv[i++];
    bool takesValue = false;
    for (const char *name : withValue) takesValue |= arg == name;
    if (!takesValue) {
      if (arg.size() > 1 && arg[0] == '-') return "unknown option \"" + arg + "\"";
      args.Files.push_back(arg);
      continue;
    }
    if (i >= argc) return arg + " needs a value";
    const std::string v = argv[i++];
    if (arg == "--format") {
      int code;
      if (!ParseInteger(v, code) || FormatDisplayName(code).empty())
        return "no format has the code \"" + v + "\" (see marlo-convert formats)";
      args.FormatCode = code;
    } else if (arg == "--out") {
      args.OutDir = v;
    } else if (arg == "--settings") {
      args.SettingsFile = v;
    } else if (arg == "--profile") {
      args.ProfileFile = v;
    } else if (arg == "--pick") {
      const auto eq = v.find('=');
      if (eq == 0 || eq == std::string::npos) return "--pick wants KEY=VALUE, not \"" + v + "\"";
      args.Picks.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (arg == "--trim") {
      if (auto e = parseTrim(v, args.Record)) return e;
    } else if (arg == "--crop") {
      if (auto e = parseCrop(v, args.Record)) return e;
    } else if (arg == "--zoom") {
      if (v != "full" && v != "lbox" && v != "pan" && v != "center")
        return "--zoom is full, lbox, pan or center, not \"" + v + "\"";
      args.Picks.emplace_back("parazoom", v);
    } else if (arg == "--loglevel") {
      args.LogLevel = v;
    }
  }
  if (args.Files.empty()) return std::string("no file to convert");
  return std::nullopt;
}

// Fonts need a GUI application; with no display, Qt's offscreen platform serves.
std::unique_ptr<QCoreApplication> makeApplication(bool fonts, char *program) {
  static int argc = 1;
  static char *argv[] = {program, nullptr};
  if (!fonts) return std::make_unique<QCoreApplication>(argc, argv);
  const auto unset = [](const char *name) {
    const char *v = std::getenv(name);
    return !v || !*v;
  };
  if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return std::make_unique<QGuiApplication>(argc, argv);
}

enum class TOutcome { Waiting, Finished, Failed, Stopped };

struct TFileRun {
  std::string Source, Output, Message;
  int Task = -1; // the component's task, -1 when it never got one
  TOutcome Outcome = TOutcome::Waiting;
  double Seconds = 0;
};

const char *outcomeText(TOutcome o) {
  switch (o) {
  case TOutcome::Finished:
    return "finished";
  case TOutcome::Failed:
    return "failed";
  case TOutcome::Stopped:
    return "stopped";
  case TOutcome::Waiting:
    break;
  }
  return "not run";
}

std::string sizeText(const std::string &path) {
  const QFileInfo info(QString::fromStdString(path));
  if (path.empty() || !info.exists()) return "-";
  char text[32];
  const double kb = static_cast<double>(info.size()) / 1024;
  if (kb < 1024)
    std::snprintf(text, sizeof text, "%.1f KiB", kb);
  else
    std::snprintf(text, sizeof text, "%.1f MiB", kb / 1024);
  return text;
}

std::string clockText(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// One line, rewritten in place: bar, percentage, speed against real time, time left.
void drawProgress(const TProgressInfo &p, double elapsed, int taskCount, const std::string &file) {
  const bool known = p.TotalDuration > 0;
  const int percent =
      known ? static_cast<int>(std::clamp<int64_t>(p.CurrentDuration * 100 / p.TotalDuration, 0, 100))
            : 0;
  constexpr int width = 24;
  std::string bar(width, '-');
  if (known) std::fill_n(bar.begin(), percent * width / 100, '#');
  const double media = static_cast<double>(p.CurrentDuration) / 1e6;
  const double speed = elapsed > 0 ? media / elapsed : 0;
  std::string line = "[" + bar + "] ";
  char text[96];
  std::snprintf(text, sizeof text, known ? "%3d%%" : "  ?%%", percent);
  line += text;
  if (speed > 0) {
    std::snprintf(text, sizeof text, "  %.2fx", speed);
    line += text;
    if (known)
      line += "  left " +
              clockText((static_cast<double>(p.TotalDuration) / 1e6 - media) / speed);
  }
  std::snprintf(text, sizeof text, "  [%d/%d] ", p.TaskIndex + 1, taskCount);
  line += text + QFileInfo(QString::fromStdString(file)).fileName().toStdString();
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
}

void printSummary(const std::vector<TFileRun> &runs) {
  struct Row {
    std::string cells[5];
  };
  std::vector<Row> rows{{{"Source", "Result", "Output", "Size", "Time"}}};
  for (const TFileRun &r : runs) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", r.Seconds);
    rows.push_back({{r.Source, outcomeText(r.Outcome), r.Output.empty() ? "-" : r.Output,
                     sizeText(r.Output), time}});
  }
  size_t width[5] = {};
  for (const Row &row : rows)
    for (int c = 0; c < 5; ++c) width[c] = std::max(width[c], row.cells[c].size());
  for (const Row &row : rows) {
    std::string line;
    for (int c = 0; c < 5; ++c) {
      line += row.cells[c];
      if (c < 4) line += std::string(width[c] - row.cells[c].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
  for (const TFileRun &r : runs)
    if (r.Outcome == TOutcome::Failed)
      std::fprintf(stderr, "%s: %s: %s\n", kName, r.Source.c_str(), r.Message.c_str());
  std::fflush(stdout);
}

int usageError(const std::string &why) {
  std::fprintf(stderr, "%s: %s\n\n", kName, why.c_str());
  usage(stderr);
  return 2;
}

int failure(const std::string &why) {
  std::fprintf(stderr, "%s: %s\n", kName, why.c_str());
  return 1;
}

std::string absolute(const std::string &path) {
  return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
}

} // namespace

int RunConvert(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      usage(stdout);
      return 0;
    }
  Args args;
  if (auto error = parse(argc, argv, args)) return usageError(*error);
  if (!args.Record.MarkImageFile.empty() &&
      !QFileInfo(QString::fromStdString(args.Record.MarkImageFile)).isReadable())
    return usageError("cannot read the watermark picture \"" + args.Record.MarkImageFile + "\"");

  auto app = makeApplication(!args.Record.MarkText.empty(), argv[0]);
  const bool terminal = ::isatty(STDERR_FILENO);
  if (!InstallConsoleLog(args.LogLevel, terminal))
    return usageError("unknown log level \"" + args.LogLevel + "\"");

  const std::string settingsFile =
      args.SettingsFile.empty() ? GlobalObject().SettingsFile() : args.SettingsFile;
  if (!args.SettingsFile.empty() && !QFileInfo::exists(QString::fromStdString(settingsFile)))
    return usageError("no settings file \"" + settingsFile + "\"");
  const std::string profileFile =
      args.ProfileFile.empty() ? GlobalObject().ProfileFile() : args.ProfileFile;
  const int code = args.FormatCode ? *args.FormatCode : TAppSettings(settingsFile).FormatCode();
  if (FormatDisplayName(code).empty())
    return failure("the settings name format code " + std::to_string(code) +
                   ", which no format has; choose one with --format");
  if (!TIniFile(profileFile).SectionExists(FormatSectionName(code)))
    return failure("no profile for format " + std::to_string(code) + " in \"" + profileFile + "\"");

  // The picks and the output folder of this run go into a copy of the settings, so the
  // user's file stays as it is.
  QTemporaryDir scratch;
  if (!scratch.isValid())
    return failure("cannot make a temporary folder: " + scratch.errorString().toStdString());
  const std::string runSettings = (scratch.path() + "/settings.ini").toStdString();
  if (QFile::exists(QString::fromStdString(settingsFile)) &&
      !QFile::copy(QString::fromStdString(settingsFile), QString::fromStdString(runSettings)))
    return failure("cannot read the settings file \"" + settingsFile + "\"");
  try {
    TIniFile ini(runSettings);
    for (const auto &[key, value] : args.Picks) ini.WriteString(FormatSectionName(code), key, value);
    if (!args.OutDir.empty()) TAppSettings(runSettings).SetOutPutDir(absolute(args.OutDir));
  } catch (const TIniWriteError &e) {
    return failure(e.what());
  }

  TMediaConverter converter;
  if (!converter.LoadAVLib(ProgramFolder() + "LibAV")) return failure(converter.LastErrMsg());
  TThreadPriority priority = tpNormal;
  static constexpr TThreadPriority byPriority[] = {tpIdle, tpNormal, tpLower, tpLowest};
  const int prioritySetting = TAppSettings(runSettings).Priority();
  if (prioritySetting >= 0 && prioritySetting <= 3) priority = byPriority[prioritySetting];
  converter.ThreadPriority = priority;

  const std::string ext = TFormatProfile(profileFile, code).FileExt();
  std::set<std::string> promised;
  TOutputNameSources naming;
  naming.SettingsFile = runSettings;
  naming.Warn = [](const std::string &text, const std::string &) {
    std::fprintf(stderr, "%s: warning: %s\n", kName, text.c_str());
  };
  naming.Taken = [&promised](const std::string &path) { return promised.count(path) > 0; };
  TOptionSources sources;
  sources.ProfileFile = profileFile;
  sources.SettingsFile = runSettings;
  // Nobody is there to answer: the default is taken, and the user is told.
  sources.Ask = [](const std::string &text, const std::string &) {
    std::fprintf(stderr, "%s: warning: %s Yes.\n", kName, text.c_str());
    return true;
  };

  std::vector<TFileRun> runs;
  std::vector<TlvFilesRecord> records; // by task, read by the hook on the workers
  std::vector<size_t> runOfTask;
  for (const std::string &file : args.Files) {
    TFileRun run;
    run.Source = file;
    TlvFilesRecord record = args.Record;
    record.SourceFile = absolute(file);
    try {
      run.Output = MakeOutputName(record.SourceFile, "." + ext, naming);
      TInputOptions input;
      TOutputOptions output;
      AssembleTaskOptions(record, code, run.Output, converter.AVProbe(), input, output, sources);
      converter.AVProbe().CloseFile();
      // Frames become bitmaps only when something is drawn on them: the round trip
      // through 24-bit colour costs quality and time for nothing otherwise.
      output.CustomHook = RenderActive(record);
      const int task = converter.AddTask(record.SourceFile, &input);
      if (task < 0) throw std::runtime_error(converter.LastErrMsg());
      if (!converter.SetOutputFile(task, run.Output, &output)) {
        const std::string why = converter.LastErrMsg();
        converter.RemoveTask(task);
        throw std::runtime_error(why);
      }
      run.Task = task;
      promised.insert(run.Output);
      records.push_back(record);
      runOfTask.push_back(runs.size());
    } catch (const std::exception &e) {
      converter.AVProbe().CloseFile();
      run.Outcome = TOutcome::Failed;
      run.Message = e.what();
      if (run.Task < 0 && !promised.count(run.Output)) run.Output.clear();
    }
    runs.push_back(std::move(run));
  }

  using Clock = std::chrono::steady_clock;
  std::mutex lock; // runs and taskStart: the termination events come on threads of their own
  Clock::time_point taskStart = Clock::now();
  bool progressShown = false;
  const int taskCount = converter.TaskCount();

  converter.OnCustomHook = [&records](TCustomMediaConverter *, PHookInfo hook) {
    if (hook->Bitmap && hook->TaskIndex >= 0 && hook->TaskIndex < int(records.size()))
      RenderFrame(*hook->Bitmap, records[hook->TaskIndex]);
  };
  if (terminal)
    converter.OnProgress = [&](TCustomMediaConverter *, PProgressInfo info) {
      if (info->TaskIndex < 0 || info->TaskIndex >= taskCount) return;
      double elapsed;
      std::string source;
      {
        std::lock_guard guard(lock);
        elapsed = std::chrono::duration<double>(Clock::now() - taskStart).count();
        source = runs[runOfTask[info->TaskIndex]].Source;
      }
      drawProgress(*info, elapsed, taskCount, source);
      progressShown = true;
    };
  converter.OnTerminate = [&](TCustomMediaConverter *, const TTerminateInfo &info) {
    if (info.TaskIndex < 0) {
      QMetaObject::invokeMethod(app.get(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
      return;
    }
    std::lock_guard guard(lock);
    if (info.TaskIndex >= taskCount) return;
    TFileRun &run = runs[runOfTask[info.TaskIndex]];
    const Clock::time_point now = Clock::now();
    run.Seconds = std::chrono::duration<double>(now - taskStart).count();
    taskStart = now;
    run.Outcome = info.Finished ? TOutcome::Finished
                  : info.Failed ? TOutcome::Failed
                                : TOutcome::Stopped;
    run.Message = info.ErrorMessage;
  };

  TSignalStop signalStop([&] { converter.Stop(false); });
  if (!signalStop.Ok()) return failure(signalStop.Error());
  if (taskCount > 0) {
    taskStart = Clock::now();
    converter.StartTask(1);
    app->exec();
  }
  if (progressShown) std::fputs("\r\033[K", stderr);

  std::lock_guard guard(lock);
  printSummary(runs);
  bool failed = false, allFinished = true;
  for (const TFileRun &r : runs) {
    failed |= r.Outcome == TOutcome::Failed;
    allFinished &= r.Outcome == TOutcome::Finished;
  }
  if (failed) return 1;
  if (signalStop.Stopped()) return 3;
  return allFinished ? 0 : 1;
}

} // namespace cli
