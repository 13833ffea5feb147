// The whole run: argument contract, wait rule, command-line composition, the
// start of the child and the report around it.
#pragma once

#include <string>
#include <string_view>

#include "run_request.h"
#include "wide_converter.h"

namespace launch {

// `Exe` + `Separator` + `CmdLine`.
std::wstring ComposeCommandLine(std::wstring_view Exe, std::wstring_view Separator,
                                std::wstring_view CmdLine);

// True exactly when `IsWaiting` is "TRUE": same units, case-sensitive, no trimming.
bool IsWaitRequested(std::wstring_view IsWaiting, const WideConverter& Converter);

// True when `IsWaiting` is not "TRUE" but would be with case ignored and
// surrounding blanks and line ends trimmed ("true", "TRUE\r", " TRUE"): most
// likely meant to wait, so the run says on stderr that it does not.
bool IsNearMissWait(std::wstring_view IsWaiting);

// Runs the launcher on its argument vector (the program's own name first) and
// returns the status to exit with. A lone --help (or /?) or --version prints and
// returns 0 (kStatusLauncherFailed when the text cannot be written); any other list but four
// arguments is a usage error: nothing on stdout, usage on stderr, kStatusLauncherFailed.
ReturnCode RunLaunch(int ArgCount, const wchar_t* const* Args);

} // namespace launch
