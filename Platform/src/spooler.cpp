// The Win32 spooler face and the administration calls, both on the spooler database.
#include <algorithm>
#include <cstring>
#include <memory>

#include "handle.h"
#include "result.h"
#include "pal/errors.h"
#include "pal/spooler.h"
#include "pal/spooler_admin.h"
#include "spooler_db.h"

namespace pal::spooler {
namespace {

struct Loaded {
  std::string file;
  QueueRecord queue;
};

std::vector<Loaded> LoadQueues() {
  std::vector<Loaded> out;
  for (StoredEntry& e : ReadTable(Table::kPrinters)) {
    QueueRecord q;
    if (ParseQueue(e.text, &q)) out.push_back({e.file, std::move(q)});
  }
  std::stable_sort(out.begin(), out.end(), [](const Loaded& a, const Loaded& b) {
    return a.queue.order != b.queue.order ? a.queue.order < b.queue.order : a.queue.name < b.queue.name;
  });
  return out;
}

bool LoadDriver(const std::wstring& name, DriverRecord* out, std::string* file = nullptr) {
  for (StoredEntry& e : ReadTable(Table::kDrivers)) {
    DriverRecord d;
    if (ParseDriver(e.text, &d) && EqualsIgnoreCase(d.name, name)) {
      *out = std::move(d);
      if (file != nullptr) *file = e.file;
      return true;
    }
  }
  return false;
}

const Loaded* FindLoaded(const std::vector<Loaded>& queues, const std::wstring& name) {
  for (const Loaded& l : queues)
    if (EqualsIgnoreCase(l.queue.name, name)) return &l;
  return nullptr;
}

}  // namespace

std::wstring DriverFolder() { return L"C:\\Windows\\System32\\spool\\drivers\\x64\\3"; }
std::wstring ColorFolder() { return L"C:\\Windows\\System32\\spool\\drivers\\color"; }

std::wstring DriverFilePath(const std::wstring& file) {
  if (file.empty() || file.find(L'\\') != std::wstring::npos || file.find(L'/') != std::wstring::npos ||
      (file.size() >= 2 && file[1] == L':'))
    return file;
  return DriverFolder() + L"\\" + file;
}

DWORD AddDriver(const DriverRecord& driver) {
  if (!IsValidName(driver.name)) return ERROR_INVALID_NAME;
  StoreLock lock;
  DriverRecord existing;
  std::string file;
  if (LoadDriver(driver.name, &existing, &file)) {
    DWORD err = DeleteEntryFile(file);
    if (err != 0) return err;
  }
  return WriteEntry(Table::kDrivers, driver.name, FormatDriver(driver));
}

DWORD RemoveDriver(const std::wstring& name) {
  StoreLock lock;
  DriverRecord existing;
  std::string file;
  if (!LoadDriver(name, &existing, &file)) return ERROR_UNKNOWN_PRINTER_DRIVER;
  for (const Loaded& l : LoadQueues())
    if (EqualsIgnoreCase(l.queue.driver, existing.name)) return ERROR_PRINTER_DRIVER_IN_USE;
  return DeleteEntryFile(file);
}

DWORD AddQueue(QueueRecord queue) {
  if (!IsValidName(queue.name)) return ERROR_INVALID_NAME;
  StoreLock lock;
  DriverRecord driver;
  if (!LoadDriver(queue.driver, &driver)) return ERROR_UNKNOWN_PRINTER_DRIVER;
  std::vector<Loaded> queues = LoadQueues();
  if (FindLoaded(queues, queue.name) != nullptr) return ERROR_PRINTER_ALREADY_EXISTS;
  queue.order = queues.empty() ? 1 : queues.back().queue.order + 1;
  return WriteEntry(Table::kPrinters, queue.name, FormatQueue(queue));
}

DWORD UpdateQueue(const QueueRecord& queue) {
  StoreLock lock;
  std::vector<Loaded> queues = LoadQueues();
  const Loaded* found = FindLoaded(queues, queue.name);
  if (found == nullptr) return ERROR_INVALID_PRINTER_NAME;
  QueueRecord updated = queue;
  updated.name = found->queue.name;
  updated.order = found->queue.order;
  return WriteEntry(Table::kPrinters, updated.name, FormatQueue(updated));
}

DWORD RemoveQueue(const std::wstring& name) {
  StoreLock lock;
  std::vector<Loaded> queues = LoadQueues();
  const Loaded* found = FindLoaded(queues, name);
  if (found == nullptr) return ERROR_INVALID_PRINTER_NAME;
  return DeleteEntryFile(found->file);
}

DWORD FindDriver(const std::wstring& name, DriverRecord* out) {
  return LoadDriver(name, out) ? 0 : ERROR_UNKNOWN_PRINTER_DRIVER;
}

DWORD FindQueue(const std::wstring& name, QueueRecord* out) {
  std::vector<Loaded> queues = LoadQueues();
  const Loaded* found = FindLoaded(queues, name);
  if (found == nullptr) return ERROR_INVALID_PRINTER_NAME;
  *out = found->queue;
  return 0;
}

DWORD AssociateProfile(const std::wstring& queue, const std::wstring& profile) {
  StoreLock lock;
  std::vector<Loaded> queues = LoadQueues();
  const Loaded* found = FindLoaded(queues, queue);
  if (found == nullptr) return ERROR_INVALID_PRINTER_NAME;
  QueueRecord updated = found->queue;
  for (const std::wstring& p : updated.color_profiles)
    if (EqualsIgnoreCase(p, profile)) return 0;
  updated.color_profiles.push_back(profile);
  return WriteEntry(Table::kPrinters, updated.name, FormatQueue(updated));
}

std::vector<DriverRecord> ListDrivers() {
  std::vector<DriverRecord> out;
  for (StoredEntry& e : ReadTable(Table::kDrivers)) {
    DriverRecord d;
    if (ParseDriver(e.text, &d)) out.push_back(std::move(d));
  }
  std::sort(out.begin(), out.end(), [](const DriverRecord& a, const DriverRecord& b) { return a.name < b.name; });
  return out;
}

std::vector<QueueRecord> ListQueues() {
  std::vector<QueueRecord> out;
  for (Loaded& l : LoadQueues()) out.push_back(std::move(l.queue));
  return out;
}

}  // namespace pal::spooler

