// The table of verbs: add a row here for each verb file.
#include "cli/verbs.h"

namespace cli {

const std::vector<Verb> &Verbs() {
  static const std::vector<Verb> verbs = {};
  return verbs;
}

} // namespace cli
