// The launcher's two text channels. Each call writes one whole line and ends it
// with the platform's newline; nothing is buffered, so a line is out before the
// call returns. A line that cannot be written is dropped without a word: the run
// goes on and its status is not affected.
#pragma once

#include <string_view>

namespace launch {

// The report, on standard output.
void WriteOutputLine(std::wstring_view Line);

// Diagnostics, on standard error.
void WriteErrorLine(std::wstring_view Line);

} // namespace launch
