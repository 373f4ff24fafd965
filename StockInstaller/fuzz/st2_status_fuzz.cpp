// ParseSt2Status on any reply.
#include <cstdint>

#include "St2Status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  St2Status status;
  if (ParseSt2Status(data, static_cast<DWORD>(size), &status) && status.status > 255) __builtin_trap();
  return 0;
}
