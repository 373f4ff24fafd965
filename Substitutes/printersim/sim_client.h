// Test-side control of the printer simulator: starts it for a set of printers, gives each
// printer's port name for the spooler database, rewrites a printer's control file (the
// simulator rereads it on the next command) and reads back its state.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace printersim {

class SimulatedPrinters {
 public:
  // `printers`: NAME or NAME:TCP:UDP as the simulator's --printer takes them. `controls`:
  // control file text per printer, written before the start.
  SimulatedPrinters(const std::string& folder, const std::vector<std::string>& printers,
                    const std::map<std::string, std::string>& controls = {});
  ~SimulatedPrinters();  // ends the simulator
  SimulatedPrinters(const SimulatedPrinters&) = delete;
  SimulatedPrinters& operator=(const SimulatedPrinters&) = delete;

  bool running() const { return pid_ > 0; }
  // "NETLOOP:127.0.0.1:t<tcp>:u<udp>"; with udp_first the SNMP kind is offered first.
  std::string Port(const std::string& printer, bool udp_first = false) const;
  int TcpPort(const std::string& printer) const;
  int UdpPort(const std::string& printer) const;
  void SetControl(const std::string& printer, const std::string& text) const;
  std::map<std::string, std::string> State(const std::string& printer) const;
  long Count(const std::string& printer, const std::string& key) const;

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
};

// A slot record (27 bytes) as the simulator keeps it in its state, in hex: slot, media
// definition (little endian), base media, six bytes of printer data, ink, paper value (little
// endian) and the name in 12 bytes (at most 11 characters, NUL-padded).
std::string SlotRecordHex(int slot, unsigned definition, int base, int ink, unsigned paper, const std::string& name,
                          const std::string& printer_data_hex = "000000000000");

// Path of the simulator program in the build tree.
std::string SimulatorPath();

}  // namespace printersim
