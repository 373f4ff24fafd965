#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "PrinterChannel.h"
#include "SnmpMessage.h"
#include "fake_lk.h"
#include "pal/spooler_admin.h"
#include "pal_testing.h"
#include "test_driver.h"

namespace {

constexpr wchar_t kQueue[] = L"TQ770 queue";

// A queue whose communication library is the fake, reached through LKAPIB6Name (driver
// version 3) or by the fixed name of version 4 drivers.
class PrinterChannelTest : public ::testing::Test {
 protected:
  void Install(unsigned version) {
    test_driver::PlaceFile(root_, FAKE_LK_PATH, version >= 4 ? "M5T1QA2000.DLL" : "FAKELK.DLL");
    test_driver::InstallDriver(version);
    test_driver::AddQueue(kQueue, L"NETLOOP:127.0.0.1:t1", version >= 4 ? L"" : L"FAKELK.DLL");
    std::wstring path = L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\";
    path += version >= 4 ? L"M5T1QA2000.DLL" : L"FAKELK.DLL";
    // The same file the channel loads, so both see one library.
    module_ = LoadLibraryW(path.c_str());
    ASSERT_NE(module_, nullptr);
    auto control = reinterpret_cast<PFN_FakeLk_Control>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "FakeLk_Control")));
    ASSERT_NE(control, nullptr);
    fake_ = control();
    fake_->open_result = 7;
    fake_->kinds[0] = kChannelKindStream;
    fake_->kind_count = 1;
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  void SetReply(const std::string& reply) {
    std::memcpy(fake_->reply, reply.data(), reply.size());
    fake_->reply_length = static_cast<uint32_t>(reply.size());
  }

  pal_testing::ScopedMachineRoot root_;
  HMODULE module_ = nullptr;
  FakeLkControl* fake_ = nullptr;
};

TEST_F(PrinterChannelTest, LibraryPathByDriverVersion) {
  Install(4);
  WCHAR path[520];
  ASSERT_TRUE(FindPrinterLibraryPath(kQueue, path, 520));
  EXPECT_STREQ(path, L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\M5T1QA2000.DLL");
}

TEST_F(PrinterChannelTest, VersionThreeUsesThePrinterDataValueAndNeedsIt) {
  Install(3);
  WCHAR path[520];
  ASSERT_TRUE(FindPrinterLibraryPath(kQueue, path, 520));
  EXPECT_STREQ(path, L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\FAKELK.DLL");
  test_driver::AddQueue(L"no value", L"X");
  EXPECT_FALSE(FindPrinterLibraryPath(L"no value", path, 520));
  EXPECT_FALSE(FindPrinterLibraryPath(L"no such queue", path, 520));
  PrinterChannel channel;
  channel.Create(L"no value");
  EXPECT_FALSE(channel.Open());
}

TEST_F(PrinterChannelTest, NotStartedWhenInitialisationFails) {
  Install(3);
  fake_->init_result = 5;
  PrinterChannel channel;
  channel.Create(kQueue);
  EXPECT_FALSE(channel.Open());
  EXPECT_FALSE(channel.OpenChannel());
  channel.Close();
  EXPECT_EQ(fake_->release_calls, 0);  // only a started library is released
}

TEST_F(PrinterChannelTest, ChannelKindChoice) {
  Install(3);
  struct Case {
    const char* name;
    std::vector<uint32_t> kinds;
    uint32_t want;
  } cases[] = {
      {"stream_before_snmp", {2, 0x10000005, 4}, 0x10000005},
      {"snmp_first", {4, 0x10000005}, 4},
      {"none_supported", {2, 3}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_->kind_count = static_cast<int>(c.kinds.size());
    std::copy(c.kinds.begin(), c.kinds.end(), fake_->kinds);
    fake_->open_calls = 0;
    PrinterChannel channel;
    channel.Create(kQueue);
    ASSERT_TRUE(channel.Open());
    EXPECT_EQ(channel.OpenChannel() != FALSE, c.want != 0);
    EXPECT_EQ(channel.Kind(), c.want);
    EXPECT_EQ(fake_->open_calls, c.want != 0 ? 1 : 0);
    if (c.want != 0) {
      EXPECT_EQ(fake_->opened_kinds[0], c.want);
    }
  }
}

TEST_F(PrinterChannelTest, FailedOpenTriesNoOtherKind) {
  Install(3);
  fake_->kinds[0] = 0x10000005;
  fake_->kinds[1] = 4;
  fake_->kind_count = 2;
  fake_->open_result = -1;
  PrinterChannel channel;
  channel.Create(kQueue);
  ASSERT_TRUE(channel.Open());
  EXPECT_FALSE(channel.OpenChannel());
  EXPECT_EQ(fake_->open_calls, 1);
  EXPECT_EQ(channel.Kind(), 0u);
  EXPECT_FALSE(channel.IsChannelOpen());
}

TEST_F(PrinterChannelTest, TooLongReplyStaysPendingForTheNextReceive) {
  Install(3);
  std::string reply(700, 'r');
  reply.replace(0, 12, "@BDC PS\r\nap:");
  SetReply(reply);
  PrinterChannel channel;
  channel.Create(kQueue);
  ASSERT_TRUE(channel.Open());
  ASSERT_TRUE(channel.OpenChannel());
  const BYTE command[] = {'a', 'p', 0, 0};
  BYTE out[512];
  DWORD length = 0;
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), -4);
  EXPECT_EQ(length, 700u);
  EXPECT_EQ(channel.Pending(), 700u);
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), -4);
  EXPECT_EQ(fake_->receive_calls, 1);  // worked on the held reply, read nothing new
  channel.ClearPending();
  SetReply("@BDC PS\r\nap:OK;");
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "@BDC PS\r\nap:OK;");
  EXPECT_EQ(fake_->receive_calls, 2);
  fake_->receive_result = -2;
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), 0);
  EXPECT_EQ(channel.Pending(), 0u);
}

