#include "run_flow.h"

#include "help.h"
#include "report.h"
#include "run_child.h"

namespace launch {

std::wstring ComposeCommandLine(std::wstring_view Exe, std::wstring_view Separator,
                                std::wstring_view CmdLine) {
  std::wstring Line;
  Line.reserve(Exe.size() + Separator.size() + CmdLine.size());
  Line.append(Exe).append(Separator).append(CmdLine);
  return Line;
}

bool IsWaitRequested(std::wstring_view IsWaiting, const WideConverter& Converter) {
  return IsWaiting == Converter.Widen("TRUE");
}

ReturnCode RunLaunch(int ArgCount, const wchar_t* const* Args) {
  const WideConverter Converter;
  PrepareLauncher();
  if (ArgCount == 2 && Args[1] == std::wstring_view(L"--help")) {
    WriteHelp();
    return 0;
  }
  if (ArgCount == 2 && Args[1] == std::wstring_view(L"--version")) {
    WriteVersion();
    return 0;
  }
  if (ArgCount != 5) {
    WriteUsage();
    return kStatusLauncherFailed;
  }

  RunRequest Request{Args[1], Args[2], Args[3], Args[4]};
  Request.Wait = IsWaitRequested(Request.IsWaiting, Converter);
  WriteEcho(Request);

  // From here on CmdLine holds the whole line the child is started from.
  Request.CmdLine = ComposeCommandLine(Request.Exe, Converter.Widen(" "), Request.CmdLine);
  const RunOutcome Outcome = RunChild(Request.CmdLine, Request.WorkingDirectory, Request.Wait);

  if (!Outcome.Started) {
    WriteStartFailure();
  }
  if (Outcome.Failure) {
    WriteFailureReason(Outcome.Started ? L"cannot read the exit code of" : L"cannot start",
                       Request.Exe, *Outcome.Failure);
  }
  WriteStatus(Outcome.Code);
  return Outcome.Code;
}

} // namespace launch
