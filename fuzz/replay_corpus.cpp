// Drives a fuzz entry point without libFuzzer (gcc and sanitizer builds): every file of the
// target's stored corpus, then random mutations of them (bit flips, cuts, inserted runs,
// splices), each input in an allocation of exactly its size so the address sanitizer sees any
// read past it. Usage: <target> <corpus folder> [mutations]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

void Run(const Bytes& input) {
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.empty() ? 1 : input.size()));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <corpus folder> [mutations]\n", argv[0]);
    return 2;
  }
  std::vector<Bytes> pool{{}};
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    pool.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (pool.size() < 2) {
    std::fprintf(stderr, "no corpus in %s\n", argv[1]);
    return 2;
  }
  const size_t stored = pool.size();
  for (const Bytes& input : pool) Run(input);

  const long runs = argc > 2 ? std::atol(argv[2]) : 5000;
  std::mt19937 random(20261211);
  for (long i = 0; i < runs; ++i) {
    Bytes input = pool[random() % pool.size()];
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
      const size_t at = input.empty() ? 0 : random() % input.size();
      switch (random() % 5) {
        case 0:
          if (!input.empty()) input[at] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        case 1:
          if (!input.empty()) input[at] = static_cast<uint8_t>(random());
          break;
        case 2:
          input.resize(at);
          break;
        case 3:
          input.insert(input.begin() + static_cast<long>(at), 1 + random() % 64,
                       static_cast<uint8_t>(random()));
          break;
        default: {
          const Bytes& other = pool[random() % pool.size()];
          input.insert(input.begin() + static_cast<long>(at), other.begin(), other.end());
        }
      }
    }
    if (input.size() > 8192) input.resize(8192);
    Run(input);
    if (pool.size() < stored + 64 && random() % 16 == 0) pool.push_back(input);
  }
  std::printf("%zu stored inputs and %ld mutations run\n", stored - 1, runs);
  return 0;
}
