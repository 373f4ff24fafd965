// CTime::Format on Windows: the C run-time's own wcsftime already reads the Microsoft codes
// ('#' flag, %c in the "C" locale, %z as the zone's name), so the format goes through as it is.
#include <wchar.h>

#include "../src/atltime_host.h"

namespace pal {

size_t FormatTimeMs(wchar_t* out, size_t size, const wchar_t* ms_format, const struct tm* tm) {
  return ::wcsftime(out, size, ms_format, tm);
}

}  // namespace pal
