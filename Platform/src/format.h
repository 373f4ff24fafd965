// The one formatter behind the layer's printf family, with the Microsoft run-time's
// conventions (see pal/text.h). OS-free.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>

namespace pal {

// The formatted text, or nullopt for a malformed format (an unknown conversion, a dangling
// '%'), which the run-time reports as an invalid parameter.
std::optional<std::wstring> FormatWide(const wchar_t* format, va_list args);
std::optional<std::string> FormatNarrow(const char* format, va_list args);

}  // namespace pal
