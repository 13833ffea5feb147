// Shared by the end-to-end tests: the fixture that runs the built launcher
// against the probe child, and the exact report it must print.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"
#include "probe.h"

namespace e2e {

using harness::IsWindows;
using harness::NativePath;

inline std::string Eol() {
  return IsWindows() ? "\r\n" : "\n";
}

inline std::string Report(const std::vector<std::string>& Args, bool Started,
                          const std::string& Code) {
  std::string Text = "Exe : " + Args[0] + Eol() + "CmdLine : " + Args[1] + Eol() +
                     "WorkingDirectory : " + Args[2] + Eol() + "IsWaiting : " + Args[3] + Eol();
  if (!Started) {
    Text += "CreateProcess failed !!!" + Eol();
  }
  return Text + "Code retour : " + Code + Eol();
}

// The status a caller sees for a report code: all 32 bits on Windows, 8 on POSIX.
inline std::uint32_t ExitStatusFor(std::uint32_t Code) {
  return IsWindows() || Code <= 255 ? Code : 255;
}

class EndToEnd : public testing::Test {
protected:
  const std::string Dir = harness::NewTempDir();
  const std::string RecordPath = Dir + "/record";
  const std::string Probe = NativePath(harness::ProbePath());

  std::vector<std::string> ProbeEnv(std::vector<std::string> Extra = {}) const {
    Extra.push_back("PROBE_OUT=" + NativePath(RecordPath));
    return Extra;
  }
  probe::Record Record() const { return probe::ParseRecord(harness::ReadFile(RecordPath)); }

  harness::Result Launch(const std::vector<std::string>& Args, harness::Options Opts = {}) const {
    Opts.Env = ProbeEnv(Opts.Env);
    return harness::Run(harness::LauncherPath(), Args, Opts);
  }
};

inline std::string SignedText(std::uint32_t Code) {
  return std::to_string(static_cast<std::int32_t>(Code));
}

} // namespace e2e
