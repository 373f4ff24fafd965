// The class-library subset the programs use: exceptions thrown as heap pointers (catch a
// CFileException*, then call Delete()), static file removal and renaming, and the folder
// search CFileFind. Everything here is written on the Win32 calls of the layer, so that on
// Windows the class library itself takes its place.
#pragma once

#include <windows.h>
#include <atlstr.h>
#include <atltime.h>

#ifndef PASCAL
#define PASCAL
#endif

class CObject {
 public:
  virtual ~CObject() = default;

 protected:
  CObject() = default;
};

// Base of the class library's exceptions. They are thrown as pointers to heap objects;
// whoever catches one releases it with Delete().
class CException : public CObject {
 public:
  explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
  // Frees the exception when it was created on the heap by a throw helper.
  void Delete();
  // Writes a readable description, truncated to nMaxError characters; FALSE when none.
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const;

 protected:
  BOOL m_bAutoDelete;
};

class CFileException : public CException {
 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  explicit CFileException(int cause = CFileException::none, LONG lOsError = -1,
                          LPCTSTR lpszArchiveName = NULL);

  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;

  // The cause that a Win32 error number stands for (genericException when none fits).
  static int PASCAL OsErrorToException(LONG lOsError);
  // Throws a new CFileException* for a Win32 error number; never returns.
  [[noreturn]] static void PASCAL ThrowOsError(LONG lOsError, LPCTSTR lpszFileName = NULL);

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

// Throws a new CFileException* with the given cause; never returns.
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1, LPCTSTR lpszFileName = NULL);

// Only the static file operations of CFile are provided.
class CFile : public CObject {
 public:
  // Deletes a file (DeleteFileW). Throws CFileException* with the Win32 error on failure:
  // a file held open by anyone without delete sharing gives ERROR_SHARING_VIOLATION, and
  // a folder cannot be removed this way.
  static void PASCAL Remove(LPCTSTR lpszFileName);
  // Moves a file to a new name that must not exist yet (MoveFileW). Throws
  // CFileException* with the Win32 error on failure.
  static void PASCAL Rename(LPCTSTR lpszOldName, LPCTSTR lpszNewName);
};

// Folder search: FindFile starts a search on a wildcard path; each FindNextFile makes the
// next entry current and returns FALSE when the entry it made current is the last one, so
// the usual loop is `for (BOOL more = f.FindFile(p); more;) { more = f.FindNextFile(); ... }`.
// The entry's attributes may only be asked for after FindNextFile.
class CFileFind : public CObject {
 public:
  CFileFind();
  ~CFileFind() override;
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // Starts a search; NULL searches "*.*" in the current folder. FALSE (with the last error
  // of FindFirstFileW) when nothing matches or the search cannot start.
  virtual BOOL FindFile(LPCTSTR pstrName = NULL, DWORD dwUnused = 0);
  virtual BOOL FindNextFile();
  void Close();

  ULONGLONG GetLength() const;
  virtual CString GetFileName() const;
  // The folder of the search pattern followed by the entry's name.
  virtual CString GetFilePath() const;
  virtual CString GetFileTitle() const;
  virtual CString GetRoot() const;

  // The creation time is the host file's birth time. The CTime forms read it through local
  // time, as the class library does; they give FALSE (and time 0) for a stamp the run-time
  // cannot represent.
  virtual BOOL GetCreationTime(FILETIME* pTimeStamp) const;
  virtual BOOL GetCreationTime(CTime& refTime) const;
  virtual BOOL GetLastWriteTime(FILETIME* pTimeStamp) const;
  virtual BOOL GetLastWriteTime(CTime& refTime) const;

  virtual BOOL MatchesMask(DWORD dwMask) const;
  BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
  BOOL IsReadOnly() const { return MatchesMask(FILE_ATTRIBUTE_READONLY); }
  BOOL IsHidden() const { return MatchesMask(FILE_ATTRIBUTE_HIDDEN); }
  BOOL IsArchived() const { return MatchesMask(FILE_ATTRIBUTE_ARCHIVE); }
  BOOL IsNormal() const { return MatchesMask(FILE_ATTRIBUTE_NORMAL); }
  // TRUE for the "." and ".." entries of a folder.
  virtual BOOL IsDots() const;

 protected:
  WIN32_FIND_DATAW* m_pFoundInfo;
  WIN32_FIND_DATAW* m_pNextInfo;
  HANDLE m_hContext;
  CString m_strRoot;
};
