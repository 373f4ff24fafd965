#include "cmdline.h"

namespace pal {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t n = line.size();
  // The program name: quotes group, nothing is escaped.
  {
    std::wstring program;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      if (line[i] == L'"') {
        quoted = !quoted;
      } else {
        program += line[i];
      }
      ++i;
    }
    args.push_back(std::move(program));
  }
  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      if (line[i] == L'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == L'\\') ++slashes, ++i;
        if (i < n && line[i] == L'"') {
          arg.append(slashes / 2, L'\\');
          if (slashes % 2 == 1) {
            arg += L'"';
            ++i;
          }
          // An even run leaves the quote to the code below.
        } else {
          arg.append(slashes, L'\\');
        }
        continue;
      }
      if (line[i] == L'"') {
        if (quoted && i + 1 < n && line[i + 1] == L'"') {
          arg += L'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::wstring QuoteArgument(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring_view::npos) return std::wstring(arg);
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') {
      out.append(slashes * 2 + 1, L'\\');
    } else {
      out.append(slashes, L'\\');
    }
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (size_t k = 0; k < arguments.size(); ++k) {
    if (k > 0) line += L' ';
    // The program name cannot carry escaped quotes; quoting it whole is all the rules allow.
    line += k == 0 && arguments[k].find(L'"') == std::wstring::npos && !arguments[k].empty() &&
                    arguments[k].find_first_of(L" \t") != std::wstring::npos
                ? L"\"" + arguments[k] + L"\""
                : QuoteArgument(arguments[k]);
  }
  return line;
}

}  // namespace pal
