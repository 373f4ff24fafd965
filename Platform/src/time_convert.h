// Calendar arithmetic between SYSTEMTIME and FILETIME, OS-free.
#pragma once

#include <cstdint>
#include <optional>

#include "pal/base.h"

namespace pal {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

std::optional<uint64_t> FileTimeFromSystemTime(const SYSTEMTIME& st);
// Fails from 0x8000000000000000 on, as Windows does.
std::optional<SYSTEMTIME> SystemTimeFromFileTime(uint64_t ticks);

inline uint64_t ToTicks(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME FromTicks(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace pal
