// Drives a fuzz entry point without libFuzzer: seeds of the parsers' shapes, then random
// mutations of them (splices, bit flips, cuts, repeated bytes), each input in a buffer of
// exactly its size so that the address sanitizer sees every read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> Seeds() {
  auto of = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  return {
      {},
      of("@BDC ST2\r\n\x10\x00\x01\x01\x04\x40\x0a" "0123456789\x35\x01\x00"),
      of("@BDC ST2\r\n\x00\x00\x00"),
      of("MFG:NORVANTE;MDL:TQ770;CLS:PRINTER;"),
      of("\x02\x61\x70\x30\x2e\x02\x01\x00\x04\x06public\xa2\x21\x06\x11\x2b\x06\x01\x04\x01\xc9\x21\x01\x02"
         "\x02\x2c\x01\x01\x02\x01\x61\x70\x04\x81\x05\x01OK;ab"),
  };
}

void Run(const std::vector<uint8_t>& input) {
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.size() == 0 ? 1 : input.size()));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

}  // namespace

int main(int argc, char** argv) {
  const long runs = argc > 1 ? std::atol(argv[1]) : 10000;
  std::mt19937 random(12345);
  std::vector<std::vector<uint8_t>> pool = Seeds();
  for (const auto& seed : pool) Run(seed);
  for (long i = 0; i < runs; ++i) {
    std::vector<uint8_t> input = pool[random() % pool.size()];
    int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
      switch (random() % 6) {
        case 0:
          if (!input.empty()) input[random() % input.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        case 1:
          if (!input.empty()) input[random() % input.size()] = static_cast<uint8_t>(random());
          break;
        case 2:
          if (!input.empty()) input.resize(random() % input.size());
          break;
        case 3:
          input.insert(input.begin() + static_cast<long>(input.empty() ? 0 : random() % input.size()),
                       1 + random() % 300, static_cast<uint8_t>(random()));
          break;
        case 4: {
          const auto& other = pool[random() % pool.size()];
          input.insert(input.end(), other.begin(), other.end());
          break;
        }
        default:
          if (!input.empty()) input.erase(input.begin() + static_cast<long>(random() % input.size()));
      }
    }
    Run(input);
    if (pool.size() < 64 && random() % 16 == 0) pool.push_back(input);
  }
  std::printf("%ld inputs run\n", runs);
  return 0;
}
