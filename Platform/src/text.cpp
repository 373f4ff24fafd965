// Code page conversions with Windows' contract.
#include <algorithm>
#include <cstring>
#include <string>

#include "pal/errors.h"
#include "pal/text.h"
#include "text_codepage.h"

namespace pal {
namespace {

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined map to the C1
// control with the same number, as Windows' own table does.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr wchar_t kReplacement = 0xFFFD;

bool IsScalar(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes UTF-8; each maximal invalid subpart becomes one U+FFFD. Returns false when
// anything was invalid.
bool DecodeUtf8(std::string_view in, std::wstring& out) {
  bool valid = true;
  size_t i = 0;
  while (i < in.size()) {
    auto b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int len = 0;
    uint32_t c = 0;
    uint32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, c = b & 0x07, min = 0x10000;
    }
    if (len == 0) {
      out.push_back(kReplacement);
      valid = false;
      ++i;
      continue;
    }
    int got = 1;
    while (got < len && i + got < in.size()) {
      auto cont = static_cast<unsigned char>(in[i + got]);
      if ((cont & 0xC0) != 0x80) break;
      uint32_t next = (c << 6) | (cont & 0x3F);
      // Reject overlong forms, surrogates and values beyond U+10FFFF at the earliest byte.
      if (got == 1 && ((len == 3 && next < (0x800 >> 6)) || (len == 4 && next < (0x10000 >> 12)) ||
                       (len == 3 && next >= (0xD800 >> 6) && next <= (0xDFFF >> 6)) ||
                       (len == 4 && next > (0x10FFFF >> 12)))) {
        break;
      }
      c = next;
      ++got;
    }
    if (got == len && c >= min && IsScalar(c)) {
      out.push_back(static_cast<wchar_t>(c));
    } else {
      out.push_back(kReplacement);
      valid = false;
    }
    i += got;
  }
  return valid;
}

bool IsAnsi(UINT code_page) {
  return code_page == CP_ACP || code_page == CP_OEMCP || code_page == CP_THREAD_ACP ||
         code_page == kAnsiCodePage;
}

}  // namespace

int AnsiByteFromWide(wchar_t c) {
  auto u = static_cast<uint32_t>(c);
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == u) return 0x80 + i;
  }
  return -1;
}

wchar_t WideFromAnsiByte(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return static_cast<wchar_t>(kHigh1252[b - 0x80]);
  return static_cast<wchar_t>(b);
}

std::string AnsiFromWide(std::wstring_view wide, bool* used_default) {
  std::string out;
  out.reserve(wide.size());
  bool used = false;
  for (wchar_t c : wide) {
    int b = AnsiByteFromWide(c);
    if (b < 0) {
      used = true;
      b = '?';
    }
    out.push_back(static_cast<char>(b));
  }
  if (used_default != nullptr) *used_default = used;
  return out;
}

std::wstring WideFromAnsi(std::string_view ansi) {
  std::wstring out;
  out.reserve(ansi.size());
  for (char c : ansi) out.push_back(WideFromAnsiByte(static_cast<unsigned char>(c)));
  return out;
}

wchar_t FoldCase(wchar_t c) {
  auto u = static_cast<uint32_t>(c);
  if (u < 0x80) return (u >= 'A' && u <= 'Z') ? static_cast<wchar_t>(u + 32) : c;
  if ((u >= 0xC0 && u <= 0xDE && u != 0xD7)) return static_cast<wchar_t>(u + 32);
  if (u == 0x178) return 0xFF;
  if (u >= 0x100 && u <= 0x17F) {
    // Latin Extended-A pairs upper/lower on even/odd, except the run 0x139..0x148 and
    // 0x179..0x17E, which pair odd/even.
    bool odd_upper = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
    if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return c;
    if (odd_upper) return (u & 1) ? static_cast<wchar_t>(u + 1) : c;
    return (u & 1) ? c : static_cast<wchar_t>(u + 1);
  }
  if (u >= 0x391 && u <= 0x3AB && u != 0x3A2) return static_cast<wchar_t>(u + 32);
  if (u >= 0x410 && u <= 0x42F) return static_cast<wchar_t>(u + 32);
  if (u >= 0x400 && u <= 0x40F) return static_cast<wchar_t>(u + 80);
  return c;
}

}  // namespace pal

UINT WINAPI GetACP() { return pal::kAnsiCodePage; }
// There is no separate OEM table: console programs here see the ANSI code page.
UINT WINAPI GetOEMCP() { return pal::kAnsiCodePage; }

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
      (lpMultiByteStr != nullptr && static_cast<const void*>(lpMultiByteStr) ==
                                        static_cast<const void*>(lpWideCharStr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring_view in = cchWideChar == -1
                             ? std::wstring_view(lpWideCharStr, wcslen(lpWideCharStr) + 1)
                             : std::wstring_view(lpWideCharStr, static_cast<size_t>(cchWideChar));
  std::string out;
  if (CodePage == CP_UTF8) {
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    for (wchar_t c : in) {
      auto u = static_cast<uint32_t>(c);
      if (!pal::IsScalar(u)) {
        if (dwFlags & WC_ERR_INVALID_CHARS) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        u = pal::kReplacement;
      }
      pal::AppendUtf8(u, out);
    }
  } else if (pal::IsAnsi(CodePage)) {
    char default_char = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
    bool used = false;
    for (wchar_t c : in) {
      int b = pal::AnsiByteFromWide(c);
      if (b < 0) {
        used = true;
        b = static_cast<unsigned char>(default_char);
      }
      out.push_back(static_cast<char>(b));
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used ? TRUE : FALSE;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), lpMultiByteStr);
  return static_cast<int>(out.size());
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string_view in = cbMultiByte == -1
                            ? std::string_view(lpMultiByteStr, strlen(lpMultiByteStr) + 1)
                            : std::string_view(lpMultiByteStr, static_cast<size_t>(cbMultiByte));
  std::wstring out;
  if (CodePage == CP_UTF8) {
    if ((dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (!pal::DecodeUtf8(in, out) && (dwFlags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else if (pal::IsAnsi(CodePage)) {
    out = pal::WideFromAnsi(in);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), lpWideCharStr);
  return static_cast<int>(out.size());
}
