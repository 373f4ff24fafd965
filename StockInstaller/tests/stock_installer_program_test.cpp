// StockInstaller run as a user runs it: a fresh machine root, the sample driver with the
// substitutes' modules, queues registered with the administration tool, simulated printers on
// loopback, a work folder holding the media-definition file, its profiles and paper files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "pal/spooler_admin.h"
#include "pal_testing.h"
#include "sim_client.h"

namespace {

namespace fs = std::filesystem;
using pal_testing::ReadFile;
using pal_testing::RunProgram;
using pal_testing::WriteFile;

constexpr int kFailed = 255;  // -1
const std::string kWorkIni = "C:\\work\\media.ini";

std::string Lines(int devices_or_one, const std::vector<std::string>& results) {
  std::string out = "ProgressMax=" + std::to_string(devices_or_one) + "\n";
  for (const std::string& r : results) out += "Result=" + r + "\n";
  return out + "End\n";
}
std::vector<std::string> Repeat(const std::string& what, int n) { return std::vector<std::string>(n, what); }
std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A slot record in hex, with the paper length in whole units.
std::string Record(int slot, unsigned definition, int base, int ink, int length, const std::string& name,
                   const std::string& printer_data = "000000000000") {
  return printersim::SlotRecordHex(slot, definition, base, ink, static_cast<unsigned>(length * 100), name,
                                   printer_data);
}
const std::string kGloss = Record(0, 301, 1, 95, 12, "STGLOSS300");
const std::string kCotton = Record(1, 302, 5, 80, 15, "COTTONRAG");
const std::string kVelvet = Record(2, 303, 3, 88, 10, "VELVETMATTE");

// UTF-16LE text with byte order mark, as ASCII.
std::string Utf16File(const std::string& path, bool* has_bom) {
  std::string bytes = ReadFile(path);
  *has_bom = bytes.size() >= 2 && bytes[0] == '\xff' && bytes[1] == '\xfe';
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : '?';
  return text;
}

class StockInstallerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path x86 = fs::path(machine_.drive_c()) / "Program Files (x86)/NORVANTE/TQ770/x86";
    fs::create_directories(x86);
    exe_ = (x86 / "StockInstaller.exe").string();
    fs::copy_file(STOCKINSTALLER_PATH, exe_);
    spooladm_ = SPOOLADM_PATH;

