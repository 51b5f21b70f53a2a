// The table of verbs: add a row here for each verb file.
#include "cli/verbs.h"

namespace cli {

int RunProbe(int argc, char **argv);
int RunRender(int argc, char **argv);
int RunFormats(int argc, char **argv);
int RunEngine(int argc, char **argv);
int RunConvert(int argc, char **argv);

const std::vector<Verb> &Verbs() {
  static const std::vector<Verb> verbs = {
      {"probe", "print what media files hold: container, streams, duration, tags", RunProbe},
      {"render", "render one picture with effects and watermarks", RunRender},
      {"formats", "list every output format: code, group, name, container, extension", RunFormats},
      {"engine", "convert one input into outputs with engine options", RunEngine},
      {"convert", "convert files into a catalogue format with the format's picks", RunConvert},
  };
  return verbs;
}

} // namespace cli
