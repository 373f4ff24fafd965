// Administration of the emulated machine's spooler database, beyond Win32: what the spooler
// administration tool (and tests) use to add and remove drivers and queues. The Win32 calls
// of pal/spooler.h and pal/color.h read the same database.
//
// The database lives below C:\Windows\System32\spool\database: one INI file (UTF-16LE with
// byte order mark) per driver in drivers\ and per queue in printers\. Writes replace a file
// atomically under a lock shared by every process of the machine. Names are compared
// ignoring case, as the Windows spooler does, and may not contain '\' or '/'.
#pragma once

#include <string>
#include <vector>

#include "pal/base.h"

namespace pal::spooler {

// C:\Windows\System32\spool\drivers\x64\3, where a driver's files lie.
std::wstring DriverFolder();
// C:\Windows\System32\spool\drivers\color
std::wstring ColorFolder();

struct DriverRecord {
  std::wstring name;
  DWORD version = 3;
  // File names in the driver folder, or full Windows paths.
  std::wstring config_file;
  std::wstring data_file;
  std::wstring driver_path;
};

// A printer data value: REG_SZ keeps `text`, REG_DWORD `number`, REG_BINARY `bytes`.
struct PrinterValue {
  std::wstring name;
  DWORD type = 1;
  std::wstring text;
  DWORD number = 0;
  std::vector<BYTE> bytes;
};

struct QueueRecord {
  std::wstring name;
  std::wstring driver;
  std::wstring port;
  DWORD attributes = 0;
  // Enumeration position: queues are listed in the order they were added.
  unsigned long long order = 0;
  std::vector<PrinterValue> data;
  // File names of the colour profiles associated with the queue.
  std::vector<std::wstring> color_profiles;
};

// Each returns 0 or a Win32 error code.
// ERROR_INVALID_NAME for an empty name or one with a separator.
DWORD AddDriver(const DriverRecord& driver);  // replaces a driver of the same name
// ERROR_UNKNOWN_PRINTER_DRIVER when missing; ERROR_PRINTER_DRIVER_IN_USE while a queue uses it.
DWORD RemoveDriver(const std::wstring& name);
// ERROR_UNKNOWN_PRINTER_DRIVER when the driver is not installed, ERROR_PRINTER_ALREADY_EXISTS
// when the name is taken. `order` is assigned.
DWORD AddQueue(QueueRecord queue);
// Replaces the stored queue of the same name (keeps its order); ERROR_INVALID_PRINTER_NAME when missing.
DWORD UpdateQueue(const QueueRecord& queue);
DWORD RemoveQueue(const std::wstring& name);
DWORD FindDriver(const std::wstring& name, DriverRecord* out);
DWORD FindQueue(const std::wstring& name, QueueRecord* out);
// Adds a colour profile association to a queue (no duplicate); ERROR_INVALID_PRINTER_NAME.
DWORD AssociateProfile(const std::wstring& queue, const std::wstring& profile_file_name);
std::vector<DriverRecord> ListDrivers();
// In enumeration order.
std::vector<QueueRecord> ListQueues();

// A full Windows path of a driver file: a bare name is taken in the driver folder.
std::wstring DriverFilePath(const std::wstring& file);

}  // namespace pal::spooler

#ifndef ERROR_PRINTER_ALREADY_EXISTS
#define ERROR_PRINTER_ALREADY_EXISTS 1802L
#endif
#ifndef ERROR_PRINTER_DRIVER_IN_USE
#define ERROR_PRINTER_DRIVER_IN_USE 3001L
#endif
