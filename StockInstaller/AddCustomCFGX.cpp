#include "AddCustomCFGX.h"

#include <cwchar>

#include "Folders.h"

namespace {

struct NameLanguage {
  WCHAR (MediaRecord::*pName)[kMediaNameChars];
  WORD wLanguage;
  const char* pszError;
};

const NameLanguage kNameLanguages[] = {
    {&MediaRecord::MediaName_ja, 0x0411, "AddCustomCFGX: Can't set name JA."},
    {&MediaRecord::MediaName_en, 0x0409, "AddCustomCFGX: Can't set name EN."},
    {&MediaRecord::MediaName_fr, 0x040C, "AddCustomCFGX: Can't set name FR."},
    {&MediaRecord::MediaName_it, 0x0410, "AddCustomCFGX: Can't set name IT."},
    {&MediaRecord::MediaName_de, 0x0407, "AddCustomCFGX: Can't set name DE."},
    {&MediaRecord::MediaName_es, 0x040A, "AddCustomCFGX: Can't set name ES."},
    {&MediaRecord::MediaName_pt, 0x0816, "AddCustomCFGX: Can't set name PT."},
    {&MediaRecord::MediaName_nl, 0x0413, "AddCustomCFGX: Can't set name NL."},
    {&MediaRecord::MediaName_tr, 0x041F, "AddCustomCFGX: Can't set name TR."},
    {&MediaRecord::MediaName_ru, 0x0419, "AddCustomCFGX: Can't set name RU."},
    {&MediaRecord::MediaName_zh_CN, 0x0804, "AddCustomCFGX: Can't set name CN."},
    {&MediaRecord::MediaName_zh_TW, 0x0404, "AddCustomCFGX: Can't set name TW."},
    {&MediaRecord::MediaName_ko, 0x0412, "AddCustomCFGX: Can't set name KO."},
};

constexpr DWORD kMediaFunction = 1;
constexpr DWORD kMediaNumberAttribute = 26;

}  // namespace

CAddCustomCFGX::~CAddCustomCFGX() {
  m_library.TearDown();
  m_resource.Free();
  if (m_hPrinter != nullptr) ClosePrinter(m_hPrinter);
}

BOOL CAddCustomCFGX::Init() {
  wcsncpy_s(m_szDriverName, m_prnQueue.driverName, _countof(m_szDriverName) - 1);
  wcsncpy_s(m_szConfigFile, m_prnQueue.configFile, MAX_PATH - 1);
  wcsncpy_s(m_szDataFile, m_prnQueue.dataFile, MAX_PATH - 1);
  if (m_szDriverName[0] == L'\0' || m_szConfigFile[0] == L'\0' || m_szDataFile[0] == L'\0') {
    m_log.Write("AddCustomCFGX: Can't get informations.");
    return FALSE;
  }
  if (!GetParentFolder(m_szDriverFolder, m_szDataFile)) {
    m_log.Write("AddCustomCFGX: Can't get base folder.");
    return FALSE;
  }
  if (!GetDataFolder(m_szDataFolder, m_szDriverName)) {
    m_log.Write("AddCustomCFGX: Can't get dest folder.");
    return FALSE;
  }
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
  wcsncpy_s(m_szFirstQueueName, pszQueue, MAX_PATH - 1);
  m_resource.Load(m_hPrinter);
  return TRUE;
}

BOOL CAddCustomCFGX::AddMedia() {
  if (!m_library.Load(m_szConfigFile)) return FALSE;
  PFN_VD_CFGXInitEx pfnInitEx = m_library.Bound<PFN_VD_CFGXInitEx>(kCfgxInitEx);
  if (pfnInitEx == nullptr) {
    m_library.TearDown();
    return FALSE;
  }
  if (pfnInitEx(m_library.ConfigHandle(), m_szDataFile, m_szDriverFolder, m_szFirstQueueName, 1) != 0) return FALSE;

  auto pfnAddElement = m_library.Bound<PFN_VD_CFGXAddCustomElement>(kCfgxAddCustomElement);
  auto pfnSetName = m_library.Bound<PFN_VD_CFGXSetFunctionElementNameString>(kCfgxSetFunctionElementNameString);
  auto pfnSetAttribute = m_library.Bound<PFN_VD_CFGXSetFunctionElementAttribute>(kCfgxSetFunctionElementAttribute);
  for (INT i = 0; i < m_iniFile.mediaCount; ++i) {
    const MediaRecord& stMedia = m_iniFile.media[i];
    const INT nElementId = ConvertBaseMediaId(m_resource, stMedia.BaseMediaID & 0xFFFF);
    if (nElementId == -1) {
      m_log.Write("AddCustomCFGX: Can't convert ID.");
      return FALSE;
    }
    const WORD wElement = static_cast<WORD>(stMedia.MediaDefinition & 0xFFFF);
    if (pfnAddElement == nullptr ||
        pfnAddElement(m_library.Config(), kMediaFunction, wElement, static_cast<WORD>(nElementId)) != 0) {
      m_log.Write("AddCustomCFGX: Can't add element.");
      return FALSE;
    }
    for (const NameLanguage& stName : kNameLanguages) {
      if (pfnSetName == nullptr ||
          pfnSetName(m_library.Config(), kMediaFunction, wElement, stMedia.*stName.pName, stName.wLanguage) != 0) {
        m_log.Write(stName.pszError);
        return FALSE;
      }
    }
    if (pfnSetAttribute == nullptr ||
        pfnSetAttribute(m_library.Config(), kMediaFunction, wElement, kMediaNumberAttribute,
                        static_cast<DWORD>(stMedia.MediaDefinition)) != 0) {
      m_log.Write("AddCustomCFGX: Can't add new ID.");
      return FALSE;
    }
  }
  auto pfnDeleteBinFiles = m_library.Bound<PFN_VD_CFGXDeleteBinFiles>(kCfgxDeleteBinFiles);
  if (pfnDeleteBinFiles == nullptr || pfnDeleteBinFiles(m_hPrinter) != 0) {
    m_log.Write("AddCustomCFGX: Can't delete files.");
    return FALSE;
  }
  auto pfnSave = m_library.Bound<PFN_VD_CFGXSave>(kCfgxSave);
  if (pfnSave == nullptr || pfnSave(m_library.Config(), m_szDataFolder) != 0) {
    m_log.Write("AddCustomCFGX: Can't save.");
    return FALSE;
  }
  return TRUE;
}
