#include "report.h"

#include <cstdint>

#include "console.h"

namespace launch {

namespace {

void WriteLabelled(std::wstring_view Label, std::wstring_view Value) {
  std::wstring Line(Label);
  Line += Value;
  WriteOutputLine(Line);
}

} // namespace

void WriteEcho(const RunRequest& Request) {
  WriteLabelled(L"Exe : ", Request.Exe);
  WriteLabelled(L"CmdLine : ", Request.CmdLine);
  WriteLabelled(L"WorkingDirectory : ", Request.WorkingDirectory);
  WriteLabelled(L"IsWaiting : ", Request.IsWaiting);
}

void WriteStartFailure() {
  WriteOutputLine(L"CreateProcess failed !!!");
}

void WriteStatus(ReturnCode Code) {
  WriteLabelled(L"Code retour : ", FormatReturnCode(Code));
}

std::wstring FormatReturnCode(ReturnCode Code) {
  return std::to_wstring(static_cast<std::int32_t>(Code));
}

void WriteFailureReason(std::wstring_view Subject, const RunFailure& Failure) {
  std::wstring Line = L"launch: ";
  Line += Subject;
  Line += L": ";
  Line += Failure.Reason;
  if (Failure.ErrorCode) {
    Line += L" (error " + std::to_wstring(*Failure.ErrorCode) + L")";
  }
  WriteErrorLine(Line);
}

} // namespace launch
