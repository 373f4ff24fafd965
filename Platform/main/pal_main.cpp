// The entry of every program: the host passes UTF-8 arguments; the programs are written
// against the wide entry point, as Windows console programs built for Unicode are.
#include <string>
#include <vector>

#include "machine.h"

int wmain(int argc, wchar_t** argv);

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(pal::FromUtf8(argv[i]));
  std::vector<wchar_t*> wide;
  wide.reserve(args.size() + 1);
  for (std::wstring& a : args) wide.push_back(a.data());
  wide.push_back(nullptr);
  return wmain(argc, wide.data());
}
