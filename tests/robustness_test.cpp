// The launcher under pressure: interrupts while it waits, a killed launcher,
// a report that cannot be written. Each ends with its documented status and
// the status line; none may crash the launcher.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "end_to_end.h"

namespace e2e {
namespace {

using harness::Terminal;

struct SignalCase {
  const char* Name;
  std::vector<std::string> Env;
  std::vector<std::string> Prefix = {};
  std::uint32_t Code; // on the status line
  std::uint32_t Status;
  Terminal Key = Terminal::None;
  int Presses = 1;
  int KeyDelayMs = 0;            // the key goes this long after the start, before the child
  std::vector<int> Ignored = {}; // in the child
  std::string Exe = {};          // the probe when empty
  std::string CmdLine = {};
  bool AsNobody = false;
  std::string Err = {}; // what stderr must hold
  bool StatusLine = true;
  std::uint32_t WindowsCode = 0; // code and status on Windows; 0: POSIX only
};

class SignalsWhileWaitingAreTheChildsToAct : public Table {
public:
  ~SignalsWhileWaitingAreTheChildsToAct() override {
    if (!SetuidProbe.empty()) {
      std::filesystem::remove_all(std::filesystem::path(SetuidProbe).parent_path());
    }
  }
  static bool Applies(const SignalCase& Case) {
    return IsWindows() ? Case.WindowsCode != 0 : !(Case.AsNobody && Case.Exe.empty());
  }
  std::vector<SignalCase> Rows();

protected:
  std::string SetuidProbe;
};
LAUNCH_TABLE(SignalsWhileWaitingAreTheChildsToAct);

std::vector<SignalCase> SignalsWhileWaitingAreTheChildsToAct::Rows() {
  // Windows: run on a console (under Wine, inside a pseudo-terminal), where a
  // Ctrl-C reaches every process attached to it.
  // A group signal reaches the launcher and the probe at once, as a Ctrl-C at
  // the terminal does; a parent signal reaches the launcher alone, as from
  // kill or a supervisor, and must be passed on. A child that dies of SIGINT or
  // SIGQUIT ends the launcher by the same signal once its status is out, so
  // that a calling shell stops its loop.
  const int KilledBy = 1000; // + N: death by signal N (+ 500 more with a core file)
  // SIGINT (2) and SIGPIPE (13)
  const std::vector<std::string> IgnoringIntAndPipe = {"/bin/sh", "-c",
                                                       "trap '' INT PIPE; exec \"$@\"", "sh"};
  const std::string Setsid = "/usr/bin/setsid"; // the probe in a session of its own
  const std::string Own = "-w " + Probe;
  const std::vector<std::string> AsPid1 = {"/usr/bin/unshare", "-Urfp", "--mount-proc"};
  harness::WriteFile(Dir + "/orphans.sh",
                     "#!/bin/sh\nfor i in 1 2 3 4 5 6 7 8; do (sleep 9 &); done; sleep 0.2\n"
                     "pkill -KILL -x sleep; sleep 0.3\n" // their ends come at once
                     "exit $(grep -l ') Z ' /proc/[0-9]*/stat | wc -l)\n",
                     true);
  // Held before the start: a Ctrl-C typed then comes before the child exists.
  const std::vector<std::string> HeldStart = {
      "/usr/bin/strace", "-I4", "-f",          "-qq", "-o",
      "/dev/null",       "-e",  "trace=clone", "-e",  "inject=clone:delay_enter=1000000"};
  // A child that became root through a setuid program: a launcher run as
  // nobody may no longer signal it.
  SetuidProbe = harness::SetuidCopy(Probe);
  const std::string Stopping = "-c \"kill -STOP $$; exit 5\"";
  // clang-format off
  return {
      {.Name = "Ctrl-C in the group", .Env = {"PROBE_GROUP_SIGNAL=2"}, .Code = 130,
       .Status = KilledBy + 2, .WindowsCode = 0xC000013A},
      {.Name = "Ctrl-\\ in the group", .Env = {"PROBE_GROUP_SIGNAL=3"}, .Code = 131,
       .Status = KilledBy + 3},
      // Ended by the child's signal, the launcher leaves no core file of its own.
      {.Name = "Ctrl-\\ in the group, core files allowed", .Env = {"PROBE_GROUP_SIGNAL=3"},
       .Prefix = {"/bin/sh", "-c", "ulimit -c unlimited; exec \"$@\"", "sh"}, .Code = 131,
       .Status = KilledBy + 3},
      {.Name = "SIGTERM to launch alone",
       .Env = {"PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=20000"}, .Code = 143, .Status = 143},
      {.Name = "SIGHUP to launch alone", .Env = {"PROBE_PARENT_SIGNAL=1", "PROBE_SLEEP_MS=20000"},
       .Code = 129, .Status = 129},
      {.Name = "SIGUSR1 to launch alone",
       .Env = {"PROBE_PARENT_SIGNAL=10", "PROBE_SLEEP_MS=20000"}, .Code = 138, .Status = 138},
      {.Name = "SIGUSR2 to launch alone",
       .Env = {"PROBE_PARENT_SIGNAL=12", "PROBE_SLEEP_MS=20000"}, .Code = 140, .Status = 140},
      {.Name = "SIGINT to launch alone", .Env = {"PROBE_PARENT_SIGNAL=2", "PROBE_SLEEP_MS=20000"},
       .Code = 130, .Status = KilledBy + 2},
      // Left ignored by the caller: ignored by the launcher and the child alike.
      {.Name = "SIGHUP left ignored (nohup)", .Env = {"PROBE_GROUP_SIGNAL=1"},
       .Prefix = {"/usr/bin/nohup"}, .Code = 9, .Status = 9, .Ignored = {1}},
      {.Name = "SIGINT and SIGPIPE left ignored", .Env = {"PROBE_SIGNAL=2"},
       .Prefix = IgnoringIntAndPipe, .Code = 130, .Status = 130, .Ignored = {2, 13}},
      {.Name = "stopped and continued, as by Ctrl-Z and fg", .Env = {"PROBE_STOP_MS=100"},
       .Code = 9, .Status = 9},
      // The terminal's own keys: once to a child in the launcher's group, relayed
      // to one in a session of its own; a hang-up reaches the session leader alone.
      {.Name = "Ctrl-C pressed three times, caught by the child",
       .Env = {"PROBE_CATCH=2", "PROBE_SLEEP_MS=1000"}, .Code = 3, .Status = 3,
       .Key = Terminal::CtrlC, .Presses = 3},
      {.Name = "Ctrl-C relayed to a child in a session of its own",
       .Env = {"PROBE_SLEEP_MS=20000"}, .Code = 130, .Status = KilledBy + 2,
       .Key = Terminal::CtrlC, .Exe = Setsid, .CmdLine = Own},
      {.Name = "Ctrl-\\ relayed to a child in a session of its own",
       .Env = {"PROBE_SLEEP_MS=20000"}, .Code = 131, .Status = KilledBy + 3,
       .Key = Terminal::CtrlQuit, .Exe = Setsid, .CmdLine = Own},
      {.Name = "hang-up", .Env = {"PROBE_SLEEP_MS=20000"}, .Code = 129, .Status = 129,
       .Key = Terminal::HangUp},
      // Windows: the console closes; the child's own handler decides, and ends it.
      {.Name = "hang-up; on Windows the console closing", .Env = {"PROBE_SLEEP_MS=2000"},
       .Code = 129, .Status = 129, .Key = Terminal::HangUp, .WindowsCode = 9},
      {.Name = "Ctrl-C before the child exists", .Env = {"PROBE_SLEEP_MS=20000"},
       .Prefix = HeldStart, .Code = 130, .Status = KilledBy + 2, .Key = Terminal::CtrlC,
       .KeyDelayMs = 500},
      // As PID 1 of a namespace, the launcher reaps the orphans that end.
      {.Name = "PID 1 reaps orphans", .Env = {}, .Prefix = AsPid1, .Code = 0, .Status = 0,
       .Exe = Dir + "/orphans.sh"},
      // An orphan's end does not keep the launcher from relaying what follows.
      {.Name = "PID 1 relays SIGTERM after an orphan's end", .Env = {}, .Prefix = AsPid1,
       .Code = 143, .Status = 143, .Exe = "/bin/sh",
       .CmdLine = "-c \"(true &); sleep 0.3; kill -TERM 1; sleep 5; exit 3\""},
      // Killed outright: no status line, and the child goes with it.
      {.Name = "SIGKILL to launch", .Env = {"PROBE_PARENT_SIGNAL=9", "PROBE_SLEEP_MS=20000"},
       .Code = 0, .Status = KilledBy + 9, .StatusLine = false},
      // A child that may no longer be signalled: said, and the launcher ends by
      // the signal as it would without the relay; the child runs on.
      {.Name = "a signal that cannot be relayed",
       .Env = {"PROBE_ROOT=1", "PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=1000"},
       .Code = 0,
       .Status = KilledBy + 15,
       .Exe = SetuidProbe,
       .AsNobody = true,
       .Err = "launch: cannot relay SIGTERM to the child: Operation not permitted (error 1); the "
              "child runs on\n",
       .StatusLine = false},
      // A stopped child: a relayed SIGTERM is followed by SIGCONT; in the
      // terminal's foreground group the launcher stops with it until `fg`.
      {.Name = "SIGTERM to a stopped child", .Env = {}, .Code = 143, .Status = 143,
       .Exe = "/bin/sh", .CmdLine = "-c \"(sleep 0.5; kill -TERM $PPID) & kill -STOP $$; exit 5\""},
      // Anything else waits, pending, until the child goes on.
      {.Name = "SIGUSR1 to a stopped child, then SIGTERM",
       .Env = {},
       .Code = 143,
       .Status = 143,
       .Exe = "/bin/sh",
       .CmdLine = "-c \"(sleep 0.5; kill -USR1 $PPID; sleep 0.5; kill -TERM $PPID) & trap 'exit 6' "
                  "USR1; kill -STOP $$; exit 5\""},
      // Stopped and continued, the launcher takes its stopped child along.
      {.Name = "launch stopped and continued with its child stopped",
       .Env = {},
       .Code = 5,
       .Status = 5,
       .Exe = "/bin/sh",
       .CmdLine =
           "-c \"(sleep 0.3; kill -STOP $PPID; sleep 0.3; kill -CONT $PPID) & kill -STOP $$; "
           "exit 5\""},
      // Stopped and continued alone, the launcher goes on relaying.
      {.Name = "launch stopped and continued, then SIGTERM",
       .Env = {},
       .Code = 143,
       .Status = 143,
       .Exe = "/bin/sh",
       .CmdLine =
           "-c \"kill -STOP $PPID; sleep 0.3; kill -CONT $PPID; sleep 0.3; kill -TERM $PPID; "
           "sleep 5; exit 3\""},
      {.Name = "a child that stops in the foreground", .Env = {}, .Code = 5, .Status = 5,
       .Key = Terminal::Fg, .Exe = "/bin/sh", .CmdLine = Stopping},
      // Stopped by SIGTSTP in a group of its own: the launcher's group, orphaned,
      // discards that signal, so the launcher stops by SIGSTOP.
      {.Name = "a child in a group of its own that stops in the foreground", .Env = {}, .Code = 5,
       .Status = 5, .Key = Terminal::Fg, .Exe = "/usr/bin/perl",
       .CmdLine = "-e \"setpgrp(0, 0); kill 'TSTP', $$; exit 5\""},
  };
  // clang-format on
}

TEST_P(SignalsWhileWaitingAreTheChildsToAct, Row) {
  const SignalCase Case = Pick(Rows());
  harness::Options Opts;
  Opts.Env = Case.Env;
  Opts.Env.emplace_back("PROBE_EXIT=9");
  Opts.Prefix = Case.Prefix;
  Opts.Key = Case.Key;
  Opts.Presses = Case.Presses;
  Opts.KeyDelayMs = Case.KeyDelayMs;
  const bool Pressed = Case.Key != Terminal::None && Case.Key != Terminal::Fg;
  Opts.ReadyFile = Pressed && Case.KeyDelayMs == 0 ? RecordPath : "";
  Opts.Unprivileged = Case.AsNobody;
  const std::vector<std::string> Args = {Case.Exe.empty() ? Probe : Case.Exe, Case.CmdLine,
                                         Case.AsNobody ? "/" : Dir, "TRUE"};
  const harness::Result R = Launch(Args, Opts);
  if (!R.MissingTool.empty()) {
    return;
  }
  const std::uint32_t Code = IsWindows() ? Case.WindowsCode : Case.Code;
  EXPECT_EQ(R.Status, IsWindows() ? Case.WindowsCode : Case.Status) << R.Err;
  const std::string Expected = Report(Args, true, SignedText(Code));
  EXPECT_EQ(R.Out, Case.StatusLine ? Expected : Expected.substr(0, Expected.find("Code")));
  if (!Case.Err.empty()) {
    EXPECT_EQ(R.Err, Case.Err);
  }
  if (Record().Pid != 0) {
    EXPECT_EQ(Record().Ignored, Case.Ignored);
    EXPECT_TRUE(harness::EndsSoon(Record().Pid)) << "the child outlived the launcher";
  }
}

struct KillCase {
  std::string Name;
  std::vector<std::string> Args;
  bool Killed;
  int Kills = 1; // when more, killed 0, 2, 4, ... ms after its echo (the start)
};

class WaitedChildEndsWithAKilledLauncherOnly : public Table {
public:
  static bool Applies(const KillCase& /*Any*/) { return IsWindows(); } // the Linux rows are above
  std::vector<KillCase> Rows();
};
LAUNCH_TABLE(WaitedChildEndsWithAKilledLauncherOnly);

// Windows job objects. Killed while waiting (TerminateProcess, as a CI timeout
// does): the child and its own children go too, and the caller's pipe closes.
// A normal end, or no wait at all, leaves what the child started running.
std::vector<KillCase> WaitedChildEndsWithAKilledLauncherOnly::Rows() {
  const std::string Quoted = "\"" + Probe + "\"";
  // clang-format off
  return {
      {"child", {Probe, "", Dir, "TRUE"}, true},
      {"grandchild", {"cmd.exe", "/c " + Quoted, Dir, "TRUE"}, true},
      {"during the start", {Probe, "", Dir, "TRUE"}, true, 8},
      {"during cmd.exe's start", {"cmd.exe", "/c " + Quoted, Dir, "TRUE"}, true, 8},
      {"start /b", {"cmd.exe", "/c start \"\" /b " + Quoted, Dir, "TRUE"}, false},
      {"no wait", {Probe, "", Dir, ""}, false},
  };
  // clang-format on
}

TEST_P(WaitedChildEndsWithAKilledLauncherOnly, Row) {
  const KillCase Case = Pick(Rows());
  const std::string Touched = Dir + "\\touched";
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

using enum harness::Stdout;

struct UnwritableCase {
  std::string Name;
  harness::Stdout Output;
  const char* Reason; // said once, on stderr
};
class UnwritableReportDoesNotStopTheRun : public Table {
public:
  static bool Applies(const UnwritableCase& /*Any*/) { return !IsWindows(); } // POSIX descriptors
  std::vector<UnwritableCase> Rows() {
    return {{"closed", Closed, "Bad file descriptor (error 9)"},
            {"full", Full, "No space left on device (error 28)"},
            {"broken pipe", BrokenPipe, "Broken pipe (error 32)"}};
  }
};
LAUNCH_TABLE(UnwritableReportDoesNotStopTheRun);

TEST_P(UnwritableReportDoesNotStopTheRun, Row) {
  const UnwritableCase Case = Pick(Rows());
  harness::Options Opts;
  Opts.Output = Case.Output;
  Opts.Env = {"PROBE_EXIT=3"};
  const harness::Result R = Launch({Probe, "x", Dir, "TRUE"}, Opts);
  EXPECT_EQ(R.Status, 3u);
  EXPECT_EQ(R.Err, "launch: cannot write the report: " + std::string(Case.Reason) + "\n");
  EXPECT_EQ(Record().Args, (std::vector<std::string>{Probe, "x"})) << "the child ran";
  EXPECT_EQ(Launch({"no-such-tool-xyz", "", Dir, "TRUE"}, Opts).Status, 127u);
  // Asked for text and got none: that is no success.
  const harness::Result Version = Launch({"--version"}, Opts);
  EXPECT_EQ(Version.Status, 125u);
  EXPECT_EQ(Version.Err.rfind("launch: cannot write the version: ", 0), 0u) << Version.Err;
}

TEST_F(EndToEnd, AFullNonBlockingPipeGetsEveryLine) {
  if (IsWindows()) {
    GTEST_SKIP() << "POSIX descriptors";
  }
  // A caller's non-blocking pipe, full at first: every line arrives, a long one too.
  harness::Options Opts;
  Opts.Output = FullNonBlocking;
  const std::vector<std::string> Args = {Probe, "x", Dir, "TRUE"};
  EXPECT_EQ(Launch(Args, Opts).Out, Report(Args, true, "0"));
  EXPECT_EQ(Launch({"--help"}, Opts).Out, Launch({"--help"}).Out);
  const std::vector<std::string> Long = {std::string(5000, 'x'), "", Dir, "TRUE"};
  EXPECT_EQ(Launch(Long, Opts).Out, Report(Long, false, "125"));
}

struct StuckCase {
  std::string Name;
  std::vector<std::string> Env;
  int Signal;
  harness::Stdout Output;
  std::uint32_t Status;
  bool Hostile = false;                 // every signal blocked by the caller
  std::vector<std::string> Prefix = {}; // what runs the launcher
};
class AStuckStatusLineStillEnds : public Table {
public:
  static bool Applies(const StuckCase& /*Any*/) { return !IsWindows(); }
  std::vector<StuckCase> Rows();
};
LAUNCH_TABLE(AStuckStatusLineStillEnds);

// A status line stuck behind a pipe that nobody reads: SIGTERM still ends
// it, sent after the child's end, or once, to be relayed, while it runs and
// the child dies of it. Read late, the line goes out, and the status is the
// code it names, whatever signal came after the child's end.
std::vector<StuckCase> AStuckStatusLineStillEnds::Rows() {
  // clang-format off
  return {
      {"SIGTERM after the end, nobody reads", {"PROBE_SLEEP_MS=0"}, SIGTERM, Stuck, 1000 + SIGTERM},
      {"SIGTERM relayed, nobody reads", {"PROBE_SLEEP_MS=20000"}, SIGTERM, Stuck, 1000 + SIGTERM},
      {"SIGTERM relayed and handled, read late", {"PROBE_CATCH=15", "PROBE_SLEEP_MS=600"}, SIGTERM,
       Late, 1},
      {"SIGHUP after the end, nobody reads", {"PROBE_SLEEP_MS=0"}, 1 /* SIGHUP */, Stuck, 1001},
      {"SIGTERM after the end, blocked by the caller, read late", {"PROBE_SLEEP_MS=0"}, SIGTERM,
       Late, 0, true},
      {"SIGHUP after the end, blocked by the caller, read late", {"PROBE_SLEEP_MS=0"},
       1 /* SIGHUP */, Late, 0, true},
      // A PID 1 ignores a signal left at its default: its handler ends it.
      {"SIGTERM relayed to the child of a PID 1, which dies of it, nobody reads",
       {"PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=20000"}, 0, Stuck, 128 + SIGTERM, false,
       {"/usr/bin/unshare", "-Urfp", "--mount-proc"}},
      {"SIGTERM relayed and handled by the child of a PID 1, nobody reads",
       {"PROBE_CATCH=15", "PROBE_PARENT_SIGNAL=15", "PROBE_SLEEP_MS=300"}, 0, Stuck, 128 + SIGTERM,
       false, {"/usr/bin/unshare", "-Urfp", "--mount-proc"}},
      {"SIGTERM relayed and handled, nobody reads, the caller blocking SIGALRM",
       {"PROBE_CATCH=15", "PROBE_SLEEP_MS=300"},
       SIGTERM,
       Stuck,
       1000 + SIGTERM,
       false,
       {"/usr/bin/perl", "-MPOSIX", "-e",
        "sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM)); exec @ARGV or die"}},
      {"the child dies of its own SIGHUP, read late", {"PROBE_SIGNAL=1"}, 0, Late, 129},
      {"SIGUSR1 after the end, read late", {"PROBE_SLEEP_MS=0"}, 10 /* SIGUSR1 */, Late, 0},
      {"SIGQUIT after the end, read late", {"PROBE_SLEEP_MS=0"}, 3 /* SIGQUIT */, Late, 0},
  };
  // clang-format on
}

TEST_P(AStuckStatusLineStillEnds, Row) {
  const StuckCase End = Pick(Rows());
  const std::vector<std::string> Args = {Probe, "x", Dir, "TRUE"};
  harness::Options Opts;
  Opts.StdoutRoom = Report(Args, true, "0").find("Code retour");
  Opts.ReadyFile = RecordPath;
  Opts.Env = End.Env;
  Opts.Output = End.Output;
  Opts.SignalWhenReady = End.Signal;
  Opts.HostileSignals = End.Hostile;
  Opts.Prefix = End.Prefix;
  const harness::Result R = Launch(Args, Opts);
  if (!R.MissingTool.empty()) {
    return;
  }
  EXPECT_EQ(R.Status, End.Status);
  EXPECT_EQ(R.Out, End.Output == Late ? Report(Args, true, std::to_string(End.Status)) : "");
}

} // namespace
} // namespace e2e
