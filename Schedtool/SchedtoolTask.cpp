// The Task Scheduler sequences of Schedtool: add (replace) and remove one task.

#include <comdef.h>
#include <shlwapi.h>
#include <taskschd.h>
#include <wchar.h>

#include "QNVUtilityWin.h"
#include "Schedtool.h"

namespace {

const wchar_t kAuthor[] = L"NORVANTE Corporation";
const wchar_t kTriggerId[] = L"QNVLogView";
const wchar_t kDailyStart[] = L"2010-01-01T04:00:00";
const wchar_t kExecutionTimeLimit[] = L"PT0S";
const wchar_t kServerUser[] = L"SYSTEM";

const int kPathIdLogsink = 4;
const int kPathIdLogFolder = 14;
const int kPlatformX86 = 2;
const int kFolderInstall = 1;
const int kFolderData = 2;

template <class T>
void SafeRelease(T*& p) {
  if (p != NULL) {
    p->Release();
    p = NULL;
  }
}

void ToBackslashes(wchar_t* psz) {
  for (; *psz != L'\0'; ++psz) {
    if (*psz == L'/') *psz = L'\\';
  }
}

// Copies an install path into a working buffer of MAX_PATH characters. False when it does
// not fit: a cut path would name another file or folder.
bool CopyWorkingPath(wchar_t (&out_szPath)[MAX_PATH], const wchar_t* in_pszSource) {
  if (wcslen(in_pszSource) > MAX_PATH - 1) return false;
  wcscpy_s(out_szPath, in_pszSource);
  return true;
}

HRESULT InitializeCom() {
  return CoInitializeEx(NULL, COINIT_MULTITHREADED);
}

HRESULT InitializeSecurity() {
  return CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                              RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE, NULL);
}

}  // namespace

