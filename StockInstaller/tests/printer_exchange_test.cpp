// The channel, the real communication library and the printer simulator together, on both
// channel kinds.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "PrinterChannel.h"
#include "St2Status.h"
#include "pal_testing.h"
#include "sim_client.h"
#include "test_driver.h"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

// One command as the tool sends it: channel opened if needed, pending cleared, send, receive.
std::string Command(PrinterChannel& channel, const std::string& command) {
  if (!channel.IsChannelOpen() && !channel.OpenChannel()) return "<no channel>";
  channel.ClearPending();
  const BYTE* bytes = reinterpret_cast<const BYTE*>(command.data());
  if (channel.Send(bytes, static_cast<DWORD>(command.size())) <= 0) return "<send failed>";
  BYTE reply[512] = {};
  DWORD length = 0;
  INT result = channel.Receive(bytes, static_cast<DWORD>(command.size()), reply, &length);
  if (result <= 0) return "<receive failed>";
  return std::string(reinterpret_cast<char*>(reply), length);
}

std::string Query(int slot) { return std::string("ap\x03\x00\x01\x01", 6) + static_cast<char>(slot); }
std::string Delete(int slot) { return std::string("ap\x04\x00\x00\x01\x01", 7) + static_cast<char>(slot); }

class PrinterExchangeTest : public ::testing::TestWithParam<bool> {};

TEST_P(PrinterExchangeTest, StatusDeviceIdAndSlotCommands) {
  const bool snmp = GetParam();
  pal_testing::ScopedMachineRoot root;
  test_driver::PlaceFile(root, LK_COMMLIB_PATH, "M5T1QA2000.DLL");
  test_driver::InstallDriver(4);
  printersim::SimulatedPrinters sim(root.path() + "/sim", {"P1"},
                                    {{"P1", "model=TQ770\nidentity=00112233445566778899\nnot_ready_polls=1\n"}});
  // A stream-first port lists 2, 0x10000005, 4; an SNMP-only port lists 4.
  const std::string narrow_port = snmp ? "NETLOOP:127.0.0.1:u" + std::to_string(sim.UdpPort("P1")) : sim.Port("P1");
  const std::wstring port(narrow_port.begin(), narrow_port.end());
  test_driver::AddQueue(L"TQ770", port);

  PrinterChannel channel;
  ASSERT_TRUE(channel.Create(L"TQ770"));
  ASSERT_TRUE(channel.Open());
  char model[260];
  DWORD model_length = 0;
  ASSERT_TRUE(channel.GetModel(model, &model_length));
  EXPECT_STREQ(model, "TQ770");

  ASSERT_TRUE(channel.OpenChannel());
  EXPECT_EQ(channel.Kind(), snmp ? kChannelKindSnmp : kChannelKindStream);
  for (LONG want : {2, 4}) {  // not ready once, then ready
    BYTE buffer[512];
    DWORD size = 0;
    ASSERT_GT(channel.GetStatus(buffer, &size), 0);
    St2Status status;
    ASSERT_TRUE(ParseSt2Status(buffer, size, &status));
    EXPECT_EQ(status.status, want);
    ASSERT_TRUE(status.identityPresent);
    EXPECT_EQ(status.identity.head[1], 0x11);
    EXPECT_EQ(status.identity.tail[1], 0x99);
  }

  EXPECT_EQ(Command(channel, Query(3)), "@BDC PS\r\nap:03:NO;");
  std::string record = std::string("\x03", 1) + std::string("\x2D\x01\x00\x00", 4) + "\x9C" +
                       std::string(6, '\x00') + "\x50" + std::string("\x10\x27", 2) + "Custom A" +
                       std::string(4, '\x00');
  ASSERT_EQ(record.size(), 27u);
  std::string write = std::string("ap\x1E\x00\x00\x00\x01", 7) + record;
  EXPECT_EQ(Command(channel, write), "@BDC PS\r\nap:OK;");
  EXPECT_EQ(Command(channel, Query(3)), "@BDC PS\r\nap:03:" + record + ";");
  EXPECT_EQ(sim.State("P1")["slot3"], Hex(record));
  EXPECT_EQ(Command(channel, Delete(3)), "@BDC PS\r\nap:OK;");
  EXPECT_EQ(sim.State("P1")["slot3"], "empty");

  sim.SetControl("P1", "fail_delete_slots=4\n");
  EXPECT_EQ(Command(channel, Delete(4)), "@BDC PS\r\nap:NG;");
  channel.Close();
  EXPECT_EQ(sim.Count("P1", "snmp_requests") > 0, snmp);
  EXPECT_EQ(sim.Count("P1", "writes"), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PrinterExchangeTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Snmp" : "Stream"; });

TEST(PrinterExchangeFaultTest, OpenFailureOnTheFirstKindUsesNoOther) {
  pal_testing::ScopedMachineRoot root;
  test_driver::PlaceFile(root, LK_COMMLIB_PATH, "M5T1QA2000.DLL");
  test_driver::InstallDriver(4);
  printersim::SimulatedPrinters sim(root.path() + "/sim", {"P1:-:0"});
  // The stream kind comes first but nothing listens there; the SNMP agent is never asked.
  test_driver::AddQueue(L"TQ770", L"NETLOOP:127.0.0.1:t1:u" + std::to_wstring(sim.UdpPort("P1")));
  PrinterChannel channel;
  ASSERT_TRUE(channel.Create(L"TQ770"));
  ASSERT_TRUE(channel.Open());
  EXPECT_FALSE(channel.OpenChannel());
  EXPECT_EQ(sim.Count("P1", "commands"), 0);
}

}  // namespace
