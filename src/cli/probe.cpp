// The "probe" verb: prints what each named media file holds, as the probe reports it.
// The report itself is the probe's; this file only loads the libraries and prints.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/run_support.h"
#include "media/avprobe.h"
#include "media/loader.h"

namespace cli {

namespace {

void usage(FILE *out) {
  std::fputs("Usage: marlo-convert probe FILE...\n"
             "Prints each file's container, streams, duration and tags. A file that cannot\n"
             "be read is reported on standard error and makes the exit status 1; the other\n"
             "files are still printed. Use -- before file names that start with \"-\".\n",
             out);
}

// The report uses CR LF line ends; a terminal and a pipe want plain line feeds.
std::string withLineFeeds(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

} // namespace

int RunProbe(int argc, char **argv) {
  std::vector<std::string> files;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsDone && (arg == "--help" || arg == "-h")) {
      usage(stdout);
      return 0;
    }
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "marlo-convert probe: unknown option \"%s\"\n\n", arg.c_str());
      usage(stderr);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    usage(stderr);
    return 2;
  }

  FFLoader().SetLibraryPath(ProgramFolder() + "LibAV");
  if (!FFLoader().LoadLibs(ConverterLibs)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
    return 1;
  }

  int status = 0;
  bool first = true;
  TAVProbe probe;
  for (const auto &file : files) {
    if (!probe.LoadFile(file)) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", probe.LastErrMsg().c_str());
      status = 1;
      continue;
    }
    if (!first) std::fputs("\n", stdout);
    first = false;
    std::fputs(withLineFeeds(probe.GetInfoText()).c_str(), stdout);
    probe.CloseFile();
  }
  return status;
}

} // namespace cli
