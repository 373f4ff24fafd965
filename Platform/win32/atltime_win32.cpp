// CTime::Format on Windows: the C run-time's own wcsftime already reads the Microsoft codes
// ('#' flag, %c in the "C" locale, %z as the zone's name), so the format goes through as it is.
#include <wchar.h>

#include "../src/atltime_host.h"

namespace pal {

size_t FormatTimeMs(wchar_t* out, size_t size, const wchar_t* ms_format, const struct tm* tm) {
  if (size == 0) return 0;
  // Not every run-time keeps to "0 when it does not fit": some fill the whole buffer without
  // a terminator and return its size. Only a terminated result inside the buffer counts.
  const size_t length = ::wcsftime(out, size, ms_format, tm);
  if (length == 0 || length >= size || out[length] != L'\0') {
    out[0] = L'\0';
    return 0;
  }
  return length;
}

}  // namespace pal
