#include "wide_converter.h"

#include <memory>

namespace launch {

WideConverter::WideConverter(const std::locale& Locale)
    : Locale_(Locale), Facet_(std::use_facet<std::ctype<wchar_t>>(Locale_)) {}

std::wstring WideConverter::Widen(std::string_view Narrow) const {
  if (Narrow.empty()) {
    return {};
  }
  const auto Scratch = std::make_unique<wchar_t[]>(Narrow.size());
  Facet_.widen(Narrow.data(), Narrow.data() + Narrow.size(), Scratch.get());
  return {Scratch.get(), Narrow.size()};
}

} // namespace launch
