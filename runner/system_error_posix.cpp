#include <cstring>

#include "lossless_text.h"
#include "system_error.h"

namespace launch {

std::wstring SystemReason(std::uint32_t Error) {
  return DecodeLossless(std::strerror(static_cast<int>(Error)));
}

} // namespace launch
