// The tool's log: one ANSI line per message, ending with CR LF, in
// <common application data>\NORVANTE\<model>\log\StockInstaller.log, started afresh per
// run. Every message also goes to the debugger output. The file is opened without sharing
// only for the moment of one message.
#pragma once

#include <windows.h>

class CLogWrite {
 public:
  CLogWrite() = default;
  virtual ~CLogWrite() = default;

  // Never fails; a file that cannot be opened is reported on the debugger output only.
  void Write(LPCSTR in_pszMessage);
  LPCSTR Path() const { return m_szPath; }

 private:
  friend CLogWrite* CreateLogWrite(LPCSTR in_pszModelName);
  char m_szPath[MAX_PATH] = {};
  INT m_bEnabled = 0;
};

// Creates the log folder of the model and deletes the previous run's log; none when the
// common application data folder cannot be found (or the path does not fit).
CLogWrite* CreateLogWrite(LPCSTR in_pszModelName);
