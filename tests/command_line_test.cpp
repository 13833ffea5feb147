#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "command_line.h"
#include "harness.h"
#include "windows_errors.h"

namespace launch {
namespace {

struct SplitCase {
  const wchar_t* Line;
  std::vector<std::wstring> Parts;
};

TEST(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
  const SplitCase Cases[] = {
      // program name: quotes toggle and vanish, backslashes stay, blanks end it
      SplitCase{L"", {L""}}, SplitCase{L"p", {L"p"}}, SplitCase{L" p", {L"", L"p"}},
      SplitCase{L"\"C:\\x y\\p.exe\" a", {L"C:\\x y\\p.exe", L"a"}},
      SplitCase{L"C:\\x\" \"y\\p a", {L"C:\\x y\\p", L"a"}}, SplitCase{L"a\\\"b c", {L"a\\b c"}},
      SplitCase{L"p\tq", {L"p", L"q"}}, SplitCase{L"\"\" a", {L"", L"a"}},
      // blanks between and after arguments
      SplitCase{L"p  a \t b\t", {L"p", L"a", L"b"}},
      SplitCase{L"p \"a b\" c", {L"p", L"a b", L"c"}},
      // backslashes: literal unless they lead to a quote
      SplitCase{L"p a\\b a\\\\b", {L"p", L"a\\b", L"a\\\\b"}},
      SplitCase{L"p a\\\"b", {L"p", L"a\"b"}},               // 1 -> 0 + literal quote
      SplitCase{L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},       // 2 -> 1 + toggle
      SplitCase{L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},         // 3 -> 1 + literal quote
      SplitCase{L"p a\\\\\\\\\"b c\"", {L"p", L"a\\\\b c"}}, // 4 -> 2 + toggle
      SplitCase{L"p \"a\\\\\"", {L"p", L"a\\"}}, SplitCase{L"p a\\", {L"p", L"a\\"}},
      // doubled quotes (post-2008)
      SplitCase{L"p \"a\"\"b\"", {L"p", L"a\"b"}}, SplitCase{L"p a\"\"b", {L"p", L"ab"}},
      SplitCase{L"p \"\"\"\"", {L"p", L"\""}}, SplitCase{L"p \"\"\"a b\"", {L"p", L"\"a b"}},
      SplitCase{L"p \"a\"\"", {L"p", L"a\""}}, // the line's last two
      // empty arguments and a line that ends inside quotes
      SplitCase{L"p \"\"", {L"p", L""}}, SplitCase{L"p \"\" \"\"", {L"p", L"", L""}},
      SplitCase{L"p \"", {L"p", L""}}, SplitCase{L"p \"a b", {L"p", L"a b"}},
      // nothing special about wildcards or other characters
      SplitCase{L"p *.txt 'a b' %x%", {L"p", L"*.txt", L"'a", L"b'", L"%x%"}}};
  for (const auto& Case : Cases) {
    EXPECT_EQ(SplitCommandLine(Case.Line), Case.Parts) << Case.Line;
  }
}

TEST(CommandLineBuffer, CountsUtf16UnitsAndKeepsRoomForTheTerminator) {
  const std::wstring NonBmp = L"\U0001F600"; // two units wherever it is stored
  const struct {
    std::wstring Line;
    std::size_t Units;
    bool Fits;
  } Cases[] = {
      {L"", 0, true},
      {std::wstring(1023, L'x'), 1023, true},
      {std::wstring(1024, L'x'), 1024, false},
      {NonBmp + std::wstring(1021, L'x'), 1023, true},
      {NonBmp + std::wstring(1022, L'x'), 1024, false}, // 1023 characters, 1024 units
      {std::wstring(100000, L'x'), 100000, false},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Utf16Length(Case.Line), Case.Units) << Case.Line.size();
    EXPECT_EQ(FitsCommandLineBuffer(Case.Line), Case.Fits) << Case.Line.size();
  }
}

TEST(CommandLineBuffer, RefusalNamesLengthAndLimit) {
  const RunOutcome Outcome = CommandLineTooLong(std::wstring(1024, L'x'));
  EXPECT_FALSE(Outcome.Started);
  EXPECT_EQ(Outcome.Code, kStatusLauncherFailed);
  ASSERT_TRUE(Outcome.Failure.has_value());
  EXPECT_EQ(Outcome.Failure->Reason,
            L"command line too long: 1024 UTF-16 units, the limit is 1023");
}

// docs/windows.md lists, status by status, the Windows errors a failed start
// maps to: the map must say the same, number for number, so that neither can
// change alone. (The 125 list gives examples: anything else is 125.)
TEST(StartErrorStatus, IsTheMapTheWindowsDocsList) {
  std::ifstream Docs(harness::NativePath(LAUNCH_SOURCE_DIR "/docs/windows.md"));
  std::string Line;
  while (std::getline(Docs, Line) && Line != "- A failed start is mapped by what happened:") {
  }
  std::map<ReturnCode, std::set<std::uint32_t>> Listed;
  ReturnCode Status = 0;
  const std::regex Number(R"((\d+)(?: to (\d+))?)");
  while (std::getline(Docs, Line) && !Line.empty()) {
    auto From = std::sregex_iterator(Line.begin(), Line.end(), Number);
    if (Line.rfind("  - ", 0) == 0) { // "  - 127, not found: errors 2 and 3 ..."
      Status = static_cast<ReturnCode>(std::stoul((From++)->str()));
    }
    for (; From != std::sregex_iterator(); ++From) {
      const auto Last = std::stoul((*From)[2].matched ? (*From)[2].str() : (*From)[1].str());
      for (auto Error = std::stoul((*From)[1].str()); Error <= Last; ++Error) {
        Listed[Status].insert(static_cast<std::uint32_t>(Error));
      }
    }
  }
  ASSERT_EQ(Listed.size(), 3U) << "no list of errors by status in docs/windows.md";
  std::map<ReturnCode, std::set<std::uint32_t>> Mapped;
  for (std::uint32_t Error = 0; Error < 20000; ++Error) {
    Mapped[StatusForStartError(Error)].insert(Error);
  }
  EXPECT_EQ(Mapped[kStatusNotFound], Listed[kStatusNotFound]);
  EXPECT_EQ(Mapped[kStatusCannotRun], Listed[kStatusCannotRun]);
  for (const std::uint32_t Error : Listed[kStatusLauncherFailed]) {
    EXPECT_EQ(StatusForStartError(Error), kStatusLauncherFailed) << "error " << Error;
  }
}

// Texts as Microsoft documents them for NTSTATUS values, caption first.
TEST(ExceptionMeaning, FirstSentenceOfTheSystemsMessageOrItsCaption) {
  const struct {
    const wchar_t* Message;
    const wchar_t* Meaning;
  } Cases[] = {
      {L"{Not Enough Quota}\r\nNot enough virtual memory is available. Close some.\r\n",
       L"Not enough virtual memory is available"},
      {L"{Unable To Locate Component}\r\nThis application has failed to start because %hs was "
       L"not found.\r\n",
       L"Unable To Locate Component"},
      {L"A heap has been corrupted.\r\n", L"A heap has been corrupted"},
      {L"The exception %s occurred.", L""},
      {L"", L""},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(ExceptionMeaningFromMessage(Case.Message), Case.Meaning) << Case.Message;
  }
}

} // namespace
} // namespace launch
