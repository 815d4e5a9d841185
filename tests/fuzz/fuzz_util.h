// Shared by the fuzz harnesses: the input as a read-only memory stream, and
// a check that stops the run loudly when a rule does not hold.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "media/stream_kinds.h"

inline std::shared_ptr<TRamStream> InputStream(const uint8_t* data, size_t size) {
  return std::make_shared<TRamStream>(const_cast<uint8_t*>(data), static_cast<int>(size), true,
                                      false);
}

#define FUZZ_CHECK(cond)                                                           \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      std::fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #cond); \
      std::fflush(stderr);                                                         \
      std::abort();                                                                \
    }                                                                              \
  } while (0)
