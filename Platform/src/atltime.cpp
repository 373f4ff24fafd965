// CTime and CTimeSpan on the C run-time's time conversions (_mktime64, _localtime64_s,
// _gmtime64_s, _time64), as ATL builds them.
#include <atltime.h>

#include "atltime_host.h"

namespace pal {

std::wstring TranslateTimeFormat(const wchar_t* ms_format) {
  std::wstring out;
  for (const wchar_t* p = ms_format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      out += *p;
      continue;
    }
    bool alternate = false;
    const wchar_t* code = p + 1;
    if (*code == L'#') {
      alternate = true;
      ++code;
    }
    if (*code == L'\0') {
      out += L'%';
      break;
    }
    p = code;
    switch (*code) {
      case L'c':
        out += alternate ? L"%A, %B %-d, %Y %H:%M:%S" : L"%m/%d/%y %H:%M:%S";
        break;
      case L'x':
        out += alternate ? L"%A, %B %-d, %Y" : L"%m/%d/%y";
        break;
      case L'X':
        out += L"%H:%M:%S";
        break;
      case L'z':
      case L'Z':
        out += L"%Z";
        break;
      case L'd': case L'H': case L'I': case L'j': case L'm':
      case L'M': case L'S': case L'U': case L'w': case L'W': case L'y': case L'Y':
        out += alternate ? L"%-" : L"%";
        out += *code;
        break;
      default:
        out += L'%';
        out += *code;
        break;
    }
  }
  return out;
}

}  // namespace pal

namespace ATL {
namespace {

constexpr size_t kMaxTimeBufferSize = 128;

CString FormatTm(LPCTSTR pszFormat, const struct tm& tm) {
  wchar_t buffer[kMaxTimeBufferSize];
  if (pal::FormatTimeMs(buffer, kMaxTimeBufferSize, pszFormat, &tm) == 0) {
    buffer[0] = L'\0';
  }
  return CString(buffer);
}

}  // namespace

CTimeSpan::CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept
    : m_timeSpan(nSecs + 60 * (static_cast<__time64_t>(nMins) +
                               60 * (nHours + 24 * static_cast<__time64_t>(lDays)))) {}

CTime WINAPI CTime::GetCurrentTime() noexcept { return CTime(_time64(nullptr)); }

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST) {
  ATLENSURE_THROW(nYear >= 1900, E_INVALIDARG);
  ATLENSURE_THROW(nMonth >= 1 && nMonth <= 12, E_INVALIDARG);
  ATLENSURE_THROW(nDay >= 1 && nDay <= 31, E_INVALIDARG);
  ATLENSURE_THROW(nHour >= 0 && nHour <= 23, E_INVALIDARG);
  ATLENSURE_THROW(nMin >= 0 && nMin <= 59, E_INVALIDARG);
  ATLENSURE_THROW(nSec >= 0 && nSec <= 59, E_INVALIDARG);
  struct tm atm = {};
  atm.tm_sec = nSec;
  atm.tm_min = nMin;
  atm.tm_hour = nHour;
  atm.tm_mday = nDay;
  atm.tm_mon = nMonth - 1;
  atm.tm_year = nYear - 1900;
  atm.tm_isdst = nDST;
  m_time = _mktime64(&atm);
  ATLENSURE_THROW(m_time != -1, E_INVALIDARG);
}

CTime::CTime(const SYSTEMTIME& st, int nDST)
    : CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, nDST) {}

struct tm* CTime::GetLocalTm(struct tm* ptm) const {
  if (ptm == nullptr) return nullptr;
  return _localtime64_s(ptm, &m_time) == 0 ? ptm : nullptr;
}

struct tm* CTime::GetGmtTm(struct tm* ptm) const {
  if (ptm == nullptr) return nullptr;
  return _gmtime64_s(ptm, &m_time) == 0 ? ptm : nullptr;
}

bool CTime::GetAsSystemTime(SYSTEMTIME& st) const {
  struct tm ttm;
  if (GetLocalTm(&ttm) == nullptr) return false;
  st.wYear = static_cast<WORD>(1900 + ttm.tm_year);
  st.wMonth = static_cast<WORD>(1 + ttm.tm_mon);
  st.wDayOfWeek = static_cast<WORD>(ttm.tm_wday);
  st.wDay = static_cast<WORD>(ttm.tm_mday);
  st.wHour = static_cast<WORD>(ttm.tm_hour);
  st.wMinute = static_cast<WORD>(ttm.tm_min);
  st.wSecond = static_cast<WORD>(ttm.tm_sec);
  st.wMilliseconds = 0;
  return true;
}

namespace {
struct tm LocalOrThrow(const CTime& t) {
  struct tm ttm;
  if (t.GetLocalTm(&ttm) == nullptr) AtlThrow(E_INVALIDARG);
  return ttm;
}
}  // namespace

int CTime::GetYear() const { return LocalOrThrow(*this).tm_year + 1900; }
int CTime::GetMonth() const { return LocalOrThrow(*this).tm_mon + 1; }
int CTime::GetDay() const { return LocalOrThrow(*this).tm_mday; }
int CTime::GetHour() const { return LocalOrThrow(*this).tm_hour; }
int CTime::GetMinute() const { return LocalOrThrow(*this).tm_min; }
int CTime::GetSecond() const { return LocalOrThrow(*this).tm_sec; }
int CTime::GetDayOfWeek() const { return LocalOrThrow(*this).tm_wday + 1; }

CString CTime::Format(LPCTSTR pszFormat) const {
  if (pszFormat == nullptr) return CString();
  return FormatTm(pszFormat, LocalOrThrow(*this));
}

CString CTime::FormatGmt(LPCTSTR pszFormat) const {
  if (pszFormat == nullptr) return CString();
  struct tm ttm;
  if (GetGmtTm(&ttm) == nullptr) AtlThrow(E_INVALIDARG);
  return FormatTm(pszFormat, ttm);
}

}  // namespace ATL