namespace {

using pal::spooler::QueueRecord;

class PrinterObject : public pal::HandleObject {
 public:
  explicit PrinterObject(QueueRecord queue) : HandleObject(pal::HandleKind::kPrinter), queue_(std::move(queue)) {}
  const QueueRecord& queue() const { return queue_; }

 private:
  QueueRecord queue_;
};

// Lays out fixed structures first and their strings after them, as the spooler does, so
// that one block holds everything and the caller frees it at once.
class Packer {
 public:
  Packer(LPBYTE base, size_t strings_offset) : base_(base), next_(strings_offset) {}
  LPWSTR Put(const std::wstring& s) {
    LPWSTR at = reinterpret_cast<LPWSTR>(base_ + next_);
    std::memcpy(at, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    next_ += (s.size() + 1) * sizeof(wchar_t);
    return at;
  }

 private:
  LPBYTE base_;
  size_t next_;
};

size_t StringBytes(const std::wstring& s) { return (s.size() + 1) * sizeof(wchar_t); }

}  // namespace

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (pcbNeeded == nullptr || pcReturned == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  *pcbNeeded = 0;
  *pcReturned = 0;
  if (Level != 2) return pal::Fail(pal::Win32Error(ERROR_INVALID_LEVEL), FALSE);
  if ((Flags & PRINTER_ENUM_LOCAL) == 0 || (Name != nullptr && *Name != 0))
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  std::vector<QueueRecord> queues = pal::spooler::ListQueues();
  size_t needed = queues.size() * sizeof(PRINTER_INFO_2W);
  for (const QueueRecord& q : queues)
    needed += StringBytes(q.name) + StringBytes(q.port) + StringBytes(q.driver) + StringBytes(L"");
  if (needed > 0xFFFFFFFFu) return pal::Fail(pal::Win32Error(ERROR_NOT_ENOUGH_MEMORY), FALSE);
  *pcbNeeded = static_cast<DWORD>(needed);
  if (queues.empty()) {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (pPrinterEnum == nullptr || cbBuf < needed) return pal::Fail(pal::Win32Error(ERROR_INSUFFICIENT_BUFFER), FALSE);
  std::memset(pPrinterEnum, 0, needed);
  auto* infos = reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum);
  Packer packer(pPrinterEnum, queues.size() * sizeof(PRINTER_INFO_2W));
  LPWSTR empty = packer.Put(L"");
  for (size_t i = 0; i < queues.size(); ++i) {
    PRINTER_INFO_2W& info = infos[i];
    info.pPrinterName = packer.Put(queues[i].name);
    info.pPortName = packer.Put(queues[i].port);
    info.pDriverName = packer.Put(queues[i].driver);
    info.pShareName = info.pComment = info.pLocation = info.pSepFile = empty;
    info.pServerName = nullptr;
    info.pPrintProcessor = info.pDatatype = info.pParameters = empty;
    info.Attributes = queues[i].attributes | PRINTER_ATTRIBUTE_LOCAL;
    info.Priority = info.DefaultPriority = 1;
  }
  *pcReturned = static_cast<DWORD>(queues.size());
  return TRUE;
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
  if (phPrinter == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  *phPrinter = nullptr;
  if (pPrinterName == nullptr || *pPrinterName == 0)
    return pal::Fail(pal::Win32Error(ERROR_INVALID_PRINTER_NAME), FALSE);
  QueueRecord queue;
  if (DWORD err = pal::spooler::FindQueue(pPrinterName, &queue); err != 0) return pal::Fail(pal::Win32Error(err), FALSE);
  *phPrinter = pal::IssueHandle(std::make_unique<PrinterObject>(std::move(queue)));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  if (pal::LookupHandleAs<PrinterObject>(hPrinter, pal::HandleKind::kPrinter) == nullptr) return FALSE;
  return pal::RetireHandle(hPrinter) ? TRUE : FALSE;
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                              LPDWORD pcbNeeded) {
  auto printer = pal::LookupHandleAs<PrinterObject>(hPrinter, pal::HandleKind::kPrinter);
  if (printer == nullptr) return FALSE;
  if (pcbNeeded == nullptr) return pal::Fail(pal::Win32Error(ERROR_INVALID_PARAMETER), FALSE);
  *pcbNeeded = 0;
  if (Level != 2) return pal::Fail(pal::Win32Error(ERROR_INVALID_LEVEL), FALSE);
  const std::wstring environment = L"Windows x64";
  if (pEnvironment != nullptr && !pal::spooler::EqualsIgnoreCase(pEnvironment, environment))
    return pal::Fail(pal::Win32Error(ERROR_UNKNOWN_PRINTER_DRIVER), FALSE);
  pal::spooler::DriverRecord driver;
  if (DWORD err = pal::spooler::FindDriver(printer->queue().driver, &driver); err != 0)
    return pal::Fail(pal::Win32Error(err), FALSE);
  const std::wstring config = pal::spooler::DriverFilePath(driver.config_file);
  const std::wstring data = pal::spooler::DriverFilePath(driver.data_file);
  const std::wstring main =
      pal::spooler::DriverFilePath(driver.driver_path.empty() ? driver.config_file : driver.driver_path);
  size_t needed = sizeof(DRIVER_INFO_2W) + StringBytes(driver.name) + StringBytes(environment) +
                  StringBytes(main) + StringBytes(data) + StringBytes(config);
  *pcbNeeded = static_cast<DWORD>(needed);
  if (pDriverInfo == nullptr || cbBuf < needed) return pal::Fail(pal::Win32Error(ERROR_INSUFFICIENT_BUFFER), FALSE);
  std::memset(pDriverInfo, 0, needed);
  auto* info = reinterpret_cast<DRIVER_INFO_2W*>(pDriverInfo);
  Packer packer(pDriverInfo, sizeof(DRIVER_INFO_2W));
  info->cVersion = driver.version;
  info->pName = packer.Put(driver.name);
  info->pEnvironment = packer.Put(environment);
  info->pDriverPath = packer.Put(main);
  info->pDataFile = packer.Put(data);
  info->pConfigFile = packer.Put(config);
  return TRUE;
}

DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
  auto printer = pal::LookupHandleAs<PrinterObject>(hPrinter, pal::HandleKind::kPrinter);
  if (printer == nullptr) return ERROR_INVALID_HANDLE;
  if (pcbNeeded == nullptr || pValueName == nullptr) return ERROR_INVALID_PARAMETER;
  *pcbNeeded = 0;
  const pal::spooler::PrinterValue* value = nullptr;
  for (const auto& v : printer->queue().data)
    if (pal::spooler::EqualsIgnoreCase(v.name, pValueName)) value = &v;
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  std::vector<BYTE> bytes;
  if (value->type == REG_DWORD) {
    bytes.resize(sizeof(DWORD));
    std::memcpy(bytes.data(), &value->number, sizeof(DWORD));
  } else if (value->type == REG_BINARY) {
    bytes = value->bytes;
  } else {
    bytes.resize(StringBytes(value->text));
    std::memcpy(bytes.data(), value->text.c_str(), bytes.size());
  }
  *pcbNeeded = static_cast<DWORD>(bytes.size());
  if (pType != nullptr) *pType = value->type;
  if (pData == nullptr || nSize < bytes.size()) return ERROR_MORE_DATA;
  if (!bytes.empty()) std::memcpy(pData, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}
