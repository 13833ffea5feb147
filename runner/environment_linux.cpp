// Where the child runs, and its environment: the launcher's own, with PWD
// naming the directory the child really starts in (a Makefile's $(PWD) reads it).
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "runner_linux.h"

namespace launch {

namespace {

// What PWD says for the absolute directory `Dir`: a shell trusts it (dash's
// `cd ..` goes by it), so it holds no "." or ".." and no doubled or trailing
// slash. `Dir` as given when it has no such part, else its real path.
std::string CleanPwd(const std::string& Dir) {
  std::string Clean;
  for (std::size_t Start = 0; Start < Dir.size();) {
    const std::size_t End = std::min(Dir.find('/', Start), Dir.size());
    const std::string_view Part(Dir.data() + Start, End - Start);
    if (Part == "." || Part == "..") {
      char* Real = realpath(Dir.c_str(), nullptr);
      std::string Resolved = Real != nullptr ? Real : Dir;
      std::free(Real);
      return Resolved;
    }
    if (!Part.empty()) {
      Clean.append("/").append(Part);
    }
    Start = End + 1;
  }
  return Clean.empty() ? "/" : Clean;
}

} // namespace

int OpenWorkingDirectory(const std::string& Dir, int& Fd) {
  Fd = open(Dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    return errno;
  }
  if (faccessat(Fd, ".", X_OK, AT_EACCESS) != 0) { // fchdir goes by the effective ids
    const int Error = errno;
    close(Fd);
    Fd = -1;
    return Error;
  }
  return 0;
}

int CurrentDirectory(std::string& Cwd) {
  char* Dir = getcwd(nullptr, 0); // as long as it is
  if (Dir == nullptr) {
    return errno;
  }
  Cwd = Dir;
  std::free(Dir);
  return 0;
}

std::string ChildPwd(const std::string& Dir, const std::string& Cwd) {
  return CleanPwd(!Dir.empty() && Dir.front() == '/' ? Dir : Cwd + '/' + Dir);
}

std::vector<char*> ChildEnvironment(std::string& PwdEntry) {
  std::vector<char*> Env;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    if (std::strncmp(*Entry, "PWD=", 4) != 0) {
      Env.push_back(*Entry);
    }
  }
  Env.push_back(PwdEntry.data());
  Env.push_back(nullptr);
  return Env;
}

} // namespace launch
