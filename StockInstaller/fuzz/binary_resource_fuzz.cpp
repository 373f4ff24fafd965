// ConvertBaseMediaId on resource files shaped from the input, so that random bytes reach the
// media table: the first 15 bytes give the base number asked for, the header's flags and
// directory count, the media table entry's element size, count and first offset, and a cut;
// the rest follows the directory as element bytes. The file is put into a buffer of its exact
// size, so any read beyond it is caught by the address sanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "BinaryResource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 15) return 0;
  const INT base = data[0] | data[1] << 8;
  std::vector<uint8_t> file(60, 0);
  file[2] = data[3] % 4;       // directory entries the header counts
  file[4] = data[2];           // mode flags
  const int32_t id = 3000;
  std::memcpy(&file[32], &id, 4);
  std::memcpy(&file[40], data + 4, 4);   // element size
  std::memcpy(&file[44], data + 8, 2);   // element count
  uint32_t first = data[10] | data[11] << 8;
  if (data[12] & 1) first |= static_cast<uint32_t>(data[13]) << 24;
  std::memcpy(&file[48], &first, 4);
  file.insert(file.end(), data + 15, data + size);
  file.resize(file.size() - data[14] % (file.size() + 1));

  BinaryResource resource;
  if (file.empty() || !resource.LoadBytes(file.data(), static_cast<DWORD>(file.size()))) return 0;
  const INT result = ConvertBaseMediaId(resource, base);
  if (result < -1 || result > 0xFFFF) __builtin_trap();
  return 0;
}
