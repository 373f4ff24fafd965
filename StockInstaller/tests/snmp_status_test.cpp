#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SnmpMessage.h"
#include "St2Status.h"
#include "pal_testing.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char b[3];
  for (BYTE x : bytes) {
    std::snprintf(b, sizeof b, "%02x", x);
    out += b;
  }
  return out;
}

// The request as an independent BER decoder sees it.
std::string Decode(const Bytes& request) {
  std::string output;
  int status = pal_testing::RunProgram({"/usr/bin/python3", SNMP_DECODER, Hex(request)}, &output);
  EXPECT_EQ(status, 0) << output;
  return output;
}

std::string WantedOid(const Bytes& command) {
  std::string oid = "1.3.6.1.4.1." + std::to_string(kPrinterEnterpriseNumber) + ".1.2.2.44.1.1.2.1";
  for (BYTE b : command) oid += "." + std::to_string(b);
  return oid;
}

TEST(BuildSnmpRequestTest, IndependentDecoderReadsTheGetRequest) {
  const Bytes command = {0x61, 0x70, 0x03, 0x00, 0x01, 0x01, 0x9C};
  Bytes request = BuildSnmpRequest(command.data(), static_cast<DWORD>(command.size()));
  std::string decoded = Decode(request);
  for (const std::string& line :
       {std::string("remainder=0"), std::string("version=0"), std::string("community=public"),
        std::string("request-id=1"), std::string("error-status=0"), std::string("error-index=0"),
        std::string("bindings=1"), "oid=" + WantedOid(command), std::string("value=null")}) {
    EXPECT_NE(decoded.find(line + "\n"), std::string::npos) << line << "\n" << decoded;
  }
  // 0x9C becomes the two identifier bytes 81 1C at the identifier's end.
  const Bytes tail = {0x01, 0x01, 0x81, 0x1C, 0x05, 0x00};
  ASSERT_GE(request.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), request.end() - static_cast<long>(tail.size())));
  Bytes without = BuildSnmpRequest(command.data(), static_cast<DWORD>(command.size() - 1));
  Bytes with_small = Cat(Bytes(command.begin(), command.end() - 1), {0x1C});
  Bytes small = BuildSnmpRequest(with_small.data(), static_cast<DWORD>(with_small.size()));
  EXPECT_EQ(request.size(), small.size() + 1);  // one byte longer than a byte below 0x80
}

TEST(BuildSnmpRequestTest, LongContentUsesTheOneByteLongLengthForm) {
  // 90 command bytes, twelve of them at or above 0x80.
  Bytes command = {0x61, 0x70, 0x56, 0x00};
  for (int i = 0; i < 86; ++i) command.push_back(static_cast<BYTE>(i < 12 ? 0x80 + i * 10 : i));
  Bytes request = BuildSnmpRequest(command.data(), static_cast<DWORD>(command.size()));
  ASSERT_GT(request.size(), 130u);
  EXPECT_EQ(request[0], 0x30);
  EXPECT_EQ(request[1], 0x81);
  EXPECT_EQ(request[2], request.size() - 3);
  std::string decoded = Decode(request);
  EXPECT_NE(decoded.find("oid=" + WantedOid(command) + "\n"), std::string::npos) << decoded;

  const Bytes short_command = {0x61, 0x70};
  EXPECT_LT(BuildSnmpRequest(short_command.data(), 2)[1], 0x80);
}

