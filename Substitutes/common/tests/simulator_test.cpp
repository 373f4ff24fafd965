// The printer simulator's scripted faults, seen through the communication library.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "pal/spooler_admin.h"
#include "pal_testing.h"
#include "sim_client.h"

namespace {

typedef int (*PFN_Open)(int, const char*, uint32_t);
typedef int (*PFN_Send)(int, const uint8_t*, uint32_t);
typedef int (*PFN_Receive)(int, uint8_t*, uint32_t*, uint32_t);
typedef int (*PFN_Status)(int, uint8_t*, uint32_t*);

template <class Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class SimulatorFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string folder = root_.drive_c() + "/Windows/System32/spool/drivers/x64/3";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(LK_COMMLIB_PATH, folder + "/M5T1QA2000.DLL");
    ASSERT_EQ(pal::spooler::AddDriver({L"D", 4, L"C.DLL", L"D.VIF", L""}), 0u);
    sim_ = std::make_unique<printersim::SimulatedPrinters>(root_.path() + "/sim", std::vector<std::string>{"P"});
    pal::spooler::QueueRecord q;
    q.name = L"Q";
    q.driver = L"D";
    std::string port = sim_->Port("P");
    q.port.assign(port.begin(), port.end());
    ASSERT_EQ(pal::spooler::AddQueue(q), 0u);
    module_ = LoadLibraryW(L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\M5T1QA2000.DLL");
    ASSERT_NE(module_, nullptr);
    channel_ = Bind<PFN_Open>(module_, "LKOpenChannel")(1, "Q", 0x10000005);
    ASSERT_GT(channel_, 0);
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  // The reply to a command, or "<n>" for the library's failure result n.
  std::string Exchange(const std::string& command, uint32_t timeout_ms = 5000) {
    auto send = Bind<PFN_Send>(module_, "LKSend");
    auto receive = Bind<PFN_Receive>(module_, "LKReceive");
    if (send(channel_, reinterpret_cast<const uint8_t*>(command.data()), static_cast<uint32_t>(command.size())) <= 0)
      return "<send>";
    uint8_t buffer[4096];
    uint32_t length = sizeof buffer;
    int result = receive(channel_, buffer, &length, timeout_ms);
    if (result <= 0) return "<" + std::to_string(result) + ">";
    return std::string(reinterpret_cast<char*>(buffer), length);
  }
  std::string Status() {
    uint8_t buffer[512];
    uint32_t size = sizeof buffer;
    int result = Bind<PFN_Status>(module_, "LKGetStatus")(channel_, buffer, &size);
    return result > 0 ? std::string(reinterpret_cast<char*>(buffer), size) : "<failed>";
  }

  pal_testing::ScopedMachineRoot root_;
  std::unique_ptr<printersim::SimulatedPrinters> sim_;
  HMODULE module_ = nullptr;
  int channel_ = 0;
};

const std::string kQuery0("ap\x03\x00\x01\x01\x00", 7);

TEST_F(SimulatorFaultTest, RepliesFollowTheControlFile) {
  EXPECT_EQ(Status().substr(0, 15), std::string("@BDC ST2\r\n\x13\x00\x01\x01\x04", 15));
  sim_->SetControl("P", "status_reply=short\n");
  EXPECT_EQ(Status(), std::string("@BDC ST2\r\n\x13\x00", 12));
  sim_->SetControl("P", "status_reply=malformed\n");
  EXPECT_EQ(Status().substr(10), std::string("\x03\x00\x01\xC8\x04", 5));
  sim_->SetControl("P", "status_reply=no_identity\nstatus=7\n");
  EXPECT_EQ(Status().substr(10), std::string("\x07\x00\x01\x01\x07\x35\x02\x00\x00", 9));
  sim_->SetControl("P", "reply_truncate=5\n");
  EXPECT_EQ(Exchange(kQuery0), "@BDC ");
  sim_->SetControl("P", "query_na_slots=0\n");
  EXPECT_EQ(Exchange(kQuery0), "@BDC PS\r\nap:NA;");
  sim_->SetControl("P", "silent=1\n");
  EXPECT_EQ(Exchange(kQuery0, 200), "<-2>");
  sim_->SetControl("P", "silent_after=0\n");  // counts every command so far
  EXPECT_EQ(Exchange(kQuery0, 200), "<-2>");
  EXPECT_EQ(sim_->Count("P", "queries"), 4);
  EXPECT_EQ(sim_->Count("P", "status_polls"), 4);
}

TEST(SimulatorStartTest, PreloadedSlotsAndIdentity) {
  pal_testing::ScopedMachineRoot root;
  const std::string record = "05" + std::string("2d010000") + "9c" + "010203040506" + "50" + "1027" +
                             "437573746f6d204100000000";
  printersim::SimulatedPrinters sim(root.path() + "/sim", {"A", "B"},
                                    {{"A", "slot5=" + record + "\nidentity=00112233445566778899\n"}});
  EXPECT_EQ(sim.State("A")["slot5"], record);
  EXPECT_EQ(sim.State("A")["slot0"], "empty");
  EXPECT_EQ(sim.State("B")["slot5"], "empty");
  EXPECT_GT(sim.TcpPort("B"), 0);
  EXPECT_NE(sim.TcpPort("A"), sim.TcpPort("B"));
}

}  // namespace
