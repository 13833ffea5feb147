#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "probe.h"

namespace {

long EnvNumber(const char* Name, long Default) {
  const char* Value = std::getenv(Name);
  return Value != nullptr ? std::strtol(Value, nullptr, 10) : Default;
}

// Descriptors open at start, read before the probe opens anything itself.
std::vector<int> OpenDescriptors() {
  std::vector<int> Fds;
  for (int Fd = 0; Fd < 1024; ++Fd) {
    if (fcntl(Fd, F_GETFD) != -1) {
      Fds.push_back(Fd);
    }
  }
  return Fds;
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<int> Fds = OpenDescriptors();
  if (const char* Out = std::getenv("PROBE_OUT")) {
    std::ofstream Record(Out, std::ios::binary);
    for (int I = 0; I < argc; ++I) {
      Record << "arg " << probe::Hex(argv[I]) << '\n';
    }
    std::vector<char> Cwd(4096);
    Record << "cwd " << probe::Hex(getcwd(Cwd.data(), Cwd.size()) != nullptr ? Cwd.data() : "")
           << '\n';
    for (const int Fd : Fds) {
      Record << "fd " << Fd << '\n';
    }
    // getauxval hands the address over as a number.
    const auto* Exec = reinterpret_cast<const char*>( // NOLINT(performance-no-int-to-ptr)
        getauxval(AT_EXECFN));
    Record << "exec " << probe::Hex(Exec != nullptr ? Exec : "") << '\n';
    for (const int Signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGCHLD}) {
      struct sigaction Action {};
      if (sigaction(Signal, nullptr, &Action) == 0 && Action.sa_handler == SIG_IGN) {
        Record << "ignored " << Signal << '\n';
      }
    }
  }
  if (const char* Say = std::getenv("PROBE_SAY")) {
    std::printf("%s\n", Say);
    std::fflush(stdout);
  }
  if (const long Signal = EnvNumber("PROBE_PARENT_SIGNAL", 0); Signal > 0) {
    kill(getppid(), static_cast<int>(Signal));
  }
  if (const long Ms = EnvNumber("PROBE_SLEEP_MS", 0); Ms > 0) {
    usleep(static_cast<useconds_t>(Ms) * 1000);
  }
  if (const long Signal = EnvNumber("PROBE_GROUP_SIGNAL", 0); Signal > 0) {
    const rlimit NoCore{0, 0};
    setrlimit(RLIMIT_CORE, &NoCore); // SIGQUIT would leave a core file behind
    kill(0, static_cast<int>(Signal));
  }
  if (const long Signal = EnvNumber("PROBE_SIGNAL", 0); Signal > 0) {
    std::signal(static_cast<int>(Signal), SIG_DFL);
    raise(static_cast<int>(Signal));
  }
  return static_cast<int>(EnvNumber("PROBE_EXIT", 0));
}
