// Runs the built launcher against the probe child and checks the whole
// contract: report lines, exit status, what the child received.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "end_to_end.h"

namespace e2e {
namespace {

// What stderr must hold: "" for nothing at all; nullptr where the row does not
// apply. A text that begins with "launch:" is all of stderr, any other a part.
struct Expected {
  Expected(std::nullptr_t /*NotHere*/) {}
  Expected(const char* Text) : Applies(true), Text(Text) {}
  Expected(std::string Text) : Applies(true), Text(std::move(Text)) {}
  bool Applies = false;
  std::string Text;
};

struct StatusCase {
  std::string Name;
  std::vector<std::string> Args; // {probe}, {dir}, {file} stand for the fixture's paths
  std::vector<std::string> Env = {};
  std::uint32_t Code; // the number on the status line, unsigned
  bool Started;
  Expected PosixError; // what stderr must hold on each platform
  Expected WindowsError;
  bool Unprivileged = false;            // run as a user that permission checks apply to
  std::vector<std::string> Prefix = {}; // what runs the launcher
  int StuckStderrMs = 0;                // stderr a full pipe, read from this late (-1: never)
  std::string CallerDir = {};           // the caller's current directory
  std::string FailingCall = {};         // Windows: fails once the child runs (harness.h)
};

std::string Expand(std::string Text, const std::string& Probe, const std::string& Dir,
                   const std::string& File) {
  const std::pair<std::string, std::string> Names[] = {
      {"{probe}", Probe}, {"{dir}", Dir}, {"{file}", File}};
  for (const auto& [Name, Value] : Names) {
    for (auto At = Text.find(Name); At != std::string::npos; At = Text.find(Name)) {
      Text.replace(At, Name.size(), Value);
    }
  }
  return Text;
}

class StatusesAndReports : public Table {
public:
  ~StatusesAndReports() override { harness::Release(Busy); }
  // AddressSanitizer runs neither under qemu-user nor with a few descriptors,
  // and it turns core files off; no launcher that loads libraries runs under
  // a hard limit of a few descriptors.
  static bool Applies(const StatusCase& Case) {
    const auto Has = [&Case](const char* Text) {
      return std::any_of(Case.Prefix.begin(), Case.Prefix.end(),
                         [Text](const auto& Part) { return Part.find(Text) != std::string::npos; });
    };
    const bool Cramped = Has("qemu-") || Has("ulimit -");
    return (IsWindows() ? Case.WindowsError : Case.PosixError).Applies &&
           !(Cramped && harness::kSanitizedLauncher) &&
           !(Has("ulimit -n") && harness::kLoadsLibraries);
  }
  std::vector<StatusCase> Rows();

protected:
  const std::string File = Dir + "/plain.txt";
  int Busy = -1; // a copy of the probe held open for writing
};
LAUNCH_TABLE(StatusesAndReports);

std::vector<StatusCase> StatusesAndReports::Rows() {
  harness::WriteFile(File, "!!not a program\n", true); // a '!' second, as in "#!", is no script
  // No line end: the interpreter's name runs to the end of the file.
  harness::WriteFile(Dir + "/bad-interpreter", "#!/nonexistent/interp", true);
  harness::WriteFile(Dir + "/notes.txt", "", false);
  harness::WriteFile(Dir + "/plain-interpreter", "#!" + Dir + "/notes.txt\n", true);
  harness::WriteFile(Dir + "/ok.sh", "#!/bin/sh\nexit 0\n", true);
  harness::WriteFile(Dir + "/no-x.sh", "#!/bin/sh\nexit 0\n", false);
  const std::string DeepScript = harness::DeepDirectory(Dir, Dir + "/ok.sh");
  const std::string DeepBadScript = harness::DeepDirectory(Dir, Dir + "/bad-interpreter");
  std::filesystem::create_directory(Dir + "/My Tools");
  harness::WriteFile(Dir + "/My Tools/bad.exe", "not a program\n", true);
  std::filesystem::create_directory(Dir + "/locked");
  harness::WriteFile(Dir + "/locked/plain.txt", "not a program\n", true);
  std::filesystem::permissions(Dir + "/locked", std::filesystem::perms::none);
  // A caller deep enough that a relative directory of 60 units lies past the
  // longest current directory Windows takes, and a long way back to {dir}.
  std::string Caller = NativePath(Dir);
  std::string Winding = Caller;
  while (Caller.size() < 200) {
    Caller += "\\" + std::string(50, 'a');
  }
  while (Winding.size() < 300) {
    Winding += "\\..\\" + Dir.substr(Dir.find_last_of("/\\") + 1);
  }
  const std::string Sub = std::string(60, 's');
  // The longest full path Windows takes as a current directory: 258 units.
  const std::string Longest =
      NativePath(Dir) + "\\" + std::string(257 - NativePath(Dir).size(), 'l');
  if (IsWindows()) {
    std::filesystem::create_directories(Longest);
    std::filesystem::create_directories(Longest + "m");
    std::filesystem::create_directories(std::filesystem::path(Caller) / Sub);
    for (const char* Copy : {"/hi.exe", "/hi dir/k k.exe", "/lone dir/k k.exe"}) {
      std::filesystem::create_directories(std::filesystem::path(Dir + Copy).parent_path());
      std::filesystem::copy_file(Probe, Dir + Copy);
    }
  }
  std::string Many; // 2 units a word: the child's argument vector holds a pointer more for each
  for (std::size_t Units = Probe.size(); Units + 3 < 1023; Units += 2) {
    Many += " a";
  }
  std::vector<std::string> Padding; // what leaves the launcher room for its own start only
  std::string LongLoader;
  for (std::size_t Part = 0; Part < 1365; ++Part) {
    LongLoader += "/xx"; // 4,095 bytes
  }
  if (!IsWindows()) {
    std::filesystem::permissions(Dir, std::filesystem::perms::owner_all |
                                          std::filesystem::perms::others_exec);
    std::filesystem::create_symlink("loop", Dir + "/loop");
    harness::WriteFile(Dir + "/crlf.sh", "#!/bin/sh\r\nexit 0\r\n", true);
    std::string Elf = harness::ReadFile(Probe); // a loader that is not there
    const std::size_t Loader = Elf.find("/ld-linux");
    Elf.replace(Elf.rfind('/', Loader - 1), 4, "/xx/");
    harness::WriteFile(Dir + "/no-loader", Elf, true);
    // A loader named by the longest path the kernel takes (4,096 bytes with its
    // NUL), moved to the end of the file.
    const auto Word = [&Elf](std::size_t At, std::size_t Size) {
      std::uint64_t Value = 0;
      std::memcpy(&Value, &Elf[At], Size);
      return Value;
    };
    // Where the fields lie follows from the width of an address, 8 bytes in a
    // 64-bit file (EI_CLASS 2), else 4; a program header starts with p_type.
    const std::size_t Width = Elf[4] == 2 ? 8 : 4;
    std::size_t At = Word(24 + Width, Width);              // e_phoff
    const std::size_t EntrySize = Word(30 + 3 * Width, 2); // e_phentsize
    while (Word(At, 4) != 3) {                             // PT_INTERP
      At += EntrySize;
    }
    const std::uint64_t Where[2] = {Elf.size(), LongLoader.size() + 1};
    std::memcpy(&Elf[At + Width], &Where[0], Width);     // p_offset
    std::memcpy(&Elf[At + 4 * Width], &Where[1], Width); // p_filesz
    harness::WriteFile(Dir + "/long-loader", Elf + LongLoader + '\0', true);
    Elf = harness::ReadFile(Probe);
    Elf[18] = static_cast<char>(183); // e_machine: AArch64, with a loader that is there
    harness::WriteFile(Dir + "/other-machine", Elf, true);
    // The launcher's start (its path twice, four arguments, the probe's record
    // path) fits; the child's, with a pointer more for each word, does not.
    const std::size_t Launcher = 2 * harness::LauncherPath().size() + Probe.size() + Many.size() +
                                 Dir.size() + 10 + 6 * sizeof(char*) + RecordPath.size() + 11;
    Padding =
        harness::EnvironmentFiller(Launcher + sizeof(char*), Many.size() / 2 * sizeof(char*) / 2);
  }
  const std::string NearMiss =
      "', not exactly TRUE: not waiting for the child" + std::string(IsWindows() ? "\r\n" : "\n");
  const std::string LowerCase = "launch: warning: IsWaiting is 'true" + NearMiss;
  const std::string Blank = "launch: warning: IsWaiting is 'TRUE " + NearMiss;
  const char* NotFound = "No such file or directory (error 2)";
  const char* BadDir = "Directory name invalid (error 267)"; // Wine's wording
  Busy = harness::CopyHeldForWriting(Probe, Dir + "/busy");
  const std::string NoDir = "working directory '{dir}/none': " + std::string(BadDir);
  const std::string Deep = "{dir}\\" + std::string(300, 'd'); // missing, too
  const std::string TooDeep = "working directory '" + Deep + "': ";
  const std::string LongLoaderError = "bad interpreter '" + LongLoader + "': " + NotFound;
  // One call of the launcher's fails (or is delayed, or gets a signal), as the
  // kernel may make it.
  const auto Failing = [](const std::string& Call, const std::string& Error) {
    std::vector<std::string> Strace = {"/usr/bin/strace", "-f", "-qq", "-o/dev/null"};
    const std::string Injected = Error.find('=') == std::string::npos ? "error=" + Error : Error;
    Strace.insert(Strace.end(), {"-etrace=" + Call, "-einject=" + Call + ":" + Injected});
    return Strace;
  };
  const std::vector<std::string> Waited = {"{probe}", "", "{dir}", "TRUE"};
  const auto Sh = [](const std::string& First) { // what runs the launcher, after `First`
    return std::vector<std::string>{"/bin/sh", "-c", First + "; exec \"$@\"", "sh"};
  };
  const auto Line = [](std::string CmdLine) {
    return std::vector<std::string>{"{probe}", std::move(CmdLine), "{dir}", "TRUE"};
  };
  const std::string Smile = "\xF0\x9F\x98\x80";     // one character, two UTF-16 units
  const std::size_t Room = 1023 - Probe.size() - 1; // units left for CmdLine under the limit
  const char* Over = "1024 UTF-16 units, the limit is 1023";
  // clang-format off
  std::vector<StatusCase> All = {
      {"waits for exit 3", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_EXIT=3"}, 3, true, "", ""},
      {"waits for exit 0", {"{probe}", "a b", "{dir}", "TRUE"}, {}, 0, true, "", ""},
      {"waits for the end", {"{probe}", "", "{dir}", "TRUE"},
       {"PROBE_SLEEP_MS=300", "PROBE_EXIT=7"}, 7, true, "", ""},
      {"no wait: still active", {"{probe}", "", "{dir}", ""}, {"PROBE_SLEEP_MS=3000"}, 259, true,
       "", ""},
      {"lower-case true does not wait, with a warning", {"{probe}", "", "{dir}", "true"},
       {"PROBE_SLEEP_MS=3000"}, 259, true, LowerCase.c_str(), LowerCase.c_str()},
      {"trailing space does not wait, with a warning", {"{probe}", "", "{dir}", "TRUE "},
       {"PROBE_SLEEP_MS=3000"}, 259, true, Blank.c_str(), Blank.c_str()},
      {"top bit set", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_EXIT=3221225477"}, 0xC0000005,
       true, nullptr, "launch: '{probe}' ended with exception 0xC0000005 (access violation)\r\n"},
      {"a fail-fast end", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_EXIT=3221226505"}, 0xC0000409,
       true, nullptr,
       "launch: '{probe}' ended with exception 0xC0000409 (stack buffer overrun)\r\n"},
      {"all bits set", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_EXIT=4294967295"}, 0xFFFFFFFF,
       true, nullptr, ""},
      {"killed by SIGTERM", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_SIGNAL=15"}, 143, true,
       "launch: '{probe}' was killed by SIGTERM (Terminated)\n", nullptr},
      {"killed by SIGKILL", {"{probe}", "", "{dir}", "TRUE"}, {"PROBE_SIGNAL=9"}, 137, true,
       "launch: '{probe}' was killed by SIGKILL (Killed)\n", nullptr},
      {"missing program", {"no-such-tool-xyz", "", "{dir}", "TRUE"}, {}, 127, false,
       "launch: cannot start 'no-such-tool-xyz': No such file or directory (error 2)\n",
       "launch: cannot start 'no-such-tool-xyz': File not found (error 2)\r\n"},
      {"missing program beats a bad directory", {"no-such-tool-xyz", "", "", "TRUE"}, {}, 127,
       false, NotFound, "(error 2)"},
      {"empty program", {"", "", "{dir}", "TRUE"}, {}, 127, false, "cannot start ''", "(error 2)"},
      {"the name read from the line is the one reported",
       {"{dir}/my dir/probe", "", "{dir}", "TRUE"}, {}, 127, false,
       "launch: cannot start '{dir}/my': No such file or directory (error 2)\n", nullptr},
      {"a blank in Exe: the system's message names Exe as given, on one line",
       {"{dir}\\My Tools\\bad.exe", "", "{dir}", "TRUE"},
       {},
       126,
       false,
       nullptr, // read as "{dir}\My" on Linux, the row above
       "launch: cannot start '{dir}\\My Tools\\bad.exe': Bad EXE format for {dir}\\My "
       "Tools\\bad.exe (error 193)\r\n"},
      {"name too long", {std::string(300, 'x'), "", "/", "TRUE"}, {}, 127, false,
       "File name too long (error 36)", nullptr},
      {"PATH entry that cannot be searched", {"plain.txt", "", "/", "TRUE"}, {"PATH={dir}/locked"},
       127, false, "launch: cannot start 'plain.txt': No such file or directory (error 2)\n",
       nullptr, true},
      {.Name = "a name on PATH found only where it cannot run",
       .Args = {"notes.txt", "", "/", "TRUE"}, .Env = {"PATH={dir}"}, .Code = 126,
       .Started = false,
       .PosixError = "launch: cannot start 'notes.txt': Permission denied (error 13)\n",
       .WindowsError = nullptr},
      {"symlink loop", {"{dir}/loop", "", "{dir}", "TRUE"}, {}, 126, false,
       "Too many levels of symbolic links (error 40)", nullptr},
      {"missing interpreter", {"{dir}/bad-interpreter", "", "{dir}", "TRUE"}, {}, 126, false,
       "bad interpreter '/nonexistent/interp': No such file or directory (error 2)", nullptr},
      {"script with CRLF line ends", {"{dir}/crlf.sh", "", "{dir}", "TRUE"}, {}, 126, false,
       "launch: cannot start '{dir}/crlf.sh': bad interpreter '/bin/sh\\r': No such file or "
       "directory (error 2)\n", nullptr},
      {"ELF loader missing", {"{dir}/no-loader", "", "{dir}", "TRUE"}, {}, 126, false,
       "bad interpreter '/xx/", nullptr},
      {.Name = "ELF loader named by the longest path",
       .Args = {"{dir}/long-loader", "", "{dir}", "TRUE"}, .Code = 126, .Started = false,
       .PosixError = LongLoaderError.c_str(), .WindowsError = nullptr},
      {"ELF program for another machine", {"{dir}/other-machine", "", "{dir}", "TRUE"}, {}, 126,
       false, "launch: cannot start '{dir}/other-machine': Exec format error (error 8)\n", nullptr},
      {"program open for writing", {"{dir}/busy", "", "{dir}", "TRUE"}, {}, 126, false,
       "launch: cannot start '{dir}/busy': Text file busy (error 26)\n", nullptr},
      {"a failed start under an emulator that forks", {"{dir}/crlf.sh", "", "{dir}", "TRUE"}, {},
       126, false,
       "launch: cannot start '{dir}/crlf.sh': bad interpreter '/bin/sh\\r': No such file or "
       "directory (error 2)\n", nullptr, false, {"/usr/bin/qemu-x86_64"}},
      {"PID 1 without the wait", {"{probe}", "", "{dir}", ""}, {"PROBE_SLEEP_MS=3000"}, 259, true,
       "launch: warning: as PID 1, launch takes its child along when it exits\n", nullptr, false,
       {"/usr/bin/unshare", "-Urfp", "--mount-proc"}},
      {"arguments and environment too large for the child", {"{probe}", Many, "{dir}", "TRUE"},
       Padding, 126, false, "launch: cannot start '{probe}': Argument list too long (error 7)\n",
       nullptr},
      {"working directory that cannot be entered", {"/bin/true", "", "{dir}/locked", "TRUE"}, {},
       125, false, "Permission denied (error 13)", nullptr, true},
      {"directory as program", {"{dir}", "", "{dir}", "TRUE"}, {}, 126, false,
       "Is a directory (error 21)", nullptr}, // Wine says error 2 where Windows says 5
      {"file that is no program", {"{file}", "", "{dir}", "TRUE"}, {}, 126, false,
       "launch: cannot start '{file}': Exec format error (error 8)\n", "(error 193)"},
      {"an interpreter that cannot be run", {"{dir}/plain-interpreter", "", "{dir}", "TRUE"}, {},
       126, false,
       "launch: cannot start '{dir}/plain-interpreter': bad interpreter '{dir}/notes.txt': "
       "Permission denied (error 13)\n", nullptr},
      {"no descriptor left for the start", {"{probe}", "", "{dir}", "TRUE"}, {}, 125, false,
       "launch: cannot start '{probe}': the descriptor limit (5) leaves no room for the start: "
       "Too many open files (error 24)\n", nullptr, false,
       {"/bin/sh", "-c", "ulimit -n 5; exec \"$@\"", "sh"}},
      {.Name = "no child can be made",
       .Args = {"{probe}", "", "{dir}", "TRUE"},
       .Code = 125,
       .Started = false,
       .PosixError = "launch: cannot start '{probe}': cannot create the child process: Resource "
                     "temporarily unavailable (error 11)\n",
       .WindowsError = nullptr,
       .Prefix = Failing("clone", "EAGAIN")},
      {.Name = "a wait that fails is no exit code",
       .Args = {"{probe}", "", "{dir}", "TRUE"},
       .Code = 125,
       .Started = true,
       .PosixError =
           "launch: cannot read the exit code of '{probe}': No child processes (error 10)\n",
       .WindowsError = nullptr,
       .Prefix = Failing("wait4", "ECHILD")},
      {.Name = "a working directory the child cannot enter",
       .Args = {"{probe}", "", "{dir}", "TRUE"},
       .Code = 125,
       .Started = false,
       .PosixError = "launch: cannot start '{probe}': working directory '{dir}': Permission denied "
                     "(error 13)\n",
       .WindowsError = nullptr,
       .Prefix = Failing("fchdir", "EACCES")},
      // Refused as by a security module: the loader is fine.
      {.Name = "a refused exec is not the loader's fault",
       .Args = {"{probe}", "", "{dir}", "TRUE"}, .Code = 126, .Started = false,
       .PosixError = "launch: cannot start '{probe}': Permission denied (error 13)\n",
       .WindowsError = nullptr, .Prefix = Failing("execve", "EACCES")},
      {"a script in a caller deeper than the path limit", {"./ok.sh", "", ".", "TRUE"}, {}, 0,
       true, "", nullptr, false, {"/bin/bash", "-c", DeepScript + " && exec \"$@\"", "bash"}},
      {"a script in such a caller, run elsewhere", {"./ok.sh", "", "{dir}", "TRUE"}, {}, 126,
       false,
       "launch: cannot start './ok.sh': a script this deep runs only in the caller's directory: "
       "File name too long (error 36)\n", nullptr, false,
       {"/bin/bash", "-c", DeepScript + " && exec \"$@\"", "bash"}},
      {.Name = "a missing interpreter in a caller deeper than the path limit",
       .Args = {"./bad-interpreter", "", ".", "TRUE"},
       .Code = 126,
       .Started = false,
       .PosixError = "launch: cannot start './bad-interpreter': bad interpreter "
                     "'/nonexistent/interp': No such file or directory (error 2)\n",
       .WindowsError = nullptr,
       .Prefix = {"/bin/bash", "-c", DeepBadScript + " && exec \"$@\"", "bash"}},
      // Descriptor 0 free: the program's file may be opened as 0.
      {.Name = "the interpreter named with stdin closed",
       .Args = {"{dir}/crlf.sh", "", "{dir}", "TRUE"},
       .Code = 126,
       .Started = false,
       .PosixError = "launch: cannot start '{dir}/crlf.sh': bad interpreter '/bin/sh\\r': No such "
                     "file or directory (error 2)\n",
       .WindowsError = nullptr,
       .Prefix = {"/bin/sh", "-c", "exec \"$@\" <&-", "sh"}},
      {"empty working directory", {"{probe}", "", "", "TRUE"}, {}, 125, false,
       "working directory '': No such file or directory (error 2)", BadDir},
      {"missing working directory", {"{probe}", "", "{dir}/none", "TRUE"}, {}, 125, false,
       NotFound, NoDir.c_str()},
      {"over MAX_PATH", {"{probe}", "", Deep, "TRUE"}, {}, 125, false, nullptr, TooDeep.c_str()},
      {"a missing program in a directory over MAX_PATH", {"no-such-tool-xyz", "", Deep, "TRUE"},
       {}, 127, false, nullptr,
       "launch: cannot start 'no-such-tool-xyz': File not found (error 2)\r\n"},
      {.Name = "a relative working directory whose full path is too long",
       .Args = {"{probe}", "", Sub, "TRUE"}, .Code = 125, .Started = false, .PosixError = nullptr,
       .WindowsError = "': too long: its full path is ", .CallerDir = Caller},
      {"a working directory over MAX_PATH as given, short in full",
       {"{file}", "", Winding, "TRUE"}, {}, 126, false, nullptr,
       "launch: cannot start '{file}': Bad EXE format for {file} (error 193)\r\n"},
      {"a working directory at the longest full path", {"{probe}", "", Longest, "TRUE"}, {}, 0, true,
       nullptr, ""},
      {"a working directory a unit longer", {"{probe}", "", Longest + "m", "TRUE"}, {}, 125, false,
       nullptr, "too long: its full path is 259 UTF-16 units, the limit is 258\r\n"},
      {.Name = "a job that cannot be released", .Args = {"{probe}", "", "{dir}", "TRUE"},
       .Env = {"PROBE_SLEEP_MS=500", "PROBE_EXIT=3"}, .Code = 3, .Started = true,
       .PosixError = nullptr, .WindowsError = "", .FailingCall = "SetInformationJobObject@16"},
      {"an unquoted Exe with blanks that starts another program",
       {"{dir}\\hi dir\\k k.exe", "x=3", "{dir}", "TRUE"}, {}, 0, true, nullptr,
       "launch: warning: Windows started '{dir}\\hi.exe' for the unquoted Exe '{dir}\\hi dir\\k "
       "k.exe'; to start that file, pass Exe with quotes in it: \"{dir}\\hi dir\\k k.exe\"\r\n"},
      {"an unquoted Exe with blanks that names no file", // what ran is all there is
       {"{dir}\\hi dir\\none.exe", "", "{dir}", "TRUE"},
       {},
       0,
       true,
       nullptr,
       ""},
      {"an unquoted Exe with blanks that starts itself",
       {"{dir}\\lone dir\\k k.exe", "", "{dir}", "TRUE"}, {}, 0, true, nullptr, ""},
      {"a %1 in a name is no placeholder", {"{probe}", "", "{dir}/none%1", "TRUE"}, {}, 125, false,
       "launch: cannot start '{probe}': working directory '{dir}/none%1': No such file or "
       "directory (error 2)\n", BadDir},
      {"file as working directory", {"{probe}", "", "{file}", "TRUE"}, {}, 125, false,
       "Not a directory (error 20)", BadDir},
      {"SIGSEGV", Waited, {"PROBE_SIGNAL=11"}, 139, true,
       "SIGSEGV (Segmentation fault), core dumped\n", nullptr, false, Sh("ulimit -c unlimited")},
      {"SIGPIPE: no line", Waited, {"PROBE_SIGNAL=13"}, 141, true, "", nullptr},
      {"SIGINT: no line", Waited, {"PROBE_SIGNAL=2"}, 130, true, "", nullptr, false,
       Sh("trap '' INT")},
      {"exit 139: no line", Waited, {"PROBE_EXIT=139"}, 139, true, "", nullptr},
      {"no wait: no line", {"/bin/sh", "-c \"kill -TERM $$\"", "{dir}", "FALSE"}, {}, 143, true, "",
       nullptr, false, Failing("wait4", "delay_enter=500000")}, // read once the child has died
      // In the child's window before its exec, a sanitizer's handler must not run.
      {"a signal before the exec", Waited, {}, 136, true, "SIGFPE (Floating point exception)\n",
       nullptr, false, Failing("fchdir", "signal=SIGFPE")},
      // The child's state is read before the notice; once stuck, stderr takes no later line.
      {"PID 1 without the wait, stderr stuck", {"{probe}", "", "{dir}", ""}, {"PROBE_SLEEP_MS=500"},
       259, true, "", nullptr, false, {"/usr/bin/unshare", "-Urfp", "--mount-proc"}, -1},
      {"stderr stuck for 2 s", {"{probe}", "", "{dir}", "true"}, {}, 125, false, "", nullptr, false,
       Failing("clone", "error=EAGAIN:delay_enter=3000000"), 2000},
      {"the limit, not the directory", Waited, {}, 125, false,
       "the descriptor limit (3) leaves no room for the start: Too many", nullptr, false,
       Sh("ulimit -n 3")},
      // The child gets the caller's soft limit back: a hard limit cannot go below it.
      // (Five: a dynamically linked launcher needs one free to load its libraries.)
      {"a low soft limit", {"/bin/sh", "-c \"ulimit -Hn 5\"", "{dir}", "TRUE"}, {}, 0, true, "",
       nullptr, false, Sh("ulimit -Sn 5")},
      {"a sandbox refuses the child", Waited, {}, 125, false,
       "cannot create the child process: Operation not permitted", nullptr, false,
       Failing("clone", "EPERM")},
      {"the child's set-up refused", Waited, {}, 125, false,
       "cannot set up the child process: Operation not permitted", nullptr, false,
       Failing("prctl", "EPERM")},
      {"an exec refused with EPERM", Waited, {}, 126, false, "'{probe}': Operation not permitted",
       nullptr, false, Failing("execve", "EPERM")},
      {"CmdLine at the limit", Line(std::string(Room, 'x')), {}, 0, true, "", ""},
      {"CmdLine a unit over the limit", Line(std::string(Room + 1, 'x')), {}, 125, false, Over,
       Over},
      {"a character of two units at the limit", Line(Smile + std::string(Room - 2, 'x')), {}, 0,
       true, "", ""}, // as many characters as the row over the limit
      {"a character of two units over the limit", Line(Smile + std::string(Room - 1, 'x')), {}, 125,
       false, Over, Over},
      // Windows refuses a command line of more than 32767 units before the launcher runs.
      {"huge command line", Line(std::string(IsWindows() ? 30000 : 100000, 'x')), {}, 125, false,
       "the limit is 1023", "the limit is 1023"},
      {"all four empty", {"", "", "", ""}, {}, 127, false, "cannot start ''", "cannot start ''"},
      {"no execute permission", {"{dir}/no-x.sh", "", "{dir}", "TRUE"}, {}, 126, false,
       "Permission denied (error 13)", nullptr},
      {"invalid UTF-8 in every argument", {"\xFF", "\xC3", "{dir}/\x80", "\xFE"}, {}, 127, false,
       "cannot start '\xFF'", nullptr},
      {"invalid UTF-8 directory", {"{probe}", "\xC3", "{dir}/\x80", "\xFE"}, {}, 125, false,
       "working directory '{dir}/", nullptr},
  };
  // clang-format on
  // A quote or a backslash at every position of Exe: the program name is read
  // with quotes toggling (a lone one swallows the separator) and backslashes
  // literal, so each such name is missing. Quotes in pairs vanish. Windows
  // (seen under Wine): a quote inside the name is part of it, so such a name is
  // missing, and a leading pair names no program at all (error 87); a
  // backslash beside another is a doubled separator, and the program is found.
  for (std::size_t At = 0; At <= Probe.size(); At += Probe.size() / 8) {
    const bool BesideSeparator = (At > 0 && Probe[At - 1] == '\\') || Probe[At] == '\\';
    const struct {
      std::string Mark;
      const char* Word;
      std::uint32_t Code;
    } Marks[] = {{"\"", "a quote", 127},
                 {"\\", "a backslash", IsWindows() && BesideSeparator ? 0u : 127u},
                 {"\"\"", "paired quotes", IsWindows() ? (At == 0 ? 125u : 127u) : 0u}};
    for (const auto& [Mark, Word, Code] : Marks) {
      const Expected Error = Code == 0 ? "" : "cannot start";
      All.push_back({Word + (" in Exe at " + std::to_string(At)),
                     {Probe.substr(0, At) + Mark + Probe.substr(At), "", "{dir}", "TRUE"},
                     {},
                     Code,
                     Code == 0,
                     Error,
                     Error});
    }
  }
  return All;
}

TEST_P(StatusesAndReports, Row) {
  const StatusCase Case = Pick(Rows());
  std::vector<std::string> Args;
  for (const auto& Arg : Case.Args) {
    Args.push_back(Expand(Arg, Probe, NativePath(Dir), NativePath(File)));
  }
  harness::Options Opts;
  for (const auto& Entry : Case.Env) {
    Opts.Env.push_back(Expand(Entry, Probe, NativePath(Dir), NativePath(File)));
  }
  Opts.Unprivileged = Case.Unprivileged;
  Opts.Prefix = Case.Prefix;
  Opts.StuckStderrMs = Case.StuckStderrMs;
  Opts.CallerDir = Case.CallerDir;
  Opts.FailingCall = Case.FailingCall;
  Opts.ReadyFile = Case.FailingCall.empty() ? "" : RecordPath; // this run's record
  const harness::Result R = Launch(Args, Opts);
  if (!R.MissingTool.empty()) {
    return;
  }
  EXPECT_EQ(R.Status, ExitStatusFor(Case.Code));
  EXPECT_EQ(R.Out, Report(Args, Case.Started, SignedText(Case.Code)));
  const std::string Error = Expand((IsWindows() ? Case.WindowsError : Case.PosixError).Text, Probe,
                                   NativePath(Dir), NativePath(File));
  if (Error.empty() || Error.rfind("launch:", 0) == 0) {
    EXPECT_EQ(R.Err, Error);
  } else {
    EXPECT_NE(R.Err.find(Error), std::string::npos) << R.Err;
  }
}

TEST_F(EndToEnd, WithoutTheWaitAChildThatEndedIsNeverASuccess) {
  // The child may end before the launcher looks: then its code, never 0;
  // otherwise the still-active value, 259.
  harness::Options Opts;
  Opts.Env = {"PROBE_EXIT=3"};
  for (int Run = 0; Run < (IsWindows() ? 10 : 200); ++Run) {
    const harness::Result R = Launch({Probe, "", NativePath(Dir), ""}, Opts);
    ASSERT_TRUE(R.Status == 3 || R.Status == ExitStatusFor(259)) << R.Status;
  }
}

TEST_F(EndToEnd, EchoPrecedesTheChildAndStatusFollowsItsEnd) {
  // The child shares stdout: its line must land between the echo and the
  // status, also for a caller without a console (Windows: DETACHED_PROCESS).
  for (const bool Detached : {false, true}) {
    harness::Options Opts;
    Opts.Env = {"PROBE_SAY=child was here", "PROBE_SLEEP_MS=200"};
    Opts.Detached = Detached;
    const std::vector<std::string> Args = {Probe, "", NativePath(Dir), "TRUE"};
    const std::string Out = Launch(Args, Opts).Out;
    const std::string Expected = Report(Args, true, "0");
    const std::size_t StatusAt = Expected.find("Code retour");
    EXPECT_EQ(Out,
              Expected.substr(0, StatusAt) + "child was here" + Eol() + Expected.substr(StatusAt))
        << Detached;
    // Windows: with a console of its own (CREATE_NO_WINDOW, not DETACHED_PROCESS).
    EXPECT_EQ(Record().Console, IsWindows()) << Detached;
  }
}

struct UsageCase {
  std::string Name;
  std::vector<std::string> Args;
  std::string Argv0 = {}; // Windows: the program name on the launcher's own line
};
class WrongArgumentCountIsAUsageError : public Table {
public:
  std::vector<UsageCase> Rows();
};
LAUNCH_TABLE(WrongArgumentCountIsAUsageError);

std::vector<UsageCase> WrongArgumentCountIsAUsageError::Rows() {
  // Windows reads the launcher's own line by the Universal CRT's rules: in the
  // program name a backslash is literal and the quote after it opens quoting,
  // which swallows the rest (msvcrt.dll would find four arguments here).
  const std::string Swallowing = "\"" + harness::LauncherPath() + "\"\\\"";
  // clang-format off
  std::vector<UsageCase> Rows = {
      {"none", {}},
      {"one", {Probe}},
      {"help with more", {"--help", "x"}},
      {"short help", {"-h"}},
      {"help in capitals", {"--HELP"}},
      {"version with a blank", {"--version "}},
      {"three", {Probe, "", Dir}},
      {"five", {Probe, "", Dir, "TRUE", "extra"}},
  };
  // clang-format on
  if (IsWindows()) {
    Rows.push_back({"four swallowed by a quote", {Probe, "", Dir, "TRUE"}, Swallowing});
  }
  return Rows;
}

TEST_P(WrongArgumentCountIsAUsageError, Row) {
  const UsageCase Case = Pick(Rows());
  harness::Options Opts;
  Opts.Argv0 = Case.Argv0;
  const harness::Result R = Launch(Case.Args, Opts);
  EXPECT_EQ(R.Status, 125u);
  EXPECT_EQ(R.Out, "");
  EXPECT_EQ(R.Err.rfind("Usage: launch Exe CmdLine WorkingDirectory IsWaiting", 0), 0u) << R.Err;
  EXPECT_EQ(harness::ReadFile(RecordPath), "") << "nothing may start";
}

TEST_F(EndToEnd, HelpAndVersionGoToStdoutWithStatusZero) {
  for (const char* Option : {"--help", "/?"}) {
    const harness::Result Help = Launch({Option});
    EXPECT_EQ(Help.Status, 0u);
    EXPECT_EQ(Help.Err, "");
    EXPECT_EQ(Help.Out.rfind("Usage: launch Exe CmdLine WorkingDirectory IsWaiting" + Eol(), 0),
              0u);
    for (const char* Topic : {"IsWaiting", "128+N", "126", "127", "259", "Examples:"}) {
      EXPECT_NE(Help.Out.find(Topic), std::string::npos) << Topic;
    }
  }
  const harness::Result Version = Launch({"--version"});
  EXPECT_EQ(Version.Status, 0u);
  EXPECT_EQ(Version.Out,
            "launch " LAUNCH_VERSION + Eol() + "Copyright (C) 2026 launch maintainers" + Eol() +
                "License: MIT (Expat) <https://opensource.org/license/mit>." + Eol() +
                "This is free software: you are free to change and redistribute it." + Eol() +
                "There is NO WARRANTY, to the extent permitted by law." + Eol());
  if (IsWindows()) { // what Explorer and installers read
    EXPECT_EQ(harness::FileVersion(harness::LauncherPath()), LAUNCH_VERSION ".0");
  }
}

struct ReceivedCase {
  std::string Name;
  std::string CmdLine;
  std::vector<std::string> Args;        // after argv[0]
  std::vector<std::string> Prefix = {}; // POSIX: what runs the launcher
};

class ChildReceivesTheSplitLineItsDirectoryAndNoExtraDescriptor : public Table {
public:
  // AddressSanitizer reads its options from /proc.
  static bool Applies(const ReceivedCase& Case) {
    return Case.Prefix.empty() ||
           !(IsWindows() || (harness::kSanitizedLauncher && Case.Prefix[0] == "/usr/bin/unshare"));
  }
  std::vector<ReceivedCase> Rows();
};
LAUNCH_TABLE(ChildReceivesTheSplitLineItsDirectoryAndNoExtraDescriptor);

std::vector<ReceivedCase> ChildReceivesTheSplitLineItsDirectoryAndNoExtraDescriptor::Rows() {
  // close_range refused, as by an old kernel or a container's filter, with a
  // descriptor above the soft limit.
  const std::string Refused = "exec /usr/bin/strace -f -qq -o /dev/null -e trace=close_range -e "
                              "inject=close_range:error=ENOSYS \"$@\"";
  // Nor /proc: every number up to the limit.
  const std::string NoProcfs = "mount -t tmpfs none /proc && exec 3</dev/null 50</dev/null; ";
  // clang-format off
  return {
      {"empty", "", {}},
      {"a wildcard", "*.txt", {"*.txt"}},
      {"quotes", "a \"b c\" d\\\"e \"\"", {"a", "b c", "d\"e", ""}},
      {"backslashes", "a\\\\\"b c\" \"x\"\"y\" \\\\server\\share *.txt",
       {"a\\b c", "x\"y", "\\\\server\\share", "*.txt"}},
      {"UTF-8", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       {"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}},
      {"close_range refused", "x", {"x"},
       {"/bin/bash", "-c", "exec 900</dev/null; ulimit -Sn 64; " + Refused, "bash"}},
      {"close_range refused, no /proc", "y", {"y"},
       {"/usr/bin/unshare", "-Urm", "/bin/bash", "-c", NoProcfs + Refused, "bash"}},
  };
  // clang-format on
}

TEST_P(ChildReceivesTheSplitLineItsDirectoryAndNoExtraDescriptor, Row) {
  const ReceivedCase Case = Pick(Rows());
  harness::WriteFile(Dir + "/a.txt", "", false);
  const std::vector<std::string> Args = {Probe, Case.CmdLine, NativePath(Dir), "TRUE"};
  harness::Options Opts;
  Opts.Prefix = Case.Prefix;
  Opts.CallerDir = Dir; // where a wildcard would find something to expand to
  const harness::Result R = Launch(Args, Opts);
  if (!R.MissingTool.empty()) {
    return;
  }
  ASSERT_EQ(R.Status, 0u) << R.Err;
  EXPECT_EQ(R.Out, Report(Args, true, "0"));
  const probe::Record Got = Record();
  std::vector<std::string> Expected = {Probe};
  Expected.insert(Expected.end(), Case.Args.begin(), Case.Args.end());
  EXPECT_EQ(Got.Args, Expected);
  EXPECT_EQ(NativePath(Got.Cwd), NativePath(Dir));
  // Windows: the harness's handle would be recorded if it had leaked; the
  // caller's file, pipe and file are what the child has as its own three.
  EXPECT_EQ(Got.Fds, (IsWindows() ? std::vector<int>{} : std::vector<int>{0, 1, 2}));
  EXPECT_EQ(Got.StdTypes, IsWindows() ? "1 3 1" : "");
  if (Case.Prefix.empty()) { // while it waits, the launcher holds what it was given, no more
    EXPECT_EQ(Got.LauncherFds, R.Given);
  }
  EXPECT_EQ(Got.Ignored, std::vector<int>{}) << "signals reach the child at their default";
}

struct FoundCase {
  std::string Name;
  std::string Exe;
  std::string CallerDir;
  std::vector<std::string> Env;
  std::string Exec;                     // POSIX: the path the probe was started from; "" for any
  std::string WorkDir = {};             // the test's directory when empty
  std::vector<std::string> Prefix = {}; // POSIX: what runs the launcher
  std::string Pwd = {};                 // POSIX: the child's PWD; the test's directory when empty
};

class ProgramIsFoundOnPathOrFromTheCallersDirectory : public Table {
public:
  static bool Applies(const FoundCase& Case) {
    return !IsWindows() || (Case.Prefix.empty() && Case.Pwd.empty());
  }
  std::vector<FoundCase> Rows();
};
LAUNCH_TABLE(ProgramIsFoundOnPathOrFromTheCallersDirectory);

std::vector<FoundCase> ProgramIsFoundOnPathOrFromTheCallersDirectory::Rows() {
  const std::string ProbeDir = Probe.substr(0, Probe.find_last_of("/\\"));
  const std::string ProbeName = Probe.substr(ProbeDir.size() + 1);
  const std::string Sep = IsWindows() ? "\\" : "/";
  const std::string List = IsWindows() ? ";" : ":"; // between PATH entries
  const std::string Link = Dir + "/here";           // POSIX: a symbolic link to the directory
  if (!IsWindows()) {
    std::filesystem::create_directory_symlink(".", Link);
  }
  // clang-format off
  return {
      {"on PATH", ProbeName, "", {"PATH=" + ProbeDir}, Probe},
      {"on PATH after a directory without it", ProbeName, "",
       {"PATH=" + Sep + "none" + List + ProbeDir}, Probe},
      {"an empty PATH entry is the caller's directory", ProbeName, ProbeDir,
       {"PATH=" + Sep + "none" + List + List + Sep + "x"}, Probe},
      {"a relative working directory is the caller's", Probe, ProbeDir, {}, Probe,
       "." + Sep + Dir.substr(ProbeDir.size() + 1)}, // PWD holds no "." part
      {"a relative working directory as given", Probe, ProbeDir, {}, Probe,
       Dir.substr(ProbeDir.size() + 1)},
      {"relative to the caller", "." + Sep + ProbeName, ProbeDir, {}, ""},
      {"a working directory through a symbolic link keeps its name", Probe, "", {}, Probe, Link,
       {}, Link},
      {"relative to a caller deeper than the path limit", "./" + ProbeName, "", {}, "", "",
       {"/bin/bash", "-c", harness::DeepDirectory(Dir, Probe) + " && exec \"$@\"", "bash"}},
      {"relative to the root directory", Probe.substr(IsWindows() ? 3 : 1),
       IsWindows() ? "Z:\\" : "/", {}, Probe},
  };
  // clang-format on
}

TEST_P(ProgramIsFoundOnPathOrFromTheCallersDirectory, Row) {
  const FoundCase Case = Pick(Rows());
  harness::Options Opts;
  Opts.Env = Case.Env;
  Opts.Env.insert(Opts.Env.end(), {"PROBE_EXIT=5", "PWDLIKE=kept"}); // PWD alone is replaced
  Opts.Prefix = Case.Prefix;
  Opts.CallerDir = Case.CallerDir;
  const std::string WorkDir = Case.WorkDir.empty() ? NativePath(Dir) : Case.WorkDir;
  const std::vector<std::string> Args = {Case.Exe, "", WorkDir, "TRUE"};
  const harness::Result R = Launch(Args, Opts);
  EXPECT_EQ(R.Status, 5u) << R.Err;
  EXPECT_EQ(R.Out, Report(Args, true, "5"));
  EXPECT_EQ(NativePath(Record().Cwd), NativePath(Dir));
  if (!IsWindows() && !Case.Exec.empty()) {
    EXPECT_EQ(Record().Exec, Case.Exec);
    EXPECT_EQ(Record().Pwd, Case.Pwd.empty() ? Dir : Case.Pwd) << "PWD names where it runs";
    const std::vector<std::string> Env = Record().Env;
    for (const auto& Entry : Opts.Env) {
      EXPECT_EQ(std::count(Env.begin(), Env.end(), Entry), 1) << Entry;
    }
  }
}

TEST_F(EndToEnd, InvalidUtf8ReachesChildAndReportUnchanged) {
  if (IsWindows()) {
    GTEST_SKIP() << "Windows arguments are UTF-16";
  }
  const std::string Odd = "\xFF\xFE \xC3( \xED\xA0\x80 \x80";
  const std::vector<std::string> Args = {Probe, Odd, Dir, "TRUE"};
  const harness::Result R = Launch(Args);
  EXPECT_EQ(R.Status, 0u);
  EXPECT_EQ(R.Out, Report(Args, true, "0"));
  EXPECT_EQ(Record().Args,
            (std::vector<std::string>{Probe, "\xFF\xFE", "\xC3(", "\xED\xA0\x80", "\x80"}));
}

TEST_F(EndToEnd, StatusSurvivesIgnoredSigchldAndBlockedSignals) {
  if (IsWindows()) {
    GTEST_SKIP() << "POSIX signals";
  }
  harness::Options Opts;
  Opts.HostileSignals = true;
  Opts.Env = {"PROBE_EXIT=42"};
  const harness::Result R = Launch({Probe, "", Dir, "TRUE"}, Opts);
  EXPECT_EQ(R.Status, 42u) << R.Err;
}

} // namespace
} // namespace e2e
