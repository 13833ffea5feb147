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

std::wstring FormatUnsigned(std::uint64_t Value) {
  std::wstring Digits;
  do {
    Digits.insert(Digits.begin(), static_cast<wchar_t>(L'0' + Value % 10));
    Value /= 10;
  } while (Value != 0);
  return Digits;
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
  const auto Signed = static_cast<std::int32_t>(Code);
  if (Signed >= 0) {
    return FormatUnsigned(static_cast<std::uint64_t>(Signed));
  }
  return L"-" + FormatUnsigned(static_cast<std::uint64_t>(-static_cast<std::int64_t>(Signed)));
}

void WriteFailureReason(std::wstring_view What, std::wstring_view Exe, const RunFailure& Failure) {
  std::wstring Line = L"launch: ";
  Line += What;
  Line += L" '";
  Line += Exe;
  Line += L"': ";
  Line += Failure.Reason;
  if (Failure.ErrorCode) {
    Line += L" (error ";
    Line += FormatUnsigned(*Failure.ErrorCode);
    Line += L")";
  }
  WriteErrorLine(Line);
}

} // namespace launch
