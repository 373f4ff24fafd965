// StockInstaller against bad input from outside: printers that answer wrongly or not at all,
// SNMP responses that are no answer to the request, a driver data file that lacks its keys,
// and media definitions with numbers out of every range. Each run ends with its documented
// answer, and what it must not touch (the slots of a printer it could not serve, a well
// printer next to a faulty one) stays as it was.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pal_testing.h"
#include "sim_client.h"

namespace {

namespace fs = std::filesystem;
using pal_testing::ReadFile;
using pal_testing::RunProgram;
using pal_testing::WriteFile;

constexpr int kFailed = 255;  // -1
const std::string kWorkIni = "C:\\work\\media.ini";

std::string Lines(int progress_max, const std::vector<std::string>& results) {
  std::string out = "ProgressMax=" + std::to_string(progress_max) + "\n";
  for (const std::string& r : results) out += "Result=" + r + "\n";
  return out + "End\n";
}
std::vector<std::string> Repeat(const std::string& what, int n) { return std::vector<std::string>(n, what); }

using printersim::SlotRecordHex;
std::string Record(int slot, unsigned definition, int base, int ink, unsigned paper, const std::string& name) {
  return SlotRecordHex(slot, definition, base, ink, paper, name);
}
const std::string kGloss = Record(0, 301, 1, 95, 1200, "STGLOSS300");
const std::string kCotton = Record(1, 302, 5, 80, 1500, "COTTONRAG");
const std::string kVelvet = Record(2, 303, 3, 88, 1000, "VELVETMATTE");
const std::string kOld = Record(4, 900, 1, 1, 100, "OLD");

std::string SlotList(std::vector<std::string> filled) {
  filled.resize(10, "empty");
  std::string out;
  for (size_t s = 0; s < 10; ++s) out += filled[s] + (s < 9 ? "," : "");
  return out;
}

// An SNMP agent in front of a simulated printer's: requests go on to the printer, and the
// responses to the chosen requests come back as bytes that answer nothing.
class SnmpSpoiler {
 public:
  enum class Spoil { kEveryResponse, kSlotCommands };
  enum class Into { kNoise, kHalf };

  SnmpSpoiler(int upstream_port, Spoil spoil, Into into) : spoil_(spoil), into_(into) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    upstream_.sin_family = AF_INET;
    upstream_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    upstream_.sin_port = htons(static_cast<uint16_t>(upstream_port));
    thread_ = std::thread([this] { Serve(); });
  }
  ~SnmpSpoiler() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }
  int spoiled() const { return spoiled_; }

 private:
  void Serve() {
    const int up = socket(AF_INET, SOCK_DGRAM, 0);
    unsigned char request[2048];
    unsigned char response[2048];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in client{};
      socklen_t length = sizeof client;
      const ssize_t n = recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&client), &length);
      if (n <= 0) continue;
      sendto(up, request, static_cast<size_t>(n), 0, reinterpret_cast<const sockaddr*>(&upstream_), sizeof upstream_);
      pollfd q{up, POLLIN, 0};
      if (poll(&q, 1, 5000) <= 0) continue;
      ssize_t m = recv(up, response, sizeof response, 0);
      if (m <= 0) continue;
      // The slot commands begin with "ap"; their bytes end the request's object identifier.
      const unsigned char kSlotCommand[] = {0x01, 0x01, 0x02, 0x01, 0x61, 0x70};
      const bool slot_command = std::search(request, request + n, std::begin(kSlotCommand),
                                            std::end(kSlotCommand)) != request + n;
      if (spoil_ == Spoil::kEveryResponse || slot_command) {
        ++spoiled_;
        if (into_ == Into::kHalf) {
          m /= 2;
        } else {
          for (ssize_t i = 0; i < m; ++i) response[i] = static_cast<unsigned char>(0x5A ^ (i * 37));
        }
      }
      sendto(fd_, response, static_cast<size_t>(m), 0, reinterpret_cast<sockaddr*>(&client), length);
    }
    close(up);
  }

  Spoil spoil_;
  Into into_;
  int fd_ = -1;
  int port_ = 0;
  sockaddr_in upstream_{};
  std::atomic<bool> stop_{false};
  std::atomic<int> spoiled_{0};
  std::thread thread_;
};

class StockInstallerBadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path x86 = fs::path(machine_.drive_c()) / "Program Files (x86)/NORVANTE/TQ770/x86";
    fs::create_directories(x86);
    exe_ = (x86 / "StockInstaller.exe").string();
    fs::copy_file(STOCKINSTALLER_PATH, exe_);
    fs::create_directories(DriverFolder());
    fs::copy_file(LK_COMMLIB_PATH, DriverFolder() + "/M5T1QA2000.DLL");
    fs::copy_file(VD_CFGX_PATH, DriverFolder() + "/NVTQCFGX.DLL");
    for (const char* file : {"TQ770.VIF", "TQ770R52.BIN"})
      fs::copy_file(std::string(SAMPLE_DIR) + "/driver/" + file, DriverFolder() + "/" + file);
    Admin({"add-driver", "--name", "NORVANTE TQ770", "--version", "4", "--config", "NVTQCFGX.DLL", "--data",
           "TQ770.VIF"});
    fs::create_directories(DataFolder());
    FillWorkFolder();
  }

  void FillWorkFolder() {
    fs::create_directories(WorkFolder());
    for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
      fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string(),
                    fs::copy_options::overwrite_existing);
  }
  void Admin(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SPOOLADM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    ASSERT_EQ(RunProgram(argv, &output), 0) << output;
  }
  void StartPrinters(const std::map<std::string, std::string>& controls) {
    std::vector<std::string> names;
    std::map<std::string, std::string> all;
    for (const auto& [name, control] : controls) {
      names.push_back(name);
      all[name] = "model=TQ770\n" + control;
    }
    sim_ = std::make_unique<printersim::SimulatedPrinters>(machine_.path() + "/sim", names, all);
    ASSERT_TRUE(sim_->running());
  }
  void AddQueue(const std::string& queue, const std::string& port, bool offline = false) {
    std::vector<std::string> args{"add-queue", "--name", queue, "--driver", "NORVANTE TQ770", "--port", port};
    if (offline) args.push_back("--offline");
    Admin(args);
  }
  std::string TcpPort(const std::string& printer) const {
    return "NETLOOP:127.0.0.1:t" + std::to_string(sim_->TcpPort(printer));
  }
  int Run(std::string* out) { return RunProgram({exe_, kWorkIni}, out); }
  std::string Log() const {
    return ReadFile(machine_.drive_c() + "/ProgramData/NORVANTE/TQ770/log/StockInstaller.log");
  }
  std::string Slots(const std::string& printer) const {
    auto state = sim_->State(printer);
    std::string out;
    for (int s = 0; s < 10; ++s) out += state["slot" + std::to_string(s)] + (s < 9 ? "," : "");
    return out;
  }
  std::string DriverFolder() const { return machine_.drive_c() + "/Windows/System32/spool/drivers/x64/3"; }
  std::string DataFolder() const { return machine_.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770"; }
  std::string WorkFolder() const { return machine_.drive_c() + "/work"; }
  std::string ColorFolder() const { return machine_.drive_c() + "/Windows/System32/spool/drivers/color"; }

  pal_testing::ScopedMachineRoot machine_;
  std::unique_ptr<printersim::SimulatedPrinters> sim_;
  std::string exe_;
};

// ---- Printers that answer badly ---------------------------------------------------------

