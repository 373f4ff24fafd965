// The run-time's printf family on the layer's formatter.
#include <cerrno>
#include <cstdio>
#include <string>

#include "format.h"
#include "pal/text.h"
#include "text_codepage.h"

namespace pal {
namespace {

template <class Char>
std::optional<std::basic_string<Char>> FormatAny(const Char* format, va_list args) {
  if constexpr (sizeof(Char) == sizeof(wchar_t)) {
    return FormatWide(format, args);
  } else {
    return FormatNarrow(format, args);
  }
}

template <class Char>
int Invalid(Char* buffer, size_t count) {
  if (buffer != nullptr && count > 0) buffer[0] = Char(0);
  errno = EINVAL;
  return -1;
}

template <class Char>
int PrintS(Char* buffer, size_t count, const Char* format, va_list args) {
  if (buffer == nullptr || count == 0 || format == nullptr) return Invalid(buffer, count);
  auto text = FormatAny(format, args);
  if (!text) return Invalid(buffer, count);
  if (text->size() >= count) {
    buffer[0] = Char(0);
    errno = ERANGE;
    return -1;
  }
  text->copy(buffer, text->size());
  buffer[text->size()] = Char(0);
  return static_cast<int>(text->size());
}

template <class Char>
int SnPrintS(Char* buffer, size_t count, size_t max_count, const Char* format, va_list args) {
  if (format == nullptr || buffer == nullptr || count == 0) {
    // A null buffer with no room and nothing to write is allowed, as in the run-time.
    if (format != nullptr && buffer == nullptr && count == 0 && max_count == 0) return 0;
    return Invalid(buffer, count);
  }
  auto text = FormatAny(format, args);
  if (!text) return Invalid(buffer, count);
  // The room the call grants: the buffer, or max_count characters plus the terminator.
  size_t room = (max_count == _TRUNCATE || max_count >= count) ? count : max_count + 1;
  if (text->size() < room) {
    text->copy(buffer, text->size());
    buffer[text->size()] = Char(0);
    return static_cast<int>(text->size());
  }
  if (max_count != _TRUNCATE && max_count >= count) {
    // The caller asked for more than the buffer holds: an error, not a truncation.
    buffer[0] = Char(0);
    errno = ERANGE;
    return -1;
  }
  text->copy(buffer, room - 1);
  buffer[room - 1] = Char(0);
  return -1;
}

template <class Char>
int SnPrint(Char* buffer, size_t count, const Char* format, va_list args) {
  if (format == nullptr || (buffer == nullptr && count != 0)) {
    errno = EINVAL;
    return -1;
  }
  auto text = FormatAny(format, args);
  if (!text) {
    errno = EINVAL;
    return -1;
  }
  if (buffer == nullptr) return static_cast<int>(text->size());
  size_t n = std::min(text->size(), count);
  text->copy(buffer, n);
  if (n < count) buffer[n] = Char(0);
  return text->size() > count ? -1 : static_cast<int>(text->size());
}

template <class Char>
int Count(const Char* format, va_list args) {
  auto text = format == nullptr ? std::nullopt : FormatAny(format, args);
  if (!text) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(text->size());
}

// Wide text reaches a stream through the ANSI code page, as the run-time's text streams
// convert it.
int WriteWide(FILE* stream, const std::wstring& text) {
  std::string bytes = AnsiFromWide(text);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) return -1;
  return static_cast<int>(text.size());
}

}  // namespace
}  // namespace pal

#define PAL_VA_FORWARD(call, last)   \
  va_list args;                      \
  va_start(args, last);              \
  int result = call;                 \
  va_end(args);                      \
  return result

int vswprintf_s(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
  return pal::PrintS(buffer, count, format, args);
}
int swprintf_s(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
  PAL_VA_FORWARD(pal::PrintS(buffer, count, format, args), format);
}
int _vsnwprintf_s(wchar_t* buffer, size_t count, size_t max_count, const wchar_t* format,
                  va_list args) {
  return pal::SnPrintS(buffer, count, max_count, format, args);
}
int _snwprintf_s(wchar_t* buffer, size_t count, size_t max_count, const wchar_t* format, ...) {
  PAL_VA_FORWARD(pal::SnPrintS(buffer, count, max_count, format, args), format);
}
int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
  return pal::SnPrint(buffer, count, format, args);
}
int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
  PAL_VA_FORWARD(pal::SnPrint(buffer, count, format, args), format);
}
int _vscwprintf(const wchar_t* format, va_list args) { return pal::Count(format, args); }
int _scwprintf(const wchar_t* format, ...) { PAL_VA_FORWARD(pal::Count(format, args), format); }

int vsprintf_s(char* buffer, size_t count, const char* format, va_list args) {
  return pal::PrintS(buffer, count, format, args);
}
int sprintf_s(char* buffer, size_t count, const char* format, ...) {
  PAL_VA_FORWARD(pal::PrintS(buffer, count, format, args), format);
}
int _vsnprintf_s(char* buffer, size_t count, size_t max_count, const char* format, va_list args) {
  return pal::SnPrintS(buffer, count, max_count, format, args);
}
int _snprintf_s(char* buffer, size_t count, size_t max_count, const char* format, ...) {
  PAL_VA_FORWARD(pal::SnPrintS(buffer, count, max_count, format, args), format);
}
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  return pal::SnPrint(buffer, count, format, args);
}
int _snprintf(char* buffer, size_t count, const char* format, ...) {
  PAL_VA_FORWARD(pal::SnPrint(buffer, count, format, args), format);
}
int _vscprintf(const char* format, va_list args) { return pal::Count(format, args); }
int _scprintf(const char* format, ...) { PAL_VA_FORWARD(pal::Count(format, args), format); }

// These replace glibc's functions of the same names for every program linked with the
// layer, so that wide stream output follows the same conventions as the buffer calls.
extern "C" {

int vfwprintf(FILE* stream, const wchar_t* format, va_list args) {
  auto text = pal::FormatWide(format, args);
  if (!text || stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return pal::WriteWide(stream, *text);
}

int fwprintf(FILE* stream, const wchar_t* format, ...) {
  PAL_VA_FORWARD(vfwprintf(stream, format, args), format);
}

int vwprintf(const wchar_t* format, va_list args) { return vfwprintf(stdout, format, args); }

int wprintf(const wchar_t* format, ...) { PAL_VA_FORWARD(vfwprintf(stdout, format, args), format); }

int fputws(const wchar_t* text, FILE* stream) {
  if (text == nullptr || stream == nullptr) {
    errno = EINVAL;
    return WEOF;
  }
  return pal::WriteWide(stream, text) < 0 ? WEOF : 0;
}

}  // extern "C"
