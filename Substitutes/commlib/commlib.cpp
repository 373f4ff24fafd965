// The driver's printer communication library, as a substitute: finds a queue's printer
// through the spooler database (its port names the printer's loopback address) and opens
// channels to it: kind 0x10000005 as a raw byte stream over TCP, kind 4 as SNMP v1
// datagrams over UDP. Results: above 0 (or 0 where documented) for success, -4 for a buffer
// that is too small (with the size needed), -1 for other failures, -2 for a time-out.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "pal/spooler_admin.h"
#include "wire.h"

#define LK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kTooSmall = -4;
constexpr int kFailed = -1;
constexpr int kTimedOut = -2;
constexpr int kExchangeTimeoutMs = 10000;

struct Channel {
  uint32_t kind = 0;
  int fd = -1;
  int32_t next_request = 1;
};

std::mutex g_mutex;
std::map<int, Channel> g_channels;
int g_next_channel = 1;
int g_started = 0;

std::wstring Widen(const char* ansi) {
  std::wstring out;
  for (const char* p = ansi; *p != 0; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return out;
}

std::optional<wire::PortAddress> FindPrinter(const char* printer) {
  if (printer == nullptr) return std::nullopt;
  pal::spooler::QueueRecord queue;
  if (pal::spooler::FindQueue(Widen(printer), &queue) != 0) return std::nullopt;
  std::string port;
  for (wchar_t c : queue.port) port += static_cast<char>(c < 0x80 ? c : '?');
  return wire::ParsePort(port);
}

int Connect(const wire::PortAddress& target, uint32_t kind) {
  bool stream = kind == wire::kKindStream;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(stream ? target.tcp_port : target.udp_port));
  if ((stream ? target.tcp_port : target.udp_port) == 0 || inet_pton(AF_INET, target.address.c_str(), &address.sin_addr) != 1)
    return -1;
  int fd = socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (stream) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  while (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One read of what the printer sent (a datagram, or what the stream holds), waiting up to
// `timeout_ms` for its first byte.
int ReceiveOnce(int fd, uint8_t* buffer, size_t capacity, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, left < 0 ? 0 : left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return kFailed;
    if (ready == 0) return kTimedOut;
    ssize_t n = recv(fd, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<int>(n) : kFailed;
  }
}

// Sends one command and returns the printer's reply, wrapped in SNMP on the SNMP kind.
std::optional<wire::Bytes> Exchange(Channel& channel, const uint8_t* command, size_t size) {
  std::vector<uint8_t> buffer(65535);
  if (channel.kind == wire::kKindStream) {
    if (!SendAll(channel.fd, command, size)) return std::nullopt;
    int n = ReceiveOnce(channel.fd, buffer.data(), buffer.size(), kExchangeTimeoutMs);
    if (n <= 0) return std::nullopt;
    return wire::Bytes(buffer.begin(), buffer.begin() + n);
  }
  wire::SnmpMessage request;
  request.community = "public";
  request.request_id = channel.next_request++;
  request.oid = wire::CommandOid(command, size);
  wire::Bytes packet = wire::EncodeSnmp(request);
  if (!SendAll(channel.fd, packet.data(), packet.size())) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExchangeTimeoutMs);
  for (;;) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) return std::nullopt;
    int n = ReceiveOnce(channel.fd, buffer.data(), buffer.size(), left);
    if (n <= 0) return std::nullopt;
    auto response = wire::DecodeSnmp(buffer.data(), static_cast<size_t>(n));
    // Late answers to earlier requests are skipped.
    if (!response || response->pdu != 0xA2 || response->request_id != request.request_id) continue;
    if (response->error_status != 0 || response->value_tag != 0x04 || response->value.empty() ||
        response->value[0] != wire::kReplyLead)
      return std::nullopt;
    return wire::Bytes(response->value.begin() + 1, response->value.end());
  }
}

int CopyOut(const wire::Bytes& data, uint8_t* buffer, uint32_t* size) {
  if (buffer == nullptr || *size < data.size()) {
    *size = static_cast<uint32_t>(data.size());
    return kTooSmall;
  }
  std::memcpy(buffer, data.data(), data.size());
  *size = static_cast<uint32_t>(data.size());
  return static_cast<int>(data.size());
}

}  // namespace

LK_EXPORT int LKInitialize() {
  std::lock_guard lock(g_mutex);
  ++g_started;
  return 0;
}

