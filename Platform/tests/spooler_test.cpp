#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "pal/spooler_admin.h"
#include "pal_testing.h"
#include "spooler_db.h"

namespace {

namespace sp = pal::spooler;

class SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sp::AddDriver({L"NORVANTE TQ770", 3, L"CFG.DLL", L"TQ770.VIF", L""}), 0u);
    ASSERT_EQ(sp::AddDriver({L"Other Driver", 4, L"C:\\elsewhere\\o.dll", L"O.VIF", L"MAIN.DLL"}), 0u);
  }
  void AddQueue(const wchar_t* name, const wchar_t* driver, DWORD attributes = 0,
                std::vector<sp::PrinterValue> data = {}) {
    sp::QueueRecord q;
    q.name = name;
    q.driver = driver;
    q.port = std::wstring(L"PORT_") + name;
    q.attributes = attributes;
    q.data = std::move(data);
    ASSERT_EQ(sp::AddQueue(q), 0u);
  }
  pal_testing::ScopedMachineRoot root_;
};

std::vector<BYTE> Enumerate(DWORD* count) {
  DWORD needed = 0, returned = 7;
  EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, 0u);
  std::vector<BYTE> buffer(needed);
  // One byte short still fails and asks for the same size.
  DWORD again = 0;
  EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed - 1, &again, &returned));
  EXPECT_EQ(again, needed);
  EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &again, count));
  return buffer;
}

TEST_F(SpoolerTest, EnumeratesQueuesInOrderAddedWithTwoCallProtocol) {
  AddQueue(L"zeta", L"NORVANTE TQ770");
  AddQueue(L"alpha", L"Other Driver");
  AddQueue(L"offline one", L"NORVANTE TQ770", PRINTER_ATTRIBUTE_WORK_OFFLINE);
  DWORD count = 0;
  std::vector<BYTE> buffer = Enumerate(&count);
  ASSERT_EQ(count, 3u);
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
  EXPECT_STREQ(info[0].pPrinterName, L"zeta");
  EXPECT_STREQ(info[1].pPrinterName, L"alpha");
  EXPECT_STREQ(info[1].pDriverName, L"Other Driver");
  EXPECT_STREQ(info[2].pPortName, L"PORT_offline one");
  EXPECT_EQ(info[0].Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE, 0u);
  EXPECT_NE(info[2].Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE, 0u);
  // Every string lies inside the caller's block.
  for (DWORD i = 0; i < count; ++i) {
    auto* p = reinterpret_cast<BYTE*>(info[i].pPrinterName);
    EXPECT_TRUE(p >= buffer.data() && p < buffer.data() + buffer.size());
  }
}

TEST_F(SpoolerTest, NoQueueSucceedsWithSizeZero) {
  DWORD needed = 5, returned = 5;
  EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(returned, 0u);
}

