// What `launch --help` and `launch --version` print.
#pragma once

namespace launch {

void WriteHelp();
void WriteVersion();
void WriteUsage(); // on stderr, for a wrong argument list

} // namespace launch
