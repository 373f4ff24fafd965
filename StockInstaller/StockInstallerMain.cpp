#include "StockInstallerMain.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "AddToDriver.h"
#include "AddToPrinter.h"
#include "AdjustIniFileInfo.h"
#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"
#include "Protocol.h"

namespace {

// The run's steps up to the driver step; the clean-up and the end are the caller's.
BOOL RunSteps(int argc, wchar_t* argv[], CLogWrite& in_log, CIniFile*& out_pIniFile, CPrnQueue*& out_pPrnQueue) {
  if (argc < 2 || argv[1] == nullptr) {
    in_log.Write("Not found a ini file.");
    return FALSE;
  }
  char szIniPath[MAX_PATH] = {};
  if (WideCharToMultiByte(CP_ACP, 0, argv[1], -1, szIniPath, sizeof(szIniPath), nullptr, nullptr) == 0)
    szIniPath[0] = '\0';

  char szModelName[80] = "TQ770";
  out_pIniFile = CreateIniFileInfo(szIniPath, szModelName, &in_log);
  if (out_pIniFile == nullptr) {
    in_log.Write("CreateIniFileInfo error.");
    return FALSE;
  }
  char szDriverName[260] = {};
  sprintf_s(szDriverName, "%s %s", "NORVANTE", szModelName);

  out_pPrnQueue = CreatePrnQueueInfo(szDriverName, szModelName, &in_log);
  if (out_pPrnQueue == nullptr) {
    in_log.Write("CreatePrnQueueInfo error.");
    return FALSE;
  }
  if (!AdjustIniFileInfo(out_pIniFile, out_pPrnQueue, &in_log)) {
    in_log.Write("AdjustIniFileInfo error.");
    return FALSE;
  }

  const INT nDevices = static_cast<INT>(out_pPrnQueue->devices.size());
  char szLine[256];
  sprintf_s(szLine, "ProgressMax=%d\n", nDevices > 0 ? 10 * nDevices : 1);
  WriteProtocolLine(szLine);

  for (const DeviceRecord& stDevice : out_pPrnQueue->devices) {
    if (!AddToPrinter(out_pIniFile, &stDevice, &in_log)) {
      in_log.Write("AddToPrinter error.");
      return FALSE;
    }
  }
  const BOOL bDriver = AddToDriver(out_pIniFile, out_pPrnQueue, &in_log);
  if (nDevices == 0) WriteProtocolLine(bDriver ? "Result=OK\n" : "Result=NG\n");
  return bDriver;
}

}  // namespace

int StockInstallerMain(int argc, wchar_t* argv[]) {
  // argv[0] is the program: the third argument is argv[3].
  const BOOL bKeepFiles = argc >= 4 && argv[3] != nullptr && std::wcsncmp(argv[3], L"/ND", 3) == 0;
  BOOL bResult = FALSE;
  CLogWrite* pLog = CreateLogWrite("TQ770");
  CIniFile* pIniFile = nullptr;
  CPrnQueue* pPrnQueue = nullptr;
  if (pLog != nullptr) {
    pLog->Write("Start.");
    bResult = RunSteps(argc, argv, *pLog, pIniFile, pPrnQueue);
    if (!bKeepFiles && pIniFile != nullptr) DeleteTempFiles(pIniFile, pLog);
  }
  delete pIniFile;
  delete pPrnQueue;
  if (pLog != nullptr) {
    pLog->Write("End.");
    delete pLog;
  }
  WriteProtocolLine("End\n");
  return bResult ? 0 : -1;
}
