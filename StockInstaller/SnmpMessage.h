// Commands to the printer travel on the SNMP channel kind inside a version 1 GetRequest:
// the object identifier below the printers' private status table carries the command bytes,
// one sub-identifier per byte, and the reply comes back as the value of the response.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

// The read-only community every SNMP agent answers by default.
inline constexpr char kSnmpCommunity[] = "public";
// Private enterprise number of the printers' maker (two identifier bytes in base 128).
inline constexpr DWORD kPrinterEnterpriseNumber = 9377;
// The identifier up to the command bytes: 1.3.6.1.4.1.<enterprise>.1.2.2.44.1.1.2.1
inline constexpr DWORD kStatusOidTail[] = {1, 2, 2, 44, 1, 1, 2, 1};

// The GetRequest for the command bytes, in BER with definite lengths.
std::vector<BYTE> BuildSnmpRequest(const BYTE* command, DWORD commandLength);

// The reply data in a received response: found after the identifier bytes of the command,
// skipping the value's first byte, up to the end of the received bytes. Returns FALSE
// (nothing found) for any layout that does not fit the received bytes.
BOOL ExtractSnmpValue(const BYTE* command, DWORD commandLength, const BYTE* received, DWORD receivedLength,
                      const BYTE** data, DWORD* dataLength);