    fs::create_directories(DriverFolder());
    fs::copy_file(LK_COMMLIB_PATH, DriverFolder() + "/M5T1QA2000.DLL");
    fs::copy_file(VD_CFGX_PATH, DriverFolder() + "/NVTQCFGX.DLL");
    for (const char* file : {"TQ770.VIF", "TQ770R52.BIN", "TQ770R18.BIN", "TQ770TXT.BIN"})
      fs::copy_file(std::string(SAMPLE_DIR) + "/driver/" + file, DriverFolder() + "/" + file);
    ASSERT_EQ(Admin({"add-driver", "--name", "NORVANTE TQ770", "--version", "4", "--config", "NVTQCFGX.DLL", "--data",
                     "TQ770.VIF"}),
              0);
    fs::create_directories(DataFolder());
    fs::create_directories(WorkFolder());
    for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
      fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string());
  }

  int Admin(const std::vector<std::string>& args) {
    std::vector<std::string> argv{spooladm_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    int status = RunProgram(argv, &output);
    if (status != 0) ADD_FAILURE() << "spooladm: " << output;
    return status;
  }
  void StartPrinters(const std::vector<std::string>& names, const std::map<std::string, std::string>& controls = {}) {
    std::map<std::string, std::string> all;
    for (const std::string& name : names) {
      all[name] = "model=TQ770\n";
      if (controls.count(name)) all[name] += controls.at(name);
    }
    sim_ = std::make_unique<printersim::SimulatedPrinters>(machine_.path() + "/sim", names, all);
    ASSERT_TRUE(sim_->running());
  }
  // A queue on the printer's TCP port (stream kind) or its SNMP port only.
  void AddQueue(const std::string& queue, const std::string& printer, bool snmp, bool offline = false) {
    std::string port = snmp ? "NETLOOP:127.0.0.1:u" + std::to_string(sim_->UdpPort(printer))
                            : "NETLOOP:127.0.0.1:t" + std::to_string(sim_->TcpPort(printer));
    std::vector<std::string> args{"add-queue", "--name", queue, "--driver", "NORVANTE TQ770", "--port", port};
    if (offline) args.push_back("--offline");
    ASSERT_EQ(Admin(args), 0);
  }
  void TwoPrinters(const std::map<std::string, std::string>& controls = {}) {
    StartPrinters({"P1", "P2"}, controls);
    AddQueue("TQ770 (USB)", "P1", false);
    AddQueue("TQ770 (network)", "P2", true);
  }

  int Run(const std::vector<std::string>& args, std::string* out) {
    std::vector<std::string> argv{exe_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, out);
  }
  std::string Log() const {
    return ReadFile(machine_.drive_c() + "/ProgramData/NORVANTE/TQ770/log/StockInstaller.log");
  }
  std::string Slots(const std::string& printer) const {
    auto state = sim_->State(printer);
    std::string out;
    for (int s = 0; s < 10; ++s) out += state["slot" + std::to_string(s)] + (s < 9 ? "," : "");
    return out;
  }
  static std::string SlotList(std::vector<std::string> filled) {
    filled.resize(10, "empty");
    std::string out;
    for (size_t s = 0; s < 10; ++s) out += filled[s] + (s < 9 ? "," : "");
    return out;
  }
  std::string DriverFolder() const { return machine_.drive_c() + "/Windows/System32/spool/drivers/x64/3"; }
  std::string DataFolder() const { return machine_.drive_c() + "/ProgramData/MORLI/NORVANTE TQ770"; }
  std::string WorkFolder() const { return machine_.drive_c() + "/work"; }
  std::string ColorFolder() const { return machine_.drive_c() + "/Windows/System32/spool/drivers/color"; }
  std::vector<std::string> WorkFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(WorkFolder())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Associations(const std::string& queue) {
    pal::spooler::QueueRecord record;
    std::vector<std::string> names;
    if (pal::spooler::FindQueue(std::wstring(queue.begin(), queue.end()), &record) != 0) return {"<no queue>"};
    for (const std::wstring& p : record.color_profiles) names.push_back(std::string(p.begin(), p.end()));
    std::sort(names.begin(), names.end());
    return names;
  }

  pal_testing::ScopedMachineRoot machine_;
  std::unique_ptr<printersim::SimulatedPrinters> sim_;
  std::string exe_, spooladm_;
};

