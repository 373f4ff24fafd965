#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "pal/spooler_admin.h"
#include "pal_testing.h"

namespace {

int Admin(std::vector<std::string> args, std::string* output = nullptr) {
  args.insert(args.begin(), SPOOLADM_PATH);
  return pal_testing::RunProgram(args, output);
}

TEST(SpoolAdminTest, ManagesDriversAndQueuesOfTheMachine) {
  pal_testing::ScopedMachineRoot root;
  const std::string source = root.path() + "/module.so";
  pal_testing::WriteFile(source, "module bytes");
  ASSERT_EQ(Admin({"add-driver", "--name", "NORVANTE TQ770", "--version", "3", "--config", source, "--data",
                   "TQ770.VIF"}),
            0);
  const std::string driver_folder = root.drive_c() + "/Windows/System32/spool/drivers/x64/3/";
  EXPECT_EQ(pal_testing::ReadFile(driver_folder + "module.so"), "module bytes");

  ASSERT_EQ(Admin({"add-queue", "--name", "TQ770 (USB)", "--driver", "NORVANTE TQ770", "--port",
                   "NETLOOP:127.0.0.1:t9100", "--offline", "--data", "LKAPIB6Name=REG_SZ:LIB.DLL", "--data",
                   "Level=REG_DWORD:0x10"}),
            0);
  // A second queue of the same name, or one of an unknown driver, is refused.
  EXPECT_NE(Admin({"add-queue", "--name", "tq770 (usb)", "--driver", "NORVANTE TQ770", "--port", "X"}), 0);
  EXPECT_NE(Admin({"add-queue", "--name", "Q2", "--driver", "Nope", "--port", "X"}), 0);

  pal::spooler::QueueRecord q;
  ASSERT_EQ(pal::spooler::FindQueue(L"TQ770 (USB)", &q), 0u);
  EXPECT_NE(q.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE, 0u);
  ASSERT_EQ(q.data.size(), 2u);
  EXPECT_EQ(q.data[0].text, L"LIB.DLL");
  EXPECT_EQ(q.data[1].number, 16u);
  pal::spooler::DriverRecord d;
  ASSERT_EQ(pal::spooler::FindDriver(L"NORVANTE TQ770", &d), 0u);
  EXPECT_EQ(pal::spooler::DriverFilePath(d.config_file), L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\module.so");

  ASSERT_EQ(Admin({"set-queue", "--name", "TQ770 (USB)", "--online"}), 0);
  ASSERT_EQ(pal::spooler::FindQueue(L"TQ770 (USB)", &q), 0u);
  EXPECT_EQ(q.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE, 0u);

  std::string listing;
  ASSERT_EQ(Admin({"list"}, &listing), 0);
  EXPECT_NE(listing.find("queue\tTQ770 (USB)\tdriver=NORVANTE TQ770"), std::string::npos) << listing;
  EXPECT_NE(listing.find("LKAPIB6Name=REG_SZ:LIB.DLL"), std::string::npos) << listing;

  EXPECT_NE(Admin({"remove-driver", "--name", "NORVANTE TQ770"}), 0);  // still in use
  ASSERT_EQ(Admin({"remove-queue", "--name", "TQ770 (USB)"}), 0);
  ASSERT_EQ(Admin({"remove-driver", "--name", "NORVANTE TQ770"}), 0);
  EXPECT_TRUE(pal::spooler::ListDrivers().empty());
}

}  // namespace
