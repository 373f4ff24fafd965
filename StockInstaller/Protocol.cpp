#include "Protocol.h"

#include <cstdio>
#include <cstring>

void WriteProtocolLine(const char* in_pszLine) {
  std::fwrite(in_pszLine, 1, std::strlen(in_pszLine), stdout);
  std::fflush(stdout);
}
