#include <cstdio>
#include <cstdlib>

#include "pal/errors.h"
#include "system_values.h"

namespace pal {
namespace {

constexpr DWORD kErrorBadArguments = 160;

// The bit index of each type in the condition mask, three bits per type.
int ConditionShift(DWORD type) {
  for (int i = 0; i < 8; ++i) {
    if (type & (1u << i)) return i * 3;
  }
  return -1;
}

BYTE ConditionOf(ULONGLONG mask, DWORD type) {
  return static_cast<BYTE>((mask >> ConditionShift(type)) & 7);
}

bool Holds(BYTE condition, long long running, long long wanted) {
  switch (condition) {
    case VER_EQUAL: return running == wanted;
    case VER_GREATER: return running > wanted;
    case VER_GREATER_EQUAL: return running >= wanted;
    case VER_LESS: return running < wanted;
    case VER_LESS_EQUAL: return running <= wanted;
    default: return false;
  }
}

}  // namespace

std::optional<WindowsVersion> ParseWindowsVersion(std::string_view text) {
  unsigned major = 0;
  unsigned minor = 0;
  char tail = 0;
  std::string s(text);
  if (std::sscanf(s.c_str(), "%u.%u%c", &major, &minor, &tail) != 2) return std::nullopt;
  WindowsVersion v;
  v.major = major;
  v.minor = minor;
  if (major == 6 && minor == 0) {
    v.build = 6002;
  } else if (major == 6 && minor == 1) {
    v.build = 7601;
  } else if (major == 6 && minor == 2) {
    v.build = 9200;
  } else if (major == 6 && minor == 3) {
    v.build = 9600;
  } else if (major == 10 && minor == 0) {
    v.build = 19045;
  } else {
    v.build = 0;
  }
  return v;
}

DWORD VerifyVersion(const WindowsVersion& running, const OSVERSIONINFOEXW& want, DWORD type_mask,
                    ULONGLONG condition_mask) {
  if (type_mask == 0) return kErrorBadArguments;
  for (DWORD type = 1; type <= VER_PRODUCT_TYPE; type <<= 1) {
    if ((type_mask & type) && ConditionOf(condition_mask, type) == 0) return kErrorBadArguments;
  }
  // Major, minor and service pack form one version number: the first part that differs
  // decides, under that part's condition; when all are equal, the last one's condition
  // decides on equality.
  const DWORD kParts[4] = {VER_MAJORVERSION, VER_MINORVERSION, VER_SERVICEPACKMAJOR, VER_SERVICEPACKMINOR};
  const long long have[4] = {running.major, running.minor, running.service_pack_major,
                             running.service_pack_minor};
  const long long wanted[4] = {want.dwMajorVersion, want.dwMinorVersion, want.wServicePackMajor,
                               want.wServicePackMinor};
  int last = -1;
  bool decided = false;
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    if (!(type_mask & kParts[i])) continue;
    last = i;
    if (have[i] != wanted[i]) {
      ok = Holds(ConditionOf(condition_mask, kParts[i]), have[i], wanted[i]);
      decided = true;
      break;
    }
  }
  if (!decided && last >= 0) ok = Holds(ConditionOf(condition_mask, kParts[last]), 0, 0);
  if (ok && (type_mask & VER_BUILDNUMBER)) {
    ok = Holds(ConditionOf(condition_mask, VER_BUILDNUMBER), running.build, want.dwBuildNumber);
  }
  if (ok && (type_mask & VER_PLATFORMID)) {
    ok = Holds(ConditionOf(condition_mask, VER_PLATFORMID), VER_PLATFORM_WIN32_NT, want.dwPlatformId);
  }
  if (ok && (type_mask & VER_PRODUCT_TYPE)) {
    ok = Holds(ConditionOf(condition_mask, VER_PRODUCT_TYPE), VER_NT_WORKSTATION, want.wProductType);
  }
  return ok ? ERROR_SUCCESS : ERROR_OLD_WIN_VERSION;
}

LONG ParseEnvNumber(const char* text, LONG fallback) {
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  long v = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return fallback;
  return static_cast<LONG>(v);
}

GUID GuidFromBytes(const unsigned char b[16]) {
  GUID g{};
  g.Data1 = (DWORD{b[0]} << 24) | (DWORD{b[1]} << 16) | (DWORD{b[2]} << 8) | b[3];
  g.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
  g.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
  return g;
}

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::optional<GUID> ParseGuidText(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  unsigned char bytes[16];
  size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[pos++];
      int d = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : -1;
      if (d < 0) return std::nullopt;
      value = value * 16 + d;
    }
    bytes[i] = static_cast<unsigned char>(value);
  }
  return GuidFromBytes(bytes);
}

}  // namespace pal

ULONGLONG WINAPI VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition) {
  int shift = pal::ConditionShift(TypeMask);
  if (shift < 0 || (Condition & 7) == 0) return ConditionMask;
  return ConditionMask | (static_cast<ULONGLONG>(Condition & 7) << shift);
}
