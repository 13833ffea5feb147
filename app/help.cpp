#include "help.h"

#include "console.h"

namespace launch {

namespace {

constexpr const wchar_t* kUsage = L"Usage: launch Exe CmdLine WorkingDirectory IsWaiting";

// Examples in the platform's own terms.
#ifdef _WIN32
constexpr const wchar_t* kExamples[] = {
    L"  launch C:\\Windows\\System32\\cmd.exe \"/c dir\" C:\\ TRUE    list C:\\ and wait",
    L"  launch \"\\\"C:\\Program Files\\x.exe\\\"\" \"\" C:\\ TRUE   a path with spaces, quoted",
    L"  launch notepad.exe \"\" C:\\Users FALSE    start it and return at once (259)",
};
#else
constexpr const wchar_t* kExamples[] = {
    L"  launch /bin/ls \"-l /tmp\" / TRUE    list /tmp and exit with ls's status",
    L"  launch ./build.sh \"--fast\" \"$PWD\" TRUE    a script in the current directory",
    L"  launch sleep 60 /tmp FALSE    start it and return at once (status 255)",
};
#endif

constexpr const wchar_t* kHelp[] = {
    kUsage,
    L"  or:  launch --help | /? | --version",
    L"",
    L"Starts one program, reports what it starts and how it ended, and exits with",
    L"the program's exit code.",
    L"",
    L"Arguments (all four are required; any of them may be empty):",
    L"  Exe               the program; it goes first on the child's command line, as it is",
    L"  CmdLine           the rest of the child's command line, as one argument",
    L"  WorkingDirectory  the directory the child runs in; it must exist",
    L"  IsWaiting         exactly TRUE to wait for the child to end; anything else",
    L"                    (true, 1, TRUE with a space, empty) starts it and returns at once",
    L"",
    L"The child's command line is Exe, one space and CmdLine: under 1024 UTF-16 units.",
    L"The child inherits the environment and the standard streams, nothing else.",
    L"",
    L"Reading the command line:",
    L"  Windows  CreateProcessW reads the program from the line by its own rules",
    L"           (quoted paths, a missing .exe, the search path); the child splits",
    L"           its arguments itself.",
    L"  Linux    the line is split as a Windows C runtime splits its own: the program",
    L"           name ends at the first blank outside quotes; in the arguments, 2n",
    L"           backslashes before a quote give n and the quote toggles quoting,",
    L"           2n+1 give n and a literal quote, \"\" inside quotes gives one quote.",
    L"           Nothing is expanded. A name without a slash is searched on PATH;",
    L"           one with a slash is relative to the caller's directory.",
    L"",
    L"Output: the four arguments (Exe : ..., CmdLine : ..., WorkingDirectory : ...,",
    L"IsWaiting : ...), \"CreateProcess failed !!!\" when the start fails, and",
    L"\"Code retour : \" with the code as a signed 32-bit number. Reasons go to stderr.",
    L"",
    L"Signals, while launch waits:",
    L"  Linux    SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1 and SIGUSR2 sent to launch",
    L"           alone are relayed to the child; a terminal's Ctrl-C or Ctrl-\\",
    L"           reaches a child in launch's process group by itself and is relayed",
    L"           to one in a group of its own; so is a hang-up to launch as session",
    L"           leader (a signal sent to the whole group reaches the child twice).",
    L"           A signal the caller ignores stays ignored; one that cannot be",
    L"           relayed ends launch. A stopped child gets SIGCONT after a signal",
    L"           meant to end it. A launcher killed outright takes the child along",
    L"           (SIGKILL), unless the child changed its user ids; as PID 1 it reaps",
    L"           every orphan. Once the child has ended, SIGTERM, SIGINT and SIGHUP",
    L"           end launch while its status line waits for a reader; once the line",
    L"           is out, launch exits with the code it names.",
    L"  Windows  Ctrl-C and Ctrl-Break reach the child through the console; launch",
    L"           outlives them and reports how the child ended. A launcher killed",
    L"           outright takes the child and what it started along (a job object).",
    L"",
    L"Exit status:",
    L"  the child's exit code   when the run waited (all 32 bits on Windows)",
    L"  259                     no wait and the child still running (255 on Linux)",
    L"  128+N                   Linux: the child was killed by signal N (for SIGINT and",
    L"                          SIGQUIT, launch then ends by the same signal, unless its",
    L"                          caller ignores it or it runs as PID 1)",
    L"  255                     Linux: any code above 255",
    L"  125                     launch failed: usage, working directory, line too long,",
    L"                          the child process not created or set up (a limit on",
    L"                          descriptors, processes or memory, a sandbox), exit",
    L"                          code unreadable, help or version text unwritable",
    L"  126                     the program exists but cannot be run (no permission, not",
    L"                          a program, a missing interpreter or loader, arguments and",
    L"                          environment too large, refused by Windows)",
    L"  127                     the program was not found",
    L"",
    L"Examples:",
    kExamples[0],
    kExamples[1],
    kExamples[2],
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
