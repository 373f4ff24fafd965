// Fuzz target for the command-line rules CreateProcessW and CommandLineToArgvW follow: any
// line splits without reading past it, and joining the split arguments gives a line that
// splits back into exactly them (what a parent relies on when it passes arguments on).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes per character, so that the quote, backslash and blank meet any other
  // character, including NUL and those beyond the basic plane's first page.
  std::wstring line;
  for (size_t i = 0; i + 1 < size; i += 2) line += static_cast<wchar_t>(data[i] | data[i + 1] << 8);

  const std::vector<std::wstring> args = pal::SplitCommandLine(line);
  Check(!args.empty());
  for (const std::wstring& arg : args) Check(arg.size() <= line.size());
  // The program name keeps no quotes: they only group.
  Check(args[0].find(L'"') == std::wstring::npos);

  const std::wstring joined = pal::JoinCommandLine(args);
  Check(pal::SplitCommandLine(joined) == args);

  // Arguments taken from the input directly (blanks, quotes and backslashes at any place)
  // survive a join and a split as well.
  std::vector<std::wstring> chosen{L"prog"};
  std::wstring current;
  for (wchar_t c : line) {
    if (c == L'\n') {
      chosen.push_back(current);
      current.clear();
    } else if (c != L'\0') {
      current += c;
    }
  }
  chosen.push_back(current);
  Check(pal::SplitCommandLine(pal::JoinCommandLine(chosen)) == chosen);
  return 0;
}
