#include "SnmpMessage.h"

static_assert(kPrinterEnterpriseNumber >= 128 && kPrinterEnterpriseNumber <= 16383,
              "the enterprise number takes exactly two identifier bytes");

namespace {

void AppendLength(std::vector<BYTE>& out, size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<BYTE>(length));
    return;
  }
  BYTE digits[4];
  int count = 0;
  for (size_t l = length; l != 0 && count < 4; l >>= 8) digits[count++] = static_cast<BYTE>(l & 0xFF);
  out.push_back(static_cast<BYTE>(0x80 + count));
  while (count > 0) out.push_back(digits[--count]);
}

void AppendTlv(std::vector<BYTE>& out, BYTE tag, const std::vector<BYTE>& content) {
  out.push_back(tag);
  AppendLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

// Command bytes as identifier sub-identifiers: below 0x80 one byte, else 0x81 and the rest.
std::vector<BYTE> EncodeCommand(const BYTE* command, DWORD commandLength) {
  std::vector<BYTE> out;
  for (DWORD i = 0; i < commandLength; ++i) {
    if (command[i] < 0x80) {
      out.push_back(command[i]);
    } else {
      out.push_back(0x81);
      out.push_back(static_cast<BYTE>(command[i] - 0x80));
    }
  }
  return out;
}

}  // namespace

std::vector<BYTE> BuildSnmpRequest(const BYTE* command, DWORD commandLength) {
  std::vector<BYTE> oid = {0x2B, 0x06, 0x01, 0x04, 0x01, static_cast<BYTE>(0x80 | (kPrinterEnterpriseNumber >> 7)),
                           static_cast<BYTE>(kPrinterEnterpriseNumber & 0x7F)};
  for (DWORD sub : kStatusOidTail) oid.push_back(static_cast<BYTE>(sub));
  std::vector<BYTE> encoded = EncodeCommand(command, command != nullptr ? commandLength : 0);
  oid.insert(oid.end(), encoded.begin(), encoded.end());

  std::vector<BYTE> varbind;
  AppendTlv(varbind, 0x06, oid);
  varbind.insert(varbind.end(), {0x05, 0x00});
  std::vector<BYTE> binding, list;
  AppendTlv(binding, 0x30, varbind);
  AppendTlv(list, 0x30, binding);

  std::vector<BYTE> pdu = {0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
  pdu.insert(pdu.end(), list.begin(), list.end());

  std::vector<BYTE> body = {0x02, 0x01, 0x00, 0x04, static_cast<BYTE>(sizeof kSnmpCommunity - 1)};
  body.insert(body.end(), kSnmpCommunity, kSnmpCommunity + sizeof kSnmpCommunity - 1);
  AppendTlv(body, 0xA0, pdu);

  std::vector<BYTE> message;
  AppendTlv(message, 0x30, body);
  return message;
}

BOOL ExtractSnmpValue(const BYTE* command, DWORD commandLength, const BYTE* received, DWORD receivedLength,
                      const BYTE** data, DWORD* dataLength) {
  if (data == nullptr || dataLength == nullptr) return FALSE;
  *data = nullptr;
  *dataLength = 0;
  if (command == nullptr || received == nullptr) return FALSE;
  const std::vector<BYTE> pattern = EncodeCommand(command, commandLength);
  const size_t n = pattern.size();
  // The reply is looked for in the first 512 bytes only, and never beyond what arrived.
  if (n == 0 || n >= 512) return FALSE;
  const size_t last = 512 - n;
  for (size_t k = 0; k < last && k + n <= receivedLength; ++k) {
    bool match = true;
    for (size_t i = 0; i < n && match; ++i) match = received[k + i] == pattern[i];
    if (!match) continue;
    if (k + n + 1 >= receivedLength) return FALSE;
    const BYTE lengthByte = received[k + n + 1];
    // The value's first byte is not part of the reply.
    size_t start = k + n + 3;
    if (lengthByte > 0x80) start += lengthByte - 0x80;
    if (start >= receivedLength) return FALSE;
    *data = received + start;
    *dataLength = static_cast<DWORD>(receivedLength - start);
    return TRUE;
  }
  return FALSE;
}
