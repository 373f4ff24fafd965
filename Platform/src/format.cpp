#include "format.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "text_codepage.h"

namespace pal {
namespace {

enum class Size { kDefault, kChar, kShort, kLong, kLongLong, kInt32, kPointer, kWide, kLongDouble };

struct FieldFormat {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  int width = 0;
  int precision = -1;
  Size size = Size::kDefault;
};

template <class Char>
constexpr bool kWideFormat = sizeof(Char) == sizeof(wchar_t);

// Appends text of either width to the output, converting through the ANSI code page.
template <class Char>
void AppendNarrow(std::basic_string<Char>& out, std::string_view s) {
  if constexpr (kWideFormat<Char>) {
    out += WideFromAnsi(s);
  } else {
    out += s;
  }
}
template <class Char>
void AppendWide(std::basic_string<Char>& out, std::wstring_view s) {
  if constexpr (kWideFormat<Char>) {
    out += s;
  } else {
    out += AnsiFromWide(s);
  }
}

// Lays out prefix (sign, "0x") and body in the field: spaces before the prefix, or zeros
// between prefix and body when zero padding applies, or spaces after for left alignment.
template <class Char>
void Emit(std::basic_string<Char>& out, const FieldFormat& fmt_field, std::basic_string_view<Char> prefix,
          std::basic_string_view<Char> body) {
  size_t len = prefix.size() + body.size();
  size_t pad = fmt_field.width > 0 && static_cast<size_t>(fmt_field.width) > len ? fmt_field.width - len : 0;
  if (!fmt_field.left && !fmt_field.zero) out.append(pad, Char(' '));
  out += prefix;
  if (!fmt_field.left && fmt_field.zero) out.append(pad, Char('0'));
  out += body;
  if (fmt_field.left) out.append(pad, Char(' '));
}

template <class Char>
void EmitInteger(std::basic_string<Char>& out, FieldFormat fmt_field, char conv, uint64_t magnitude,
                 bool negative) {
  unsigned base = 10;
  if (conv == 'o') base = 8;
  if (conv == 'x' || conv == 'X' || conv == 'p') base = 16;
  const char* digits = (conv == 'X' || conv == 'p') ? "0123456789ABCDEF" : "0123456789abcdef";
  std::basic_string<Char> body;
  for (uint64_t v = magnitude; v != 0; v /= base) body.insert(body.begin(), Char(digits[v % base]));
  int precision = fmt_field.precision < 0 ? 1 : fmt_field.precision;
  if (fmt_field.precision >= 0) fmt_field.zero = false;
  if (body.size() < static_cast<size_t>(precision)) body.insert(0, precision - body.size(), Char('0'));
  std::basic_string<Char> prefix;
  if (conv == 'd' || conv == 'i') {
    if (negative) {
      prefix = Char('-');
    } else if (fmt_field.plus) {
      prefix = Char('+');
    } else if (fmt_field.space) {
      prefix = Char(' ');
    }
  } else if (fmt_field.alt && magnitude != 0 && (conv == 'x' || conv == 'X' || conv == 'p')) {
    prefix = Char('0');
    prefix += Char(conv == 'x' ? 'x' : 'X');
  } else if (fmt_field.alt && conv == 'o' && (body.empty() || body[0] != Char('0'))) {
    body.insert(body.begin(), Char('0'));
  }
  Emit<Char>(out, fmt_field, prefix, body);
}

template <class Char>
void EmitFloat(std::basic_string<Char>& out, const FieldFormat& fmt_field, char conv, double value) {
  char fmt[16];
  char* p = fmt;
  *p++ = '%';
  if (fmt_field.left) *p++ = '-';
  if (fmt_field.plus) *p++ = '+';
  if (fmt_field.space) *p++ = ' ';
  if (fmt_field.alt) *p++ = '#';
  if (fmt_field.zero) *p++ = '0';
  *p++ = '*';
  *p++ = '.';
  *p++ = '*';
  *p++ = conv;
  *p = '\0';
  int n = std::snprintf(nullptr, 0, fmt, fmt_field.width, fmt_field.precision, value);
  if (n < 0) return;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), fmt, fmt_field.width, fmt_field.precision, value);
  text.resize(static_cast<size_t>(n));
  AppendNarrow(out, text);
}

// Reads a signed integer argument of the given size; MS sizes (LLP64): "l" is 32 bits.
int64_t SignedArg(Size size, va_list args) {
  switch (size) {
    case Size::kChar: return static_cast<signed char>(va_arg(args, int));
    case Size::kShort: return static_cast<short>(va_arg(args, int));
    case Size::kLongLong: return va_arg(args, long long);
    case Size::kPointer: return va_arg(args, intptr_t);
    default: return va_arg(args, int);
  }
}
uint64_t UnsignedArg(Size size, va_list args) {
  switch (size) {
    case Size::kChar: return static_cast<unsigned char>(va_arg(args, unsigned));
    case Size::kShort: return static_cast<unsigned short>(va_arg(args, unsigned));
    case Size::kLongLong: return va_arg(args, unsigned long long);
    case Size::kPointer: return va_arg(args, uintptr_t);
    default: return va_arg(args, unsigned);
  }
}