TEST_F(StockInstallerProgramTest, TwoPrintersOverBothChannelKindsAndTheDriver) {
  TwoPrinters();
  std::string out;
  ASSERT_EQ(Run({kWorkIni}, &out), 0) << out << Log();
  EXPECT_EQ(out, Lines(20, Repeat("OK", 20)));
  EXPECT_EQ(Log(), "Start.\r\nEnd.\r\n");

  for (const char* printer : {"P1", "P2"}) {
    SCOPED_TRACE(printer);
    EXPECT_EQ(Slots(printer), SlotList({kGloss, kCotton, kVelvet}));
    EXPECT_EQ(sim_->Count(printer, "writes"), 3);
    EXPECT_EQ(sim_->Count(printer, "deletes"), 0);
  }
  EXPECT_GT(sim_->Count("P2", "snmp_requests"), 0);

  const std::string config = ReadFile(DataFolder() + "/CustomMedia.ini");
  for (const char* want : {"[Element301]", "BaseElement=12", "Attribute26=301", "Name0409=Studio Gloss 300",
                           "[Element302]", "BaseElement=21", "Name0409=Cotton Rag Fine Art", "[Element303]",
                           "BaseElement=14", "Queue=TQ770 (USB)", "Elements=3"})
    EXPECT_NE(config.find(want), std::string::npos) << want << "\n" << config;

  bool bom = false;
  const std::string icc = Utf16File(DataFolder() + "/CustomMediaICC.ini", &bom);
  EXPECT_TRUE(bom);
  for (const char* want : {"[QNVProfiles]", "301_360=StudioGloss_360.icc", "301_720=StudioGloss_720.icc",
                           "301_1440=StudioGloss_1440.icc", "302_360=CottonRag.icc", "302_1440=CottonRag_1440.icc",
                           "303_720=VelvetMatte.icc"})
    EXPECT_NE(icc.find(want), std::string::npos) << want << "\n" << icc;

  for (const char* profile : {"StudioGloss_360.icc", "StudioGloss_720.icc", "StudioGloss_1440.icc", "CottonRag.icc",
                              "CottonRag_1440.icc", "VelvetMatte.icc"}) {
    EXPECT_EQ(ReadFile(ColorFolder() + "/" + profile), ReadFile(std::string(SAMPLE_DIR) + "/media/" + profile))
        << profile;
  }
  const std::vector<std::string> all_profiles{"CottonRag.icc",        "CottonRag_1440.icc",  "StudioGloss_1440.icc",
                                              "StudioGloss_360.icc",  "StudioGloss_720.icc", "VelvetMatte.icc"};
  EXPECT_EQ(Associations("TQ770 (USB)"), all_profiles);
  EXPECT_EQ(Associations("TQ770 (network)"), all_profiles);
  for (const char* paper : {"UserPaper.paper", "UserPaper.ini"})
    EXPECT_EQ(ReadFile(DataFolder() + "/" + paper), ReadFile(std::string(SAMPLE_DIR) + "/media/" + paper)) << paper;
  EXPECT_TRUE(WorkFiles().empty());

  // A second run finds every media in place: no write, the same answer.
  for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
    fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string());
  ASSERT_EQ(Run({kWorkIni}, &out), 0) << out << Log();
  EXPECT_EQ(out, Lines(20, Repeat("OK", 20)));
  EXPECT_EQ(sim_->Count("P1", "writes"), 3);
  EXPECT_EQ(sim_->Count("P2", "writes"), 3);
}

TEST_F(StockInstallerProgramTest, KeepsTheWorkFolderOnlyWithNdThird) {
  StartPrinters({"P1"});
  AddQueue("TQ770", "P1", false);
  const std::vector<std::string> before = WorkFiles();
  fs::create_directories(WorkFolder() + "/folder.ini");
  WriteFile(WorkFolder() + "/notes.txt", "kept");
  WriteFile(WorkFolder() + "/.hidden.ini", "kept");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool kept;
  };
  const Case kCases[] = {
      {"nd_third", {kWorkIni, "x", "/ND"}, true},
      {"nd_prefix_third", {kWorkIni, "x", "/NDX"}, true},
      {"nd_lower_case", {kWorkIni, "x", "/nd"}, false},
      {"nd_second", {kWorkIni, "/ND"}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
      fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string(),
                    fs::copy_options::overwrite_existing);
    std::string out;
    EXPECT_EQ(Run(c.args, &out), 0) << out;
    std::vector<std::string> want{".hidden.ini", "folder.ini", "notes.txt"};
    if (c.kept) {
      want.insert(want.end(), before.begin(), before.end());
      std::sort(want.begin(), want.end());
    }
    EXPECT_EQ(WorkFiles(), want);
  }
}

