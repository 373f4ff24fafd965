// Printer simulator: serves one or more simulated printers on loopback, each with a TCP
// port (raw command stream) and a UDP port (SNMP v1 agent whose GetRequest identifiers
// carry the command bytes). See README.md beside this file for the control and state files.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using wire::Bytes;
constexpr size_t kRecordSize = 27;
constexpr char kQueryPrefix[] = "@BDC PS\r\nap:";

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::optional<Bytes> Unhex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    std::string pair = text.substr(i, 2);
    unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return std::nullopt;
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

std::set<int> NumberList(const std::string& text) {
  std::set<int> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.insert(std::atoi(item.c_str()));
  }
  return out;
}

std::map<std::string, std::string> ReadKeyValues(const std::string& path) {
  std::map<std::string, std::string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

struct Faults {
  int not_ready_polls = 0;
  int ready_status = 4;
  std::set<int> fail_write_slots, fail_delete_slots, query_na_slots;
  std::string status_reply = "normal";
  long reply_truncate = -1;
  bool silent = false;
  long silent_after = -1;
};

class Printer {
 public:
  Printer(std::string name, std::string folder) : name_(std::move(name)), folder_(std::move(folder)) {
    auto settings = ReadKeyValues(ControlPath());
    if (settings.count("model")) model_ = settings["model"];
    if (settings.count("manufacturer")) manufacturer_ = settings["manufacturer"];
    auto identity = settings.count("identity") ? Unhex(settings["identity"]) : std::nullopt;
    if (identity && identity->size() == 10) {
      identity_ = *identity;
    } else {
      identity_.assign(10, 0);
      for (size_t i = 0; i < name_.size(); ++i) identity_[i % 10] = static_cast<uint8_t>(identity_[i % 10] * 31 + name_[i]);
    }
    for (int s = 0; s < 10; ++s) {
      auto it = settings.find("slot" + std::to_string(s));
      if (it == settings.end()) continue;
      auto record = Unhex(it->second);
      if (record && record->size() == kRecordSize) {
        (*record)[0] = static_cast<uint8_t>(s);
        slots_[s] = *record;
      }
    }
    LoadFaults();
  }

  const std::string& name() const { return name_; }
  int tcp_port = 0, udp_port = 0;

  // The reply to one command, or nothing when the printer stays silent.
  std::optional<Bytes> Handle(const Bytes& command, bool over_snmp) {
    LoadFaults();
    ++commands_;
    if (over_snmp) ++snmp_requests_;
    std::optional<Bytes> reply = Answer(command);
    if (faults_.silent || (faults_.silent_after >= 0 && commands_ > faults_.silent_after)) reply.reset();
    WriteState();
    return reply;
  }

  void WriteState() const {
    std::ostringstream out;
    out << "tcp=" << tcp_port << "\nudp=" << udp_port << "\ncommands=" << commands_ << "\nsnmp_requests="
        << snmp_requests_ << "\nstatus_polls=" << status_polls_ << "\nqueries=" << queries_ << "\nwrites=" << writes_
        << "\ndeletes=" << deletes_ << "\ndevice_id_requests=" << device_ids_ << "\n";
    for (int s = 0; s < 10; ++s)
      out << "slot" << s << "=" << (slots_[s].empty() ? std::string("empty") : Hex(slots_[s].data(), kRecordSize)) << "\n";
    std::string path = folder_ + "/" + name_ + ".state";
    std::string temp = path + ".tmp";
    {
      std::ofstream file(temp, std::ios::trunc);
      file << out.str();
    }
    std::rename(temp.c_str(), path.c_str());
  }

 private:
  std::string ControlPath() const { return folder_ + "/" + name_ + ".ctl"; }

  void LoadFaults() {
    // Compared by content: two control files of equal size written within one tick of the
    // file system's coarse clock carry the same modification time.
    std::ifstream in(ControlPath());
    if (!in) return;
    std::stringstream text;
    text << in.rdbuf();
    if (text.str() == control_text_) return;
    control_text_ = text.str();
    auto settings = ReadKeyValues(ControlPath());
    Faults f;
    auto number = [&](const char* key, long fallback) {
      auto it = settings.find(key);
      return it == settings.end() ? fallback : std::strtol(it->second.c_str(), nullptr, 10);
    };
    f.not_ready_polls = static_cast<int>(number("not_ready_polls", 0));
    f.ready_status = static_cast<int>(number("status", 4));
    f.reply_truncate = number("reply_truncate", -1);
    f.silent = number("silent", 0) != 0;
    f.silent_after = number("silent_after", -1);
    if (settings.count("status_reply")) f.status_reply = settings["status_reply"];
    f.fail_write_slots = NumberList(settings["fail_write_slots"]);
    f.fail_delete_slots = NumberList(settings["fail_delete_slots"]);
    f.query_na_slots = NumberList(settings["query_na_slots"]);
    faults_ = f;
  }

  static Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

  Bytes Truncated(Bytes reply) const {
    if (faults_.reply_truncate >= 0 && reply.size() > static_cast<size_t>(faults_.reply_truncate))
      reply.resize(static_cast<size_t>(faults_.reply_truncate));
    return reply;
  }

  std::optional<Bytes> Answer(const Bytes& c) {
    if (c.size() == sizeof wire::kDeviceIdCommand && std::memcmp(c.data(), wire::kDeviceIdCommand, c.size()) == 0) {
      ++device_ids_;
      std::string id = "MFG:" + manufacturer_ + ";CMD:BDC,PS;MDL:" + model_ + ";CLS:PRINTER;DES:" + manufacturer_ + " " +
                       model_ + ";";
      size_t length = id.size() + 2;
      Bytes reply = {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
      reply.insert(reply.end(), id.begin(), id.end());
      return reply;
    }
    if (c.size() == sizeof wire::kStatusCommand && std::memcmp(c.data(), wire::kStatusCommand, c.size()) == 0)
      return StatusReply();
    if (c.size() >= 4 && c[0] == 'a' && c[1] == 'p') return Truncated(SlotReply(c));
    return Text("@BDC NG\r\n");
  }

  Bytes StatusReply() {
    ++status_polls_;
    uint8_t status = status_polls_ <= faults_.not_ready_polls ? 2 : static_cast<uint8_t>(faults_.ready_status);
    Bytes fields = {0x01, 0x01, status, 0x35, 0x02, 0x00, 0x00};
    if (faults_.status_reply != "no_identity") {
      fields.push_back(0x40);
      fields.push_back(10);
      fields.insert(fields.end(), identity_.begin(), identity_.end());
    }
    if (faults_.status_reply == "malformed") fields = {0x01, 200, status};
    Bytes reply = Text("@BDC ST2\r\n");
    reply.push_back(static_cast<uint8_t>(fields.size() & 0xFF));
    reply.push_back(static_cast<uint8_t>(fields.size() >> 8));
    if (faults_.status_reply == "short") return reply;
    reply.insert(reply.end(), fields.begin(), fields.end());
    return reply;
  }

  Bytes SlotReply(const Bytes& c) {
    const Bytes ok = Text(std::string(kQueryPrefix) + "OK;");
    const Bytes ng = Text(std::string(kQueryPrefix) + "NG;");
    size_t params = c[2] | (c[3] << 8);
    if (params + 4 != c.size()) return ng;
    if (params == 3 && c[4] == 1 && c[5] == 1 && c[6] < 10) {
      ++queries_;
      int s = c[6];
      if (faults_.query_na_slots.count(s)) return Text(std::string(kQueryPrefix) + "NA;");
      Bytes reply = Text(std::string(kQueryPrefix) + "0" + std::to_string(s) + ":");
      if (slots_[s].empty()) {
        reply.insert(reply.end(), {'N', 'O', ';'});
      } else {
        reply.insert(reply.end(), slots_[s].begin(), slots_[s].end());
        reply.push_back(';');
      }
      return reply;
    }
    if (params == 3 + kRecordSize && c[4] == 0 && c[5] == 0 && c[6] == 1 && c[7] < 10) {
      ++writes_;
      int s = c[7];
      if (faults_.fail_write_slots.count(s)) return ng;
      slots_[s].assign(c.begin() + 7, c.end());
      slots_[s][kRecordSize - 1] = 0;
      return ok;
    }
    if (params == 4 && c[4] == 0 && c[5] == 1 && c[6] == 1 && c[7] < 10) {
      ++deletes_;
      int s = c[7];
      if (faults_.fail_delete_slots.count(s)) return ng;
      slots_[s].clear();
      return ok;
    }
    return ng;
  }

  std::string name_, folder_;
  std::string model_ = "TQ770", manufacturer_ = "NORVANTE";
  Bytes identity_;
  Bytes slots_[10];
  Faults faults_;
  std::string control_text_;
  long commands_ = 0, snmp_requests_ = 0, status_polls_ = 0, queries_ = 0, writes_ = 0, deletes_ = 0,
       device_ids_ = 0;
};

struct Endpoint {
  enum Kind { kListen, kStream, kDatagram, kStdin } kind;
  Printer* printer;
  Bytes pending;
};

int Bind(int type, int port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (type == SOCK_STREAM && listen(fd, 16) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

void SendAll(int fd, const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void ServeDatagram(int fd, Printer& printer) {
  uint8_t buffer[65536];
  sockaddr_in from{};
  socklen_t from_size = sizeof from;
  ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
  if (n <= 0) return;
  auto request = wire::DecodeSnmp(buffer, static_cast<size_t>(n));
  // Agents do not answer other communities or what they cannot decode.
  if (!request || request->version != 0 || request->community != "public" || request->pdu != 0xA0) return;
  wire::SnmpMessage response;
  response.community = request->community;
  response.pdu = 0xA2;
  response.request_id = request->request_id;
  response.oid = request->oid;
  auto command = wire::CommandFromOid(request->oid);
  if (!command) {
    response.error_status = 2;  // noSuchName
    response.value_tag = 0x05;
  } else {
    auto reply = printer.Handle(*command, true);
    if (!reply) return;
    response.value_tag = 0x04;
    response.value.push_back(wire::kReplyLead);
    response.value.insert(response.value.end(), reply->begin(), reply->end());
  }
  Bytes packet = wire::EncodeSnmp(response);
  sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&from), from_size);
}

int Usage() {
  std::fprintf(stderr,
               "usage: printersim --state FOLDER [--exit-on-stdin-eof] --printer NAME[:TCP:UDP] ...\n"
               "  TCP/UDP 0 picks a free port, - serves no such port.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  std::string folder;
  bool watch_stdin = false;
  std::vector<std::string> printer_args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--state" && i + 1 < argc) folder = argv[++i];
    else if (a == "--printer" && i + 1 < argc) printer_args.push_back(argv[++i]);
    else if (a == "--exit-on-stdin-eof") watch_stdin = true;
    else return Usage();
  }
  if (folder.empty() || printer_args.empty()) return Usage();
  mkdir(folder.c_str(), 0777);

  std::vector<std::unique_ptr<Printer>> printers;
  std::vector<pollfd> fds;
  std::vector<Endpoint> endpoints;
  for (const std::string& arg : printer_args) {
    std::string name = arg.substr(0, arg.find(':'));
    std::string tcp = "0", udp = "0";
    if (size_t c1 = arg.find(':'); c1 != std::string::npos) {
      size_t c2 = arg.find(':', c1 + 1);
      if (c2 == std::string::npos) return Usage();
      tcp = arg.substr(c1 + 1, c2 - c1 - 1);
      udp = arg.substr(c2 + 1);
    }
    if (name.empty() || name.find('/') != std::string::npos) return Usage();
    printers.push_back(std::make_unique<Printer>(name, folder));
    Printer* p = printers.back().get();
    if (tcp != "-") {
      int fd = Bind(SOCK_STREAM, std::atoi(tcp.c_str()));
      if (fd < 0) return std::perror("tcp"), 1;
      p->tcp_port = BoundPort(fd);
      fds.push_back({fd, POLLIN, 0});
      endpoints.push_back({Endpoint::kListen, p, {}});
    }
    if (udp != "-") {
      int fd = Bind(SOCK_DGRAM, std::atoi(udp.c_str()));
      if (fd < 0) return std::perror("udp"), 1;
      p->udp_port = BoundPort(fd);
      fds.push_back({fd, POLLIN, 0});
      endpoints.push_back({Endpoint::kDatagram, p, {}});
    }
    p->WriteState();
    std::printf("%s tcp=%d udp=%d port=%s\n", name.c_str(), p->tcp_port, p->udp_port,
                wire::FormatPort(p->tcp_port, p->udp_port).c_str());
  }
  if (watch_stdin) {
    fds.push_back({0, POLLIN, 0});
    endpoints.push_back({Endpoint::kStdin, nullptr, {}});
  }
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    size_t count = fds.size();
    for (size_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      Endpoint& e = endpoints[i];
      if (e.kind == Endpoint::kStdin) {
        char buffer[256];
        if (read(0, buffer, sizeof buffer) <= 0) return 0;
      } else if (e.kind == Endpoint::kListen) {
        int client = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
          int one = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          fds.push_back({client, POLLIN, 0});
          endpoints.push_back({Endpoint::kStream, e.printer, {}});
        }
      } else if (e.kind == Endpoint::kDatagram) {
        ServeDatagram(fds[i].fd, *e.printer);
      } else {
        uint8_t buffer[65536];
        ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          continue;
        }
        e.pending.insert(e.pending.end(), buffer, buffer + n);
        while (size_t length = wire::CommandLength(e.pending.data(), e.pending.size())) {
          Bytes command(e.pending.begin(), e.pending.begin() + static_cast<long>(length));
          e.pending.erase(e.pending.begin(), e.pending.begin() + static_cast<long>(length));
          if (auto reply = e.printer->Handle(command, false)) SendAll(fds[i].fd, *reply);
        }
      }
    }
    // Drop closed connections.
    for (size_t i = fds.size(); i-- > 0;) {
      if (fds[i].fd < 0) {
        fds.erase(fds.begin() + static_cast<long>(i));
        endpoints.erase(endpoints.begin() + static_cast<long>(i));
      }
    }
  }
}
