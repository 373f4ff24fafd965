// CFileFind on FindFirstFileW/FindNextFileW. Two find-data records are kept: the current
// entry and the one already fetched, which is how FindNextFile can tell the last entry.
#include <afx.h>

#include <utility>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A file time as the class library's CTime: through local time, with the run-time deciding
// daylight saving. FALSE (and time 0) for a stamp the run-time cannot represent.
BOOL FileTimeToCTime(const FILETIME& ft, CTime& refTime) {
  refTime = CTime(static_cast<__time64_t>(0));
  FILETIME ftLocal;
  SYSTEMTIME st;
  if (!::FileTimeToLocalFileTime(&ft, &ftLocal) || !::FileTimeToSystemTime(&ftLocal, &st)) return FALSE;
  try {
    refTime = CTime(st);
  } catch (const CAtlException&) {
    return FALSE;
  }
  return TRUE;
}

}  // namespace

CFileFind::CFileFind() : m_pFoundInfo(NULL), m_pNextInfo(NULL), m_hContext(NULL) {}

CFileFind::~CFileFind() { Close(); }

void CFileFind::Close() {
  delete m_pFoundInfo;
  m_pFoundInfo = NULL;
  delete m_pNextInfo;
  m_pNextInfo = NULL;
  if (m_hContext != NULL) {
    if (m_hContext != INVALID_HANDLE_VALUE) ::FindClose(m_hContext);
    m_hContext = NULL;
  }
  m_strRoot.Empty();
}

BOOL CFileFind::FindFile(LPCTSTR pstrName, DWORD dwUnused) {
  UNREFERENCED_PARAMETER(dwUnused);
  Close();
  LPCTSTR pattern = (pstrName != NULL) ? pstrName : L"*.*";
  m_pNextInfo = new WIN32_FIND_DATAW();
  m_hContext = ::FindFirstFileW(pattern, m_pNextInfo);
  if (m_hContext == INVALID_HANDLE_VALUE) {
    DWORD dwError = ::GetLastError();
    Close();
    ::SetLastError(dwError);
    return FALSE;
  }

  // The root is the folder part of the pattern; a bare pattern searches the current folder.
  CString strPattern(pattern);
  int nLast = -1;
  for (int i = 0; i < strPattern.GetLength(); ++i) {
    if (IsSeparator(strPattern[i])) nLast = i;
  }
  if (nLast >= 0) {
    // Keep the separator of a drive root ("C:\") so that paths do not become drive-relative.
    bool bDriveRoot = (nLast == 2 && strPattern[1] == L':');
    m_strRoot = strPattern.Left(bDriveRoot || nLast == 0 ? nLast + 1 : nLast);
  } else {
    WCHAR szCurrent[MAX_PATH] = {0};
    if (::GetCurrentDirectoryW(MAX_PATH, szCurrent) > 0) m_strRoot = szCurrent;
  }
  return TRUE;
}

BOOL CFileFind::FindNextFile() {
  if (m_hContext == NULL) return FALSE;
  if (m_pFoundInfo == NULL) m_pFoundInfo = new WIN32_FIND_DATAW();
  std::swap(m_pFoundInfo, m_pNextInfo);
  return ::FindNextFileW(m_hContext, m_pNextInfo);
}

ULONGLONG CFileFind::GetLength() const {
  if (m_pFoundInfo == NULL) return 0;
  return (static_cast<ULONGLONG>(m_pFoundInfo->nFileSizeHigh) << 32) | m_pFoundInfo->nFileSizeLow;
}

CString CFileFind::GetFileName() const {
  CString strResult;
  if (m_pFoundInfo != NULL) strResult = m_pFoundInfo->cFileName;
  return strResult;
}

CString CFileFind::GetFilePath() const {
  CString strResult = m_strRoot;
  if (strResult.GetLength() > 0 && !IsSeparator(strResult[strResult.GetLength() - 1])) strResult += L'\\';
  strResult += GetFileName();
  return strResult;
}

CString CFileFind::GetFileTitle() const {
  CString strResult = GetFileName();
  int nDot = strResult.ReverseFind(L'.');
  if (nDot > 0) strResult = strResult.Left(nDot);
  return strResult;
}

CString CFileFind::GetRoot() const { return m_strRoot; }

BOOL CFileFind::GetCreationTime(FILETIME* pTimeStamp) const {
  if (m_pFoundInfo == NULL || pTimeStamp == NULL) return FALSE;
  *pTimeStamp = m_pFoundInfo->ftCreationTime;
  return TRUE;
}

BOOL CFileFind::GetCreationTime(CTime& refTime) const {
  if (m_pFoundInfo == NULL) return FALSE;
  return FileTimeToCTime(m_pFoundInfo->ftCreationTime, refTime);
}

BOOL CFileFind::GetLastWriteTime(FILETIME* pTimeStamp) const {
  if (m_pFoundInfo == NULL || pTimeStamp == NULL) return FALSE;
  *pTimeStamp = m_pFoundInfo->ftLastWriteTime;
  return TRUE;
}

BOOL CFileFind::GetLastWriteTime(CTime& refTime) const {
  if (m_pFoundInfo == NULL) return FALSE;
  return FileTimeToCTime(m_pFoundInfo->ftLastWriteTime, refTime);
}

BOOL CFileFind::MatchesMask(DWORD dwMask) const {
  if (m_pFoundInfo == NULL) return FALSE;
  return (m_pFoundInfo->dwFileAttributes & dwMask) != 0 ? TRUE : FALSE;
}

BOOL CFileFind::IsDots() const {
  if (m_pFoundInfo == NULL || !IsDirectory()) return FALSE;
  const WCHAR* name = m_pFoundInfo->cFileName;
  return (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) ? TRUE : FALSE;
}
