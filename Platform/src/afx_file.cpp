// Class-library exceptions and the static file operations of CFile, on the Win32 calls.
#include <afx.h>

namespace {

struct CauseText {
  int cause;
  const wchar_t* text;
};

// Descriptions by cause; the file name, when known, follows after ": ".
constexpr CauseText kCauseTexts[] = {
    {CFileException::none, L"No error occurred"},
    {CFileException::genericException, L"An unspecified error occurred"},
    {CFileException::fileNotFound, L"The file could not be found"},
    {CFileException::badPath, L"All or part of the path is invalid"},
    {CFileException::tooManyOpenFiles, L"Too many files are open"},
    {CFileException::accessDenied, L"Access to the file was denied"},
    {CFileException::invalidFile, L"An invalid file handle was used"},
    {CFileException::removeCurrentDir, L"The current folder cannot be removed"},
    {CFileException::directoryFull, L"The folder is full"},
    {CFileException::badSeek, L"A seek failed"},
    {CFileException::hardIO, L"A hardware input/output error occurred"},
    {CFileException::sharingViolation, L"A sharing violation occurred"},
    {CFileException::lockViolation, L"A locked region was accessed"},
    {CFileException::diskFull, L"The disk is full"},
    {CFileException::endOfFile, L"The end of the file was reached"},
};

struct OsErrorCause {
  LONG os_error;
  int cause;
};

constexpr OsErrorCause kOsErrorCauses[] = {
    {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
    {ERROR_PATH_NOT_FOUND, CFileException::badPath},
    {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
    {ERROR_ACCESS_DENIED, CFileException::accessDenied},
    {ERROR_INVALID_HANDLE, CFileException::fileNotFound},
    {ERROR_INVALID_ACCESS, CFileException::accessDenied},
    {ERROR_INVALID_DRIVE, CFileException::badPath},
    {16 /* ERROR_CURRENT_DIRECTORY */, CFileException::removeCurrentDir},
    {ERROR_NO_MORE_FILES, CFileException::directoryFull},
    {ERROR_WRITE_FAULT, CFileException::hardIO},
    {ERROR_READ_FAULT, CFileException::hardIO},
    {ERROR_GEN_FAILURE, CFileException::hardIO},
    {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
    {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
    {ERROR_HANDLE_EOF, CFileException::endOfFile},
    {ERROR_HANDLE_DISK_FULL, CFileException::diskFull},
    {ERROR_DISK_FULL, CFileException::diskFull},
    {ERROR_FILE_EXISTS, CFileException::accessDenied},
    {ERROR_ALREADY_EXISTS, CFileException::accessDenied},
    {ERROR_CANNOT_MAKE, CFileException::accessDenied},
    {ERROR_INVALID_NAME, CFileException::badPath},
    {ERROR_BAD_PATHNAME, CFileException::badPath},
    {ERROR_FILENAME_EXCED_RANGE, CFileException::badPath},
    {ERROR_DIRECTORY, CFileException::badPath},
};

// Copies as much of `text` as fits into `out` (capacity `size`, terminator included).
void CopyTruncated(LPTSTR out, UINT size, const wchar_t* text, UINT* used) {
  while (*used + 1 < size && *text != L'\0') out[(*used)++] = *text++;
  out[*used] = L'\0';
}

}  // namespace

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != NULL) *pnHelpContext = 0;
  if (lpszError != NULL && nMaxError > 0) lpszError[0] = L'\0';
  return FALSE;
}

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName != NULL ? lpszArchiveName : L"") {}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != NULL) *pnHelpContext = 0;
  if (lpszError == NULL || nMaxError == 0) return FALSE;
  const wchar_t* text = kCauseTexts[CFileException::genericException].text;
  for (const CauseText& entry : kCauseTexts) {
    if (entry.cause == m_cause) text = entry.text;
  }
  UINT used = 0;
  CopyTruncated(lpszError, nMaxError, text, &used);
  if (!m_strFileName.IsEmpty()) {
    CopyTruncated(lpszError, nMaxError, L": ", &used);
    CopyTruncated(lpszError, nMaxError, static_cast<LPCTSTR>(m_strFileName), &used);
  }
  return TRUE;
}

int PASCAL CFileException::OsErrorToException(LONG lOsError) {
  for (const OsErrorCause& entry : kOsErrorCauses) {
    if (entry.os_error == lOsError) return entry.cause;
  }
  return CFileException::genericException;
}

void PASCAL CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
  AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
  throw new CFileException(cause, lOsError, lpszFileName);
}

void PASCAL CFile::Remove(LPCTSTR lpszFileName) {
  if (!::DeleteFileW(lpszFileName)) {
    CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), lpszFileName);
  }
}

void PASCAL CFile::Rename(LPCTSTR lpszOldName, LPCTSTR lpszNewName) {
  if (!::MoveFileW(lpszOldName, lpszNewName)) {
    CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), lpszOldName);
  }
}
