// Turns the program's narrow ASCII literals into wide text through the wide
// character-classification facet of a locale.
#pragma once

#include <locale>
#include <string>
#include <string_view>

namespace launch {

class WideConverter {
public:
  // Copies `Locale` and looks up its wide ctype facet once; throws
  // std::bad_cast when the locale has none.
  explicit WideConverter(const std::locale& Locale = std::locale());

  // Widens every byte of `Narrow` through the facet; the result has exactly as
  // many units as `Narrow` has bytes (embedded zero units included).
  std::wstring Widen(std::string_view Narrow) const;

private:
  std::locale Locale_; // keeps the facet below alive
  const std::ctype<wchar_t>& Facet_;
};

} // namespace launch
