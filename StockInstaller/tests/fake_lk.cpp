#include "fake_lk.h"

#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
FakeLkControl g_control;
}

FAKE_EXPORT FakeLkControl* FakeLk_Control() { return &g_control; }
FAKE_EXPORT int LKInitialize() { return g_control.init_result; }
FAKE_EXPORT int LKRelease() { return ++g_control.release_calls; }

FAKE_EXPORT int LKGetAvailableChannel(int, const char*, uint8_t* buffer, uint32_t* size) {
  uint32_t needed = static_cast<uint32_t>(g_control.kind_count) * 8;
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return -4;
  }
  std::memset(buffer, 0, needed);
  for (int i = 0; i < g_control.kind_count; ++i) std::memcpy(buffer + i * 8, &g_control.kinds[i], 4);
  return g_control.kind_count;
}

FAKE_EXPORT int LKOpenChannel(int, const char*, uint32_t kind) {
  if (g_control.open_calls < 8) g_control.opened_kinds[g_control.open_calls] = kind;
  ++g_control.open_calls;
  return g_control.open_result;
}

FAKE_EXPORT int LKCloseChannel(int) { return ++g_control.close_calls; }

FAKE_EXPORT int LKSend(int, const uint8_t* data, uint32_t length) {
  ++g_control.send_calls;
  g_control.sent_length = length < sizeof g_control.sent ? length : sizeof g_control.sent;
  std::memcpy(g_control.sent, data, g_control.sent_length);
  return static_cast<int>(length);
}

FAKE_EXPORT int LKReceive(int, uint8_t* buffer, uint32_t* length, uint32_t) {
  ++g_control.receive_calls;
  if (g_control.receive_result != 0) return g_control.receive_result;
  uint32_t n = g_control.reply_length < *length ? g_control.reply_length : *length;
  std::memcpy(buffer, g_control.reply, n);
  *length = n;
  return static_cast<int>(n);
}

FAKE_EXPORT int LKGetStatus(int, uint8_t*, uint32_t*) { return -1; }

FAKE_EXPORT int LKGetDeviceID(int, const char*, char* buffer, uint32_t* size) {
  if (buffer == nullptr) {
    *size = g_control.device_id_length;
    return -4;
  }
  if (g_control.device_id_result != 0) return g_control.device_id_result;
  uint32_t n = g_control.device_id_length < *size ? g_control.device_id_length : *size;
  std::memcpy(buffer, g_control.device_id, n);
  *size = n;
  return 0;
}
