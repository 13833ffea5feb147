#include "report.h"

#include <cstdint>

#include "console.h"
#include "system_error.h"

namespace launch {

namespace {

// A report line that cannot be written is given up and the run goes on: its
// status is what callers rely on. The caller is told once, on stderr, so that
// a report lost to a full disk or a closed stdout is not lost without a word.
void WriteReportLine(std::wstring_view Line) {
  static bool Told = false;
  if (const auto Failure = WriteOutputLine(Line); Failure && !Told) {
    Told = true;
    WriteFailureReason(L"cannot write the report", *Failure);
  }
}

void WriteLabelled(std::wstring_view Label, std::wstring_view Value) {
  std::wstring Line(Label);
  Line += Value;
  WriteReportLine(Line);
}

} // namespace

void WriteEcho(const RunRequest& Request) {
  WriteLabelled(L"Exe : ", Request.Exe);
  WriteLabelled(L"CmdLine : ", Request.CmdLine);
  WriteLabelled(L"WorkingDirectory : ", Request.WorkingDirectory);
  WriteLabelled(L"IsWaiting : ", Request.IsWaiting);
}

void WriteStartFailure() {
  WriteReportLine(L"CreateProcess failed !!!");
}

void WriteStatus(ReturnCode Code) {
  WriteLabelled(L"Code retour : ", FormatReturnCode(Code));
}

std::wstring FormatReturnCode(ReturnCode Code) {
  return std::to_wstring(static_cast<std::int32_t>(Code));
}

std::wstring Visible(std::wstring_view Text) {
  std::wstring Out;
  Out.reserve(Text.size());
  for (const wchar_t C : Text) {
    if (C == L'\r') {
      Out += L"\\r";
    } else if (C == L'\n') {
      Out += L"\\n";
    } else if (C == L'\t') {
      Out += L"\\t";
    } else if (C < 0x20 || (C >= 0x7F && C <= 0x9F) || (C >= 0xDC80 && C <= 0xDC9F)) {
      // The last range: a raw C1 byte of a POSIX name, which is not UTF-8 and
      // stands as U+DC80 + (byte - 0x80); a terminal would read it as a control.
      constexpr wchar_t Digits[] = L"0123456789abcdef";
      Out += L"\\x";
      Out.push_back(Digits[(C >> 4) & 15]);
      Out.push_back(Digits[C & 15]);
    } else {
      Out.push_back(C);
    }
  }
  return Out;
}

void WriteFailureReason(std::wstring_view Subject, const RunFailure& Failure) {
  std::wstring Line = L"launch: ";
  Line += Visible(Subject);
  Line += L": ";
  Line += Visible(ReasonWithNumber(Failure));
  WriteErrorLine(Line);
}

} // namespace launch
