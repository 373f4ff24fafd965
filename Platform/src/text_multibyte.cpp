// The run-time's multibyte conversions, on the ANSI code page.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "pal/text.h"
#include "text_codepage.h"

namespace pal {
namespace {

// Converts up to `limit` characters of `src` (stopping after its terminator); the result
// holds the terminator when one was reached. Every byte has a wide character.
bool ToWide(const char* src, size_t limit, std::wstring* out) {
  for (size_t i = 0; i < limit; ++i) {
    out->push_back(WideFromAnsiByte(static_cast<unsigned char>(src[i])));
    if (src[i] == '\0') break;
  }
  return true;
}

// The same towards the code page; false for a character the code page lacks.
bool ToNarrow(const wchar_t* src, size_t limit, std::string* out) {
  for (size_t i = 0; i < limit; ++i) {
    int b = AnsiByteFromWide(src[i]);
    if (b < 0) return false;
    out->push_back(static_cast<char>(b));
    if (src[i] == L'\0') break;
  }
  return true;
}

// The shared contract of the two "_s" calls: `count` characters at most (_TRUNCATE: as many
// as fit), always terminated; *converted counts the characters written with the terminator.
template <class Out, class In, class Convert>
errno_t ConvertS(size_t* converted, Out* dest, size_t dest_size, const In* src, size_t count,
                 Convert convert) {
  if (converted != nullptr) *converted = 0;
  if ((dest == nullptr && dest_size != 0) || (dest != nullptr && dest_size == 0) || src == nullptr) {
    if (dest != nullptr && dest_size != 0) dest[0] = Out(0);
    errno = EINVAL;
    return EINVAL;
  }
  std::basic_string<Out> text;
  size_t limit = count;
  if (dest == nullptr || count == _TRUNCATE) limit = SIZE_MAX;
  if (!convert(src, limit, &text)) {
    if (dest != nullptr) dest[0] = Out(0);
    errno = EILSEQ;
    return EILSEQ;
  }
  if (text.empty() || text.back() != Out(0)) text.push_back(Out(0));
  if (dest == nullptr) {
    if (converted != nullptr) *converted = text.size();
    return 0;
  }
  errno_t result = 0;
  if (text.size() > dest_size) {
    if (count != _TRUNCATE) {
      dest[0] = Out(0);
      errno = ERANGE;
      return ERANGE;
    }
    text.resize(dest_size);
    text.back() = Out(0);
    result = STRUNCATE;
  }
  text.copy(dest, text.size());
  if (converted != nullptr) *converted = text.size();
  return result;
}

}  // namespace
}  // namespace pal

errno_t mbstowcs_s(size_t* converted, wchar_t* dest, size_t dest_size, const char* src, size_t count) {
  return pal::ConvertS(converted, dest, dest_size, src, count, pal::ToWide);
}

errno_t wcstombs_s(size_t* converted, char* dest, size_t dest_size, const wchar_t* src, size_t count) {
  return pal::ConvertS(converted, dest, dest_size, src, count, pal::ToNarrow);
}

// These replace glibc's functions of the same names for every program linked with the layer.
extern "C" {

size_t mbstowcs(wchar_t* dest, const char* src, size_t n) noexcept {
  if (src == nullptr) return static_cast<size_t>(-1);
  std::wstring text;
  pal::ToWide(src, dest == nullptr ? SIZE_MAX : n, &text);
  size_t length = text.size();
  if (length > 0 && text.back() == L'\0') --length;
  if (dest != nullptr) text.copy(dest, std::min(text.size(), n));
  return length;
}

size_t wcstombs(char* dest, const wchar_t* src, size_t n) noexcept {
  if (src == nullptr) return static_cast<size_t>(-1);
  std::string text;
  if (!pal::ToNarrow(src, dest == nullptr ? SIZE_MAX : n, &text)) {
    errno = EILSEQ;
    return static_cast<size_t>(-1);
  }
  size_t length = text.size();
  if (length > 0 && text.back() == '\0') --length;
  if (dest != nullptr) text.copy(dest, std::min(text.size(), n));
  return length;
}

}  // extern "C"
