#include "retention.h"

#include <afx.h>

#include <string>
#include <utility>

#include "QNVDataArchiver.h"
#include "QNVUtilityWin.h"

namespace {

const int kStateFilePathId = 15;
const DWORD kKeyCapacity = 260;
const ULONGLONG kBytesPerMegabyte = 1048576;

// The state file's values are joined to the log folder, and this program may run with more
// rights than whoever can write that file: only a bare name inside the log folder is used.
bool IsPlainFileName(const WCHAR* pszName) {
  if (pszName[0] == L'\0') return false;
  if (wcscmp(pszName, L".") == 0 || wcscmp(pszName, L"..") == 0) return false;
  for (const WCHAR* p = pszName; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/' || *p == L':') return false;
  }
  return true;
}

}  // namespace

void ArchiveLogFile(LPCWSTR in_pszFileKey, LPCWSTR in_pszArchiveKey, LPCWSTR in_pszStateFilePath,
                    LPCWSTR in_pszLogFolder, BOOL in_bMoveArchive) {
  WCHAR szFileName[kKeyCapacity] = {0};
  WCHAR szArchiveName[kKeyCapacity] = {0};
  ::GetPrivateProfileStringW(L"Data", in_pszFileKey, L"", szFileName, kKeyCapacity, in_pszStateFilePath);
  ::GetPrivateProfileStringW(L"Data", in_pszArchiveKey, L"", szArchiveName, kKeyCapacity, in_pszStateFilePath);
  if (szFileName[0] == L'\0' || szArchiveName[0] == L'\0') return;
  if (!IsPlainFileName(szFileName) || !IsPlainFileName(szArchiveName)) return;
  // Archiving a file into itself and then removing it would lose the file.
  if (_wcsicmp(szFileName, szArchiveName) == 0) return;

  std::wstring strFilePath = std::wstring(in_pszLogFolder) + szFileName;
  std::wstring strArchivePath = std::wstring(in_pszLogFolder) + szArchiveName;

  // The day's archive is made afresh: one left behind by a run killed while archiving may be
  // incomplete, and the archiver would refuse to add to it on every later run.
  if (in_bMoveArchive) ::DeleteFileW(strArchivePath.c_str());
  CQNVDataArchiver archiver;
  if (archiver.AddToArchive(strArchivePath, strFilePath) != QNVERROR_NO_ERROR) return;

  ::WritePrivateProfileStringW(L"Data", in_pszFileKey, L"", in_pszStateFilePath);
  try {
    CFile::Remove(strFilePath.c_str());
    if (in_bMoveArchive) CFile::Rename(strArchivePath.c_str(), strFilePath.c_str());
  } catch (CException* pEx) {
    pEx->Delete();
  }
}

size_t CountLogFilesToRemove(const std::multimap<LOGSWEEP_CREATION_KEY, ULONGLONG>& in_mapSizeByCreation,
                             int in_nMaxFileNum, int in_nMaxDirSizeMB) {
  const size_t nEntries = in_mapSizeByCreation.size();
  const size_t nMaxFiles = in_nMaxFileNum > 0 ? static_cast<size_t>(in_nMaxFileNum) : 0;
  const size_t nCountExcess = nEntries > nMaxFiles ? nEntries - nMaxFiles : 0;

  const ULONGLONG ullSizeLimit = static_cast<ULONGLONG>(in_nMaxDirSizeMB > 0 ? in_nMaxDirSizeMB : 0) * kBytesPerMegabyte;
  ULONGLONG ullTotal = 0;
  size_t nKept = 0;
  size_t nSizeExcess = 0;
  for (auto it = in_mapSizeByCreation.rbegin(); it != in_mapSizeByCreation.rend(); ++it) {
    ullTotal += it->second;
    if (ullTotal > ullSizeLimit && nKept > 0) {
      nSizeExcess = nEntries - nKept;
      break;
    }
    ++nKept;
  }
  return nCountExcess > nSizeExcess ? nCountExcess : nSizeExcess;
}

int DeleteOldLogFiles(LPCWSTR in_pszLogFolder, LPCWSTR in_pszPattern, int in_nMaxFileNum, int in_nMaxDirSizeMB) {
  return DeleteOldLogFiles(in_pszLogFolder, in_pszPattern, in_nMaxFileNum, in_nMaxDirSizeMB,
                           QNVUtilGetModulePathForSDK);
}

int DeleteOldLogFiles(LPCWSTR in_pszLogFolder, LPCWSTR in_pszPattern, int in_nMaxFileNum, int in_nMaxDirSizeMB,
                      PFN_GET_MODULE_PATH in_pfnGetModulePath) {
  int nStatus = LOGSWEEP_OK;
  try {
    WCHAR szStateFilePath[QNV_MODULE_PATH_CAPACITY] = {0};
    if (in_pfnGetModulePath(kStateFilePathId, QNV_PLATFORM_X86, QNV_FOLDER_DATA, true, szStateFilePath) !=
        QNVERROR_NO_ERROR) {
      return LOGSWEEP_NO_STATE_FILE;
    }

    ArchiveLogFile(L"PermanentFile", L"ArchiveFile", szStateFilePath, in_pszLogFolder, FALSE);
    ArchiveLogFile(L"DailyFile", L"ArchiveFileDaily", szStateFilePath, in_pszLogFolder, TRUE);
    ::WritePrivateProfileStringW(NULL, NULL, NULL, szStateFilePath);

    CString strSearch(in_pszLogFolder);
    strSearch += L"\\";
    strSearch += in_pszPattern;

    // Both collections take the entries in search order; a multimap puts an equal key after
    // the ones already there, so entries of the same second keep that order.
    std::multimap<LOGSWEEP_CREATION_KEY, CString> mapPathByCreation;
    std::multimap<LOGSWEEP_CREATION_KEY, ULONGLONG> mapSizeByCreation;
    {
      CFileFind finder;
      BOOL bWorking = finder.FindFile(strSearch);
      if (!bWorking) return LOGSWEEP_NO_LOG_FILES;
      while (bWorking) {
        bWorking = finder.FindNextFile();
        CTime ctCreation;
        finder.GetCreationTime(ctCreation);
        const LOGSWEEP_CREATION_KEY tKey = ctCreation.GetTime();
        mapPathByCreation.insert(std::make_pair(tKey, finder.GetFilePath()));
        mapSizeByCreation.insert(std::make_pair(tKey, finder.GetLength()));
      }
    }

    size_t nRemove = CountLogFilesToRemove(mapSizeByCreation, in_nMaxFileNum, in_nMaxDirSizeMB);
    for (auto it = mapPathByCreation.begin(); nRemove > 0 && it != mapPathByCreation.end(); ++it, --nRemove) {
      try {
        CFile::Remove(it->second);
      } catch (CFileException* pEx) {
        pEx->Delete();
        nStatus = LOGSWEEP_REMOVE_FAILED;
      }
    }
  } catch (CException* pEx) {
    pEx->Delete();
    nStatus = LOGSWEEP_UNEXPECTED;
  } catch (...) {
    nStatus = LOGSWEEP_UNEXPECTED;
  }
  return nStatus;
}
