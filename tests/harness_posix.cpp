#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"
#include "probe.h"

namespace harness {

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& Extra) {
  std::vector<std::string> Env(Extra);
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    const std::string Item(*Entry);
    const std::string Name = Item.substr(0, Item.find('=') + 1);
    bool Replaced = false;
    for (const auto& E : Extra) {
      Replaced = Replaced || E.compare(0, Name.size(), Name) == 0;
    }
    if (!Replaced) {
      Env.push_back(Item);
    }
  }
  return Env;
}

std::vector<char*> Pointers(std::vector<std::string>& Items) {
  std::vector<char*> Result;
  Result.reserve(Items.size() + 1);
  for (auto& Item : Items) {
    Result.push_back(Item.data());
  }
  Result.push_back(nullptr);
  return Result;
}

// Fills the pipe behind `Fd` until a write would block; returns the bytes written.
std::size_t Fill(int Fd) {
  const std::string Block(4096, '#');
  std::size_t Total = 0;
  for (ssize_t N = 0; (N = write(Fd, Block.data(), Block.size())) > 0;) {
    Total += static_cast<std::size_t>(N);
  }
  return Total;
}

std::string ReadAll(int Fd) {
  std::string Bytes;
  char Chunk[4096];
  for (ssize_t N = 0; (N = read(Fd, Chunk, sizeof Chunk)) > 0;) {
    Bytes.append(Chunk, static_cast<std::size_t>(N));
  }
  return Bytes;
}

