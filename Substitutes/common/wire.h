// What the substitutes (communication library and printer simulator) share: the port names
// of simulated printers, the printer command framing, and an SNMP v1 message codec.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

using Bytes = std::vector<uint8_t>;

// Channel kinds of the communication library.
inline constexpr uint32_t kKindBidi = 2;           // listed for a stream port, not served
inline constexpr uint32_t kKindStream = 0x10000005;  // raw bytes over TCP
inline constexpr uint32_t kKindSnmp = 4;             // SNMP v1 over UDP

// A port name "NETLOOP:<IPv4 address>:t<tcp port>:u<udp port>" (either part may be left out;
// their order is the order of the channel kinds offered).
struct PortAddress {
  std::string address;
  int tcp_port = 0;
  int udp_port = 0;
  std::vector<uint32_t> kinds;
};
std::optional<PortAddress> ParsePort(std::string_view port);
std::string FormatPort(int tcp_port, int udp_port, bool udp_first = false);

// Printer commands: two letters, a 16-bit little-endian parameter length, the parameters.
inline constexpr uint8_t kStatusCommand[] = {'s', 't', 1, 0, 1};
inline constexpr uint8_t kDeviceIdCommand[] = {'d', 'i', 0, 0};
// Length of the complete command at the start of `bytes`, or 0 while incomplete.
size_t CommandLength(const uint8_t* bytes, size_t size);

// SNMP v1 GetRequest / GetResponse with one variable binding.
struct SnmpMessage {
  int version = 0;
  std::string community;
  uint8_t pdu = 0xA0;
  int64_t request_id = 0;
  int64_t error_status = 0;
  std::vector<uint32_t> oid;
  uint8_t value_tag = 0x05;  // NULL in requests, OCTET STRING (0x04) in responses
  Bytes value;
};
Bytes EncodeSnmp(const SnmpMessage& message);
// Strict decoding: every length must fit; trailing bytes fail.
std::optional<SnmpMessage> DecodeSnmp(const uint8_t* bytes, size_t size);

// The identifier 1.3.6.1.4.1.<enterprise>.1.2.2.44.1.1.2.1 followed by the command bytes.
std::vector<uint32_t> CommandOid(const uint8_t* command, size_t size);
// The command bytes carried by an identifier, or nothing when it is not a command identifier.
std::optional<Bytes> CommandFromOid(const std::vector<uint32_t>& oid);

// In responses the reply follows one leading byte of the value.
inline constexpr uint8_t kReplyLead = 0x01;

}  // namespace wire
