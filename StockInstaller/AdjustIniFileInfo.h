// Drops the custom media whose base media the installed driver does not know.
#pragma once

#include <windows.h>

#include "BinaryResource.h"
#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"

class CAdjustIniFileInfo {
 public:
  CAdjustIniFileInfo(CIniFile& in_iniFile, CPrnQueue& in_prnQueue, CLogWrite& in_log)
      : m_iniFile(in_iniFile), m_prnQueue(in_prnQueue), m_log(in_log) {}
  virtual ~CAdjustIniFileInfo();
  CAdjustIniFileInfo(const CAdjustIniFileInfo&) = delete;
  CAdjustIniFileInfo& operator=(const CAdjustIniFileInfo&) = delete;

  // Opens the driver's first queue and loads its binary resource. Fails, logged, without
  // queue, when it cannot be opened, or when there are media to check and the resource
  // cannot be loaded or holds no media table: without the table every media would count as
  // unknown, and the run would empty the printers' slots and add nothing while reporting
  // success.
  BOOL Init();
  // Removes, in order, every media whose base media does not convert.
  void Adjust();

 private:
  CIniFile& m_iniFile;
  CPrnQueue& m_prnQueue;
  BinaryResource m_resource;
  HANDLE m_hPrinter = nullptr;
  CLogWrite& m_log;
};

BOOL AdjustIniFileInfo(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, CLogWrite* in_pLog);
