#include "run_flow.h"

#include <algorithm>

#include "console.h"
#include "help.h"
#include "report.h"
#include "run_child.h"
#include "system_error.h"

namespace launch {

namespace {

// The one word that makes the run wait, in ASCII: widened for the comparison,
// read unit by unit for the near miss.
constexpr std::string_view kWaitWord = "TRUE";

// --help and --version: done once their text is out; a caller that asked
// for it and got nothing must not read success.
ReturnCode HelpOrVersionStatus(const std::optional<RunFailure>& Failure, std::wstring_view What) {
  if (!Failure) {
    return 0;
  }
  WriteFailureReason(L"cannot write the " + std::wstring(What), *Failure);
  return kStatusLauncherFailed;
}

} // namespace

std::wstring ComposeCommandLine(std::wstring_view Exe, std::wstring_view Separator,
                                std::wstring_view CmdLine) {
  std::wstring Line;
  Line.reserve(Exe.size() + Separator.size() + CmdLine.size());
  Line.append(Exe).append(Separator).append(CmdLine);
  return Line;
}

bool IsWaitRequested(std::wstring_view IsWaiting, const WideConverter& Converter) {
  return IsWaiting == Converter.Widen(kWaitWord);
}

bool IsNearMissWait(std::wstring_view IsWaiting) {
  constexpr std::wstring_view Blanks = L" \t\r\n";
  const std::size_t First = IsWaiting.find_first_not_of(Blanks);
  if (First == std::wstring_view::npos) {
    return false;
  }
  const std::wstring_view Word =
      IsWaiting.substr(First, IsWaiting.find_last_not_of(Blanks) + 1 - First);
  if (Word.size() != kWaitWord.size()) {
    return false;
  }
  bool Exact = IsWaiting.size() == kWaitWord.size();
  for (std::size_t I = 0; I < Word.size(); ++I) {
    const wchar_t Upper = Word[I] >= L'a' && Word[I] <= L'z' ? Word[I] - L'a' + L'A' : Word[I];
    if (Upper != static_cast<wchar_t>(kWaitWord[I])) {
      return false;
    }
    Exact = Exact && Word[I] == Upper;
  }
  return !Exact;
}

ReturnCode RunLaunch(int ArgCount, const wchar_t* const* Args) {
  const WideConverter Converter;
  const CallerSettings Caller = PrepareLauncher();
  if (ArgCount == 2 &&
      (Args[1] == std::wstring_view(L"--help") || Args[1] == std::wstring_view(L"/?"))) {
    return HelpOrVersionStatus(WriteHelp(), L"help");
  }
  if (ArgCount == 2 && Args[1] == std::wstring_view(L"--version")) {
    return HelpOrVersionStatus(WriteVersion(), L"version");
  }
  if (ArgCount != 5) {
    WriteUsage();
    return kStatusLauncherFailed;
  }

  RunRequest Request{Args[1], Args[2], Args[3], Args[4]};
  Request.Wait = IsWaitRequested(Request.IsWaiting, Converter);
  if (IsNearMissWait(Request.IsWaiting)) {
    WriteErrorLine(L"launch: warning: IsWaiting is '" + Visible(Request.IsWaiting) +
                   L"', not exactly " + Converter.Widen(kWaitWord) +
                   L": not waiting for the child");
  }
  WriteEcho(Request);

  // From here on CmdLine holds the whole line the child is started from.
  Request.CmdLine = ComposeCommandLine(Request.Exe, Converter.Widen(" "), Request.CmdLine);
  const RunOutcome Outcome =
      RunChild(Request.Exe, Request.CmdLine, Request.WorkingDirectory, Request.Wait, Caller);

  if (!Outcome.Started) {
    WriteStartFailure();
  }
  if (Outcome.Failure) {
    RunFailure Failure = *Outcome.Failure;
    const std::wstring Program = Failure.Program.value_or(Request.Exe);
    // A system message may name the program as "%1". It ends the reason, after
    // the names the caller gave (a directory may hold a "%1" of its own).
    if (Failure.ErrorCode) {
      const std::size_t Message = SystemReason(*Failure.ErrorCode).size();
      const std::size_t From = Failure.Reason.size() - std::min(Message, Failure.Reason.size());
      if (const auto At = Failure.Reason.find(L"%1", From); At != std::wstring::npos) {
        Failure.Reason.replace(At, 2, Program);
      }
    }
    WriteFailureReason((Outcome.Started ? L"cannot read the exit code of '" : L"cannot start '") +
                           Program + L"'",
                       Failure);
  }
  if (Outcome.StartedInstead) {
    WriteErrorLine(L"launch: warning: Windows started '" + Visible(*Outcome.StartedInstead) +
                   L"' for the unquoted Exe '" + Visible(Request.Exe) +
                   L"'; to start that file, pass Exe with quotes in it: \"" + Visible(Request.Exe) +
                   L"\"");
  }
  // A shell between the caller and the child would have named a fatal signal
  // (or exception); it sees only the launcher's status, so the launcher says it.
  if (Request.Wait && Outcome.Started) {
    if (const std::wstring End = DescribeAbnormalEnd(Outcome); !End.empty()) {
      WriteErrorLine(L"launch: '" + Visible(Request.Exe) + L"' " + End);
    }
  }
  FinishRun(Outcome, Request.Wait, Caller, WriteStatus);
  return Outcome.Code;
}

} // namespace launch
