// The install tree's 7za.exe: the host's own 7-Zip console archiver, started with the
// Windows paths of its command line turned into host paths of this machine root. The
// archiver is a host program and knows nothing of drive C; on Windows, 7za.exe reads the
// same paths itself. Everything else (switches, commands, exit status, output) is the
// archiver's own: the bridge replaces itself with it.
//
// An argument is a Windows path when it begins with a drive letter and a colon; so is the
// rest of a switch "-o<path>" or "-w<path>". Other arguments pass unchanged.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"

#ifndef ARCHIVER_HOST_PROGRAM
#define ARCHIVER_HOST_PROGRAM "/usr/bin/7za"
#endif

namespace {

bool IsDrivePath(const std::string& text) {
  return text.size() >= 2 && text[1] == ':' &&
         ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

// Maps `text` when it is a Windows path; false when it names a drive the machine lacks.
bool MapArgument(const std::string& text, std::string* out) {
  if (!IsDrivePath(text)) {
    *out = text;
    return true;
  }
  pal::Result<std::string> host = pal::ToHostPath(pal::FromUtf8(text));
  if (!host) return false;
  *out = *host;
  // The archiver takes a trailing separator as "this folder"; keep it.
  if ((text.back() == '\\' || text.back() == '/') && (out->empty() || out->back() != '/')) *out += '/';
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args{ARCHIVER_HOST_PROGRAM};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string mapped;
    bool ok;
    if (arg.size() > 2 && arg[0] == '-' && (arg[1] == 'o' || arg[1] == 'w') && IsDrivePath(arg.substr(2))) {
      ok = MapArgument(arg.substr(2), &mapped);
      mapped = arg.substr(0, 2) + mapped;
    } else {
      ok = MapArgument(arg, &mapped);
    }
    if (!ok) {
      std::fprintf(stderr, "7za.exe: %s: no such drive on this machine\n", arg.c_str());
      return 7;  // the archiver's own status for a command-line error
    }
    args.push_back(mapped);
  }
  std::vector<char*> exec_argv;
  for (std::string& arg : args) exec_argv.push_back(arg.data());
  exec_argv.push_back(nullptr);
  ::execv(ARCHIVER_HOST_PROGRAM, exec_argv.data());
  std::fprintf(stderr, "7za.exe: cannot run %s: %s\n", ARCHIVER_HOST_PROGRAM, std::strerror(errno));
  return 2;  // the archiver's status for a fatal error
}
