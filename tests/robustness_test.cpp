// The launcher under pressure: interrupts while it waits, a report that cannot
// be written, and hostile arguments. Each ends with its documented status and
// the status line; none may crash the launcher.
#include <chrono>
#include <cstdio>
#include <filesystem>
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
  const struct {
    std::vector<std::string> Env;
    std::vector<std::string> Prefix;
    std::uint32_t Code; // on the status line
    std::uint32_t Status;
    std::uint32_t WindowsCode = 0; // code and status on Windows; 0: POSIX only
  } Cases[] = {
      {{"PROBE_GROUP_SIGNAL=2"}, {}, 130, KilledBy + 2, 0xC000013A},
      {{"PROBE_GROUP_SIGNAL=3"}, {}, 131, KilledBy + 3},
      {{"PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=20000"}, {}, 143, 143},
      {{"PROBE_PARENT_SIGNAL=1", "PROBE_SLEEP_MS=20000"}, {}, 129, 129},
      {{"PROBE_PARENT_SIGNAL=10", "PROBE_SLEEP_MS=20000"}, {}, 138, 138},
      {{"PROBE_PARENT_SIGNAL=2", "PROBE_SLEEP_MS=20000"}, {}, 130, KilledBy + 2},
      // Left ignored by the caller: ignored by the launcher and the child alike.
      {{"PROBE_GROUP_SIGNAL=1"}, {"/usr/bin/nohup"}, 9, 9},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Env.front());
    if (IsWindows() && Case.WindowsCode == 0) {
      continue;
    }
    harness::Options Opts;
    Opts.Env = Case.Env;
    Opts.Env.emplace_back("PROBE_EXIT=9");
    Opts.Prefix = Case.Prefix;
    const std::vector<std::string> Args = {Probe, "", Dir, "TRUE"};
    const harness::Result R = Launch(Args, Opts);
    EXPECT_EQ(R.Status, IsWindows() ? Case.WindowsCode : Case.Status) << R.Err;
    EXPECT_EQ(R.Out, Report(Args, true, SignedText(IsWindows() ? Case.WindowsCode : Case.Code)));
  }
}

TEST_F(EndToEnd, WaitedChildEndsWithAKilledLauncherOnly) {
  if (!IsWindows()) {
    GTEST_SKIP() << "Windows job objects; on Linux SIGKILL leaves the child running";
  }
  // Killed while waiting (TerminateProcess, as a CI timeout does): the child
  // and its own children go too, and the caller's pipe closes. A normal end,
  // or no wait at all, leaves what the child started running.
  const std::string Touched = Dir + "\\touched";
  const std::string Quoted = "\"" + Probe + "\"";
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    bool Killed;
  } Cases[] = {
      {"child", {Probe, "", Dir, "TRUE"}, true},
      {"grandchild", {"cmd.exe", "/c " + Quoted, Dir, "TRUE"}, true},
      {"start /b", {"cmd.exe", "/c start \"\" /b " + Quoted, Dir, "TRUE"}, false},
      {"no wait", {Probe, "", Dir, ""}, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::filesystem::remove(Touched);
    std::filesystem::remove(RecordPath);
    harness::Options Opts;
    Opts.Env = {"PROBE_SLEEP_MS=" + std::string(Case.Killed ? "20000" : "1000"),
                "PROBE_TOUCH=" + Touched};
    Opts.EndOnceExists = Case.Killed ? RecordPath : "";
    const harness::Result R = Launch(Case.Args, Opts);
    EXPECT_EQ(R.StdoutClosed, Case.Killed);
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
  // A caller's non-blocking pipe, full at first: every line arrives.
  harness::Options Opts;
  Opts.Output = harness::Stdout::FullNonBlocking;
  const std::vector<std::string> Args = {Probe, "x", Dir, "TRUE"};
  EXPECT_EQ(Launch(Args, Opts).Out, Report(Args, true, "0"));
  EXPECT_EQ(Launch({"--help"}, Opts).Out, Launch({"--help"}).Out);
}

struct HostileCase {
  const char* Name;
  std::vector<std::string> Args;
  std::uint32_t Code;
  const char* ErrorText;   // "" when the child starts
  bool PosixRules = false; // how Windows reads such a name is its own affair
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
  // literal, so each such name is missing. Quotes in pairs vanish.
  for (std::size_t At = 0; At <= Probe.size(); At += Probe.size() / 8) {
    for (const char* Mark : {"\"", "\\"}) {
      std::string Exe = Probe;
      Exe.insert(At, Mark);
      Cases.push_back(
          {"mark in Exe", {Exe, "", NativePath(Dir), "TRUE"}, 127, "cannot start", true});
    }
    std::string Paired = Probe;
    Paired.insert(At, "\"\"");
    Cases.push_back({"paired quotes in Exe", {Paired, "", NativePath(Dir), "TRUE"}, 0, "", true});
  }
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Name) + ": " + Case.Args[0].substr(0, 200));
    const harness::Result R = Launch(Case.Args);
    const bool Exact = !(Case.PosixRules && IsWindows());
    if (Exact) {
      EXPECT_EQ(R.Status, Case.Code);
    } else {
      EXPECT_TRUE(R.Status == 0 || (R.Status >= 125 && R.Status <= 127)) << R.Status;
    }
    const bool Started = R.Status == 0;
    EXPECT_EQ(R.Out, Report(Case.Args, Started, std::to_string(R.Status)));
    if (!Started) {
      EXPECT_NE(R.Err.find(Exact ? Case.ErrorText : "launch: cannot start"), std::string::npos)
          << R.Err;
    }
  }
}

} // namespace
} // namespace e2e
