// The shared state behind copies of one _bstr_t.
#pragma once

#include <atomic>

#include "comutil.h"

struct _bstr_t::Data {
  BSTR wide = nullptr;
  // The ANSI form, made on first request.
  char* narrow = nullptr;
  std::atomic<unsigned long> refs{1};
  ~Data() {
    SysFreeString(wide);
    delete[] narrow;
  }
};