TEST_F(PrinterChannelTest, SnmpKindWrapsCommandsAndUnwrapsReplies) {
  Install(3);
  fake_->kinds[0] = 4;
  PrinterChannel channel;
  channel.Create(kQueue);
  ASSERT_TRUE(channel.Open());
  ASSERT_TRUE(channel.OpenChannel());
  const BYTE command[] = {0x61, 0x70, 0x04, 0x00, 0x00, 0x01, 0x01, 0x05};
  ASSERT_GT(channel.Send(command, sizeof command), 0);
  std::vector<BYTE> wanted = BuildSnmpRequest(command, sizeof command);
  EXPECT_EQ(std::vector<BYTE>(fake_->sent, fake_->sent + fake_->sent_length), wanted);

  // The agent's answer: identifier ending with the command bytes, value with a lead byte.
  std::string response = "\x30\x2A\x02\x01\x01\x04\x06public\xA2\x1D";
  response += std::string(reinterpret_cast<const char*>(command), sizeof command);
  response += std::string("\x04\x10\x01", 3) + "@BDC PS\r\nap:OK;";
  SetReply(response);
  BYTE out[512];
  DWORD length = 0;
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "@BDC PS\r\nap:OK;");

  SetReply("\x30\x03\x02\x01\x01");  // no identifier of the command: positive, no data
  EXPECT_EQ(channel.Receive(command, sizeof command, out, &length), 1);
  EXPECT_EQ(length, 0u);
}

TEST_F(PrinterChannelTest, ModelFromDeviceId) {
  Install(3);
  struct Case {
    const char* name;
    std::string id;
    bool ok;
    const char* model;
  } cases[] = {
      {"model_then_fields", "MFG:NORVANTE;MDL:TQ770;CLS:PRINTER;", true, "TQ770"},
      {"model_at_end_without_semicolon", "MFG:X;MDL:TQ770", true, "TQ770"},
      {"no_model_field", "MFG:NORVANTE;CLS:PRINTER;", false, ""},
      {"empty_model", "MDL:;", false, ""},
      {"cut_marker", "MFG:X;MDL", false, ""},
      {"long_model_cut_to_259", "MDL:" + std::string(400, 'M') + ";", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(fake_->device_id, 'Z', sizeof fake_->device_id);  // no terminator after the ID
    std::memcpy(fake_->device_id, c.id.data(), c.id.size());
    fake_->device_id_length = static_cast<uint32_t>(c.id.size());
    PrinterChannel channel;
    channel.Create(kQueue);
    ASSERT_TRUE(channel.Open());
    char model[260];
    DWORD length = 0;
    EXPECT_EQ(channel.GetModel(model, &length) != FALSE, c.ok);
    if (c.model != nullptr) {
      EXPECT_STREQ(model, c.model);
    } else {
      EXPECT_EQ(std::string(model), std::string(259, 'M'));
    }
  }
}

TEST(ExtractModelTest, NeverReadsPastTheGivenLength) {
  const char id[] = {'M', 'D', 'L', ':', 'A', 'B'};  // no terminator
  char model[260];
  DWORD length = 0;
  ASSERT_TRUE(ExtractModel(id, sizeof id, model, sizeof model, &length));
  EXPECT_STREQ(model, "AB");
  EXPECT_FALSE(ExtractModel(id, 4, model, sizeof model, &length));
  EXPECT_FALSE(ExtractModel(id, 3, model, sizeof model, &length));
}

}  // namespace
