// The driver's print queues and the distinct online printers of the model behind them, with
// the paths of the driver's configuration module and data file.
#pragma once

#include <windows.h>

#include <vector>

#include "LogWrite.h"
#include "St2Status.h"

struct DeviceRecord {
  WCHAR printerName[MAX_PATH];
  PrinterIdentity identity;
  WCHAR portName[MAX_PATH];
};

struct QueueName {
  WCHAR szName[MAX_PATH];
};

class CPrnQueue {
 public:
  explicit CPrnQueue(CLogWrite& in_log) : m_log(in_log) {}
  virtual ~CPrnQueue() = default;
  CPrnQueue(const CPrnQueue&) = delete;
  CPrnQueue& operator=(const CPrnQueue&) = delete;

  // Enumerates the local queues; keeps those of the driver and, of the online ones, one
  // device per printer of the model (distinct by port and by identity).
  BOOL Init(LPCSTR in_pszDriverName, LPCSTR in_pszModelName);
  // configFile and dataFile of the queue's driver.
  BOOL TakeDriverFiles(LPCWSTR in_pszQueueName);
  // The model of the queue's printer (260 bytes) and its identity; both must be read.
  BOOL GetDeviceInfo(LPCWSTR in_pszQueueName, LPSTR out_pszModel, PrinterIdentity* out_pIdentity);

  WCHAR configFile[MAX_PATH] = {};
  WCHAR dataFile[MAX_PATH] = {};
  WCHAR driverName[MAX_PATH] = {};
  std::vector<DeviceRecord> devices;
  std::vector<QueueName> queueNames;
  CLogWrite& m_log;
};

CPrnQueue* CreatePrnQueueInfo(LPCSTR in_pszDriverName, LPCSTR in_pszModelName, CLogWrite* in_pLog);

// The first queue name, or none (logged as "PrnQueue: Over index 2.").
LPCWSTR FirstQueueName(const CPrnQueue& in_queue, CLogWrite& in_log);