struct ReplyCase {
  const char* name;
  std::string control;  // of printer P1, reached through the first queue
  bool device;          // whether P1 is still found as a device
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class PrinterReplyTest : public StockInstallerBadInputTest, public ::testing::WithParamInterface<ReplyCase> {};

// P1 answers badly, P2 (on the second queue) well. A printer whose answers do not make it a
// device of the model is left out; one found but then answering badly gets ten "Result=NG"
// and keeps its slots; P2 is served either way and the run succeeds.
TEST_P(PrinterReplyTest, FaultyPrinterBesideAWellOne) {
  const ReplyCase& c = GetParam();
  StartPrinters({{"P1", "slot4=" + kOld + "\n" + c.control}, {"P2", ""}});
  AddQueue("TQ770 (faulty)", TcpPort("P1"));
  AddQueue("TQ770 (well)", TcpPort("P2"));
  std::string out;
  EXPECT_EQ(Run(&out), 0) << Log();
  std::vector<std::string> results = c.device ? Repeat("NG", 10) : std::vector<std::string>{};
  const std::vector<std::string> well = Repeat("OK", 10);
  results.insert(results.end(), well.begin(), well.end());
  EXPECT_EQ(out, Lines(c.device ? 20 : 10, results));
  EXPECT_EQ(Slots("P1"), SlotList({"empty", "empty", "empty", "empty", kOld}));
  EXPECT_EQ(sim_->Count("P1", "writes") + sim_->Count("P1", "deletes"), 0);
  EXPECT_EQ(Slots("P2"), SlotList({kGloss, kCotton, kVelvet}));
  EXPECT_EQ(Log(), "Start.\r\nEnd.\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PrinterReplyTest,
    ::testing::Values(
        // Status replies that carry no identity: no device.
        ReplyCase{"status_header_and_length_only", "status_reply=short\n", false},
        ReplyCase{"status_field_longer_than_reply", "status_reply=malformed\n", false},
        ReplyCase{"status_without_identity", "status_reply=no_identity\n", false},
        // Silence from the start: the device ID request times out, no device.
        ReplyCase{"silent", "silent=1\n", false},
        // Found, then silent: the first slot query times out.
        ReplyCase{"silent_after_discovery", "silent_after=3\n", true},
        // Found, but its status byte is never "ready" (4).
        ReplyCase{"unknown_status_byte", "status=127\n", true}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

struct SnmpCase {
  const char* name;
  SnmpSpoiler::Spoil spoil;
  SnmpSpoiler::Into into;
  bool device;
};
void PrintTo(const SnmpCase& c, std::ostream* os) { *os << c.name; }

class SnmpGarbageTest : public StockInstallerBadInputTest, public ::testing::WithParamInterface<SnmpCase> {};

// The only printer is reached over SNMP, through an agent that spoils responses.
TEST_P(SnmpGarbageTest, ResponsesThatAnswerNothing) {
  const SnmpCase& c = GetParam();
  StartPrinters({{"P1", "slot4=" + kOld + "\n"}});
  SnmpSpoiler spoiler(sim_->UdpPort("P1"), c.spoil, c.into);
  ASSERT_GT(spoiler.port(), 0);
  AddQueue("TQ770 (network)", "NETLOOP:127.0.0.1:u" + std::to_string(spoiler.port()));
  std::string out;
  EXPECT_EQ(Run(&out), 0) << Log();
  EXPECT_EQ(out, c.device ? Lines(10, Repeat("NG", 10)) : Lines(1, {"OK"}));
  EXPECT_GT(spoiler.spoiled(), 0);
  EXPECT_EQ(Slots("P1"), SlotList({"empty", "empty", "empty", "empty", kOld}));
  EXPECT_EQ(sim_->Count("P1", "writes") + sim_->Count("P1", "deletes"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Snmp, SnmpGarbageTest,
    ::testing::Values(SnmpCase{"noise_for_everything", SnmpSpoiler::Spoil::kEveryResponse, SnmpSpoiler::Into::kNoise,
                               false},
                      SnmpCase{"half_responses_for_everything", SnmpSpoiler::Spoil::kEveryResponse,
                               SnmpSpoiler::Into::kHalf, false},
                      SnmpCase{"noise_for_slot_commands", SnmpSpoiler::Spoil::kSlotCommands,
                               SnmpSpoiler::Into::kNoise, true},
                      SnmpCase{"half_responses_for_slot_commands", SnmpSpoiler::Spoil::kSlotCommands,
                               SnmpSpoiler::Into::kHalf, true}),
    [](const ::testing::TestParamInfo<SnmpCase>& info) { return std::string(info.param.name); });

// ---- The driver's data file without its keys ---------------------------------------------

// The only queue is offline, so the one result line is the driver step's.
TEST_F(StockInstallerBadInputTest, DriverDataFileWithoutItsKeys) {
  StartPrinters({{"P1", ""}});
  AddQueue("TQ770", TcpPort("P1"), /*offline=*/true);
  const std::string vif = ReadFile(DriverFolder() + "/TQ770.VIF");
  struct Case {
    const char* name;
    const char* line;  // removed from the data file
    int exit;
    std::string log;
    std::string config;  // in the saved driver configuration
    const char* icc_ini;  // the ICC INI's file name in the driver data folder
    bool papers;          // both paper files copied
  };
  const Case kCases[] = {
      {"no_icc_ini_name", "CustomMediaICCProf=CustomMediaICC.ini", 0, "", "Elements=3", "error", true},
      {"no_user_paper", "CustomMediaUserPaper=UserPaper.paper", kFailed,
       "CopyUserPaperFile: Can't copy user paper file.\r\n", "Elements=3", "CustomMediaICC.ini", false},
      {"no_user_ini", "CustomMediaUserIni=UserPaper.ini", kFailed,
       "CopyUserPaperFile: Can't copy user paper file.\r\n", "Elements=3", "CustomMediaICC.ini", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string changed = vif;
    const size_t at = changed.find(c.line);
    ASSERT_NE(at, std::string::npos);
    changed.erase(at, std::string(c.line).size());
    WriteFile(DriverFolder() + "/TQ770.VIF", changed);
    fs::remove_all(DataFolder());
    fs::create_directories(DataFolder());
    FillWorkFolder();
    std::string out;
    EXPECT_EQ(Run(&out), c.exit);
    EXPECT_EQ(out, Lines(1, {c.exit == 0 ? "OK" : "NG"}));
    EXPECT_EQ(Log(), "Start.\r\n" + c.log + "End.\r\n");
    EXPECT_NE(ReadFile(DataFolder() + "/CustomMedia.ini").find(c.config), std::string::npos);
    EXPECT_TRUE(fs::exists(DataFolder() + "/" + c.icc_ini));
    EXPECT_EQ(fs::exists(DataFolder() + "/UserPaper.paper") && fs::exists(DataFolder() + "/UserPaper.ini"),
              c.papers);
    EXPECT_TRUE(fs::exists(ColorFolder() + "/VelvetMatte.icc"));
  }
}

// Without the driver's media table no base media can be checked. The run fails before any
// printer or the driver is touched: dropping every media as unknown would empty the slots of
// every printer and add nothing, and report that as success.
TEST_F(StockInstallerBadInputTest, DriverWithoutItsMediaTableTouchesNoPrinter) {
  StartPrinters({{"P1", "slot0=" + kGloss + "\nslot4=" + kOld + "\n"}});
  AddQueue("TQ770", TcpPort("P1"));
  const std::string vif = ReadFile(DriverFolder() + "/TQ770.VIF");
  const std::string table = ReadFile(DriverFolder() + "/TQ770R52.BIN");
  struct Case {
    const char* name;
    std::string vif;
    bool table_file;
    std::string table;
  };
  std::string no_key = vif;
  no_key.erase(no_key.find("BinaryResFileID000=TQ770R52.BIN"), 31);
  const Case kCases[] = {
      {"no_key_in_the_data_file", no_key, true, table},
      {"file_missing", vif, false, ""},
      {"file_empty", vif, true, ""},
      {"no_media_table_in_the_file", vif, true, std::string(table.size(), '\0')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(DriverFolder() + "/TQ770.VIF", c.vif);
    fs::remove(DriverFolder() + "/TQ770R52.BIN");
    if (c.table_file) WriteFile(DriverFolder() + "/TQ770R52.BIN", c.table);
    FillWorkFolder();
    std::string out;
    EXPECT_EQ(Run(&out), kFailed);
    EXPECT_EQ(out, "End\n");
    EXPECT_EQ(Log(), "Start.\r\nAdjustIniFileInfo: Can't read the media table.\r\nAdjustIniFileInfo error.\r\nEnd.\r\n");
    EXPECT_EQ(Slots("P1"), SlotList({kGloss, "empty", "empty", "empty", kOld}));
    EXPECT_EQ(sim_->Count("P1", "writes") + sim_->Count("P1", "deletes"), 0);
    EXPECT_FALSE(fs::exists(DataFolder() + "/CustomMedia.ini"));
    EXPECT_FALSE(fs::exists(ColorFolder() + "/VelvetMatte.icc"));
  }
}

// ---- Numbers out of every range in the media definitions ----------------------------------

TEST_F(StockInstallerBadInputTest, AbsurdMediaValuesReachThePrinterAsTheirLowBits) {
  StartPrinters({{"P1", ""}});
  AddQueue("TQ770", TcpPort("P1"));
  const std::string name70(70, 'n');
  WriteFile(WorkFolder() + "/media.ini",
            "[Header]\r\nDeviceID=TQ770\r\n"
            // Wraps at 32 bits: 4294967597 is 301; 0x10000 + 1 is base media 1 in 16 bits.
            "[UINumber1]\r\nMediaDefinition=4294967597\r\nBaseMediaID=0x10001\r\nInkDuty_Normal=1000\r\n"
            "PaperLength=-3\r\nMediaName_prn=ABCDEFGHIJKLMNOP\r\nMediaName_en=" + name70 +
            "\r\nProfile_Normal=VelvetMatte.icc\r\n"
            // Text where a number belongs reads as 0; -1 counts as missing and leaves 0.
            "[UINumber2]\r\nMediaDefinition=70000\r\nBaseMediaID=5 (cotton)\r\nInkDuty_Normal=lots\r\n"
            "PaperLength=-1\r\n"
            // A base media number the driver does not know: dropped.
            "[UINumber3]\r\nMediaDefinition=-5\r\nBaseMediaID=-5\r\n");
  std::string out;
  EXPECT_EQ(Run(&out), 0) << Log();
  EXPECT_EQ(out, Lines(10, Repeat("OK", 10)));
  // 1000 is 0xE8 in its low byte; -3 * 100 is 0xFED4 in 16 bits.
  EXPECT_EQ(Slots("P1"), SlotList({Record(0, 301, 1, 0xE8, 0xFED4, "ABCDEFGHIJK"), Record(1, 70000, 5, 0, 0, "")}));
  const std::string config = ReadFile(DataFolder() + "/CustomMedia.ini");
  for (const std::string& want : {std::string("[Element301]"), std::string("[Element4464]"),
                                  std::string("Attribute26=70000"), "Name0409=" + std::string(64, 'n') + "\r\n",
                                  std::string("Elements=2")})
    EXPECT_NE(config.find(want), std::string::npos) << want << "\n" << config;
}

}  // namespace