LK_EXPORT int LKRelease() {
  std::lock_guard lock(g_mutex);
  if (g_started > 0 && --g_started == 0) {
    for (auto& [number, channel] : g_channels) close(channel.fd);
    g_channels.clear();
  }
  return 0;
}

LK_EXPORT int LKGetAvailableChannel(int type, const char* printer, uint8_t* buffer, uint32_t* size) {
  if (size == nullptr) return kFailed;
  auto target = FindPrinter(printer);
  if (!target) return kFailed;
  uint32_t needed = static_cast<uint32_t>(target->kinds.size() * 8);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return kTooSmall;
  }
  std::memset(buffer, 0, needed);
  for (size_t i = 0; i < target->kinds.size(); ++i) std::memcpy(buffer + i * 8, &target->kinds[i], 4);
  *size = needed;
  return static_cast<int>(target->kinds.size());
}

LK_EXPORT int LKOpenChannel(int type, const char* printer, uint32_t kind) {
  auto target = FindPrinter(printer);
  if (!target || (kind != wire::kKindStream && kind != wire::kKindSnmp)) return kFailed;
  bool offered = false;
  for (uint32_t k : target->kinds) offered = offered || k == kind;
  if (!offered) return kFailed;
  int fd = Connect(*target, kind);
  if (fd < 0) return kFailed;
  std::lock_guard lock(g_mutex);
  int number = g_next_channel++;
  g_channels[number] = Channel{kind, fd};
  return number;
}

LK_EXPORT int LKCloseChannel(int channel) {
  std::lock_guard lock(g_mutex);
  auto it = g_channels.find(channel);
  if (it == g_channels.end()) return kFailed;
  close(it->second.fd);
  g_channels.erase(it);
  return 1;
}

LK_EXPORT int LKSend(int channel, const uint8_t* data, uint32_t length) {
  int fd;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(channel);
    if (it == g_channels.end() || data == nullptr || length == 0) return kFailed;
    fd = it->second.fd;
  }
  return SendAll(fd, data, length) ? static_cast<int>(length) : kFailed;
}

LK_EXPORT int LKReceive(int channel, uint8_t* buffer, uint32_t* length, uint32_t timeout_ms) {
  int fd;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(channel);
    if (it == g_channels.end() || buffer == nullptr || length == nullptr || *length == 0) return kFailed;
    fd = it->second.fd;
  }
  int n = ReceiveOnce(fd, buffer, *length, static_cast<int>(timeout_ms > 600000 ? 600000 : timeout_ms));
  if (n > 0) *length = static_cast<uint32_t>(n);
  return n;
}

LK_EXPORT int LKGetStatus(int channel, uint8_t* buffer, uint32_t* size) {
  if (size == nullptr) return kFailed;
  Channel copy;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_channels.find(channel);
    if (it == g_channels.end()) return kFailed;
    copy = it->second;
    ++it->second.next_request;
  }
  auto reply = Exchange(copy, wire::kStatusCommand, sizeof wire::kStatusCommand);
  if (!reply || reply->empty()) return kFailed;
  return CopyOut(*reply, buffer, size);
}

LK_EXPORT int LKGetDeviceID(int type, const char* printer, char* buffer, uint32_t* size) {
  if (size == nullptr) return kFailed;
  auto target = FindPrinter(printer);
  if (!target) return kFailed;
  // A short-lived channel of its own, on the first kind the port serves.
  Channel channel;
  for (uint32_t kind : target->kinds) {
    if (kind == wire::kKindBidi) continue;
    channel.kind = kind;
    channel.fd = Connect(*target, kind);
    break;
  }
  if (channel.fd < 0) return kFailed;
  auto reply = Exchange(channel, wire::kDeviceIdCommand, sizeof wire::kDeviceIdCommand);
  close(channel.fd);
  // IEEE 1284: a big-endian length that counts its own two bytes, then the text.
  if (!reply || reply->size() < 2) return kFailed;
  size_t length = (static_cast<size_t>((*reply)[0]) << 8) | (*reply)[1];
  if (length < 2 || length > reply->size()) return kFailed;
  wire::Bytes id(reply->begin() + 2, reply->begin() + static_cast<long>(length));
  if (buffer == nullptr || *size < id.size()) {
    *size = static_cast<uint32_t>(id.size());
    return kTooSmall;
  }
  std::memcpy(buffer, id.data(), id.size());
  if (*size > id.size()) buffer[id.size()] = 0;
  *size = static_cast<uint32_t>(id.size());
  return 0;
}