TEST_F(StockInstallerProgramTest, EarlyFailuresPrintOnlyEnd) {
  StartPrinters({"P1"});
  std::string out;
  // No argument.
  EXPECT_EQ(Run({}, &out), kFailed);
  EXPECT_EQ(out, "End\n");
  EXPECT_EQ(Log(), "Start.\r\nNot found a ini file.\r\nEnd.\r\n");

  // No queue of the driver: the adjusting step fails, the work folder is cleaned.
  EXPECT_EQ(Run({kWorkIni}, &out), kFailed);
  EXPECT_EQ(out, "End\n");
  EXPECT_EQ(Log(),
            "Start.\r\nPrnQueue: Over index 2.\r\nAddCustomCFGX: Printer queue is not found.\r\n"
            "AdjustIniFileInfo error.\r\nEnd.\r\n");
  EXPECT_TRUE(WorkFiles().empty());

  // No DeviceID: nothing is cleaned.
  WriteFile(WorkFolder() + "/media.ini", "[Header]\r\nModel=TQ770\r\n");
  WriteFile(WorkFolder() + "/a.icc", "x");
  EXPECT_EQ(Run({kWorkIni}, &out), kFailed);
  EXPECT_EQ(out, "End\n");
  EXPECT_EQ(Log(), "Start.\r\nIniFile: No exist Device ID.\r\nCreateIniFileInfo error.\r\nEnd.\r\n");
  EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"a.icc", "media.ini"}));
}

TEST_F(StockInstallerProgramTest, QueuesWithoutAnOnlinePrinterOfTheModel) {
  StartPrinters({"P1", "OTHER"}, {{"OTHER", "model=TQ990\n"}});
  AddQueue("TQ770 (offline)", "P1", false, /*offline=*/true);
  AddQueue("TQ990 by mistake", "OTHER", false);
  std::string out;
  EXPECT_EQ(Run({kWorkIni}, &out), 0) << Log();
  EXPECT_EQ(out, Lines(1, {"OK"}));
  EXPECT_EQ(sim_->Count("P1", "commands"), 0);
  EXPECT_NE(ReadFile(DataFolder() + "/CustomMedia.ini").find("Elements=3"), std::string::npos);

  // The driver step failing in that state: the one result line says so.
  for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
    fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string());
  fs::remove(WorkFolder() + "/UserPaper.ini");
  EXPECT_EQ(Run({kWorkIni}, &out), kFailed);
  EXPECT_EQ(out, Lines(1, {"NG"}));
  EXPECT_EQ(Log(), "Start.\r\nCopyUserPaperFile: Can't copy user paper file.\r\nEnd.\r\n");
}

TEST_F(StockInstallerProgramTest, DriverStepFailingAfterAllDevicesReportedOk) {
  TwoPrinters();
  fs::remove(WorkFolder() + "/UserPaper.paper");
  std::string out;
  EXPECT_EQ(Run({kWorkIni}, &out), kFailed);
  EXPECT_EQ(out, Lines(20, Repeat("OK", 20)));
  EXPECT_EQ(Log(), "Start.\r\nCopyUserPaperFile: Can't copy user paper file.\r\nEnd.\r\n");
  EXPECT_TRUE(WorkFiles().empty());
}

// Profile names are bare file names: one that reaches out of the work folder or the colour
// directory is refused, and the rest of the run goes on.
TEST_F(StockInstallerProgramTest, ProfileNamesWithFolderPartsAreRefused) {
  StartPrinters({"P1"});
  AddQueue("TQ770", "P1", false);
  WriteFile(machine_.drive_c() + "/outside.icc", "not to be installed");
  WriteFile(ColorFolder() + "/../keep.icc", "not to be uninstalled");
  std::string ini = ReadFile(WorkFolder() + "/media.ini");
  ini.replace(ini.find("Profile_Draft=CottonRag.icc"), std::string("Profile_Draft=CottonRag.icc").size(),
              "Profile_Draft=..\\..\\outside.icc");
  ini.replace(ini.find("Profile_Draft=VelvetMatte.icc"), std::string("Profile_Draft=VelvetMatte.icc").size(),
              "Profile_Draft=..\\keep.icc");
  // An empty value names no profile: neither refused nor installed.
  ini.replace(ini.find("Profile_Quality=VelvetMatte.icc"), std::string("Profile_Quality=VelvetMatte.icc").size(),
              "Profile_Quality=");
  WriteFile(WorkFolder() + "/media.ini", ini);
  std::string out;
  EXPECT_EQ(Run({kWorkIni}, &out), 0) << Log();
  EXPECT_EQ(out, Lines(10, Repeat("OK", 10)));
  EXPECT_FALSE(fs::exists(ColorFolder() + "/outside.icc"));
  EXPECT_EQ(ReadFile(ColorFolder() + "/../keep.icc"), "not to be uninstalled");
  EXPECT_EQ(ReadFile(machine_.drive_c() + "/outside.icc"), "not to be installed");
  const std::vector<std::string> bare{"CottonRag.icc",       "CottonRag_1440.icc", "StudioGloss_1440.icc",
                                      "StudioGloss_360.icc", "StudioGloss_720.icc", "VelvetMatte.icc"};
  EXPECT_EQ(Associations("TQ770"), bare);
  // Two refused names, each in the installation and the association of the one queue.
  std::string refused;
  for (int i = 0; i < 4; ++i) refused += "AddICCProfile: Invalid profile name.\r\n";
  EXPECT_EQ(Log(), "Start.\r\n" + refused + "End.\r\n");
  bool bom = false;
  const std::string icc = Utf16File(DataFolder() + "/CustomMediaICC.ini", &bom);
  EXPECT_NE(icc.find("302_360=\r\n"), std::string::npos) << icc;
  EXPECT_NE(icc.find("302_720=CottonRag.icc"), std::string::npos) << icc;
  EXPECT_NE(icc.find("303_1440=\r\n"), std::string::npos) << icc;
}

