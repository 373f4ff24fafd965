// The driver's binary resource file, whose media table (identifier 3000) maps a base media
// number to the driver's element ID of that media.
#pragma once

#include <windows.h>

class BinaryResource {
 public:
  BinaryResource() = default;
  virtual ~BinaryResource() { Free(); }
  BinaryResource(const BinaryResource&) = delete;
  BinaryResource& operator=(const BinaryResource&) = delete;

  // Reads the file named by [DependDrvInfo] BinaryResFileID000 of the driver's data file,
  // in the data file's folder. FALSE (and nothing kept) when any of that fails.
  BOOL Load(HANDLE in_hPrinter);
  // Keeps a copy of the bytes as the resource, with the header's mode flags.
  BOOL LoadBytes(const BYTE* in_pBytes, DWORD in_nSize);
  void Free();

  BYTE* pData = nullptr;
  DWORD nSize = 0;
  BOOL bValueAt52 = FALSE;
  BOOL bValueAt18 = FALSE;
};

// Whether the resource's directory holds the media table within the loaded bytes.
BOOL HasMediaTable(const BinaryResource& in_resource);

// The element ID (16 bits) of the media table's first element whose base number has the low
// 16 bits of in_nBaseMediaId (999 never matches), or -1. Whatever lies outside the loaded
// bytes is no match.
INT ConvertBaseMediaId(const BinaryResource& in_resource, INT in_nBaseMediaId);

// A number written as text in at most 30 bytes (stopping at the end of in_nLength): "-" for
// negative decimal, "0x"/"0X" for hexadecimal, else decimal after one optional "+".
INT ParseNumberText(const char* in_pszText, DWORD in_nLength);
