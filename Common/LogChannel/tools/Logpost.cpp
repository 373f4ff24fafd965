// Logpost: posts records into the log channel through LogChannelWriter, the way driver
// components do, for scripts, demos and load tests.
#include <windows.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "LogChannel.h"
#include "LogChannelWriter.h"

namespace {

const char kUsage[] =
    "Usage: Logpost [options] <level> <text...>\n"
    "Posts one record (or N with --count) into the log channel, as driver components do.\n"
    "\n"
    "  <level>       0 FTL, 1 ERR, 2 WAR, 3 INF, 4 DBG, 5 TRC, 99 PER (permanent log), as a\n"
    "                number or a name; any number is accepted, its low 8 bits are posted.\n"
    "  <text...>     the record's text; several arguments are joined with single blanks.\n"
    "                It is posted as given: the logger keeps only records whose text begins\n"
    "                with the tag \"[QNV]\" (part of the text, case-sensitive), writes what\n"
    "                follows the tag and adds no line end of its own.\n"
    "\n"
    "Options:\n"
    "  -n, --count N  post N records in a loop (default 1)\n"
    "  --numbered     append \" <i>\" to each record's text, i = 1..N\n"
    "  --lf           append a line feed to each record's text\n"
    "  -h, --help     show this help\n"
    "\n"
    "Nothing is reported back by the channel: the exit code is 0 once every record was\n"
    "handed to the writer (a record the logger does not take within 10 s is dropped),\n"
    "1 on bad usage, also for a text longer than 4086 bytes in the ANSI code page.\n";

int BadUsage(const char* in_pszReason) {
  fputs("Logpost: ", stderr);
  fputs(in_pszReason, stderr);
  fputs("\n", stderr);
  fputs(kUsage, stderr);
  return 1;
}

bool ParseInteger(const wchar_t* in_pszText, long long* out_pnValue) {
  if (in_pszText == nullptr || *in_pszText == L'\0') return false;
  wchar_t* pszEnd = nullptr;
  errno = 0;
  const long long nValue = wcstoll(in_pszText, &pszEnd, 10);
  if (errno != 0 || pszEnd == in_pszText || *pszEnd != L'\0') return false;
  *out_pnValue = nValue;
  return true;
}

bool ParseLevel(const wchar_t* in_pszText, int* out_pnLevel) {
  long long nValue = 0;
  if (ParseInteger(in_pszText, &nValue)) {
    if (nValue < INT32_MIN || nValue > INT32_MAX) return false;
    *out_pnLevel = static_cast<int>(nValue);
    return true;
  }
  for (int i = 0; i < kLogLevelNameCount; ++i) {
    std::wstring strName;
    for (const char* p = kLogLevelNames[i]; *p != '\0'; ++p) strName += static_cast<wchar_t>(*p);
    if (_wcsicmp(strName.c_str(), in_pszText) == 0) {
      *out_pnLevel = i == kLogLevelPermanentNameIndex ? LOG_LEVEL_PERMANENT : i;
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  long long nCount = 1;
  bool bNumbered = false;
  bool bLineFeed = false;
  int nArg = 1;
  for (; nArg < argc; ++nArg) {
    const std::wstring strArg = argv[nArg];
    if (strArg == L"--") {
      ++nArg;
      break;
    }
    if (strArg == L"-h" || strArg == L"--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (strArg == L"-n" || strArg == L"--count") {
      if (nArg + 1 >= argc || !ParseInteger(argv[nArg + 1], &nCount) || nCount < 1) {
        return BadUsage("--count needs a positive number");
      }
      ++nArg;
    } else if (strArg == L"--numbered") {
      bNumbered = true;
    } else if (strArg == L"--lf") {
      bLineFeed = true;
    } else if (strArg.size() > 1 && strArg[0] == L'-' && !(strArg[1] >= L'0' && strArg[1] <= L'9')) {
      return BadUsage("unknown option");
    } else {
      break;
    }
  }

  if (nArg >= argc) return BadUsage("missing level");
  int nLevel = 0;
  if (!ParseLevel(argv[nArg], &nLevel)) return BadUsage("level must be a number or FTL, ERR, WAR, INF, DBG, TRC, PER");
  ++nArg;
  if (nArg >= argc) return BadUsage("missing text");

  std::wstring strText;
  for (int i = nArg; i < argc; ++i) {
    if (i > nArg) strText += L' ';
    strText += argv[i];
  }

  // The writer posts a text too long for the channel as an empty record, which the logger
  // drops: refuse it here rather than exit with 0 for records that can never arrive.
  std::wstring strLongest = strText;
  if (bNumbered) strLongest += L' ' + std::to_wstring(nCount);
  if (bLineFeed) strLongest += L'\n';
  const int nBytes = WideCharToMultiByte(CP_ACP, 0, strLongest.c_str(), static_cast<int>(strLongest.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (nBytes > kLogChannelMaxTextBytes) return BadUsage("text longer than 4086 bytes in the ANSI code page");

  LogChannelWriter& writer = LogChannelWriter::Instance();
  std::wstring strRecord;
  for (long long i = 1; i <= nCount; ++i) {
    strRecord = strText;
    if (bNumbered) {
      strRecord += L' ';
      strRecord += std::to_wstring(i);
    }
    if (bLineFeed) strRecord += L'\n';
    writer.Write(nLevel, strRecord.c_str());
  }
  return 0;
}
