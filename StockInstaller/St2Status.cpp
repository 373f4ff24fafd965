#include "St2Status.h"

#include <cstring>

BOOL ParseSt2Status(const BYTE* bytes, DWORD length, St2Status* out) {
  static const BYTE kHeader[] = {'@', 'B', 'D', 'C', ' ', 'S', 'T', '2', '\r', '\n'};
  if (bytes == nullptr || out == nullptr) return FALSE;
  *out = St2Status();
  if (length <= 12) return FALSE;
  DWORD header = length;
  for (DWORD i = 0; i + sizeof kHeader <= length; ++i) {
    if (bytes[i] == '@' && std::memcmp(bytes + i, kHeader, sizeof kHeader) == 0) {
      header = i;
      break;
    }
  }
  if (header == length) return FALSE;
  const DWORD area_length_at = header + sizeof kHeader;
  if (length - area_length_at <= 2) return FALSE;
  const DWORD area = bytes[area_length_at] | (bytes[area_length_at + 1] << 8);
  const DWORD first = area_length_at + 2;
  if (area > length - first) return FALSE;
  if (area < 2) return TRUE;
  const DWORD end = first + area;
  for (DWORD i = first; i + 2 <= end;) {
    const BYTE type = bytes[i];
    const DWORD size = bytes[i + 1];
    if (size > length - (i + 2)) return FALSE;
    const BYTE* data = bytes + i + 2;
    if (type == 0x01 && size >= 1) {
      out->status = data[0];
    } else if (type == 0x40 && size == 10) {
      std::memcpy(out->identity.head, data, 8);
      std::memcpy(out->identity.tail, data + 8, 2);
      out->identityPresent = TRUE;
    }
    i += 2 + size;
  }
  return TRUE;
}