// A response as an agent sends it: the identifier ends with the command bytes, the value
// follows with one leading byte that is not part of the reply.
Bytes Response(const Bytes& encoded_command, const Bytes& reply, bool long_form) {
  Bytes head = {0x30, 0x40, 0x02, 0x01, 0x00, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c', 0xA2, 0x30, 0x06, 0x10};
  head = Cat(head, encoded_command);
  head.push_back(0x04);
  if (long_form) head.push_back(0x81);
  head.push_back(static_cast<BYTE>(reply.size() + 1));
  head.push_back(0x01);
  return Cat(head, reply);
}

TEST(ExtractSnmpValueTest, Table) {
  const Bytes cmd = {0x61, 0x70, 0x9C};
  const Bytes enc = {0x61, 0x70, 0x81, 0x1C};
  const Bytes reply = Of("@BDC PS\r\nap:OK;");
  struct Case {
    const char* name;
    Bytes received;
    bool found;
    Bytes want;
  } cases[] = {
      {"short_form", Response(enc, reply, false), true, reply},
      {"long_form", Response(enc, Cat(reply, Bytes(200, 'x')), true), true, Cat(reply, Bytes(200, 'x'))},
      {"pattern_absent", Response({0x61, 0x70, 0x1C}, reply, false), false, {}},
      {"ends_after_identifier", Cat({0x30, 0x00}, enc), false, {}},
      {"ends_at_length_byte", Cat(Cat({0x30, 0x00}, enc), {0x04, 0x05}), false, {}},
      {"value_start_beyond_end", Cat(Cat({0x30, 0x00}, enc), {0x04, 0x84, 0x00, 0x00}), false, {}},
      {"empty_value", Cat(Cat({0x30, 0x00}, enc), {0x04, 0x01, 0x01}), false, {}},
      {"empty", {}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BYTE* data = nullptr;
    DWORD length = 77;
    // An exact-size heap copy lets the sanitizers catch any read past the received bytes.
    std::unique_ptr<BYTE[]> copy(new BYTE[c.received.size() + 1]);
    std::copy(c.received.begin(), c.received.end(), copy.get());
    BOOL found = ExtractSnmpValue(cmd.data(), static_cast<DWORD>(cmd.size()), copy.get(),
                                  static_cast<DWORD>(c.received.size()), &data, &length);
    EXPECT_EQ(found != FALSE, c.found);
    if (c.found) {
      EXPECT_EQ(Bytes(data, data + length), c.want);
    } else {
      EXPECT_EQ(length, 0u);
    }
  }
}

TEST(ExtractSnmpValueTest, PatternBeyondTheFirst512BytesIsNotSeen) {
  const Bytes cmd = {0x61, 0x70};
  Bytes received = Cat(Bytes(600, 0x00), Response(cmd, Of("late"), false));
  const BYTE* data = nullptr;
  DWORD length = 0;
  EXPECT_FALSE(ExtractSnmpValue(cmd.data(), 2, received.data(), static_cast<DWORD>(received.size()), &data, &length));
  received = Cat(Bytes(300, 0x00), Response(cmd, Of("early"), false));
  EXPECT_TRUE(ExtractSnmpValue(cmd.data(), 2, received.data(), static_cast<DWORD>(received.size()), &data, &length));
  EXPECT_EQ(Bytes(data, data + length), Of("early"));
}

Bytes St2(const Bytes& area, int declared = -1) {
  size_t a = declared >= 0 ? static_cast<size_t>(declared) : area.size();
  return Cat(Cat(Of("@BDC ST2\r\n"), {static_cast<BYTE>(a & 0xFF), static_cast<BYTE>(a >> 8)}), area);
}

TEST(ParseSt2StatusTest, Table) {
  const Bytes identity = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const Bytes full = Cat({0x01, 0x01, 0x04, 0x35, 0x02, 0xAA, 0xBB, 0x40, 0x0A}, identity);
  struct Case {
    const char* name;
    Bytes bytes;
    bool ok;
    LONG status;
    bool identity;
  } cases[] = {
      {"full", St2(full), true, 4, true},
      {"after_noise", Cat(Of("xx@B"), St2(full)), true, 4, true},
      {"status_only", St2({0x01, 0x01, 0x02}), true, 2, false},
      {"identity_of_other_length", St2({0x40, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}), true, -1, false},
      {"zero_area_and_one_byte", Cat(St2({}, 0), {0x00}), true, -1, false},
      {"header_and_length_only", St2({}, 0), false, -1, false},
      {"twelve_bytes_or_less", Of("@BDC ST2\r\n\x01"), false, -1, false},
      {"no_header", Cat(Of("@BDC ST3\r\n"), {3, 0, 1, 1, 4}), false, -1, false},
      {"area_longer_than_rest", St2({0x01, 0x01, 0x04}, 4), false, -1, false},
      {"field_past_end", St2(Cat({0x01, 200}, Bytes(86, 4))), false, -1, false},
      {"header_cut_at_end", Cat(Bytes(20, 0), Of("@BDC ST2\r")), false, -1, false},
      {"zero_length_fields", St2({0x05, 0x00, 0x01, 0x01, 0x04}), true, 4, false},
      {"field_header_cut_by_area", St2({0x01, 0x01, 0x04, 0x40}), true, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<BYTE[]> copy(new BYTE[c.bytes.size() + 1]);
    std::copy(c.bytes.begin(), c.bytes.end(), copy.get());
    St2Status status;
    EXPECT_EQ(ParseSt2Status(copy.get(), static_cast<DWORD>(c.bytes.size()), &status) != FALSE, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(status.status, c.status);
    EXPECT_EQ(status.identityPresent != FALSE, c.identity);
    if (c.identity) {
      EXPECT_EQ(Bytes(status.identity.head, status.identity.head + 8), Bytes(identity.begin(), identity.begin() + 8));
      EXPECT_EQ(status.identity.tail[1], 10);
    }
  }
}

}  // namespace
