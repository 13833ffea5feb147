// The launcher under pressure: interrupts while it waits, a report that cannot
// be written, and hostile arguments. Each ends with its documented status and
// the status line; none may crash the launcher.
#include <cstdio>

#include "end_to_end.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, InterruptWhileWaitingIsTheChildsToAct) {
  if (IsWindows()) {
    GTEST_SKIP() << "no console to press Ctrl-C in under Wine";
  }
  // The probe signals its whole process group, launcher included, as a
  // Ctrl-C at the terminal would; the launcher must outlive it and report.
  const struct {
    int Signal;
    std::uint32_t Code;
  } Cases[] = {{2, 130}, {3, 131}}; // SIGINT, SIGQUIT
  for (const auto& Case : Cases) {
    harness::Options Opts;
    Opts.Env = {"PROBE_GROUP_SIGNAL=" + std::to_string(Case.Signal), "PROBE_EXIT=9"};
    const std::vector<std::string> Args = {Probe, "", Dir, "TRUE"};
    const harness::Result R = Launch(Args, Opts);
    EXPECT_EQ(R.Status, Case.Code) << "signal " << Case.Signal;
    EXPECT_EQ(R.Out, Report(Args, true, std::to_string(Case.Code)));
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
  }
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
