// The driver's configuration module, loaded at run time: its 34 VD_CFGX entries bound by
// name into a table (an entry the module lacks stays empty and fails only the call that
// needs it), the module handle and the open configuration's handle.
#pragma once

#include <windows.h>

enum CfgxEntry {
  kCfgxInit,
  kCfgxInitEx,
  kCfgxSetDefault,
  kCfgxSetDefaultByDevmode,
  kCfgxGetControlState,
  kCfgxSetControlState,
  kCfgxSetControlStateOnly,
  kCfgxSetFunctionState,
  kCfgxSave,
  kCfgxGetVersionString,
  kCfgxSetVersionString,
  kCfgxSetCustomVersionAuto,
  kCfgxGetCustomVersion,
  kCfgxSetCustomVersion,
  kCfgxUpdateREGData,
  kCfgxDeleteBinFiles,
  kCfgxExit,
  kCfgxGetFunctionStatus,
  kCfgxSetFunctionStatus,
  kCfgxGetFunctionElementStatus,
  kCfgxSetFunctionElementStatus,
  kCfgxGetFunctionAttribute,
  kCfgxSetFunctionAttribute,
  kCfgxGetFunctionElementAttribute,
  kCfgxSetFunctionElementAttribute,
  kCfgxGetFunctionValueAttribute,
  kCfgxSetFunctionValueAttribute,
  kCfgxGetLogPrinterData,
  kCfgxSetLogPrinterData,
  kCfgxAddProhibitData,
  kCfgxDeleteProhibitData,
  kCfgxAddCustomElement,
  kCfgxSetFunctionElementNameString,
  kCfgxAddRecommendData,
  kCfgxEntryCount
};

// The entries that are called, each returning 0 for success.
typedef INT(WINAPI* PFN_VD_CFGXInitEx)(HANDLE* phConfig, LPCWSTR pszDataFile, LPCWSTR pszDriverFolder,
                                       LPCWSTR pszQueueName, DWORD dwFlags);
typedef INT(WINAPI* PFN_VD_CFGXAddCustomElement)(HANDLE hConfig, DWORD dwFunction, WORD wElement, WORD wBaseElement);
typedef INT(WINAPI* PFN_VD_CFGXSetFunctionElementNameString)(HANDLE hConfig, DWORD dwFunction, WORD wElement,
                                                             LPCWSTR pszName, WORD wLanguage);
typedef INT(WINAPI* PFN_VD_CFGXSetFunctionElementAttribute)(HANDLE hConfig, DWORD dwFunction, WORD wElement,
                                                            DWORD dwAttribute, DWORD dwValue);
typedef INT(WINAPI* PFN_VD_CFGXDeleteBinFiles)(HANDLE hPrinter);
typedef INT(WINAPI* PFN_VD_CFGXSave)(HANDLE hConfig, LPCWSTR pszFolder);
typedef INT(WINAPI* PFN_VD_CFGXExit)(HANDLE hConfig);

extern const char* const g_szCfgxEntryNames[kCfgxEntryCount];

class CCfgxLibrary {
 public:
  CCfgxLibrary() = default;
  virtual ~CCfgxLibrary();
  CCfgxLibrary(const CCfgxLibrary&) = delete;
  CCfgxLibrary& operator=(const CCfgxLibrary&) = delete;

  // Loads the module (LoadLibraryW) and binds every name; FALSE only when it cannot be loaded.
  BOOL Load(LPCWSTR in_pszConfigFile);
  // Calls VD_CFGXExit for an open configuration (if bound), unloads, empties the table.
  void TearDown();

  BOOL IsLoaded() const { return m_hModule != nullptr; }
  FARPROC Entry(CfgxEntry in_nEntry) const { return m_pEntries[in_nEntry]; }
  template <class Fn>
  Fn Bound(CfgxEntry in_nEntry) const {
    // Through a generic function pointer type: the entries' real types differ from FARPROC.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(m_pEntries[in_nEntry]));
  }
  // The configuration handle that VD_CFGXInitEx sets; 0 while none is open.
  HANDLE* ConfigHandle() { return &m_hConfig; }
  HANDLE Config() const { return m_hConfig; }

 private:
  HMODULE m_hModule = nullptr;
  HANDLE m_hConfig = nullptr;
  FARPROC m_pEntries[kCfgxEntryCount] = {};
};
