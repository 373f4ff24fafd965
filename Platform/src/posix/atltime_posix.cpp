#include <wchar.h>

#include "atltime_host.h"

namespace pal {

size_t FormatTimeMs(wchar_t* out, size_t size, const wchar_t* ms_format, const struct tm* tm) {
  std::wstring host_format = TranslateTimeFormat(ms_format);
  return ::wcsftime(out, size, host_format.c_str(), tm);
}

}  // namespace pal
