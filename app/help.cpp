#include "help.h"

#include "console.h"

namespace launch {

namespace {

constexpr const wchar_t* kUsage = L"Usage: launch Exe CmdLine WorkingDirectory IsWaiting";

// Examples, and where the details are, in the platform's own terms.
#ifdef _WIN32
constexpr const wchar_t* kExamples[] = {
    L"  launch C:\\Windows\\System32\\cmd.exe \"/c dir\" C:\\ TRUE   list C:\\ and wait",
    L"  launch \"\\\"C:\\Program Files\\x.exe\\\"\" \"\" C:\\ TRUE        a path with spaces",
    L"  launch notepad.exe \"\" C:\\Users FALSE                   return at once (259)",
};
constexpr const wchar_t* kDetails =
    L"The details: README.md beside launch.exe, and docs/windows.md in the source.";
#else
constexpr const wchar_t* kExamples[] = {
    L"  launch /bin/ls \"-l /tmp\" / TRUE          list /tmp, exit with ls's status",
    L"  launch ./build.sh \"--fast\" \"$PWD\" TRUE   a script in the current directory",
    L"  launch sleep 60 /tmp FALSE               start it, return at once (255)",
};
constexpr const wchar_t* kDetails =
    L"The details (how the line is read, signals): man launch, docs/linux.md.";
#endif

constexpr const wchar_t* kHelp[] = {
    kUsage,
    L"  or:  launch --help | /? | --version",
    L"",
    L"Starts one program, reports what it starts and how it ended, and exits with",
    L"the program's exit code.",
    L"",
    L"Arguments (all four are required; any of them may be empty):",
    L"  Exe               the program, first on the child's command line as it is",
    L"  CmdLine           the rest of the child's command line, as one argument",
    L"  WorkingDirectory  the directory the child runs in; it must exist",
    L"  IsWaiting         exactly TRUE to wait for the child to end; anything else",
    L"                    (true, 1, TRUE with a space, empty) returns at once",
    L"",
    L"The child's command line is Exe, one space and CmdLine: under 1024 UTF-16 units.",
    L"Output: the four arguments, \"CreateProcess failed !!!\" when the start fails, and",
    L"\"Code retour : \" with the code as a signed 32-bit number. Reasons go to stderr.",
    L"",
    L"Exit status:",
    L"  the child's exit code  when the run waited (all 32 bits on Windows)",
    L"  259                    no wait and the child still running (255 on Linux)",
    L"  128+N                  Linux: the child was killed by signal N (for SIGINT and",
    L"                         SIGQUIT, launch then ends by the same signal, unless",
    L"                         its caller ignores it or it runs as PID 1)",
    L"  255                    Linux: any code above 255",
    L"  125                    launch failed: usage, working directory, line too long,",
    L"                         the child process not created or set up (a limit on",
    L"                         descriptors, processes or memory, a sandbox), exit",
    L"                         code unreadable, help or version text unwritable",
    L"  126                    the program exists but cannot be run (no permission,",
    L"                         not a program, a missing interpreter or loader,",
    L"                         arguments and environment too large, refused by",
    L"                         Windows)",
    L"  127                    the program was not found",
    L"",
    L"Examples:",
    kExamples[0],
    kExamples[1],
    kExamples[2],
    L"",
    kDetails,
};

// The version, then the copyright and licence lines GNU tools print.
constexpr const wchar_t* kVersionLine = L"launch " LAUNCH_VERSION;
constexpr const wchar_t* kVersion[] = {
    kVersionLine,
    L"Copyright (C) 2026 launch maintainers",
    L"License: MIT (Expat) <https://opensource.org/license/mit>.",
    L"This is free software: you are free to change and redistribute it.",
    L"There is NO WARRANTY, to the extent permitted by law.",
};

} // namespace

std::optional<RunFailure> WriteHelp() {
  for (const wchar_t* Line : kHelp) {
    if (auto Failure = WriteOutputLine(Line)) {
      return Failure;
    }
  }
  return std::nullopt;
}

std::optional<RunFailure> WriteVersion() {
  for (const wchar_t* Line : kVersion) {
    if (auto Failure = WriteOutputLine(Line)) {
      return Failure;
    }
  }
  return std::nullopt;
}

void WriteUsage() {
  WriteErrorLine(kUsage);
  WriteErrorLine(L"Try 'launch --help' for more information.");
}

} // namespace launch
