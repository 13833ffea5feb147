#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "probe.h"

namespace {

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

// The state letter in a /proc/<pid>/stat file ('T' when stopped).
char ReadState(const std::string& Path) {
  const std::string Line = probe::ReadFile(Path);
  const std::size_t At = Line.rfind(')');
  return At != std::string::npos && At + 2 < Line.size() ? Line[At + 2] : '?';
}

volatile sig_atomic_t Caught = 0;

void Count(int /*Signal*/) {
  Caught = Caught + 1;
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<int> Fds = OpenDescriptors();
  const auto Catch = probe::EnvNumber("PROBE_CATCH");
  if (Catch > 0) {
    std::signal(static_cast<int>(Catch), Count);
  }
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
    // The launcher closes what served the start a moment after the exec: list
    // what it holds once it has gone to sleep in its wait.
    const std::string Launcher = "/proc/" + std::to_string(getppid());
    for (int Try = 0; Try < 2000 && std::strchr("RD", ReadState(Launcher + "/stat")) != nullptr;
         ++Try) {
      usleep(1000);
    }
    const std::string Held = Launcher + "/fd/";
    for (int Fd = 0; Fd < 1024; ++Fd) {
      char Target[1];
      if (readlink((Held + std::to_string(Fd)).c_str(), Target, sizeof Target) > 0) {
        Record << "launcherfd " << Fd << '\n';
      }
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
    const char* Pwd = std::getenv("PWD");
    Record << "pwd " << probe::Hex(Pwd != nullptr ? Pwd : "(unset)") << '\n';
    for (char** Entry = environ; *Entry != nullptr; ++Entry) {
      Record << "env " << probe::Hex(*Entry) << '\n';
    }
    Record << "pid " << getpid() << "\nready\n";
  }
  if (const char* Say = std::getenv("PROBE_SAY")) {
    std::printf("%s\n", Say);
    std::fflush(stdout);
  }
  if (probe::EnvNumber("PROBE_ROOT") != 0 && setresuid(0, 0, 0) != 0) { // as su does
    return 99;
  }
  if (const auto Signal = probe::EnvNumber("PROBE_PARENT_SIGNAL"); Signal > 0) {
    kill(getppid(), static_cast<int>(Signal));
  }
  if (const auto Ms = probe::EnvNumber("PROBE_STOP_MS"); Ms > 0) {
    if (fork() == 0) { // once the probe has stopped, wait, then go on as `fg` does
      const std::string Stat = "/proc/" + std::to_string(getppid()) + "/stat";
      for (int Try = 0; Try < 500 && ReadState(Stat) != 'T'; ++Try) {
        usleep(10 * 1000);
      }
      usleep(static_cast<useconds_t>(Ms) * 1000);
      kill(getppid(), SIGCONT);
      _exit(0);
    }
    raise(SIGSTOP);
  }
  const auto SleepMs = probe::EnvNumber("PROBE_SLEEP_MS");
  timespec Left{static_cast<time_t>(SleepMs / 1000), static_cast<long>(SleepMs % 1000) * 1000000};
  if (Catch > 0) { // awake, so that each signal is counted before the next can merge with it
    const auto Until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(SleepMs));
    while (std::chrono::steady_clock::now() < Until) {
    }
  }
  while (Catch == 0 && nanosleep(&Left, &Left) != 0) { // the whole time, a signal or not
  }
  if (const auto Signal = probe::EnvNumber("PROBE_GROUP_SIGNAL"); Signal > 0) {
    const rlimit NoCore{0, 0};
    setrlimit(RLIMIT_CORE, &NoCore); // SIGQUIT would leave a core file behind
    kill(0, static_cast<int>(Signal));
  }
  if (const auto Signal = probe::EnvNumber("PROBE_SIGNAL"); Signal > 0) {
    std::signal(static_cast<int>(Signal), SIG_DFL);
    raise(static_cast<int>(Signal));
  }
  return Catch > 0 ? Caught : static_cast<int>(probe::EnvNumber("PROBE_EXIT"));
}
