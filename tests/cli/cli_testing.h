// Running the command-line program as a user would, its standard output and error caught
// in files, for the command-line tests. Not a test itself.
#pragma once

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cli_testing {

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts `program` with `args` (argv[0] is the program), standard output and error
// written to the files `out` and `err` ("/dev/null" to drop one); returns its pid.
inline pid_t Start(const std::string &program, const std::vector<std::string> &args, const std::string &out,
                   const std::string &err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0) ::_exit(127);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status, or 128 + the signal that ended it; -1 when it cannot be waited for.
inline int Wait(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace cli_testing
