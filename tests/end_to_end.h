// Shared by the end-to-end tests: the fixture that runs the built launcher
// against the probe child, and the exact report it must print.
#pragma once

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>

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

// Each row of a table is a test of its own, named after the row: ctest lists
// it and runs it beside the others, and a failure names its row. A table is
// a fixture's Rows(): each test builds it (its rows may name the fixture's
// paths) and runs the row that its parameter names.
inline std::string RowId(std::string_view Name) {
  std::string Id(Name);
  std::replace_if(
      Id.begin(), Id.end(), [](unsigned char C) { return std::isalnum(C) == 0; }, '_');
  return Id;
}

// The ids of the rows of `Fixture` that apply here (Fixture::Applies), read
// from a fixture made for the purpose when the tests are registered.
template <typename Fixture> std::vector<std::string> RowIds() {
  struct Lister : Fixture {
    void TestBody() override {}
  };
  std::vector<std::string> Ids;
  for (const auto& Row : Lister().Rows()) {
    if (Fixture::Applies(Row)) {
      Ids.push_back(RowId(Row.Name));
    }
  }
  return Ids;
}

class Table : public EndToEnd, public testing::WithParamInterface<std::string> {
public:
  // Every row applies here, unless the fixture has an Applies of its own.
  template <typename Row> static bool Applies(const Row& /*Any*/) { return true; }

protected:
  // The row this test runs, out of its fixture's Rows().
  template <typename Row> static Row Pick(const std::vector<Row>& Rows) {
    const auto Found = std::find_if(Rows.begin(), Rows.end(),
                                    [](const Row& Each) { return RowId(Each.Name) == GetParam(); });
    if (Found == Rows.end()) {
      throw std::logic_error("no row " + GetParam());
    }
    return *Found;
  }
};

// A table may have no row that applies on this platform.
#define LAUNCH_TABLE(Fixture)                                                                      \
  INSTANTIATE_TEST_SUITE_P(EndToEnd, Fixture, testing::ValuesIn(RowIds<Fixture>()),                \
                           [](const auto& Info) { return Info.param; });                           \
  GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Fixture)

inline std::string SignedText(std::uint32_t Code) {
  return std::to_string(static_cast<std::int32_t>(Code));
}

} // namespace e2e
