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

// On stderr: "launch: <What> '<Exe>': <reason> (error <n>)".
void WriteFailureReason(std::wstring_view What, std::wstring_view Exe, const RunFailure& Failure);

} // namespace launch
