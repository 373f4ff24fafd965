// The printer's ST2 status reply: "@BDC ST2\r\n", a 16-bit little-endian field area length,
// then fields of a type byte, a length byte and that many data bytes.
#pragma once

#include <windows.h>

// The printer's 10-byte identity (field 0x40).
struct PrinterIdentity {
  BYTE head[8];
  BYTE tail[2];
};

struct St2Status {
  LONG status = -1;  // field 0x01; 4 is ready
  PrinterIdentity identity = {};
  BOOL identityPresent = FALSE;
};

// Parses the first status reply found in the received bytes. Fails for anything that does
// not fit: too short, no header, an area longer than what follows, a field running past
// the end of the bytes. Reads nothing outside bytes[0, length).
BOOL ParseSt2Status(const BYTE* bytes, DWORD length, St2Status* out);
