// OS-free answers of the system calls: the emulated Windows version and its comparison,
// numbers from the environment, UUID layout and text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pal/system.h"
#include "rpc.h"

namespace pal {

inline constexpr GEOID kDefaultGeoId = 244;     // United States
inline constexpr LONG kDefaultLangId = 1033;    // English (United States)

struct WindowsVersion {
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 19045;
  WORD service_pack_major = 0;
  WORD service_pack_minor = 0;
};

// "major.minor" (e.g. "6.1"); nullopt for anything else.
std::optional<WindowsVersion> ParseWindowsVersion(std::string_view text);
// PAL_WINVER or 10.0.
WindowsVersion EmulatedWindowsVersion();

// ERROR_SUCCESS when the running version satisfies the request, ERROR_OLD_WIN_VERSION when
// not, ERROR_BAD_ARGUMENTS (160) for an empty type mask or a type without condition.
DWORD VerifyVersion(const WindowsVersion& running, const OSVERSIONINFOEXW& want, DWORD type_mask,
                    ULONGLONG condition_mask);

// A decimal or 0x-hexadecimal number; `fallback` when absent or malformed.
LONG ParseEnvNumber(const char* text, LONG fallback);

GUID GuidFromBytes(const unsigned char bytes[16]);
std::string GuidText(const GUID& guid);  // lower case, 8-4-4-4-12
std::optional<GUID> ParseGuidText(std::string_view text);

}  // namespace pal
