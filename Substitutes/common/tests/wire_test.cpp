#include <gtest/gtest.h>

#include "wire.h"

namespace {

TEST(PortTest, KindsFollowThePortName) {
  struct Case {
    const char* port;
    bool ok;
    int tcp, udp;
    std::vector<uint32_t> kinds;
  } cases[] = {
      {"NETLOOP:127.0.0.1:t9100:u9161", true, 9100, 9161, {2, 0x10000005, 4}},
      {"NETLOOP:127.0.0.1:u9161:t9100", true, 9100, 9161, {4, 2, 0x10000005}},
      {"NETLOOP:127.0.0.1:u9161", true, 0, 9161, {4}},
      {"NETLOOP:127.0.0.1", false, 0, 0, {}},
      {"NETLOOP:127.0.0.1:t0", false, 0, 0, {}},
      {"NETLOOP:127.0.0.1:t1:t2", false, 0, 0, {}},
      {"NETLOOP:127.0.0.1:x5", false, 0, 0, {}},
      {"USB001", false, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    auto target = wire::ParsePort(c.port);
    ASSERT_EQ(target.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(target->tcp_port, c.tcp);
    EXPECT_EQ(target->udp_port, c.udp);
    EXPECT_EQ(target->kinds, c.kinds);
  }
}

TEST(SnmpCodecTest, RoundTripsAndRejectsDamage) {
  wire::SnmpMessage m;
  m.community = "public";
  m.pdu = 0xA2;
  m.request_id = 300;
  uint8_t command[] = {'a', 'p', 0x9C, 0x00};
  m.oid = wire::CommandOid(command, sizeof command);
  m.value_tag = 0x04;
  m.value.assign(200, 0x55);
  wire::Bytes bytes = wire::EncodeSnmp(m);
  auto back = wire::DecodeSnmp(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->request_id, 300);
  EXPECT_EQ(back->oid, m.oid);
  EXPECT_EQ(back->value, m.value);
  auto carried = wire::CommandFromOid(back->oid);
  ASSERT_TRUE(carried);
  EXPECT_EQ(*carried, wire::Bytes(command, command + sizeof command));

  // Every truncation and a trailing byte fail; so does a length pointing past the end.
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(wire::DecodeSnmp(bytes.data(), n)) << n;
  wire::Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(wire::DecodeSnmp(longer.data(), longer.size()));
  wire::Bytes lying = bytes;
  lying[1] = 0x84;
  EXPECT_FALSE(wire::DecodeSnmp(lying.data(), lying.size()));
}

}  // namespace