TEST_F(SpoolerTest, DriverInformationGivesFullPathsInDriverFolder) {
  AddQueue(L"q1", L"NORVANTE TQ770");
  AddQueue(L"q2", L"Other Driver");
  struct Case {
    const wchar_t* queue;
    DWORD version;
    const wchar_t* config;
    const wchar_t* data;
  } cases[] = {
      {L"q1", 3, L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\CFG.DLL",
       L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\TQ770.VIF"},
      {L"Q2", 4, L"C:\\elsewhere\\o.dll", L"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\O.VIF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.queue)));
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(c.queue), &printer, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(DRIVER_INFO_2W));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterDriverW(printer, nullptr, 2, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<DRIVER_INFO_2W*>(buffer.data());
    EXPECT_EQ(info->cVersion, c.version);
    EXPECT_STREQ(info->pConfigFile, c.config);
    EXPECT_STREQ(info->pDataFile, c.data);
    EXPECT_TRUE(ClosePrinter(printer));
  }
}

TEST_F(SpoolerTest, OpenUnknownQueueAndClosedHandleFail) {
  HANDLE printer = nullptr;
  EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(L"missing"), &printer, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  AddQueue(L"q", L"NORVANTE TQ770");
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"q"), &printer, nullptr));
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_FALSE(ClosePrinter(printer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerTest, PrinterDataValuesBySize) {
  sp::PrinterValue name{L"LKAPIB6Name", REG_SZ, L"LIB.DLL"};
  sp::PrinterValue number{L"Count", REG_DWORD, L"", 0x12345678};
  sp::PrinterValue blob{L"Blob", REG_BINARY, L"", 0, {1, 0, 0xFF}};
  AddQueue(L"q", L"NORVANTE TQ770", 0, {name, number, blob});
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"q"), &printer, nullptr));

  WCHAR text[260];
  DWORD type = 0, needed = 0;
  EXPECT_EQ(GetPrinterDataW(printer, const_cast<LPWSTR>(L"lkapib6name"), &type, reinterpret_cast<LPBYTE>(text), 8,
                            &needed),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(needed, 8 * sizeof(WCHAR));
  ASSERT_EQ(GetPrinterDataW(printer, const_cast<LPWSTR>(L"LKAPIB6Name"), &type, reinterpret_cast<LPBYTE>(text),
                            sizeof(text), &needed),
            0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(text, L"LIB.DLL");

  DWORD value = 0;
  ASSERT_EQ(GetPrinterDataW(printer, const_cast<LPWSTR>(L"Count"), &type, reinterpret_cast<LPBYTE>(&value),
                            sizeof value, &needed),
            0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0x12345678u);

  BYTE bytes[8] = {};
  ASSERT_EQ(GetPrinterDataW(printer, const_cast<LPWSTR>(L"Blob"), &type, bytes, sizeof bytes, &needed), 0u);
  EXPECT_EQ(needed, 3u);
  EXPECT_EQ(bytes[2], 0xFF);

  EXPECT_EQ(GetPrinterDataW(printer, const_cast<LPWSTR>(L"Nope"), &type, bytes, sizeof bytes, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ClosePrinter(printer);
}

TEST_F(SpoolerTest, AdministrationRules) {
  AddQueue(L"Queue A", L"NORVANTE TQ770");
  sp::QueueRecord dup;
  dup.name = L"QUEUE a";
  dup.driver = L"Other Driver";
  EXPECT_EQ(sp::AddQueue(dup), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
  dup.name = L"new";
  dup.driver = L"No Such Driver";
  EXPECT_EQ(sp::AddQueue(dup), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  dup.name = L"bad\\name";
  dup.driver = L"Other Driver";
  EXPECT_EQ(sp::AddQueue(dup), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(sp::RemoveDriver(L"NORVANTE TQ770"), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));
  EXPECT_EQ(sp::RemoveQueue(L"queue a"), 0u);
  EXPECT_EQ(sp::RemoveDriver(L"NORVANTE TQ770"), 0u);
  EXPECT_EQ(sp::ListDrivers().size(), 1u);
  EXPECT_TRUE(sp::ListQueues().empty());
}

TEST(SpoolerRecordTest, QueueTextRoundTripsAndRejectsDamage) {
  sp::QueueRecord q;
  q.name = L"Name with = and \x00e9";
  q.driver = L"D";
  q.port = L"NETLOOP:127.0.0.1:t9100";
  q.attributes = 0x440;
  q.order = 12;
  q.data = {{L"S", REG_SZ, L"text"}, {L"N", REG_DWORD, L"", 7}, {L"B", REG_BINARY, L"", 0, {0xAB}}};
  q.color_profiles = {L"a.icc"};
  std::string bytes = sp::EncodeFileText(sp::FormatQueue(q));
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  sp::QueueRecord back;
  ASSERT_TRUE(sp::ParseQueue(sp::DecodeFileText(bytes), &back));
  EXPECT_EQ(back.name, q.name);
  EXPECT_EQ(back.attributes, 0x440u);
  EXPECT_EQ(back.order, 12u);
  ASSERT_EQ(back.data.size(), 3u);
  EXPECT_EQ(back.data[1].number, 7u);
  EXPECT_EQ(back.data[2].bytes, std::vector<BYTE>{0xAB});
  EXPECT_EQ(back.color_profiles, q.color_profiles);

  const wchar_t* damaged[] = {L"", L"[Queue]\r\nDriver=D\r\n", L"[Queue]\r\nName=q\r\nAttributes=0xZZ\r\n",
                              L"[Queue]\r\nName=a\\b\r\n"};
  for (const wchar_t* text : damaged) EXPECT_FALSE(sp::ParseQueue(text, &back)) << testing::PrintToString(std::wstring(text));
}

}  // namespace
