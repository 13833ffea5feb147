// Finding the program as execvp would, and telling why the kernel refused it.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "lossless_text.h"
#include "runner_linux.h"
#include "system_error.h"

namespace launch {

namespace {

// The search path execvp uses when PATH is not set.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

// What a look at the file `Path` tells before it is run.
struct Examination {
  bool Exists = false; // something is there
  int Error = 0;       // why it cannot be run; 0 when it can
};

Examination Examine(const std::string& Path) {
  struct stat Info {};
  if (stat(Path.c_str(), &Info) != 0) {
    return {false, errno};
  }
  if (S_ISDIR(Info.st_mode)) {
    return {true, EISDIR};
  }
  // With the effective ids, as execve will check them.
  if (!S_ISREG(Info.st_mode) || faccessat(AT_FDCWD, Path.c_str(), X_OK, AT_EACCESS) != 0) {
    return {true, EACCES};
  }
  return {true, 0};
}

// The first `Size` bytes of the file `Fd` from `Offset`; false when they are not all there.
bool ReadAt(int Fd, void* Buffer, std::size_t Size, off_t Offset) {
  return pread(Fd, Buffer, Size, Offset) == static_cast<ssize_t>(Size);
}

// The loader an ELF program asks for (PT_INTERP), or "" when it names none.
template <typename Header, typename ProgramHeader> std::string ElfLoader(int Fd) {
  Header File{};
  if (!ReadAt(Fd, &File, sizeof File, 0) || File.e_phentsize != sizeof(ProgramHeader)) {
    return {};
  }
  for (unsigned I = 0; I < File.e_phnum; ++I) {
    ProgramHeader Segment{};
    const auto At = static_cast<off_t>(File.e_phoff + I * sizeof Segment);
    if (!ReadAt(Fd, &Segment, sizeof Segment, At)) {
      return {};
    }
    if (Segment.p_type == PT_INTERP && Segment.p_filesz > 1 && Segment.p_filesz <= 4096) {
      std::string Path(Segment.p_filesz, '\0');
      if (!ReadAt(Fd, Path.data(), Path.size(), static_cast<off_t>(Segment.p_offset))) {
        return {};
      }
      return Path.substr(0, Path.find('\0'));
    }
  }
  return {};
}

// The interpreter a program needs: the one on its "#!" line (a script), or the
// loader an ELF program names; an empty path when it names none.
struct Interpreter {
  std::string Path;
  bool Script = false;
};

Interpreter ReadInterpreter(const ProgramPath& Program) {
  const int Fd = openat(Program.DirFd >= 0 ? Program.DirFd : AT_FDCWD, Program.Path.c_str(),
                        O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    return {};
  }
  char Head[256];
  const ssize_t Got = read(Fd, Head, sizeof Head);
  Interpreter Named;
  if (Got >= EI_NIDENT && std::memcmp(Head, ELFMAG, SELFMAG) == 0) {
    Named.Path = Head[EI_CLASS] == ELFCLASS64 ? ElfLoader<Elf64_Ehdr, Elf64_Phdr>(Fd)
                                              : ElfLoader<Elf32_Ehdr, Elf32_Phdr>(Fd);
  } else if (Got >= 2 && Head[0] == '#' && Head[1] == '!') {
    Named.Script = true;
    const std::string_view Line(Head + 2, static_cast<std::size_t>(Got) - 2);
    const std::size_t Begin = Line.find_first_not_of(" \t");
    if (Begin != std::string_view::npos) {
      Named.Path = Line.substr(Begin, Line.find_first_of(" \t\n", Begin) - Begin);
    }
  }
  close(Fd);
  return Named;
}

// True when `Error` is the interpreter's fault rather than the program's. The
// program was found and could be run, so a failed lookup is the
// interpreter's; a refused permission is when the interpreter cannot be run
// itself; a format the kernel does not know is the interpreter's only for a
// script (an ELF program for another machine is the program's fault). A busy
// file, or a refusal by a security module, is never the interpreter's.
bool InterpreterAtFault(int Error, const Interpreter& Named) {
  switch (Error) {
  case ENOENT:
  case ENOTDIR:
  case ELOOP:
  case ENAMETOOLONG:
  case ELIBBAD:
    return true;
  case EACCES:
  case EISDIR:
    return Examine(Named.Path).Error != 0;
  case ENOEXEC:
    return Named.Script;
  default:
    return false;
  }
}

} // namespace

// A directory that is missing or cannot be searched just does not hold the
// program. A missing program reports ENOENT (ENAMETOOLONG when the name cannot
// be a file name); one found only in forms that cannot be run reports why.
int FindProgram(const std::string& Name, std::string& Found) {
  if (Name.empty()) {
    return ENOENT;
  }
  if (Name.find('/') != std::string::npos) {
    Found = Name;
    return Examine(Name).Error;
  }
  const char* SearchPath = std::getenv("PATH");
  const std::string Dirs = SearchPath != nullptr ? SearchPath : kDefaultSearchPath;
  int Error = ENOENT;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Dirs.find(':', Start);
    std::string Path = Dirs.substr(Start, End - Start);
    if (!Path.empty()) {
      Path += '/';
    }
    Path += Name;
    const auto [Exists, PathError] = Examine(Path);
    if (PathError == 0) {
      Found = Path;
      return 0;
    }
    // Found but it cannot be run: remember why, and keep looking.
    const bool CannotRun = Exists || PathError == ELOOP;
    const bool TooLong = PathError == ENAMETOOLONG && Error == ENOENT;
    if (CannotRun || TooLong) {
      Error = PathError;
    }
    if (End == std::string::npos) {
      return Error;
    }
    Start = End + 1;
  }
}

