// The media tool killed in the middle of a printer exchange, then run again: the slots end as
// wanted, the driver data holds the media once, and the second run reports success.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

namespace fs = std::filesystem;

namespace {

using pal_testing::ReadFile;

bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Starts a program with its standard output and error going to `output`.
pid_t Start(const std::vector<std::string>& argv, const std::string& output) {
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    int out_fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(out_fd, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A slot record in hex, with the paper length in whole units.
std::string Record(int slot, unsigned definition, int base, int ink, int length, const std::string& name) {
  return printersim::SlotRecordHex(slot, definition, base, ink, static_cast<unsigned>(length * 100), name);
}

// The three media of the sample media-definition file, as their slots must end.
const std::string kGloss = Record(0, 301, 1, 95, 12, "STGLOSS300");
const std::string kCotton = Record(1, 302, 5, 80, 15, "COTTONRAG");
const std::string kVelvet = Record(2, 303, 3, 88, 10, "VELVETMATTE");

class StockInstallerFaultScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path x86 = fs::path(machine_.drive_c()) / "Program Files (x86)/NORVANTE/TQ770/x86";
    fs::create_directories(x86);
    exe_ = (x86 / "StockInstaller.exe").string();
    fs::copy_file(STOCKINSTALLER_PATH, exe_);
    fs::create_directories(DriverFolder());
    fs::copy_file(LK_COMMLIB_PATH, DriverFolder() + "/M5T1QA2000.DLL");
    fs::copy_file(VD_CFGX_PATH, DriverFolder() + "/NVTQCFGX.DLL");
    for (const char* file : {"TQ770.VIF", "TQ770R52.BIN", "TQ770R18.BIN", "TQ770TXT.BIN"})
      fs::copy_file(std::string(SAMPLE_DIR) + "/driver/" + file, DriverFolder() + "/" + file);
    Admin({"add-driver", "--name", "NORVANTE TQ770", "--version", "4", "--config", "NVTQCFGX.DLL", "--data",
           "TQ770.VIF"});
    fs::create_directories(DataFolder());
    CopySampleMedia();
  }

  void CopySampleMedia() const {
    fs::create_directories(WorkFolder());
    for (const auto& entry : fs::directory_iterator(std::string(SAMPLE_DIR) + "/media"))
      fs::copy_file(entry.path(), WorkFolder() + "/" + entry.path().filename().string(),
                    fs::copy_options::overwrite_existing);
  }
  void Admin(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{SPOOLADM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    ASSERT_EQ(pal_testing::RunProgram(argv, &output), 0) << output;
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
  std::string Log() const {
    return ReadFile(machine_.drive_c() + "/ProgramData/NORVANTE/TQ770/log/StockInstaller.log");
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

  pal_testing::ScopedMachineRoot machine_;
  std::unique_ptr<printersim::SimulatedPrinters> sim_;
  std::string exe_;
};

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

// P1 (byte stream) holds an outdated media 0 in slot 0 and a foreign media in slot 5; P2 (SNMP)
// is empty. P1 stops answering right after it has taken the write of slot 1, so the tool waits
// for a reply that never comes and is killed there: slot 0 is new, slot 1 written but never
// acknowledged, slot 2 not yet written, slot 5 not yet emptied, P2 and the driver untouched.
// The next run brings both printers to the wanted slots without writing a slot twice, adds
// the media to the driver once, and reports success.
TEST_F(StockInstallerFaultScenario, KilledInTheMiddleOfAPrinterExchangeThenRunAgain) {
  const std::string stale_gloss = Record(0, 301, 1, 70, 12, "STGLOSS300");
  const std::string foreign = Record(5, 999, 2, 50, 20, "FOREIGN");
  // A run's commands to P1: device ID twice and a status request while the printers are
  // found, ten slot queries, a readiness poll, then write 0, query 0, write 1 (the 17th).
  const int kAnsweredCommands = 16;
  sim_ = std::make_unique<printersim::SimulatedPrinters>(
      machine_.path() + "/sim", std::vector<std::string>{"P1", "P2"},
      std::map<std::string, std::string>{
          {"P1", "model=TQ770\nslot0=" + stale_gloss + "\nslot5=" + foreign +
                     "\nsilent_after=" + std::to_string(kAnsweredCommands) + "\n"},
          {"P2", "model=TQ770\n"}});
  ASSERT_TRUE(sim_->running());
  Admin({"add-queue", "--name", "TQ770 (USB)", "--driver", "NORVANTE TQ770", "--port",
         "NETLOOP:127.0.0.1:t" + std::to_string(sim_->TcpPort("P1"))});
  Admin({"add-queue", "--name", "TQ770 (network)", "--driver", "NORVANTE TQ770", "--port",
         "NETLOOP:127.0.0.1:u" + std::to_string(sim_->UdpPort("P2"))});

  const std::string first_output = machine_.path() + "/first.txt";
  pid_t tool = Start({exe_, "C:\\work\\media.ini"}, first_output);
  ASSERT_TRUE(WaitUntil([&] { return sim_->Count("P1", "commands") > kAnsweredCommands; }))
      << "the tool never reached the write of slot 1";
  // It now waits for P1's reply.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(tool, SIGKILL);
  ASSERT_EQ(WaitExit(tool), 128 + SIGKILL);

  // Where the kill landed.
  EXPECT_EQ(sim_->Count("P1", "writes"), 2);
  EXPECT_EQ(Slots("P1"), SlotList({kGloss, kCotton, "empty", "empty", "empty", foreign}));
  EXPECT_EQ(sim_->Count("P2", "writes"), 0);
  EXPECT_EQ(ReadFile(first_output), "ProgressMax=20\nResult=OK\n");
  EXPECT_FALSE(fs::exists(DataFolder() + "/CustomMedia.ini"));
  EXPECT_FALSE(WorkFiles().empty());

  // The printer answers again; the same media-definition file is handed over once more.
  sim_->SetControl("P1", "model=TQ770\nslot0=" + stale_gloss + "\nslot5=" + foreign + "\n");
  std::string out;
  ASSERT_EQ(pal_testing::RunProgram({exe_, "C:\\work\\media.ini"}, &out), 0) << out << Log();
  std::string want = "ProgressMax=20\n";
  for (int i = 0; i < 20; ++i) want += "Result=OK\n";
  EXPECT_EQ(out, want + "End\n");
  EXPECT_EQ(Log(), "Start.\r\nEnd.\r\n");

  const std::string wanted = SlotList({kGloss, kCotton, kVelvet});
  EXPECT_EQ(Slots("P1"), wanted);
  EXPECT_EQ(Slots("P2"), wanted);
  // Slot 1 took its write before the kill: the second run finds it in place.
  EXPECT_EQ(sim_->Count("P1", "writes"), 3);
  EXPECT_EQ(sim_->Count("P1", "deletes"), 1);
  EXPECT_EQ(sim_->Count("P2", "writes"), 3);

  // The driver has each media once, with its profiles and the paper files.
  const std::string config = ReadFile(DataFolder() + "/CustomMedia.ini");
  EXPECT_NE(config.find("Elements=3"), std::string::npos) << config;
  for (const char* element : {"[Element301]", "[Element302]", "[Element303]"})
    EXPECT_EQ(CountOf(config, element), 1) << element << "\n" << config;
  for (const char* profile : {"StudioGloss_360.icc", "StudioGloss_720.icc", "StudioGloss_1440.icc", "CottonRag.icc",
                              "CottonRag_1440.icc", "VelvetMatte.icc"}) {
    EXPECT_EQ(ReadFile(ColorFolder() + "/" + profile), ReadFile(std::string(SAMPLE_DIR) + "/media/" + profile))
        << profile;
  }
  for (const char* paper : {"UserPaper.paper", "UserPaper.ini"})
    EXPECT_EQ(ReadFile(DataFolder() + "/" + paper), ReadFile(std::string(SAMPLE_DIR) + "/media/" + paper)) << paper;
  EXPECT_TRUE(WorkFiles().empty());
}