template <class Char>
std::optional<std::basic_string<Char>> Format(const Char* format, va_list args) {
  if (format == nullptr) return std::nullopt;
  std::basic_string<Char> out;
  for (const Char* f = format; *f != Char(0); ++f) {
    if (*f != Char('%')) {
      out += *f;
      continue;
    }
    ++f;
    FieldFormat fmt_field;
    for (;; ++f) {
      if (*f == Char('-')) {
        fmt_field.left = true;
      } else if (*f == Char('+')) {
        fmt_field.plus = true;
      } else if (*f == Char(' ')) {
        fmt_field.space = true;
      } else if (*f == Char('#')) {
        fmt_field.alt = true;
      } else if (*f == Char('0')) {
        fmt_field.zero = true;
      } else {
        break;
      }
    }
    if (*f == Char('*')) {
      fmt_field.width = va_arg(args, int);
      if (fmt_field.width < 0) {
        fmt_field.left = true;
        fmt_field.width = fmt_field.width == INT_MIN ? INT_MAX : -fmt_field.width;
      }
      ++f;
    } else {
      while (*f >= Char('0') && *f <= Char('9')) {
        if (fmt_field.width > (INT_MAX - 9) / 10) return std::nullopt;
        fmt_field.width = fmt_field.width * 10 + (*f++ - Char('0'));
      }
    }
    if (*f == Char('.')) {
      ++f;
      fmt_field.precision = 0;
      if (*f == Char('*')) {
        fmt_field.precision = va_arg(args, int);
        if (fmt_field.precision < 0) fmt_field.precision = -1;
        ++f;
      } else {
        while (*f >= Char('0') && *f <= Char('9')) {
          if (fmt_field.precision > (INT_MAX - 9) / 10) return std::nullopt;
          fmt_field.precision = fmt_field.precision * 10 + (*f++ - Char('0'));
        }
      }
    }
    switch (*f) {
      case Char('h'):
        ++f;
        fmt_field.size = Size::kShort;
        if (*f == Char('h')) ++f, fmt_field.size = Size::kChar;
        break;
      case Char('l'):
        ++f;
        fmt_field.size = Size::kLong;
        if (*f == Char('l')) ++f, fmt_field.size = Size::kLongLong;
        break;
      case Char('L'): ++f, fmt_field.size = Size::kLongDouble; break;
      case Char('w'): ++f, fmt_field.size = Size::kWide; break;
      case Char('j'): ++f, fmt_field.size = Size::kLongLong; break;
      case Char('z'):
      case Char('t'): ++f, fmt_field.size = Size::kPointer; break;
      case Char('I'):
        ++f;
        if (f[0] == Char('6') && f[1] == Char('4')) {
          f += 2, fmt_field.size = Size::kLongLong;
        } else if (f[0] == Char('3') && f[1] == Char('2')) {
          f += 2, fmt_field.size = Size::kInt32;
        } else {
          fmt_field.size = Size::kPointer;
        }
        break;
      default: break;
    }
    const Char c = *f;
    if (c == Char(0)) return std::nullopt;
    switch (c) {
      case Char('%'): out += Char('%'); break;
      case Char('d'):
      case Char('i'): {
        int64_t v = SignedArg(fmt_field.size, args);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        EmitInteger(out, fmt_field, 'd', magnitude, v < 0);
        break;
      }
      case Char('u'):
      case Char('o'):
      case Char('x'):
      case Char('X'): EmitInteger(out, fmt_field, static_cast<char>(c), UnsignedArg(fmt_field.size, args), false); break;
      case Char('p'): {
        FieldFormat p = fmt_field;
        if (p.precision < 0) p.precision = 2 * sizeof(void*);
        EmitInteger(out, p, 'p', reinterpret_cast<uintptr_t>(va_arg(args, void*)), false);
        break;
      }
      case Char('e'):
      case Char('E'):
      case Char('f'):
      case Char('F'):
      case Char('g'):
      case Char('G'):
      case Char('a'):
      case Char('A'):
        // The Microsoft run-time's long double is double.
        EmitFloat(out, fmt_field, static_cast<char>(c), va_arg(args, double));
        break;
      case Char('c'):
      case Char('C'): {
        bool wide = fmt_field.size == Size::kLong || fmt_field.size == Size::kWide ||
                    (fmt_field.size != Size::kShort && ((c == Char('c')) == kWideFormat<Char>));
        unsigned value = va_arg(args, unsigned);
        std::basic_string<Char> body;
        if (wide) {
          wchar_t w = static_cast<wchar_t>(value);
          AppendWide(body, std::wstring_view(&w, 1));
        } else {
          char n = static_cast<char>(value);
          AppendNarrow(body, std::string_view(&n, 1));
        }
        Emit<Char>(out, fmt_field, {}, body);
        break;
      }
      case Char('s'):
      case Char('S'): {
        bool wide = fmt_field.size == Size::kLong || fmt_field.size == Size::kWide ||
                    (fmt_field.size != Size::kShort && ((c == Char('s')) == kWideFormat<Char>));
        std::basic_string<Char> body;
        const void* arg = va_arg(args, const void*);
        size_t limit = fmt_field.precision < 0 ? SIZE_MAX : static_cast<size_t>(fmt_field.precision);
        if (arg == nullptr) {
          std::string_view null_text = "(null)";
          AppendNarrow(body, null_text.substr(0, std::min(limit, null_text.size())));
        } else if (wide) {
          auto s = static_cast<const wchar_t*>(arg);
          size_t n = 0;
          while (n < limit && s[n] != L'\0') ++n;
          AppendWide(body, std::wstring_view(s, n));
        } else {
          auto s = static_cast<const char*>(arg);
          size_t n = 0;
          while (n < limit && s[n] != '\0') ++n;
          AppendNarrow(body, std::string_view(s, n));
        }
        Emit<Char>(out, fmt_field, {}, body);
        break;
      }
      default: return std::nullopt;  // "%n" included: the run-time refuses it too.
    }
  }
  return out;
}

}  // namespace

std::optional<std::wstring> FormatWide(const wchar_t* format, va_list args) {
  return Format<wchar_t>(format, args);
}

std::optional<std::string> FormatNarrow(const char* format, va_list args) {
  return Format<char>(format, args);
}

}  // namespace pal
