#include "retention.h"

#include <afx.h>

#include <string>
#include <utility>
#include <vector>

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

namespace {

// The names of one pair as the state file holds them.
struct ArchivePair {
  WCHAR szFile[kKeyCapacity];
  WCHAR szArchive[kKeyCapacity];
};

// Both pairs as one reading of the state file saw them.
struct ArchiveJob {
  ArchivePair permanent;
  ArchivePair daily;
};

bool SameJob(const ArchiveJob& a, const ArchiveJob& b) {
  return wcscmp(a.permanent.szFile, b.permanent.szFile) == 0 &&
         wcscmp(a.permanent.szArchive, b.permanent.szArchive) == 0 && wcscmp(a.daily.szFile, b.daily.szFile) == 0 &&
         wcscmp(a.daily.szArchive, b.daily.szArchive) == 0;
}

// A value as the profile functions return it: one pair of enclosing quotes removed.
void CopyValue(const WCHAR* pszValue, WCHAR (&out_szValue)[kKeyCapacity]) {
  size_t nLength = wcslen(pszValue);
  if (nLength >= 2 && (pszValue[0] == L'"' || pszValue[0] == L'\'') && pszValue[nLength - 1] == pszValue[0]) {
    ++pszValue;
    nLength -= 2;
  }
  if (nLength >= kKeyCapacity) nLength = kKeyCapacity - 1;
  wmemcpy(out_szValue, pszValue, nLength);
  out_szValue[nLength] = L'\0';
}

// Reads the four names at once. The logger records an ended period's names in one rewrite of
// the file; read key by key, a period that ends meanwhile could give one pair of the old
// period and one of the new, and the old period's other file would never be archived.
void ReadArchiveJob(LPCWSTR in_pszStateFilePath, ArchiveJob* out_pJob) {
  *out_pJob = ArchiveJob();
  std::vector<WCHAR> section(4096);
  for (;;) {
    const DWORD nRead = ::GetPrivateProfileSectionW(L"Data", section.data(), static_cast<DWORD>(section.size()),
                                                    in_pszStateFilePath);
    if (nRead + 2 < section.size()) break;
    section.resize(section.size() * 2);
  }
  struct Slot {
    LPCWSTR pszKey;
    WCHAR (*pszValue)[kKeyCapacity];
    bool bSeen;
  } slots[] = {{L"PermanentFile", &out_pJob->permanent.szFile, false},
               {L"ArchiveFile", &out_pJob->permanent.szArchive, false},
               {L"DailyFile", &out_pJob->daily.szFile, false},
               {L"ArchiveFileDaily", &out_pJob->daily.szArchive, false}};
  for (const WCHAR* pszLine = section.data(); *pszLine != L'\0'; pszLine += wcslen(pszLine) + 1) {
    const WCHAR* pszEquals = wcschr(pszLine, L'=');
    if (pszEquals == nullptr) continue;
    const size_t nName = static_cast<size_t>(pszEquals - pszLine);
    for (Slot& slot : slots) {
      // The first of two equal keys is the one the profile functions read.
      if (slot.bSeen || wcslen(slot.pszKey) != nName || _wcsnicmp(slot.pszKey, pszLine, nName) != 0) continue;
      CopyValue(pszEquals + 1, *slot.pszValue);
      slot.bSeen = true;
      break;
    }
  }
}

bool FileExists(const std::wstring& strPath) {
  const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A run that had archived the day's log (its key already cleared) but ended before the log was
// replaced by the archive leaves the archive under its ".zip" name: the log it was made from
// is the archive's name with ".log". The move is finished, or, where the log is still there,
// the archiving is done again from it.
bool FindUnfinishedDailyLog(const ArchivePair& in_pair, LPCWSTR in_pszLogFolder, WCHAR (&out_szFile)[kKeyCapacity]) {
  if (in_pair.szFile[0] != L'\0' || !IsPlainFileName(in_pair.szArchive)) return false;
  const size_t nLength = wcslen(in_pair.szArchive);
  if (nLength <= 4 || _wcsicmp(in_pair.szArchive + nLength - 4, L".zip") != 0) return false;
  if (!FileExists(std::wstring(in_pszLogFolder) + in_pair.szArchive)) return false;
  wcscpy_s(out_szFile, in_pair.szArchive);
  wcscpy_s(out_szFile + nLength - 4, 5, L".log");
  return true;
}

void ArchivePairFiles(const ArchivePair& in_pair, LPCWSTR in_pszFileKey, LPCWSTR in_pszStateFilePath,
                      LPCWSTR in_pszLogFolder, BOOL in_bMoveArchive) {
  WCHAR szFileName[kKeyCapacity];
  wcscpy_s(szFileName, in_pair.szFile);
  const WCHAR* szArchiveName = in_pair.szArchive;
  bool bKeyCleared = false;
  if (in_bMoveArchive && FindUnfinishedDailyLog(in_pair, in_pszLogFolder, szFileName)) {
    bKeyCleared = true;
    std::wstring strFilePath = std::wstring(in_pszLogFolder) + szFileName;
    if (!FileExists(strFilePath)) {
      ::MoveFileW((std::wstring(in_pszLogFolder) + szArchiveName).c_str(), strFilePath.c_str());
      return;
    }
  }
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

  if (!bKeyCleared) {
    // The logger may have named a newer period's file meanwhile; that name stays for the next
    // pass.
    WCHAR szNow[kKeyCapacity] = {0};
    ::GetPrivateProfileStringW(L"Data", in_pszFileKey, L"", szNow, kKeyCapacity, in_pszStateFilePath);
    if (wcscmp(szNow, szFileName) == 0) ::WritePrivateProfileStringW(L"Data", in_pszFileKey, L"", in_pszStateFilePath);
  }
  try {
    CFile::Remove(strFilePath.c_str());
    if (in_bMoveArchive) CFile::Rename(strArchivePath.c_str(), strFilePath.c_str());
  } catch (CException* pEx) {
    pEx->Delete();
  }
}

}  // namespace

void ArchiveLogFile(LPCWSTR in_pszFileKey, LPCWSTR in_pszArchiveKey, LPCWSTR in_pszStateFilePath,
                    LPCWSTR in_pszLogFolder, BOOL in_bMoveArchive) {
  ArchivePair pair;
  ::GetPrivateProfileStringW(L"Data", in_pszFileKey, L"", pair.szFile, kKeyCapacity, in_pszStateFilePath);
  ::GetPrivateProfileStringW(L"Data", in_pszArchiveKey, L"", pair.szArchive, kKeyCapacity, in_pszStateFilePath);
  ArchivePairFiles(pair, in_pszFileKey, in_pszStateFilePath, in_pszLogFolder, in_bMoveArchive);
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

    // A logger started while this run archives may record another ended period and start a
    // cleanup that finds this one running and quits: this run takes that period on too. A
    // pass that changes nothing (done, or an archiving that failed and stays for the next
    // run) ends it.
    ArchiveJob previous = ArchiveJob();
    for (int nPass = 0; nPass < 4; ++nPass) {
      ArchiveJob job;
      ReadArchiveJob(szStateFilePath, &job);
      if (nPass > 0 && SameJob(job, previous)) break;
      ArchivePairFiles(job.permanent, L"PermanentFile", szStateFilePath, in_pszLogFolder, FALSE);
      ArchivePairFiles(job.daily, L"DailyFile", szStateFilePath, in_pszLogFolder, TRUE);
      previous = job;
    }
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