// The child changes directory before it runs the program, so a relative path
// is anchored to the caller's directory first. In a directory deeper than the
// kernel's path limit the absolute path cannot be handed to execve: the child
// then runs the relative path itself when it starts in the caller's directory,
// or resolves it from a descriptor of that directory.
int AnchorProgram(const std::string& Found, const std::string& Cwd, const std::string& Dir,
                  ProgramPath& Program) {
  if (Found.front() == '/') {
    Program.Path = Found;
    return 0;
  }
  if (Cwd.size() + 1 + Found.size() < PATH_MAX) {
    Program.Path = Cwd.back() == '/' ? Cwd + Found : Cwd + '/' + Found; // "/" gives "/prog"
    return 0;
  }
  Program.Path = Found;
  struct stat Here {};
  struct stat There {};
  if (stat(".", &Here) == 0 && stat(Dir.c_str(), &There) == 0 && Here.st_dev == There.st_dev &&
      Here.st_ino == There.st_ino) {
    return 0;
  }
  Program.DirFd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  return Program.DirFd < 0 ? errno : 0;
}

ReturnCode StatusForExecError(int Error) {
  switch (Error) {
  case ENOENT:
  case ENOTDIR:
  case ENAMETOOLONG:
    return kStatusNotFound;
  case EACCES:
  case EPERM:
  case EISDIR:
  case ENOEXEC:
  case ETXTBSY:
  case ELIBBAD:
  case ELOOP:
  case E2BIG: // found, but its arguments and environment cannot be handed over
    return kStatusCannotRun;
  default:
    return kStatusLauncherFailed;
  }
}

// The kernel reports a missing script interpreter or ELF loader as if the
// program itself were missing; it was found, so say what is wrong with it.
// Arguments and environment too large are the start's own fault.
RunOutcome ExecFailure(int Error, const ProgramPath& Program) {
  RunOutcome Result;
  Result.Code = StatusForExecError(Error);
  Result.Failure = FailureFor(Error);
  if (Error == E2BIG || Result.Code == kStatusLauncherFailed) {
    return Result;
  }
  const Interpreter Named = ReadInterpreter(Program);
  if (Program.DirFd >= 0 && Error == ENOENT && Named.Script) {
    // The kernel hands such a script a /dev/fd path whose descriptor the
    // exec has closed.
    Result.Code = kStatusCannotRun;
    Result.Failure = FailureFor(ENAMETOOLONG, L"a script this deep runs only in the caller's "
                                              L"directory: ");
  } else if (!Named.Path.empty() && InterpreterAtFault(Error, Named)) {
    Result.Code = kStatusCannotRun;
    Result.Failure = FailureFor(Error, L"bad interpreter '" + DecodeLossless(Named.Path) + L"': ");
  }
  return Result;
}

} // namespace launch
