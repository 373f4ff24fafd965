// A small program on the layer's entry point, for the process tests: it writes what it was
// given into "probe.txt" in its current folder.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  FILE* out = _wfopen(L"probe.txt", L"wb");
  if (out == nullptr) return 2;
  for (int i = 0; i < argc; ++i) fwprintf(out, L"arg %d %zu %s\n", i, wcslen(argv[i]), argv[i]);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  fwprintf(out, L"module %s\ncommand %s\n", self, GetCommandLineW());
  fclose(out);
  return argc;
}
