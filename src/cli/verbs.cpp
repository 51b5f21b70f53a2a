// The table of verbs: add a row here for each verb file.
#include "cli/verbs.h"

namespace cli {

int RunRender(int argc, char **argv);

const std::vector<Verb> &Verbs() {
  static const std::vector<Verb> verbs = {
      {"render", "render one picture with effects and watermarks", RunRender},
  };
  return verbs;
}

} // namespace cli