int SchedtoolAddTask(const wchar_t* in_pszTaskName, const wchar_t* in_pszCommand,
                     const wchar_t* in_pszParameters, bool in_bServerMode, bool in_bDaily) {
  wchar_t szLogsinkPath[1024] = L"";
  wchar_t szLogFolder[1024] = L"";
  wchar_t szActionPath[MAX_PATH] = L"";
  wchar_t szWorkingDirectory[MAX_PATH] = L"";

  if (in_pszTaskName == NULL || in_pszCommand == NULL) return QNVERROR_FAILED;
  if (QNVUtilGetModulePathForSDK(kPathIdLogsink, kPlatformX86, kFolderInstall, true, szLogsinkPath) !=
          QNVERROR_NO_ERROR ||
      QNVUtilGetModulePathForSDK(kPathIdLogFolder, kPlatformX86, kFolderData, true, szLogFolder) !=
          QNVERROR_NO_ERROR) {
    return QNVERROR_FAILED;
  }
  ToBackslashes(szLogsinkPath);
  ToBackslashes(szLogFolder);

  // Both paths are checked before anything is touched, so that a path that does not fit
  // neither registers a cut path nor deletes the task it was meant to replace.
  if (!CopyWorkingPath(szActionPath, szLogsinkPath) ||
      !CopyWorkingPath(szWorkingDirectory, szLogFolder)) {
    return QNVERROR_FAILED;
  }
  PathRemoveFileSpecW(szActionPath);
  if (wcslen(szActionPath) + 1 + wcslen(in_pszCommand) > MAX_PATH - 1) return QNVERROR_FAILED;
  wcscat_s(szActionPath, L"\\");
  wcscat_s(szActionPath, in_pszCommand);

  HRESULT hr = InitializeCom();
  if (FAILED(hr)) return QNVERROR_COM_FAILED;

  int nResult = QNVERROR_FAILED;
  ITaskService* pService = NULL;
  ITaskFolder* pRootFolder = NULL;
  ITaskDefinition* pTask = NULL;
  IRegistrationInfo* pRegInfo = NULL;
  IPrincipal* pPrincipal = NULL;
  ITaskSettings* pSettings = NULL;
  ITriggerCollection* pTriggerCollection = NULL;
  ITrigger* pTrigger = NULL;
  IBootTrigger* pBootTrigger = NULL;
  IDailyTrigger* pDailyTrigger = NULL;
  IActionCollection* pActionCollection = NULL;
  IAction* pAction = NULL;
  IExecAction* pExecAction = NULL;
  IPrincipal* pRunPrincipal = NULL;
  IRegisteredTask* pRegisteredTask = NULL;

  // The string and variant wrappers raise _com_error when they cannot allocate.
  try {
    do {
      hr = InitializeSecurity();
      if (FAILED(hr)) {
        nResult = QNVERROR_COM_FAILED;
        break;
      }
      hr = CoCreateInstance(CLSID_TaskScheduler, NULL, CLSCTX_INPROC_SERVER, IID_ITaskService,
                            reinterpret_cast<void**>(&pService));
      if (FAILED(hr)) {
        nResult = QNVERROR_COM_FAILED;
        break;
      }
      hr = pService->Connect(_variant_t(), _variant_t(), _variant_t(), _variant_t());
      if (FAILED(hr)) break;
      hr = pService->GetFolder(_bstr_t(L"\\"), &pRootFolder);
      if (FAILED(hr)) break;

      // Replaces a task of the same name; a missing one is no error.
      pRootFolder->DeleteTask(_bstr_t(in_pszTaskName), 0);

      hr = pService->NewTask(0, &pTask);
      SafeRelease(pService);
      if (FAILED(hr)) break;

      hr = pTask->get_RegistrationInfo(&pRegInfo);
      if (FAILED(hr)) break;
      hr = pRegInfo->put_Author(_bstr_t(kAuthor));
      if (FAILED(hr)) break;

      hr = pTask->get_Principal(&pPrincipal);
      if (FAILED(hr)) break;
      hr = pPrincipal->put_LogonType(TASK_LOGON_S4U);
      if (FAILED(hr)) break;

      hr = pTask->get_Settings(&pSettings);
      if (FAILED(hr)) break;
      hr = pSettings->put_StartWhenAvailable(1);
      if (FAILED(hr)) break;
      hr = pSettings->put_ExecutionTimeLimit(_bstr_t(kExecutionTimeLimit));
      if (FAILED(hr)) break;
      hr = pSettings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
      if (FAILED(hr)) break;
      hr = pSettings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
      if (FAILED(hr)) break;

      hr = pTask->get_Triggers(&pTriggerCollection);
      if (FAILED(hr)) break;
      hr = pTriggerCollection->Create(in_bDaily ? TASK_TRIGGER_DAILY : TASK_TRIGGER_BOOT, &pTrigger);
      if (FAILED(hr)) break;
      if (in_bDaily) {
        hr = pTrigger->QueryInterface(IID_IDailyTrigger, reinterpret_cast<void**>(&pDailyTrigger));
        if (FAILED(hr)) break;
        hr = pDailyTrigger->put_Id(_bstr_t(kTriggerId));
        if (FAILED(hr)) break;
        hr = pDailyTrigger->put_StartBoundary(_bstr_t(kDailyStart));
        if (FAILED(hr)) break;
        hr = pDailyTrigger->put_DaysInterval(1);
        if (FAILED(hr)) break;
      } else {
        hr = pTrigger->QueryInterface(IID_IBootTrigger, reinterpret_cast<void**>(&pBootTrigger));
        if (FAILED(hr)) break;
        hr = pBootTrigger->put_Id(_bstr_t(kTriggerId));
        if (FAILED(hr)) break;
      }

      hr = pTask->get_Actions(&pActionCollection);
      if (FAILED(hr)) break;
      hr = pActionCollection->Create(TASK_ACTION_EXEC, &pAction);
      if (FAILED(hr)) break;
      hr = pAction->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&pExecAction));
      if (FAILED(hr)) break;
      hr = pExecAction->put_Path(_bstr_t(szActionPath));
      if (FAILED(hr)) break;
      if (in_pszParameters != NULL) {
        hr = pExecAction->put_Arguments(_bstr_t(in_pszParameters));
        if (FAILED(hr)) break;
      }
      hr = pExecAction->put_WorkingDirectory(_bstr_t(szWorkingDirectory));
      if (FAILED(hr)) break;

      if (SUCCEEDED(pTask->get_Principal(&pRunPrincipal)) && pRunPrincipal != NULL) {
        pRunPrincipal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
      }

      _variant_t vUser;
      TASK_LOGON_TYPE eLogonType = TASK_LOGON_INTERACTIVE_TOKEN;
      if (in_bServerMode) {
        vUser = kServerUser;
        eLogonType = TASK_LOGON_S4U;
      }
      hr = pRootFolder->RegisterTaskDefinition(_bstr_t(in_pszTaskName), pTask, TASK_CREATE_OR_UPDATE,
                                               vUser, _variant_t(), eLogonType, _variant_t(L""),
                                               &pRegisteredTask);
      if (FAILED(hr)) break;
      nResult = QNVERROR_NO_ERROR;
    } while (false);
  } catch (const _com_error&) {
    nResult = QNVERROR_FAILED;
  }

  SafeRelease(pRegisteredTask);
  SafeRelease(pRunPrincipal);
  SafeRelease(pExecAction);
  SafeRelease(pAction);
  SafeRelease(pActionCollection);
  SafeRelease(pDailyTrigger);
  SafeRelease(pBootTrigger);
  SafeRelease(pTrigger);
  SafeRelease(pTriggerCollection);
  SafeRelease(pSettings);
  SafeRelease(pPrincipal);
  SafeRelease(pRegInfo);
  SafeRelease(pTask);
  SafeRelease(pRootFolder);
  SafeRelease(pService);
  CoUninitialize();
  return nResult;
}

int SchedtoolRemoveTask(const wchar_t* in_pszTaskName) {
  if (in_pszTaskName == NULL) return QNVERROR_FAILED;
  HRESULT hr = InitializeCom();
  if (FAILED(hr)) return QNVERROR_COM_FAILED;

  int nResult = QNVERROR_FAILED;
  ITaskService* pService = NULL;
  ITaskFolder* pRootFolder = NULL;
  try {
    do {
      hr = InitializeSecurity();
      if (FAILED(hr)) {
        nResult = QNVERROR_COM_FAILED;
        break;
      }
      hr = CoCreateInstance(CLSID_TaskScheduler, NULL, CLSCTX_INPROC_SERVER, IID_ITaskService,
                            reinterpret_cast<void**>(&pService));
      if (FAILED(hr)) break;
      hr = pService->Connect(_variant_t(), _variant_t(), _variant_t(), _variant_t());
      if (FAILED(hr)) break;
      hr = pService->GetFolder(_bstr_t(L"\\"), &pRootFolder);
      if (FAILED(hr)) break;
      hr = pRootFolder->DeleteTask(_bstr_t(in_pszTaskName), 0);
      if (FAILED(hr)) break;
      nResult = QNVERROR_NO_ERROR;
    } while (false);
  } catch (const _com_error&) {
    nResult = QNVERROR_FAILED;
  }

  SafeRelease(pRootFolder);
  SafeRelease(pService);
  CoUninitialize();
  return nResult;
}
