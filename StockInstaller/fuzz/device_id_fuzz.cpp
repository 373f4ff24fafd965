// The model out of any device ID, which need not be terminated.
#include <cstdint>
#include <cstring>

#include "PrinterChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char model[MAX_PATH];
  DWORD length = 0;
  if (ExtractModel(reinterpret_cast<const char*>(data), static_cast<DWORD>(size), model, sizeof model, &length)) {
    if (length == 0 || length >= MAX_PATH || std::strlen(model) != length) __builtin_trap();
  }
  return 0;
}
