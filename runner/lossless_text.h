// Lossless conversion between the bytes of a POSIX argument and wide text.
//
// Valid UTF-8 decodes to its characters. Every byte that is not part of valid
// UTF-8 (a stray continuation byte, a truncated or overlong sequence, an encoded
// surrogate, a value above U+10FFFF) becomes the lone surrogate U+DC80 + (byte -
// 0x80), which valid UTF-8 can never produce; encoding turns it back into that
// byte. So EncodeLossless(DecodeLossless(b)) == b for any bytes b.
#pragma once

#include <string>
#include <string_view>

namespace launch {

std::wstring DecodeLossless(std::string_view Bytes);
std::string EncodeLossless(std::wstring_view Text);

} // namespace launch
