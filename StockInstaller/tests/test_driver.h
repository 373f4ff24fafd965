// A driver of the test machine: its files in the driver folder, queues in the spooler database.
#pragma once

#include <string>

#include "pal_testing.h"

namespace test_driver {

inline constexpr wchar_t kDriverName[] = L"NORVANTE TQ770";

// Host path of the driver folder of the current machine root.
std::string DriverFolder(const pal_testing::ScopedMachineRoot& root);
// Copies a host file into the driver folder under `name`.
void PlaceFile(const pal_testing::ScopedMachineRoot& root, const std::string& host_file, const std::string& name);
// Installs the driver (data file TQ770.VIF in the driver folder) of the given version.
void InstallDriver(unsigned version, const std::wstring& config_file = L"NVTQCFGX.DLL");
// Adds a queue of the driver; `library` is the LKAPIB6Name value unless empty.
void AddQueue(const std::wstring& name, const std::wstring& port, const std::wstring& library = L"");

}  // namespace test_driver