// Root passes every permission check, so permission cases run a copy of the
// program as nobody, in a directory nobody may enter (the build tree may not be).
std::vector<std::string> AsNobody(const std::string& Program, std::string& CopyDir) {
  CopyDir = "/tmp/launch-nobody-XXXXXX";
  if (mkdtemp(CopyDir.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  const std::string Copy = CopyDir + "/" + std::filesystem::path(Program).filename().string();
  std::filesystem::copy_file(Program, Copy);
  chmod(CopyDir.c_str(), 0755);
  chmod(Copy.c_str(), 0755);
  return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", Copy};
}

// Tools that some rows run and a machine may lack, named by their /usr/bin
// paths: the path of one that `Argv` names and this machine cannot run, or "".
std::string MissingTool(const std::vector<std::string>& Argv) {
  for (const char* Tool : {"strace", "qemu-x86_64", "unshare", "perl", "setpriv", "script"}) {
    std::string Named = std::string("/usr/bin/") + Tool;
    const bool Used = std::any_of(Argv.begin(), Argv.end(), [&Named](const std::string& Arg) {
      return Arg.find(Named) != std::string::npos;
    });
    if (Used && access(Named.c_str(), X_OK) != 0) {
      return Named;
    }
  }
  return {};
}

// A row whose tool is missing is skipped, naming it; where every tool must be
// there (LAUNCH_TEST_ALL_TOOLS=1, as in CI), it fails instead.
void SkipForMissing(const std::string& Tool) {
  const char* All = getenv("LAUNCH_TEST_ALL_TOOLS");
  if (All != nullptr && std::string(All) == "1") {
    ADD_FAILURE() << "this row needs " << Tool << ", which is missing (LAUNCH_TEST_ALL_TOOLS=1)";
  } else {
    GTEST_SKIP() << "row skipped: it needs " << Tool << ", which is missing";
  }
}

} // namespace

Result Run(const std::string& Program, const std::vector<std::string>& Args, const Options& Opts) {
  const std::string Dir = NewTempDir();
  // Each setting wraps what it is given, so that all of them hold together:
  // the prefix runs bash, which runs setpriv, which runs the program.
  std::vector<std::string> Argv{Program};
  std::string CopyDir;
  if (Opts.Unprivileged && geteuid() == 0) {
    Argv = AsNobody(Program, CopyDir);
  }
  if (Opts.HostileSignals) {
    // bash (unlike dash) leaves SIGCHLD ignored for the program it turns into.
    Argv.insert(Argv.begin(), {"/bin/bash", "-c", "trap '' CHLD; exec \"$0\" \"$@\""});
  }
  Argv.insert(Argv.begin(), Opts.Prefix.begin(), Opts.Prefix.end());
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  if (std::string Missing = MissingTool(Argv); !Missing.empty()) {
    SkipForMissing(Missing);
    if (!CopyDir.empty()) {
      std::filesystem::remove_all(CopyDir);
    }
    Result Skipped;
    Skipped.MissingTool = std::move(Missing);
    return Skipped;
  }
  std::vector<std::string> Extra = Opts.Env;
  if (kSanitizedLauncher && !Opts.Prefix.empty()) { // in place of the suite's own
    Extra.emplace_back("ASAN_OPTIONS=detect_leaks=0:abort_on_error=1");
  }
  std::vector<std::string> Env = MergedEnvironment(Extra);

  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  const int Master = Opts.Key == Terminal::None ? -1 : posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (Opts.Key != Terminal::None && (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)) {
    throw std::runtime_error("no pseudo-terminal for a terminal row");
  }
  // A session leader's first terminal opened becomes its controlling one.
  posix_spawn_file_actions_addopen(&Actions, 0, Master >= 0 ? ptsname(Master) : "/dev/null",
                                   Master >= 0 ? O_RDWR : O_RDONLY, 0);
  int Pipe[2] = {-1, -1};
  const bool Late = Opts.Output == Stdout::Late;
  const bool ToPipe = Opts.Output == Stdout::BrokenPipe || Opts.Output == Stdout::FullNonBlocking ||
                      Opts.Output == Stdout::Stuck || Late;
  if (ToPipe && pipe2(Pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  std::size_t Filled = 0;
  switch (Opts.Output) {
  case Stdout::Captured:
    posix_spawn_file_actions_addopen(&Actions, 1, (Dir + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
    break;
  case Stdout::Closed:
    posix_spawn_file_actions_addclose(&Actions, 1);
    break;
  case Stdout::Full:
    posix_spawn_file_actions_addopen(&Actions, 1, "/dev/full", O_WRONLY, 0);
    break;
  case Stdout::BrokenPipe:
    close(Pipe[0]); // nobody will ever read
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    break;
  case Stdout::FullNonBlocking:
    fcntl(Pipe[1], F_SETFL, O_NONBLOCK);
    fcntl(Pipe[1], F_SETPIPE_SZ, 4096); // a longer line goes out in parts
    Filled = Fill(Pipe[1]);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    break;
  case Stdout::Stuck:
  case Stdout::Late: {
    const int Size = fcntl(Pipe[1], F_SETPIPE_SZ, 4096);
    Filled = static_cast<std::size_t>(Size) - Opts.StdoutRoom;
    const std::string Fill(Filled, '#');
    if (write(Pipe[1], Fill.data(), Fill.size()) != static_cast<ssize_t>(Fill.size())) {
      throw std::runtime_error("cannot fill the pipe");
    }
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    break;
  }
  }
  int Err[2] = {-1, -1};
  std::size_t ErrFilled = 0;
  if (Opts.StuckStderrMs != 0) {
    if (pipe2(Err, O_CLOEXEC | O_NONBLOCK) != 0 || fcntl(Err[1], F_SETPIPE_SZ, 4096) < 0) {
      throw std::runtime_error("no pipe for stderr");
    }
    ErrFilled = Fill(Err[1]);
    fcntl(Err[1], F_SETFL, 0); // blocking, as a caller's pipe usually is
    posix_spawn_file_actions_adddup2(&Actions, Err[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&Actions, 2, (Dir + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
  }
  if (!Opts.CallerDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&Actions, Opts.CallerDir.c_str());
  }
  posix_spawnattr_t Attributes;
  posix_spawnattr_init(&Attributes);
  posix_spawnattr_setpgroup(&Attributes, 0);
  // Whatever the test runner ignores, the launcher starts as from a shell.
  sigset_t Defaults;
  sigemptyset(&Defaults);
  for (const int Signal : {SIGINT, SIGQUIT, SIGPIPE, SIGCHLD}) {
    sigaddset(&Defaults, Signal);
  }
  posix_spawnattr_setsigdefault(&Attributes, &Defaults);
  sigset_t Mask;
  if (Opts.HostileSignals) {
    sigfillset(&Mask);
  } else {
    sigemptyset(&Mask);
  }
  posix_spawnattr_setsigmask(&Attributes, &Mask);
  const auto Flags = static_cast<short>((Master >= 0 ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP) |
                                        POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setflags(&Attributes, Flags);
  const int Leaked = open("/dev/null", O_RDONLY); // deliberately inheritable
  Result R;
  for (int Fd = 0; Fd < 1024; ++Fd) {
    const int Flags = Fd > 2 ? fcntl(Fd, F_GETFD) : 0; // 0 to 2 come from the file actions
    if (Flags != -1 && (Flags & FD_CLOEXEC) == 0 && (Fd != 1 || Opts.Output != Stdout::Closed)) {
      R.Given.push_back(Fd);
    }
  }
  pid_t Pid = 0;
  auto ArgvPointers = Pointers(Argv);
  auto EnvPointers = Pointers(Env);
  const int Error = posix_spawn(&Pid, Argv.front().c_str(), &Actions, &Attributes,
                                ArgvPointers.data(), EnvPointers.data());
  close(Leaked);
  for (const int End : {Pipe[1], Err[1]}) {
    if (End >= 0) {
      close(End);
    }
  }
  posix_spawn_file_actions_destroy(&Actions);
  posix_spawnattr_destroy(&Attributes);
  if (Error != 0) {
    throw std::runtime_error("cannot start " + Program + ": " + std::strerror(Error));
  }
  std::string Piped;
  if (Opts.Output == Stdout::FullNonBlocking) {
    usleep(200 * 1000); // long enough for the launcher to meet the pipe full
    Piped = ReadAll(Pipe[0]).substr(Filled);
    close(Pipe[0]);
  }
  if (!Opts.ReadyFile.empty() || Opts.Key != Terminal::None) {
    usleep(static_cast<useconds_t>(Opts.KeyDelayMs) * 1000);
    const auto Ready = [&Opts] {
      if (Opts.ReadyFile.empty()) {
        return true;
      }
      const std::string Text = ReadFile(Opts.ReadyFile);
      return Text.size() >= 6 && Text.compare(Text.size() - 6, 6, "ready\n") == 0;
    };
    for (int Try = 0; Try < 1000 && !Ready(); ++Try) {
      usleep(10 * 1000);
    }
    const char Keys[] = {0, '\x03', '\x1c'};
    if (Opts.Key == Terminal::HangUp) {
      close(Master);
    }
    const bool Pressing = Opts.Key == Terminal::CtrlC || Opts.Key == Terminal::CtrlQuit;
    for (int Press = 0; Pressing && Press < Opts.Presses; ++Press) {
      if (write(Master, &Keys[static_cast<int>(Opts.Key)], 1) != 1) {
        throw std::runtime_error("cannot press a key");
      }
      usleep(100 * 1000); // each press on its own, not merged with the next
    }
    if (Opts.SignalWhenReady != 0) {
      usleep(200 * 1000);
      kill(Pid, Opts.SignalWhenReady);
    }
    const std::string Stat = "/proc/" + std::to_string(Pid) + "/stat";
    bool Stopped = false;
    for (int Try = 0; Opts.Key == Terminal::Fg && Try < 500 && !Stopped; ++Try) {
      usleep(10 * 1000);
      const std::string Line = ReadFile(Stat);
      Stopped = Line.find(") T ") != std::string::npos;
    }
    if (Stopped) {
      kill(Pid, SIGCONT); // the program alone: it passes that on to its child
    }
  }
  if (Late) {
    usleep(1000 * 1000);
    fcntl(Pipe[0], F_SETFL, O_NONBLOCK);
  }
  int Status = 0;
  pid_t Ended = 0;
  for (int Try = 0; Try < 1500 && (Ended = waitpid(Pid, &Status, WNOHANG)) == 0; ++Try) {
    usleep(10 * 1000);
    Piped += Late ? ReadAll(Pipe[0]) : "";
    R.Err += Opts.StuckStderrMs > 0 && Try * 10 >= Opts.StuckStderrMs ? ReadAll(Err[0]) : "";
  }
  if (Ended == 0) {
    kill(-Pid, SIGKILL);
    waitpid(Pid, &Status, 0);
  }
  if (Master >= 0 && Opts.Key != Terminal::HangUp) {
    close(Master);
  }
  if (Pipe[0] >= 0 && (Opts.Output == Stdout::Stuck || Late)) {
    Piped += Late ? ReadAll(Pipe[0]) : "";
    Piped.erase(0, Filled); // the filling
    close(Pipe[0]);
  }
  if (!CopyDir.empty()) {
    std::filesystem::remove_all(CopyDir);
  }
  R.Status = WIFEXITED(Status) ? static_cast<std::uint32_t>(WEXITSTATUS(Status))
                               : 1000 + static_cast<std::uint32_t>(WTERMSIG(Status)) +
                                     (WCOREDUMP(Status) ? 500 : 0); // a core file was written
  R.Status = Ended == 0 ? kTimedOut : R.Status;
  R.Out = Opts.Output == Stdout::FullNonBlocking || Late ? Piped : ReadFile(Dir + "/out");
  if (Err[0] >= 0) {
    R.Err += Opts.StuckStderrMs > 0 ? ReadAll(Err[0]) : "";
    R.Err.erase(0, ErrFilled); // the filling
    close(Err[0]);
  } else {
    R.Err = ReadFile(Dir + "/err");
  }
  return R;
}

std::vector<std::string> EnvironmentFiller(std::size_t Used, std::size_t Short) {
  rlimit Stack{};
  getrlimit(RLIMIT_STACK, &Stack);
  std::size_t Room = std::clamp<std::size_t>(Stack.rlim_cur / 4, 128 << 10, 6 << 20) - Short - Used;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    Room -= std::strlen(*Entry) + 1 + sizeof(char*);
  }
  std::vector<std::string> Entries;
  for (std::size_t Size = 0; Room > 16; Room -= Size + 1 + sizeof(char*)) {
    Size = std::min<std::size_t>(Room - 1 - sizeof(char*), 100000);
    Entries.push_back("PAD" + std::to_string(Entries.size()) + "=" + std::string(Size - 8, 'x'));
  }
  return Entries;
}

bool EndsSoon(int Pid) {
  for (int Try = 0; Try < 500; ++Try) {
    const std::string Stat = ReadFile("/proc/" + std::to_string(Pid) + "/stat");
    if (Stat.empty() || Stat.find(") Z ") != std::string::npos) {
      return true;
    }
    usleep(10 * 1000);
  }
  return false;
}

std::string SetuidCopy(const std::string& Program) {
  std::string CopyDir;
  if (geteuid() != 0) {
    return {};
  }
  std::string Copy = AsNobody(Program, CopyDir).back();
  chmod(Copy.c_str(), 04755);
  return Copy;
}

std::string DeepDirectory(const std::string& Under, const std::string& Program) {
  const std::string Part(200, 'd');
  std::string Steps = "cd " + Under;
  int Fd = open(Under.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int Depth = 0; Depth < 22; ++Depth) { // 4400 bytes below `Under`
    mkdirat(Fd, Part.c_str(), 0755);
    const int Next = openat(Fd, Part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    close(Fd);
    Fd = Next;
    Steps += " && cd " + Part;
  }
  const std::string Name = std::filesystem::path(Program).filename();
  const bool Linked = symlinkat(Program.c_str(), Fd, Name.c_str()) == 0 || errno == EEXIST;
  close(Fd);
  if (!Linked) {
    throw std::runtime_error("cannot link the program in the deep directory");
  }
  return Steps;
}

int CopyHeldForWriting(const std::string& Program, const std::string& Path) {
  WriteFile(Path, ReadFile(Program), true);
  return open(Path.c_str(), O_WRONLY | O_CLOEXEC);
}

void Release(int Held) {
  close(Held);
}

bool IsWindows() {
  return false;
}

std::string NativePath(const std::string& Path) {
  return Path;
}

std::string LauncherPath() {
  return LAUNCH_EXE;
}

std::string ProbePath() {
  return PROBE_EXE;
}

std::string NewTempDir() {
  std::string Template = LAUNCH_TEST_TMP "/case-XXXXXX";
  mkdir(LAUNCH_TEST_TMP, 0711); // searchable, so that permission cases meet the case folder's modes
  if (mkdtemp(Template.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return Template;
}

std::string ReadFile(const std::string& Path) {
  return probe::ReadFile(Path);
}

std::string FileVersion(const std::string& /*Path*/) {
  return {}; // ELF programs carry none
}

void WriteFile(const std::string& Path, const std::string& Text, bool Executable) {
  std::ofstream(Path, std::ios::binary) << Text;
  chmod(Path.c_str(), Executable ? 0755 : 0644);
}

} // namespace harness
