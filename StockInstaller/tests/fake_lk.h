// Script and record of the fake communication library used by the channel tests. The test
// loads the same file as the channel and reaches this block through FakeLk_Control.
#pragma once

#include <cstdint>

struct FakeLkControl {
  int init_result;
  uint32_t kinds[8];
  int kind_count;
  int open_result;
  int receive_result;  // 0: use the reply's length
  uint32_t reply_length;
  uint8_t reply[70000];
  int device_id_result;  // of the call with a buffer
  uint32_t device_id_length;
  char device_id[600];
  // Record of the calls.
  int open_calls;
  uint32_t opened_kinds[8];
  int send_calls;
  uint32_t sent_length;
  uint8_t sent[4096];
  int receive_calls;
  int release_calls;
  int close_calls;
};

typedef FakeLkControl* (*PFN_FakeLk_Control)();
