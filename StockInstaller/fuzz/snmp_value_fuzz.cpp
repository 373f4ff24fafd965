// ExtractSnmpValue on any received bytes; the first bytes choose the command.
#include <cstdint>
#include <cstring>

#include "SnmpMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t command_length = data[0] % 40;
  if (command_length + 1 > size) return 0;
  const BYTE* command = data + 1;
  const BYTE* received = data + 1 + command_length;
  DWORD received_length = static_cast<DWORD>(size - 1 - command_length);
  const BYTE* value = nullptr;
  DWORD value_length = 0;
  if (ExtractSnmpValue(command, static_cast<DWORD>(command_length), received, received_length, &value, &value_length)) {
    if (value < received || value + value_length > received + received_length || value_length == 0) __builtin_trap();
    volatile BYTE sink = 0;
    for (DWORD i = 0; i < value_length; ++i) sink = sink ^ value[i];
  }
  return 0;
}
