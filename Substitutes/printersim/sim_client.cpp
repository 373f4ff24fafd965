#include "sim_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace printersim {
namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text;
  }
  std::rename(temp.c_str(), path.c_str());
}

}  // namespace

std::string SimulatorPath() { return PRINTERSIM_PATH; }

SimulatedPrinters::SimulatedPrinters(const std::string& folder, const std::vector<std::string>& printers,
                                     const std::map<std::string, std::string>& controls)
    : folder_(folder) {
  std::filesystem::create_directories(folder);
  for (const auto& [name, text] : controls) WriteText(folder + "/" + name + ".ctl", text);
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> args = {SimulatorPath(), "--state", folder, "--exit-on-stdin-eof"};
  for (const std::string& p : printers) {
    args.push_back("--printer");
    args.push_back(p);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  stdin_fd_ = in[1];
  // Wait for "ready" (the simulator has bound every port and written every state file).
  std::string seen;
  char c;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (pid_ < 0 || poll(&p, 1, 20000) <= 0 || read(out[0], &c, 1) != 1) {
      close(out[0]);
      throw std::runtime_error("printer simulator did not start: " + seen);
    }
    seen += c;
    if (seen.size() >= 6 && seen.compare(seen.size() - 6, 6, "ready\n") == 0) break;
  }
  close(out[0]);
}

SimulatedPrinters::~SimulatedPrinters() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

std::map<std::string, std::string> SimulatedPrinters::State(const std::string& printer) const {
  std::map<std::string, std::string> out;
  std::ifstream in(folder_ + "/" + printer + ".state");
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

long SimulatedPrinters::Count(const std::string& printer, const std::string& key) const {
  auto state = State(printer);
  auto it = state.find(key);
  return it == state.end() ? -1 : std::stol(it->second);
}

int SimulatedPrinters::TcpPort(const std::string& printer) const { return static_cast<int>(Count(printer, "tcp")); }
int SimulatedPrinters::UdpPort(const std::string& printer) const { return static_cast<int>(Count(printer, "udp")); }

std::string SimulatedPrinters::Port(const std::string& printer, bool udp_first) const {
  int tcp = TcpPort(printer), udp = UdpPort(printer);
  std::string t = tcp > 0 ? ":t" + std::to_string(tcp) : "";
  std::string u = udp > 0 ? ":u" + std::to_string(udp) : "";
  return "NETLOOP:127.0.0.1" + (udp_first ? u + t : t + u);
}

void SimulatedPrinters::SetControl(const std::string& printer, const std::string& text) const {
  WriteText(folder_ + "/" + printer + ".ctl", text);
}

std::string SlotRecordHex(int slot, unsigned definition, int base, int ink, unsigned paper, const std::string& name,
                          const std::string& printer_data_hex) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02x%02x%02x%02x%02x%02x", slot, definition & 0xff, (definition >> 8) & 0xff,
                (definition >> 16) & 0xff, definition >> 24, base);
  std::string hex = buffer + printer_data_hex;
  std::snprintf(buffer, sizeof buffer, "%02x%02x%02x", ink, paper & 0xff, (paper >> 8) & 0xff);
  hex += buffer;
  for (size_t i = 0; i < 12; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", i < name.size() && i < 11 ? static_cast<unsigned char>(name[i]) : 0);
    hex += buffer;
  }
  return hex;
}

}  // namespace printersim
