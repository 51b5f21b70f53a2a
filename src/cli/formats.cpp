// The "formats" verb: lists every catalogue format with the container keyword and file
// extension its profile gives it. Converts nothing.
#include <cstdio>
#include <string>

#include "formats/catalogue.h"
#include "formats/global.h"
#include "formats/profile.h"

namespace cli {

namespace {

void usage(FILE *out) {
  std::fputs("Usage: marlo-convert formats [--profile FILE]\n"
             "Lists every format: code, group, display name, container keyword (\"null\" when the\n"
             "file extension decides) and extension. --profile reads another profile file.\n",
             out);
}

} // namespace

int RunFormats(int argc, char **argv) {
  std::string profileFile = GlobalObject().ProfileFile();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--profile" && i + 1 < argc) {
      profileFile = argv[++i];
    } else {
      std::fprintf(stderr, "marlo-convert formats: unexpected argument \"%s\"\n\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (!TIniFile(profileFile).SectionExists(FormatSectionName(FormatCode(0, 0)))) {
    std::fprintf(stderr, "marlo-convert formats: no format profiles in \"%s\"\n",
                 profileFile.c_str());
    return 1;
  }
  std::printf("%-5s  %-24s  %-50s  %-9s  %s\n", "CODE", "GROUP", "NAME", "FORMAT", "EXT");
  for (const auto &f : CatalogueFormats()) {
    const TFormatProfile profile(profileFile, f.Code);
    std::printf("%-5d  %-24s  %-50s  %-9s  %s\n", f.Code, FormatGroupHeader(f.Group).c_str(),
                f.Name.c_str(), profile.Format().c_str(), profile.FileExt().c_str());
  }
  return 0;
}

} // namespace cli
