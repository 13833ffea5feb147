// The console report: what is about to start, and how the run ended.
#pragma once

#include <string>
#include <string_view>

#include "run_request.h"

namespace launch {

// "Exe : ", "CmdLine : ", "WorkingDirectory : " and "IsWaiting : ", each with
// the argument as received.
void WriteEcho(const RunRequest& Request);

// "CreateProcess failed !!!"
void WriteStartFailure();

// "Code retour : " and the code as a signed 32-bit decimal number.
void WriteStatus(ReturnCode Code);

// The signed 32-bit reading of `Code`: 3221225477 gives L"-1073741819".
std::wstring FormatReturnCode(ReturnCode Code);

// `Text` with its control characters spelled out (\r, \n, \t, the others as
// \xHH, raw C1 bytes of a POSIX name too), so that a name or a reason on
// stderr stays on one visible line.
std::wstring Visible(std::wstring_view Text);

// On stderr: "launch: <Subject>: <reason> (error <n>)", as in
// "launch: cannot start 'tool': No such file or directory (error 2)", with
// both spelled out by Visible.
void WriteFailureReason(std::wstring_view Subject, const RunFailure& Failure);

} // namespace launch
