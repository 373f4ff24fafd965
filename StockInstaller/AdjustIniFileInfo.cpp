#include "AdjustIniFileInfo.h"

#include <new>

CAdjustIniFileInfo::~CAdjustIniFileInfo() {
  if (m_hPrinter != nullptr) ClosePrinter(m_hPrinter);
}

BOOL CAdjustIniFileInfo::Init() {
  LPCWSTR pszQueue = FirstQueueName(m_prnQueue, m_log);
  if (pszQueue == nullptr) {
    m_log.Write("AddCustomCFGX: Printer queue is not found.");
    return FALSE;
  }
  if (!OpenPrinterW(const_cast<LPWSTR>(pszQueue), &m_hPrinter, nullptr)) {
    m_hPrinter = nullptr;
    m_log.Write("AddCustomCFGX: Can't open printer.");
    return FALSE;
  }
  const BOOL bLoaded = m_resource.Load(m_hPrinter);
  if ((!bLoaded || !HasMediaTable(m_resource)) && m_iniFile.mediaCount > 0) {
    m_log.Write("AdjustIniFileInfo: Can't read the media table.");
    return FALSE;
  }
  return TRUE;
}

void CAdjustIniFileInfo::Adjust() {
  INT i = 0;
  while (i < m_iniFile.mediaCount) {
    if (ConvertBaseMediaId(m_resource, m_iniFile.media[i].BaseMediaID & 0xFFFF) == -1)
      m_iniFile.RemoveMedia(i);
    else
      ++i;
  }
}

BOOL AdjustIniFileInfo(CIniFile* in_pIniFile, CPrnQueue* in_pPrnQueue, CLogWrite* in_pLog) {
  if (in_pIniFile == nullptr || in_pPrnQueue == nullptr || in_pLog == nullptr) return FALSE;
  CAdjustIniFileInfo* pAdjust = new (std::nothrow) CAdjustIniFileInfo(*in_pIniFile, *in_pPrnQueue, *in_pLog);
  if (pAdjust == nullptr) {
    in_pLog->Write("AddCustomCFGX: Init error.");
    return FALSE;
  }
  if (!pAdjust->Init()) {
    delete pAdjust;
    return FALSE;
  }
  pAdjust->Adjust();
  delete pAdjust;
  return TRUE;
}
