// Makes every custom media a new element of the driver's media setting, named in thirteen
// languages, through the driver's configuration module, and saves the configuration into
// the driver data folder.
#pragma once

#include <windows.h>

#include "BinaryResource.h"
#include "CfgxLibrary.h"
#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"

class CAddCustomCFGX {
 public:
  CAddCustomCFGX(CIniFile& in_iniFile, CPrnQueue& in_prnQueue, CLogWrite& in_log)
      : m_iniFile(in_iniFile), m_prnQueue(in_prnQueue), m_log(in_log) {}
  virtual ~CAddCustomCFGX();
  CAddCustomCFGX(const CAddCustomCFGX&) = delete;
  CAddCustomCFGX& operator=(const CAddCustomCFGX&) = delete;

  // Driver files and folders, the open first queue and the driver's media table; each
  // failure is logged.
  BOOL Init();
  // Adds all media, removes the driver's cached files and saves. The module's own failures
  // (not loadable, no VD_CFGXInitEx, a refused open) are not logged.
  BOOL AddMedia();

 private:
  CIniFile& m_iniFile;
  CPrnQueue& m_prnQueue;
  BinaryResource m_resource;
  CCfgxLibrary m_library;
  WCHAR m_szDriverName[80] = {};
  WCHAR m_szConfigFile[MAX_PATH] = {};
  WCHAR m_szDataFile[MAX_PATH] = {};
  WCHAR m_szDriverFolder[MAX_PATH] = {};
  WCHAR m_szDataFolder[MAX_PATH] = {};
  HANDLE m_hPrinter = nullptr;
  WCHAR m_szFirstQueueName[MAX_PATH] = {};
  CLogWrite& m_log;
};
