#include "wire.h"

#include <charconv>

#include "SnmpMessage.h"

namespace wire {
namespace {

bool ParseInt(std::string_view text, int* out) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value <= 0 || value > 65535) return false;
  *out = value;
  return true;
}

void PutLength(Bytes& out, size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  Bytes digits;
  for (size_t l = length; l != 0; l >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(l & 0xFF));
  out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
  out.insert(out.end(), digits.begin(), digits.end());
}

void PutTlv(Bytes& out, uint8_t tag, const Bytes& content) {
  out.push_back(tag);
  PutLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

Bytes Integer(int64_t value) {
  Bytes content;
  do {
    content.insert(content.begin(), static_cast<uint8_t>(value & 0xFF));
    value >>= 8;
  } while (!((value == 0 && !(content.front() & 0x80)) || (value == -1 && (content.front() & 0x80))));
  return content;
}

void PutSubId(Bytes& out, uint32_t v) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = v & 0x7F;
    v >>= 7;
  } while (v != 0);
  while (n > 1) out.push_back(0x80 | groups[--n]);
  out.push_back(groups[0]);
}

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  // Reads a TLV of the expected tag; its content becomes a sub-reader.
  std::optional<Reader> Tlv(uint8_t tag) {
    if (pos_ + 2 > n_ || p_[pos_] != tag) return std::nullopt;
    size_t i = pos_ + 1;
    size_t length = p_[i++];
    if (length & 0x80) {
      size_t count = length & 0x7F;
      if (count == 0 || count > 4 || i + count > n_) return std::nullopt;
      length = 0;
      for (size_t k = 0; k < count; ++k) length = (length << 8) | p_[i++];
    }
    if (length > n_ - i) return std::nullopt;
    pos_ = i + length;
    return Reader(p_ + i, length);
  }
  std::optional<int64_t> Int() {
    auto r = Tlv(0x02);
    if (!r || r->n_ == 0 || r->n_ > 8) return std::nullopt;
    int64_t v = (r->p_[0] & 0x80) ? -1 : 0;
    for (size_t k = 0; k < r->n_; ++k) v = static_cast<int64_t>((static_cast<uint64_t>(v) << 8) | r->p_[k]);
    return v;
  }
  uint8_t Peek() const { return pos_ < n_ ? p_[pos_] : 0; }
  bool AtEnd() const { return pos_ == n_; }
  Bytes Content() const { return Bytes(p_, p_ + n_); }
  const uint8_t* data() const { return p_; }
  size_t size() const { return n_; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<PortAddress> ParsePort(std::string_view port) {
  constexpr std::string_view kPrefix = "NETLOOP:";
  if (port.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  port.remove_prefix(kPrefix.size());
  PortAddress parsed;
  size_t colon = port.find(':');
  parsed.address = std::string(port.substr(0, colon));
  if (parsed.address.empty()) return std::nullopt;
  while (colon != std::string_view::npos) {
    port.remove_prefix(colon + 1);
    colon = port.find(':');
    std::string_view part = port.substr(0, colon);
    if (part.size() < 2) return std::nullopt;
    int* number = part[0] == 't' ? &parsed.tcp_port : part[0] == 'u' ? &parsed.udp_port : nullptr;
    if (number == nullptr || *number != 0 || !ParseInt(part.substr(1), number)) return std::nullopt;
    if (part[0] == 't') {
      parsed.kinds.push_back(kKindBidi);
      parsed.kinds.push_back(kKindStream);
    } else {
      parsed.kinds.push_back(kKindSnmp);
    }
  }
  if (parsed.kinds.empty()) return std::nullopt;
  return parsed;
}

std::string FormatPort(int tcp_port, int udp_port, bool udp_first) {
  std::string t = tcp_port > 0 ? ":t" + std::to_string(tcp_port) : "";
  std::string u = udp_port > 0 ? ":u" + std::to_string(udp_port) : "";
  return "NETLOOP:127.0.0.1" + (udp_first ? u + t : t + u);
}

size_t CommandLength(const uint8_t* bytes, size_t size) {
  if (size < 4) return 0;
  size_t total = 4 + (bytes[2] | (bytes[3] << 8));
  return size >= total ? total : 0;
}

Bytes EncodeSnmp(const SnmpMessage& m) {
  Bytes oid;
  if (m.oid.size() >= 2) {
    PutSubId(oid, m.oid[0] * 40 + m.oid[1]);
    for (size_t i = 2; i < m.oid.size(); ++i) PutSubId(oid, m.oid[i]);
  }
  Bytes varbind;
  PutTlv(varbind, 0x06, oid);
  PutTlv(varbind, m.value_tag, m.value);
  Bytes list, bind_seq;
  PutTlv(bind_seq, 0x30, varbind);
  PutTlv(list, 0x30, bind_seq);
  Bytes pdu;
  PutTlv(pdu, 0x02, Integer(m.request_id));
  PutTlv(pdu, 0x02, Integer(m.error_status));
  PutTlv(pdu, 0x02, Integer(0));
  pdu.insert(pdu.end(), list.begin(), list.end());
  Bytes body;
  PutTlv(body, 0x02, Integer(m.version));
  PutTlv(body, 0x04, Bytes(m.community.begin(), m.community.end()));
  PutTlv(body, m.pdu, pdu);
  Bytes out;
  PutTlv(out, 0x30, body);
  return out;
}

std::optional<SnmpMessage> DecodeSnmp(const uint8_t* bytes, size_t size) {
  Reader top(bytes, size);
  auto seq = top.Tlv(0x30);
  if (!seq || !top.AtEnd()) return std::nullopt;
  SnmpMessage m;
  auto version = seq->Int();
  auto community = seq->Tlv(0x04);
  if (!version || !community) return std::nullopt;
  m.version = static_cast<int>(*version);
  Bytes c = community->Content();
  m.community.assign(c.begin(), c.end());
  m.pdu = seq->Peek();
  if (m.pdu != 0xA0 && m.pdu != 0xA2) return std::nullopt;
  auto pdu = seq->Tlv(m.pdu);
  if (!pdu || !seq->AtEnd()) return std::nullopt;
  auto id = pdu->Int(), status = pdu->Int(), index = pdu->Int();
  auto list = pdu->Tlv(0x30);
  if (!id || !status || !index || !list || !pdu->AtEnd()) return std::nullopt;
  m.request_id = *id;
  m.error_status = *status;
  auto bind = list->Tlv(0x30);
  if (!bind || !list->AtEnd()) return std::nullopt;
  auto oid = bind->Tlv(0x06);
  if (!oid || oid->size() == 0) return std::nullopt;
  uint32_t sub = 0;
  int groups = 0;
  for (size_t i = 0; i < oid->size(); ++i) {
    uint8_t b = oid->data()[i];
    if (++groups > 5) return std::nullopt;
    sub = (sub << 7) | (b & 0x7F);
    if (b & 0x80) continue;
    if (m.oid.empty()) {
      m.oid.push_back(sub < 80 ? sub / 40 : 2);
      m.oid.push_back(sub < 80 ? sub % 40 : sub - 80);
    } else {
      m.oid.push_back(sub);
    }
    sub = 0;
    groups = 0;
  }
  if (groups != 0) return std::nullopt;
  m.value_tag = bind->Peek();
  auto value = bind->Tlv(m.value_tag);
  if (!value || !bind->AtEnd()) return std::nullopt;
  m.value = value->Content();
  return m;
}

std::vector<uint32_t> CommandOid(const uint8_t* command, size_t size) {
  std::vector<uint32_t> oid = {1, 3, 6, 1, 4, 1, kPrinterEnterpriseNumber};
  oid.insert(oid.end(), std::begin(kStatusOidTail), std::end(kStatusOidTail));
  for (size_t i = 0; i < size; ++i) oid.push_back(command[i]);
  return oid;
}

std::optional<Bytes> CommandFromOid(const std::vector<uint32_t>& oid) {
  std::vector<uint32_t> prefix = CommandOid(nullptr, 0);
  if (oid.size() <= prefix.size() || !std::equal(prefix.begin(), prefix.end(), oid.begin())) return std::nullopt;
  Bytes command;
  for (size_t i = prefix.size(); i < oid.size(); ++i) {
    if (oid[i] > 0xFF) return std::nullopt;
    command.push_back(static_cast<uint8_t>(oid[i]));
  }
  return command;
}

}  // namespace wire
