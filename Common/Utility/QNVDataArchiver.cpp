#include "QNVDataArchiver.h"

#include <windows.h>

#include <boost/format.hpp>
#include <cstring>
#include <vector>

#include "QNVUtilityWin.h"

namespace {

const wchar_t kAddCommandTemplate[] = L"\"%s\" %s %s \"%s\" \"%s\"";
const wchar_t kExtractCommandTemplate[] = L"\"%s\" %s \"%s\" %s %s\"%s\"";

const int kArchiveEnginePathId = 3;

// A path placed between the templates' quotes. A run of backslashes just before the closing
// quote would escape that quote under the command-line rules, so such a run is doubled;
// every other character stays as it is.
std::wstring QuotedArgument(const std::wstring& in_strPath) {
  size_t nTrailing = 0;
  while (nTrailing < in_strPath.length() && in_strPath[in_strPath.length() - 1 - nTrailing] == L'\\') ++nTrailing;
  return in_strPath + std::wstring(nTrailing, L'\\');
}

}  // namespace

CQNVDataArchiver::~CQNVDataArchiver() {}

int CQNVDataArchiver::AddToArchive(const std::wstring& in_strArchiveDataFilePath,
                                   const std::wstring& in_strTargetPath) {
  int nErrCode = QNVERROR_NO_ERROR;
  try {
    QNV_CHECK_THROW((in_strArchiveDataFilePath.length() > 0) && (in_strTargetPath.length() > 0),
                    QNVERROR_INVALID_PARAM);
    QNV_CHECK_THROW((in_strArchiveDataFilePath.find(L'"') == std::wstring::npos) &&
                        (in_strTargetPath.find(L'"') == std::wstring::npos),
                    QNVERROR_INVALID_PARAM);

    std::wstring strArchiveEnginePath;
    GetArchiveEnginePath(strArchiveEnginePath);
    QNV_CHECK_THROW(strArchiveEnginePath.length() > 0, QNVERROR_EXEC_FAILED);

    std::wstring strCommandLine = (boost::wformat(kAddCommandTemplate) % QuotedArgument(strArchiveEnginePath) %
                                   L"a" % L"-tzip" % QuotedArgument(in_strArchiveDataFilePath) %
                                   QuotedArgument(in_strTargetPath))
                                      .str();
    nErrCode = ExecuteCommandLine(strCommandLine);
    QNV_CHECK_THROW(nErrCode == QNVERROR_NO_ERROR, nErrCode);
  } catch (int nCode) {
    nErrCode = nCode;
  } catch (...) {
    nErrCode = QNVERROR_FAILED;
  }
  return nErrCode;
}

int CQNVDataArchiver::ExtractFromArchive(const std::wstring& in_strArchiveDataFilePath,
                                         const std::wstring& in_strExtractFolder) {
  int nErrCode = QNVERROR_NO_ERROR;
  try {
    QNV_CHECK_THROW((in_strArchiveDataFilePath.length() > 0) && (in_strExtractFolder.length() > 0),
                    QNVERROR_INVALID_PARAM);
    QNV_CHECK_THROW((in_strArchiveDataFilePath.find(L'"') == std::wstring::npos) &&
                        (in_strExtractFolder.find(L'"') == std::wstring::npos),
                    QNVERROR_INVALID_PARAM);

    std::wstring strArchiveEnginePath;
    GetArchiveEnginePath(strArchiveEnginePath);
    QNV_CHECK_THROW(strArchiveEnginePath.length() > 0, QNVERROR_EXEC_FAILED);

    std::wstring strCommandLine = (boost::wformat(kExtractCommandTemplate) % QuotedArgument(strArchiveEnginePath) %
                                   L"x" % QuotedArgument(in_strArchiveDataFilePath) % L"-y" % L"-o" %
                                   QuotedArgument(in_strExtractFolder))
                                      .str();
    nErrCode = ExecuteCommandLine(strCommandLine);
    QNV_CHECK_THROW(nErrCode == QNVERROR_NO_ERROR, nErrCode);
  } catch (int nCode) {
    nErrCode = nCode;
  } catch (...) {
    nErrCode = QNVERROR_FAILED;
  }
  return nErrCode;
}

int CQNVDataArchiver::GetArchiveEnginePath(std::wstring& out_strArchiveEnginePath) {
  int nErrCode = QNVERROR_NO_ERROR;
  WCHAR szArchiveEnginePath[QNV_MODULE_PATH_CAPACITY] = {0};
  try {
    nErrCode = QNVUtilGetModulePathForSDK(kArchiveEnginePathId, QNV_PLATFORM_X86, QNV_FOLDER_INSTALL, true,
                                          szArchiveEnginePath);
    QNV_CHECK_BAIL(nErrCode == QNVERROR_NO_ERROR);
    out_strArchiveEnginePath = szArchiveEnginePath;
  } catch (...) {
    nErrCode = QNVERROR_FAILED;
  }
QNV_BAIL_EXIT:
  return nErrCode;
}

int CQNVDataArchiver::ExecuteCommandLine(const std::wstring& in_strCommandLine) {
  int nErrCode = QNVERROR_NO_ERROR;
  STARTUPINFOW stStartupInfo;
  PROCESS_INFORMATION stProcessInfo;
  std::memset(&stStartupInfo, 0, sizeof(stStartupInfo));
  std::memset(&stProcessInfo, 0, sizeof(stProcessInfo));
  try {
    QNV_CHECK_THROW(in_strCommandLine.length() > 0, QNVERROR_INVALID_PARAM);

    stStartupInfo.cb = sizeof(stStartupInfo);
    stStartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    stStartupInfo.wShowWindow = SW_HIDE;

    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<WCHAR> szCommandLine(in_strCommandLine.begin(), in_strCommandLine.end());
    szCommandLine.push_back(L'\0');

    BOOL bChk = ::CreateProcessW(NULL, szCommandLine.data(), NULL, NULL, TRUE, 0, NULL, NULL, &stStartupInfo,
                                 &stProcessInfo);
    QNV_CHECK_THROW(bChk, QNVERROR_EXEC_FAILED);
    QNV_CHECK_THROW(stProcessInfo.hProcess != 0, QNVERROR_EXEC_FAILED);

    ::WaitForSingleObject(stProcessInfo.hProcess, INFINITE);

    // A failed archiver run must not pass for an archived file: the caller deletes the
    // source once this succeeds.
    DWORD dwExitCode = 0;
    bChk = ::GetExitCodeProcess(stProcessInfo.hProcess, &dwExitCode);
    QNV_CHECK_THROW((bChk != FALSE) && (dwExitCode == 0), QNVERROR_FAILED);
  } catch (int nCode) {
    nErrCode = nCode;
  } catch (...) {
    nErrCode = QNVERROR_FAILED;
  }
  if (stProcessInfo.hThread != 0) ::CloseHandle(stProcessInfo.hThread);
  if (stProcessInfo.hProcess != 0) ::CloseHandle(stProcessInfo.hProcess);
  return nErrCode;
}
