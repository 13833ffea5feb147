// What a failed CreateProcessW means for the caller: the launcher's status for
// each Windows error number. Plain data, so it is checked on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "run_request.h"

namespace launch {

// kStatusNotFound when there is no such program, kStatusCannotRun when it is
// there but Windows will not run it, kStatusLauncherFailed for anything else
// (a bad working directory, no memory, ...).
ReturnCode StatusForStartError(std::uint32_t WindowsError);

// What the exception codes that users meet most mean, as in L"access
// violation" for 0xC0000005; null for any other code.
const wchar_t* KnownExceptionMeaning(std::uint32_t Code);

// The meaning of an exception code taken from the system's own message for it
// (ntdll's message table, inserts left as they are): the first sentence,
// without the caption in braces that leads many of them and without its final
// full stop. A sentence that still holds an insert ("%hs was not found")
// would show the caller a placeholder: the caption stands in for it then.
// Empty when there is neither.
std::wstring ExceptionMeaningFromMessage(std::wstring_view Message);

} // namespace launch
