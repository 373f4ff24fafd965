// Time formatting behind CTime::Format: the Microsoft C run-time's codes on the host's wcsftime.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace pal {

// Rewrites a format with the Microsoft C run-time's time codes ("C" locale) into the host's
// codes: %c and %x/%X spelt out, '#' turned into the host's no-padding flag or long forms,
// %z as the zone's name.
std::wstring TranslateTimeFormat(const wchar_t* ms_format);

// Formats with the Microsoft codes; 0 when the result does not fit into `size`.
size_t FormatTimeMs(wchar_t* out, size_t size, const wchar_t* ms_format, const struct tm* tm);

}  // namespace pal
