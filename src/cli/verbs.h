// The verbs of the command-line program. A verb gets its own name as argv[0] and
// returns the process's exit status: 0 done, 1 failed, 2 usage error.
#pragma once

#include <vector>

namespace cli {

struct Verb {
  const char *name;
  const char *summary;
  int (*run)(int argc, char **argv);
};

const std::vector<Verb> &Verbs();

} // namespace cli
