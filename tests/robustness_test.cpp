// The launcher under pressure: interrupts while it waits, a report that cannot
// be written, and hostile arguments. Each ends with its documented status and
// the status line; none may crash the launcher.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "end_to_end.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, SignalsWhileWaitingAreTheChildsToAct) {
  // Windows: run on a console (under Wine, inside a pseudo-terminal), where a
  // Ctrl-C reaches every process attached to it.
  // A group signal reaches the launcher and the probe at once, as a Ctrl-C at
  // the terminal does; a parent signal reaches the launcher alone, as from
  // kill or a supervisor, and must be passed on. A child that dies of SIGINT or
  // SIGQUIT ends the launcher by the same signal once its status is out, so
  // that a calling shell stops its loop.
  const int KilledBy = 1000; // + N: how the harness reports death by signal N
  using harness::Terminal;
  // SIGINT (2) and SIGPIPE (13)
  const std::vector<std::string> IgnoringIntAndPipe = {"/bin/sh", "-c",
                                                       "trap '' INT PIPE; exec \"$@\"", "sh"};
  const std::string Setsid = "/usr/bin/setsid"; // the probe in a session of its own
  const std::string Own = "-w " + Probe;
  const std::vector<std::string> AsPid1 = {"/usr/bin/unshare", "-Urfp", "--mount-proc"};
  harness::WriteFile(Dir + "/orphans.sh",
                     "#!/bin/sh\n(sh -c 'exit 0' &); (sh -c 'exit 0' &); sleep 0.3\n"
                     "exit $(grep -l ') Z ' /proc/[0-9]*/stat | wc -l)\n",
                     true);
  const struct {
    std::vector<std::string> Env;
    std::vector<std::string> Prefix;
    std::uint32_t Code; // on the status line
    std::uint32_t Status;
    Terminal Key = Terminal::None;
    int Presses = 1;
    std::vector<int> Ignored = {}; // in the child
    std::string Exe = {};          // the probe when empty
    std::string CmdLine = {};
    std::uint32_t WindowsCode = 0; // code and status on Windows; 0: POSIX only
  } Cases[] = {
      {{"PROBE_GROUP_SIGNAL=2"}, {}, 130, KilledBy + 2, Terminal::None, 1, {}, "", "", 0xC000013A},
      {{"PROBE_GROUP_SIGNAL=3"}, {}, 131, KilledBy + 3},
      {{"PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=20000"}, {}, 143, 143},
      {{"PROBE_PARENT_SIGNAL=1", "PROBE_SLEEP_MS=20000"}, {}, 129, 129},
      {{"PROBE_PARENT_SIGNAL=10", "PROBE_SLEEP_MS=20000"}, {}, 138, 138},
      {{"PROBE_PARENT_SIGNAL=12", "PROBE_SLEEP_MS=20000"}, {}, 140, 140},
      {{"PROBE_PARENT_SIGNAL=2", "PROBE_SLEEP_MS=20000"}, {}, 130, KilledBy + 2},
      // Left ignored by the caller: ignored by the launcher and the child alike.
      {{"PROBE_GROUP_SIGNAL=1"}, {"/usr/bin/nohup"}, 9, 9, Terminal::None, 1, {1}}, // SIGHUP
      {{"PROBE_SIGNAL=2"}, IgnoringIntAndPipe, 130, 130, Terminal::None, 1, {2, 13}},
      {{"PROBE_STOP_MS=100"}, {}, 9, 9}, // stopped and continued, as by Ctrl-Z and fg
      // The terminal's own keys: once to a child in the launcher's group, relayed
      // to one in a session of its own; a hang-up reaches the session leader alone.
      {{"PROBE_CATCH=2", "PROBE_SLEEP_MS=1000"}, {}, 3, 3, Terminal::CtrlC, 3},
      {{"PROBE_SLEEP_MS=20000"}, {}, 130, KilledBy + 2, Terminal::CtrlC, 1, {}, Setsid, Own},
      {{"PROBE_SLEEP_MS=20000"}, {}, 131, KilledBy + 3, Terminal::CtrlQuit, 1, {}, Setsid, Own},
      {{"PROBE_SLEEP_MS=20000"}, {}, 129, 129, Terminal::HangUp},
      // Windows: the console closes; the child's own handler decides, and ends it.
      {{"PROBE_SLEEP_MS=2000"}, {}, 129, 129, Terminal::HangUp, 1, {}, "", "", 9},
      // As PID 1 of a namespace, the launcher reaps the orphans that end.
      {{}, AsPid1, 0, 0, Terminal::None, 1, {}, Dir + "/orphans.sh"},
      // Killed outright: no status line, and the child goes with it.
      {{"PROBE_PARENT_SIGNAL=9", "PROBE_SLEEP_MS=20000"}, {}, 0, KilledBy + 9},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Env.empty() ? Case.Exe : Case.Env.front());
    if (IsWindows() && Case.WindowsCode == 0) {
      continue;
    }
    std::remove(RecordPath.c_str());
    harness::Options Opts;
    Opts.Env = Case.Env;
    Opts.Env.emplace_back("PROBE_EXIT=9");
    Opts.Prefix = Case.Prefix;
    Opts.Key = Case.Key;
    Opts.Presses = Case.Presses;
    Opts.ReadyFile = Case.Key == Terminal::None ? "" : RecordPath;
    const std::vector<std::string> Args = {Case.Exe.empty() ? Probe : Case.Exe, Case.CmdLine, Dir,
                                           "TRUE"};
    const harness::Result R = Launch(Args, Opts);
    const std::uint32_t Code = IsWindows() ? Case.WindowsCode : Case.Code;
    EXPECT_EQ(R.Status, IsWindows() ? Case.WindowsCode : Case.Status) << R.Err;
    const std::string Expected = Report(Args, true, SignedText(Code));
    EXPECT_EQ(R.Out,
              Case.Status == KilledBy + 9 ? Expected.substr(0, Expected.find("Code")) : Expected);
    if (Record().Pid != 0) {
      EXPECT_EQ(Record().Ignored, Case.Ignored);
      EXPECT_TRUE(harness::EndsSoon(Record().Pid)) << "the child outlived the launcher";
    }
  }
}