// The driver step's failures, each with its messages, on a machine whose only queue is offline:
// the one result line is the driver step's, and the run fails.
TEST_F(StockInstallerProgramTest, DriverStepFailuresAreLoggedAndFailTheRun) {
  StartPrinters({"P1"});
  AddQueue("TQ770", "P1", false, /*offline=*/true);
  const std::string vif = ReadFile(DriverFolder() + "/TQ770.VIF");
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string log;
    bool profiles_installed;
  };
  const std::string cfx = "AddToDriver: CFX error.\r\nAddToDriver: Error.\r\n";
  const Case kCases[] = {
      {"no_driver_data_folder", [&] { fs::remove_all(DataFolder()); },
       "AddCustomCFGX: Can't get dest folder.\r\n" + cfx, false},
      {"module_without_init_ex",
       [&] { fs::copy_file(VD_CFGX_NOINITEX_PATH, DriverFolder() + "/NVTQCFGX.DLL", fs::copy_options::overwrite_existing); },
       cfx, false},
      {"module_missing", [&] { fs::remove(DriverFolder() + "/NVTQCFGX.DLL"); }, cfx, false},
      {"empty_resolution_key",
       [&] {
         std::string changed = vif;
         changed.replace(changed.find("ResStandard=720"), 15, "ResStandard=");
         WriteFile(DriverFolder() + "/TQ770.VIF", changed);
       },
       "AddLocalMediaICCProfiles: Can't get ressolution key.\r\nAddICCProfile: Can't add ICC profiles to a INI "
       "file.\r\nAddToDriver: ICC profile error.\r\nAddToDriver: Error.\r\n",
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(DataFolder());
    fs::copy_file(VD_CFGX_PATH, DriverFolder() + "/NVTQCFGX.DLL", fs::copy_options::overwrite_existing);
    WriteFile(DriverFolder() + "/TQ770.VIF", vif);
    fs::remove_all(ColorFolder());
    for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
      fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string(),
                    fs::copy_options::overwrite_existing);
    c.arrange();
    std::string out;
    EXPECT_EQ(Run({kWorkIni}, &out), kFailed);
    EXPECT_EQ(out, Lines(1, {"NG"}));
    EXPECT_EQ(Log(), "Start.\r\n" + c.log + "End.\r\n");
    EXPECT_EQ(fs::exists(ColorFolder() + "/VelvetMatte.icc"), c.profiles_installed);
    EXPECT_FALSE(fs::exists(DataFolder() + "/UserPaper.paper"));
    EXPECT_TRUE(WorkFiles().empty());
  }
}

