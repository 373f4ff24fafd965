// Installs the media's ICC profiles into the colour directory, associates them with every
// queue of the driver and records each media's profile per resolution in the driver's ICC
// INI file (UTF-16LE, recreated on every run) in the driver data folder.
#pragma once

#include <windows.h>

#include "IniFile.h"
#include "LogWrite.h"
#include "PrnQueue.h"

class CAddICCProfile {
 public:
  CAddICCProfile(CIniFile& in_iniFile, CPrnQueue& in_prnQueue, CLogWrite& in_log)
      : m_iniFile(in_iniFile), m_prnQueue(in_prnQueue), m_log(in_log) {}
  virtual ~CAddICCProfile() = default;
  CAddICCProfile(const CAddICCProfile&) = delete;
  CAddICCProfile& operator=(const CAddICCProfile&) = delete;

  // Finds the folders and the ICC INI's name and recreates that file empty; failures logged.
  BOOL Init();
  // Replaces each installed profile of a listed name by the work folder's copy. A profile
  // that cannot be uninstalled is logged and left; one that cannot be installed fails.
  BOOL InstallProfiles();
  // Associates every profile with every queue of the driver; the first failure fails.
  BOOL AssociateProfiles();

  CIniFile& IniFile() { return m_iniFile; }
  CPrnQueue& PrnQueue() { return m_prnQueue; }
  CLogWrite& Log() { return m_log; }
  LPCWSTR IccIniPath() const { return m_szIccIniPath; }

 private:
  CIniFile& m_iniFile;
  CPrnQueue& m_prnQueue;
  WCHAR m_szDriverName[80] = {};
  WCHAR m_szIniPath[MAX_PATH] = {};
  WCHAR m_szMediaFolder[MAX_PATH] = {};
  WCHAR m_szColourFolder[MAX_PATH] = {};
  WCHAR m_szIccIniPath[MAX_PATH] = {};
  CLogWrite& m_log;
};

// Writes the keys "<MediaDefinition>_<resolution key>" of every media into the ICC INI.
BOOL AddLocalMediaICCProfiles(CAddICCProfile& in_profiles);

// A profile name is used as a bare file name in the work folder and the colour directory:
// one with a folder part, a drive or only dots would reach elsewhere and is refused.
BOOL IsBareProfileName(LPCWSTR in_pszName);

// The message formatted into 520 wide characters and converted into 260 bytes, always
// terminated (cut when longer).
void FormatProfileMessage(char (&out_szMessage)[MAX_PATH], LPCWSTR in_pszFormat, LPCWSTR in_pszFile,
                          DWORD in_nError);