TEST_F(EndToEnd, WaitedChildEndsWithAKilledLauncherOnly) {
  if (!IsWindows()) {
    GTEST_SKIP() << "Windows job objects; the Linux rows are in the signals table";
  }
  // Killed while waiting (TerminateProcess, as a CI timeout does): the child
  // and its own children go too, and the caller's pipe closes. A normal end,
  // or no wait at all, leaves what the child started running.
  const std::string Quoted = "\"" + Probe + "\"";
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    bool Killed;
    int Kills = 1; // when more, killed 0, 2, 4, ... ms after its echo (the start)
  } Cases[] = {
      {"child", {Probe, "", Dir, "TRUE"}, true},
      {"grandchild", {"cmd.exe", "/c " + Quoted, Dir, "TRUE"}, true},
      {"during the start", {Probe, "", Dir, "TRUE"}, true, 8},
      {"during cmd.exe's start", {"cmd.exe", "/c " + Quoted, Dir, "TRUE"}, true, 8},
      {"start /b", {"cmd.exe", "/c start \"\" /b " + Quoted, Dir, "TRUE"}, false},
      {"no wait", {Probe, "", Dir, ""}, false},
  };
  int Row = 0;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    // A file of its own for each row: a probe of the row before may still
    // hold its own open, and Windows refuses to remove an open file.
    const std::string Touched = Dir + "\\touched-" + std::to_string(++Row);
    std::filesystem::remove(RecordPath);
    harness::Options Opts;
    Opts.Env = {"PROBE_SLEEP_MS=" + std::string(Case.Killed ? "20000" : "1000"),
                "PROBE_TOUCH=" + Touched};
    Opts.EndOnceExists = Case.Killed && Case.Kills == 1 ? RecordPath : "";
    for (int Kill = 0; Kill < Case.Kills; ++Kill) {
      Opts.EndAfterOutputMs = Case.Kills == 1 ? -1 : 2 * Kill;
      EXPECT_EQ(Launch(Case.Args, Opts).StdoutClosed, Case.Killed) << Kill;
    }
    bool Lived = Case.Killed;                             // the pipe above tells for those
    for (int Tries = 0; Tries < 100 && !Lived; ++Tries) { // 10 s at most
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Lived = std::filesystem::exists(Touched);
    }
    EXPECT_TRUE(Lived);
  }
}

