#include "CfgxLibrary.h"

const char* const g_szCfgxEntryNames[kCfgxEntryCount] = {
    "VD_CFGXInit",
    "VD_CFGXInitEx",
    "VD_CFGXSetDefault",
    "VD_CFGXSetDefaultByDevmode",
    "VD_CFGXGetControlState",
    "VD_CFGXSetControlState",
    "VD_CFGXSetControlStateOnly",
    "VD_CFGXSetFunctionState",
    "VD_CFGXSave",
    "VD_CFGXGetVersionString",
    "VD_CFGXSetVersionString",
    "VD_CFGXSetCustomVersionAuto",
    "VD_CFGXGetCustomVersion",
    "VD_CFGXSetCustomVersion",
    "VD_CFGXUpdateREGData",
    "VD_CFGXDeleteBinFiles",
    "VD_CFGXExit",
    "VD_CFGXGetFunctionStatus",
    "VD_CFGXSetFunctionStatus",
    "VD_CFGXGetFunctionElementStatus",
    "VD_CFGXSetFunctionElementStatus",
    "VD_CFGXGetFunctionAttribute",
    "VD_CFGXSetFunctionAttribute",
    "VD_CFGXGetFunctionElementAttribute",
    "VD_CFGXSetFunctionElementAttribute",
    "VD_CFGXGetFunctionValueAttribute",
    "VD_CFGXSetFunctionValueAttribute",
    "VD_CFGXGetLogPrinterData",
    "VD_CFGXSetLogPrinterData",
    "VD_CFGXAddProhibitData",
    "VD_CFGXDeleteProhibitData",
    "VD_CFGXAddCustomElement",
    "VD_CFGXSetFunctionElementNameString",
    "VD_CFGXAddRecommendData",
};

CCfgxLibrary::~CCfgxLibrary() { TearDown(); }

BOOL CCfgxLibrary::Load(LPCWSTR in_pszConfigFile) {
  TearDown();
  if (in_pszConfigFile == nullptr) return FALSE;
  m_hModule = LoadLibraryW(in_pszConfigFile);
  if (m_hModule == nullptr) return FALSE;
  for (int i = 0; i < kCfgxEntryCount; ++i) m_pEntries[i] = GetProcAddress(m_hModule, g_szCfgxEntryNames[i]);
  return TRUE;
}

void CCfgxLibrary::TearDown() {
  PFN_VD_CFGXExit pfnExit = Bound<PFN_VD_CFGXExit>(kCfgxExit);
  if (pfnExit != nullptr && m_hConfig != nullptr) {
    pfnExit(m_hConfig);
    m_hConfig = nullptr;
  }
  if (m_hModule != nullptr) {
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }
  for (FARPROC& entry : m_pEntries) entry = nullptr;
  m_hConfig = nullptr;
}
