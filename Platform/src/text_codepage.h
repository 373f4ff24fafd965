// The code pages of the layer, as pure functions: Windows-1252 (the ANSI code page) and
// UTF-8 against wide (UTF-32) text.
#pragma once

#include <string>
#include <string_view>

#include "pal/base.h"

namespace pal {

inline constexpr UINT kAnsiCodePage = 1252;

// One wide character in 1252, or -1 when the code page lacks it.
int AnsiByteFromWide(wchar_t c);
wchar_t WideFromAnsiByte(unsigned char b);

// Whole-string conversions through the ANSI code page; unmappable characters become '?'.
std::string AnsiFromWide(std::wstring_view wide, bool* used_default = nullptr);
std::wstring WideFromAnsi(std::string_view ansi);

// Case folding used by the case-insensitive comparisons: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters (enough for the texts of a Western code page).
wchar_t FoldCase(wchar_t c);

}  // namespace pal
