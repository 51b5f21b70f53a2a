// The command-line front end: one verb per job, each in a file of its own.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/verbs.h"

namespace {

void usage(FILE *out) {
  std::fputs("Usage: marlo-convert VERB [ARGS...]\n"
             "\n"
             "Verbs:\n",
             out);
  for (const auto &v : cli::Verbs()) std::fprintf(out, "  %-10s %s\n", v.name, v.summary);
  std::fputs("\nmarlo-convert VERB --help shows a verb's own options.\n", out);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto &v : cli::Verbs())
    if (argv[1] == std::string(v.name)) return v.run(argc - 1, argv + 1);
  std::fprintf(stderr, "marlo-convert: unknown verb \"%s\"\n\n", argv[1]);
  usage(stderr);
  return 2;
}