TEST_F(EndToEnd, UnwritableReportDoesNotStopTheRun) {
  if (IsWindows()) {
    GTEST_SKIP() << "POSIX descriptors";
  }
  const harness::Stdout Outputs[] = {harness::Stdout::Closed, harness::Stdout::Full,
                                     harness::Stdout::BrokenPipe};
  for (const auto Output : Outputs) {
    SCOPED_TRACE(static_cast<int>(Output));
    harness::Options Opts;
    Opts.Output = Output;
    Opts.Env = {"PROBE_EXIT=3"};
    std::remove(RecordPath.c_str());
    EXPECT_EQ(Launch({Probe, "x", Dir, "TRUE"}, Opts).Status, 3u);
    EXPECT_EQ(Record().Args, (std::vector<std::string>{Probe, "x"})) << "the child ran";
    EXPECT_EQ(Launch({"no-such-tool-xyz", "", Dir, "TRUE"}, Opts).Status, 127u);
    // Asked for text and got none: that is no success.
    const harness::Result Version = Launch({"--version"}, Opts);
    EXPECT_EQ(Version.Status, 125u);
    EXPECT_EQ(Version.Err.rfind("launch: cannot write the version: ", 0), 0u) << Version.Err;
  }
  // A caller's non-blocking pipe, full at first: every line arrives, a long one too.
  harness::Options Opts;
  Opts.Output = harness::Stdout::FullNonBlocking;
  const std::vector<std::string> Args = {Probe, "x", Dir, "TRUE"};
  EXPECT_EQ(Launch(Args, Opts).Out, Report(Args, true, "0"));
  EXPECT_EQ(Launch({"--help"}, Opts).Out, Launch({"--help"}).Out);
  const std::vector<std::string> Long = {std::string(5000, 'x'), "", Dir, "TRUE"};
  EXPECT_EQ(Launch(Long, Opts).Out, Report(Long, false, "125"));
  // A status line stuck behind a pipe that nobody reads: SIGTERM still ends
  // it, sent after the child's end, or once, to be relayed, while it runs.
  Opts.Output = harness::Stdout::Stuck;
  Opts.StdoutRoom = Report(Args, true, "0").find("Code retour");
  Opts.ReadyFile = RecordPath;
  Opts.SignalWhenReady = SIGTERM;
  for (const char* Sleep : {"PROBE_SLEEP_MS=0", "PROBE_SLEEP_MS=20000"}) {
    Opts.Env = {Sleep};
    EXPECT_EQ(Launch(Args, Opts).Status, 1000u + SIGTERM) << Sleep;
  }
}

struct HostileCase {
  const char* Name;
  std::vector<std::string> Args;
  std::uint32_t Code;
  const char* ErrorText; // on stderr, when the child does not start
  // Windows, where it differs: CreateProcessW reads the program name by rules
  // of its own.
  std::optional<std::uint32_t> WindowsCode = std::nullopt;
};

TEST_F(EndToEnd, HostileInputGetsItsDocumentedStatus) {
  const std::string Script = Dir + "/script.sh";
  harness::WriteFile(Script, "#!/bin/sh\nexit 0\n", false); // no execute permission
  // Windows refuses a command line of more than 32767 units before the launcher runs.
  const std::size_t Huge = IsWindows() ? 30000 : 100000;
  std::vector<HostileCase> Cases = {
      {"huge command line",
       {Probe, std::string(Huge, 'x'), NativePath(Dir), "TRUE"},
       125,
       "the limit is 1023"},
      {"all four empty", {"", "", "", ""}, 127, "cannot start ''"},
  };
  if (!IsWindows()) {
    Cases.push_back(
        {"no execute permission", {Script, "", Dir, "TRUE"}, 126, "Permission denied (error 13)"});
    Cases.push_back({"invalid UTF-8 in every argument",
                     {"\xFF", "\xC3", Dir + "/\x80", "\xFE"},
                     127,
                     "cannot start '\xFF'"});
    Cases.push_back({"invalid UTF-8 directory",
                     {Probe, "\xC3", Dir + "/\x80", "\xFE"},
                     125,
                     "working directory '"});
  }
  // A quote or a backslash at every position of Exe: the program name is read
  // with quotes toggling (a lone one swallows the separator) and backslashes
  // literal, so each such name is missing. Quotes in pairs vanish. Windows
  // (seen under Wine): a quote inside the name is part of it, so such a name is
  // missing, and a leading pair names no program at all (error 87); a
  // backslash beside another is a doubled separator, and the program is found.
  for (std::size_t At = 0; At <= Probe.size(); At += Probe.size() / 8) {
    const bool BesideSeparator = (At > 0 && Probe[At - 1] == '\\') || Probe[At] == '\\';
    for (const char* Mark : {"\"", "\\"}) {
      std::string Exe = Probe;
      Exe.insert(At, Mark);
      const std::uint32_t OnWindows = Mark[0] == '\\' && BesideSeparator ? 0 : 127;
      Cases.push_back(
          {"mark in Exe", {Exe, "", NativePath(Dir), "TRUE"}, 127, "cannot start", OnWindows});
    }
    std::string Paired = Probe;
    Paired.insert(At, "\"\"");
    Cases.push_back({"paired quotes in Exe",
                     {Paired, "", NativePath(Dir), "TRUE"},
                     0,
                     "cannot start", // where it does not start
                     At == 0 ? 125U : 127U});
  }
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Name) + ": " + Case.Args[0].substr(0, 200));
    const harness::Result R = Launch(Case.Args);
    const std::uint32_t Code = IsWindows() ? Case.WindowsCode.value_or(Case.Code) : Case.Code;
    EXPECT_EQ(R.Status, Code);
    EXPECT_EQ(R.Out, Report(Case.Args, Code == 0, std::to_string(Code)));
    if (Code != 0) {
      EXPECT_NE(R.Err.find(Case.ErrorText), std::string::npos) << R.Err;
    }
  }
}

} // namespace
} // namespace e2e