struct FaultCase {
  const char* name;
  std::string control;  // of the first printer; the second is always well
  std::vector<std::string> want;
  std::vector<std::string> slots;
  long writes;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class StockInstallerFaultTest : public StockInstallerProgramTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StockInstallerFaultTest, OneFaultyPrinterThenAWellOne) {
  const FaultCase& c = GetParam();
  TwoPrinters({{"P1", c.control}});
  std::string out;
  EXPECT_EQ(Run({kWorkIni}, &out), 0) << Log();
  EXPECT_EQ(out, Lines(20, Join(c.want, Repeat("OK", 10))));
  EXPECT_EQ(Slots("P1"), SlotList(c.slots));
  EXPECT_EQ(sim_->Count("P1", "writes"), c.writes);
  EXPECT_EQ(Slots("P2"), SlotList({kGloss, kCotton, kVelvet}));
  EXPECT_EQ(Log(), "Start.\r\nEnd.\r\n");
}

const std::string kOld7 = Record(7, 900, 1, 1, 1, "OLD");
const std::string kOld5 = Record(5, 901, 1, 1, 1, "OLDER");
const std::string kKept = "a1a2a3a4a5a6";

INSTANTIATE_TEST_SUITE_P(
    Faults, StockInstallerFaultTest,
    ::testing::Values(
        FaultCase{"not_ready", "not_ready_polls=100\n", Repeat("NG", 10), {}, 0},
        FaultCase{"slot_unreadable", "reply_truncate=12\n", Repeat("NG", 10), {}, 0},
        FaultCase{"third_write_never_takes", "fail_write_slots=2\n", Join(Repeat("OK", 2), Repeat("NG", 8)),
                  {kGloss, kCotton}, 2 + 5},
        FaultCase{"surplus_slot_not_emptied", "slot7=" + kOld7 + "\nslot5=" + kOld5 + "\nfail_delete_slots=5\n",
                  Join(Repeat("OK", 7), Repeat("NG", 3)), {kGloss, kCotton, kVelvet, "empty", "empty", kOld5}, 3},
        FaultCase{"media_in_place_keeps_printer_data",
                  "slot0=" + Record(0, 301, 1, 95, 12, "STGLOSS300", kKept) + "\nslot1=" + kCotton + "\nslot2=" +
                      kVelvet + "\n",
                  Repeat("OK", 10), {Record(0, 301, 1, 95, 12, "STGLOSS300", kKept), kCotton, kVelvet}, 0},
        FaultCase{"media_in_surplus_slot_moves_with_its_printer_data",
                  "slot5=" + Record(5, 301, 1, 95, 12, "STGLOSS300", kKept) + "\n", Repeat("OK", 10),
                  {Record(0, 301, 1, 95, 12, "STGLOSS300", kKept), kCotton, kVelvet}, 3}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// Ten media into two ready printers: the whole run's time and its command round trips.
TEST_F(StockInstallerProgramTest, TenMediaIntoTwoPrintersIsQuick) {
  TwoPrinters();
  std::string ini = "[Header]\r\nDeviceID=TQ770\r\n";
  for (int i = 1; i <= 10; ++i) {
    ini += "[UINumber" + std::to_string(i) + "]\r\nMediaDefinition=" + std::to_string(400 + i) +
           "\r\nBaseMediaID=" + std::to_string(1 + i % 3) + "\r\nMediaName_en=Media " + std::to_string(i) +
           "\r\nMediaName_prn=M" + std::to_string(i) + "\r\nProfile_Normal=VelvetMatte.icc\r\n";
  }
  WriteFile(WorkFolder() + "/media.ini", ini);
  std::string out;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({kWorkIni}, &out), 0) << Log();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(out, Lines(20, Repeat("OK", 20)));
  const long trips = sim_->Count("P1", "commands") + sim_->Count("P2", "commands");
  RecordProperty("seconds", std::to_string(seconds));
  RecordProperty("round_trips", std::to_string(trips));
  std::printf("[ figures  ] run %.3f s, %ld command round trips\n", seconds, trips);
  EXPECT_LT(seconds, 2.0);
}

}  // namespace
