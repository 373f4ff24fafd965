// The spooler database's records and their text form (OS-free), and the store that keeps
// them as files (POSIX backend).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pal/spooler_admin.h"

namespace pal::spooler {

// A minimal INI document: sections in file order, keys in file order.
struct IniSection {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  const std::wstring* Find(std::wstring_view key) const;
};
using IniDocument = std::vector<IniSection>;

// Section and key names are matched ignoring case; blanks around keys and values are
// trimmed; lines without '=' outside comments are ignored.
IniDocument ParseIni(std::wstring_view text);
std::wstring FormatIni(const IniDocument& doc);

// File bytes: UTF-16LE with byte order mark; reading also accepts UTF-8.
std::string EncodeFileText(std::wstring_view text);
std::wstring DecodeFileText(std::string_view bytes);

std::wstring FormatDriver(const DriverRecord& driver);
bool ParseDriver(std::wstring_view text, DriverRecord* out);
std::wstring FormatQueue(const QueueRecord& queue);
bool ParseQueue(std::wstring_view text, QueueRecord* out);

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);
bool IsValidName(std::wstring_view name);

// --- store (POSIX backend) ---
enum class Table { kDrivers, kPrinters };

struct StoredEntry {
  std::string file;     // host path
  std::wstring text;
};

// Every entry of a table; a missing table is empty.
std::vector<StoredEntry> ReadTable(Table table);
// Writes the entry for `name` atomically (temporary file and rename); returns a Win32 error.
DWORD WriteEntry(Table table, const std::wstring& name, const std::wstring& text);
DWORD DeleteEntryFile(const std::string& file);

// Serialises the read-modify-write cycles of every process of this machine.
class StoreLock {
 public:
  StoreLock();
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace pal::spooler
