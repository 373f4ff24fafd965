#include "test_driver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "pal/spooler_admin.h"

namespace test_driver {

std::string DriverFolder(const pal_testing::ScopedMachineRoot& root) {
  return root.drive_c() + "/Windows/System32/spool/drivers/x64/3";
}

void PlaceFile(const pal_testing::ScopedMachineRoot& root, const std::string& host_file, const std::string& name) {
  std::filesystem::create_directories(DriverFolder(root));
  std::filesystem::copy_file(host_file, DriverFolder(root) + "/" + name,
                             std::filesystem::copy_options::overwrite_existing);
}

void InstallDriver(unsigned version, const std::wstring& config_file) {
  ASSERT_EQ(pal::spooler::AddDriver({kDriverName, version, config_file, L"TQ770.VIF", L""}), 0u);
}

void AddQueue(const std::wstring& name, const std::wstring& port, const std::wstring& library) {
  pal::spooler::QueueRecord q;
  q.name = name;
  q.driver = kDriverName;
  q.port = port;
  if (!library.empty()) q.data.push_back({L"LKAPIB6Name", REG_SZ, library});
  ASSERT_EQ(pal::spooler::AddQueue(q), 0u);
}

}  // namespace test_driver
