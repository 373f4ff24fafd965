// The media-definition file given to the tool: the printer model and up to ten custom media,
// each derived from a base media the driver knows, with the ICC profile files beside it.
#pragma once

#include <windows.h>

#include <vector>

#include "LogWrite.h"

inline constexpr int kMaxMedia = 10;
inline constexpr int kMediaNameChars = 65;

// One custom media; strings are terminated and zero-filled.
struct MediaRecord {
  WCHAR MediaName_ja[kMediaNameChars];
  WCHAR MediaName_en[kMediaNameChars];
  WCHAR MediaName_fr[kMediaNameChars];
  WCHAR MediaName_it[kMediaNameChars];
  WCHAR MediaName_de[kMediaNameChars];
  WCHAR MediaName_es[kMediaNameChars];
  WCHAR MediaName_pt[kMediaNameChars];
  WCHAR MediaName_nl[kMediaNameChars];
  WCHAR MediaName_tr[kMediaNameChars];
  WCHAR MediaName_ru[kMediaNameChars];
  WCHAR MediaName_zh_CN[kMediaNameChars];
  WCHAR MediaName_zh_TW[kMediaNameChars];
  WCHAR MediaName_ko[kMediaNameChars];
  INT BaseMediaID;
  INT MediaDefinition;
  char MediaName_prn[12];
  INT InkDuty_Normal;
  INT PaperLength;
  WCHAR Profile_Draft[MAX_PATH];
  WCHAR Profile_Normal[MAX_PATH];
  WCHAR Profile_Quality[MAX_PATH];
};

struct ProfileName {
  WCHAR szName[MAX_PATH];
};

class CIniFile {
 public:
  explicit CIniFile(CLogWrite& in_log) : m_log(in_log) {}
  virtual ~CIniFile() = default;
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  // Reads [Header] DeviceID and the sections UINumber1, UINumber2, ... up to the first one
  // without MediaDefinition; base-media sections are skipped, at most ten media are kept.
  // Fails (logged) without path or DeviceID.
  BOOL Load(LPCSTR in_pszPath);

  // Drops media i: the later ones move up, the last record is zeroed.
  void RemoveMedia(INT in_nIndex);

  WCHAR iniPath[MAX_PATH] = {};
  char deviceId[MAX_PATH] = {};
  INT mediaCount = 0;
  MediaRecord media[kMaxMedia] = {};
  // Distinct profile file names (ignoring case), in order of first appearance.
  std::vector<ProfileName> profiles;
  CLogWrite& m_log;
};

// Creates and loads the model; copies DeviceID into io_pszModelName (at most 79 characters).
// None on any failure or without log.
CIniFile* CreateIniFileInfo(LPCSTR in_pszPath, LPSTR io_pszModelName, CLogWrite* in_pLog);
