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

struct Spec {
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
void Emit(std::basic_string<Char>& out, const Spec& spec, std::basic_string_view<Char> prefix,
          std::basic_string_view<Char> body) {
  size_t len = prefix.size() + body.size();
  size_t pad = spec.width > 0 && static_cast<size_t>(spec.width) > len ? spec.width - len : 0;
  if (!spec.left && !spec.zero) out.append(pad, Char(' '));
  out += prefix;
  if (!spec.left && spec.zero) out.append(pad, Char('0'));
  out += body;
  if (spec.left) out.append(pad, Char(' '));
}

template <class Char>
void EmitInteger(std::basic_string<Char>& out, Spec spec, char conv, uint64_t magnitude,
                 bool negative) {
  unsigned base = 10;
  if (conv == 'o') base = 8;
  if (conv == 'x' || conv == 'X' || conv == 'p') base = 16;
  const char* digits = (conv == 'X' || conv == 'p') ? "0123456789ABCDEF" : "0123456789abcdef";
  std::basic_string<Char> body;
  for (uint64_t v = magnitude; v != 0; v /= base) body.insert(body.begin(), Char(digits[v % base]));
  int precision = spec.precision < 0 ? 1 : spec.precision;
  if (spec.precision >= 0) spec.zero = false;
  if (body.size() < static_cast<size_t>(precision)) body.insert(0, precision - body.size(), Char('0'));
  std::basic_string<Char> prefix;
  if (conv == 'd' || conv == 'i') {
    if (negative) {
      prefix = Char('-');
    } else if (spec.plus) {
      prefix = Char('+');
    } else if (spec.space) {
      prefix = Char(' ');
    }
  } else if (spec.alt && magnitude != 0 && (conv == 'x' || conv == 'X' || conv == 'p')) {
    prefix = Char('0');
    prefix += Char(conv == 'x' ? 'x' : 'X');
  } else if (spec.alt && conv == 'o' && (body.empty() || body[0] != Char('0'))) {
    body.insert(body.begin(), Char('0'));
  }
  Emit<Char>(out, spec, prefix, body);
}

template <class Char>
void EmitFloat(std::basic_string<Char>& out, const Spec& spec, char conv, double value) {
  char fmt[16];
  char* p = fmt;
  *p++ = '%';
  if (spec.left) *p++ = '-';
  if (spec.plus) *p++ = '+';
  if (spec.space) *p++ = ' ';
  if (spec.alt) *p++ = '#';
  if (spec.zero) *p++ = '0';
  *p++ = '*';
  *p++ = '.';
  *p++ = '*';
  *p++ = conv;
  *p = '\0';
  int n = std::snprintf(nullptr, 0, fmt, spec.width, spec.precision, value);
  if (n < 0) return;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), fmt, spec.width, spec.precision, value);
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
    Spec spec;
    for (;; ++f) {
      if (*f == Char('-')) {
        spec.left = true;
      } else if (*f == Char('+')) {
        spec.plus = true;
      } else if (*f == Char(' ')) {
        spec.space = true;
      } else if (*f == Char('#')) {
        spec.alt = true;
      } else if (*f == Char('0')) {
        spec.zero = true;
      } else {
        break;
      }
    }
    if (*f == Char('*')) {
      spec.width = va_arg(args, int);
      if (spec.width < 0) {
        spec.left = true;
        spec.width = spec.width == INT_MIN ? INT_MAX : -spec.width;
      }
      ++f;
    } else {
      while (*f >= Char('0') && *f <= Char('9')) {
        if (spec.width > (INT_MAX - 9) / 10) return std::nullopt;
        spec.width = spec.width * 10 + (*f++ - Char('0'));
      }
    }
    if (*f == Char('.')) {
      ++f;
      spec.precision = 0;
      if (*f == Char('*')) {
        spec.precision = va_arg(args, int);
        if (spec.precision < 0) spec.precision = -1;
        ++f;
      } else {
        while (*f >= Char('0') && *f <= Char('9')) {
          if (spec.precision > (INT_MAX - 9) / 10) return std::nullopt;
          spec.precision = spec.precision * 10 + (*f++ - Char('0'));
        }
      }
    }
    switch (*f) {
      case Char('h'):
        ++f;
        spec.size = Size::kShort;
        if (*f == Char('h')) ++f, spec.size = Size::kChar;
        break;
      case Char('l'):
        ++f;
        spec.size = Size::kLong;
        if (*f == Char('l')) ++f, spec.size = Size::kLongLong;
        break;
      case Char('L'): ++f, spec.size = Size::kLongDouble; break;
      case Char('w'): ++f, spec.size = Size::kWide; break;
      case Char('j'): ++f, spec.size = Size::kLongLong; break;
      case Char('z'):
      case Char('t'): ++f, spec.size = Size::kPointer; break;
      case Char('I'):
        ++f;
        if (f[0] == Char('6') && f[1] == Char('4')) {
          f += 2, spec.size = Size::kLongLong;
        } else if (f[0] == Char('3') && f[1] == Char('2')) {
          f += 2, spec.size = Size::kInt32;
        } else {
          spec.size = Size::kPointer;
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
        int64_t v = SignedArg(spec.size, args);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        EmitInteger(out, spec, 'd', magnitude, v < 0);
        break;
      }
      case Char('u'):
      case Char('o'):
      case Char('x'):
      case Char('X'): EmitInteger(out, spec, static_cast<char>(c), UnsignedArg(spec.size, args), false); break;
      case Char('p'): {
        Spec p = spec;
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
        EmitFloat(out, spec, static_cast<char>(c), va_arg(args, double));
        break;
      case Char('c'):
      case Char('C'): {
        bool wide = spec.size == Size::kLong || spec.size == Size::kWide ||
                    (spec.size != Size::kShort && ((c == Char('c')) == kWideFormat<Char>));
        unsigned value = va_arg(args, unsigned);
        std::basic_string<Char> body;
        if (wide) {
          wchar_t w = static_cast<wchar_t>(value);
          AppendWide(body, std::wstring_view(&w, 1));
        } else {
          char n = static_cast<char>(value);
          AppendNarrow(body, std::string_view(&n, 1));
        }
        Emit<Char>(out, spec, {}, body);
        break;
      }
      case Char('s'):
      case Char('S'): {
        bool wide = spec.size == Size::kLong || spec.size == Size::kWide ||
                    (spec.size != Size::kShort && ((c == Char('s')) == kWideFormat<Char>));
        std::basic_string<Char> body;
        const void* arg = va_arg(args, const void*);
        size_t limit = spec.precision < 0 ? SIZE_MAX : static_cast<size_t>(spec.precision);
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
        Emit<Char>(out, spec, {}, body);
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
