// Read before every file of the web build: what the emscripten toolchain's
// C and C++ libraries lack that the game's code takes from glibc and a newer
// libc++. Nothing here changes what the code does; it only lets it build.
#pragma once
#include <stddef.h>  // emscripten's sys/random.h uses size_t without it
#include <string.h>

#ifdef __cplusplus
#include <memory>
#include <type_traits>
#include <version>
#ifndef __cpp_lib_smart_ptr_for_overwrite
namespace std {
template <class T>
  requires is_unbounded_array_v<T>
unique_ptr<T> make_unique_for_overwrite(size_t n) {
  return unique_ptr<T>(new remove_extent_t<T>[n]);
}
}  // namespace std
#endif
#ifndef __cpp_lib_bit_cast
namespace std {
template <class To, class From>
To bit_cast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  memcpy(&to, &from, sizeof to);
  return to;
}
}  // namespace std
#endif
extern "C" {
#endif

// The browser's heap only grows; there is nothing to hand back.
static inline int malloc_trim(size_t pad) { (void)pad; return 0; }

// No name lookups in a browser: a TCP connection fails at its first step,
// and the relay of stream_relay.cpp carries the score server's exchange.
struct gaicb {
  const char* ar_name;
  const char* ar_service;
  const struct addrinfo* ar_request;
  struct addrinfo* ar_result;
};
#define GAI_NOWAIT 1
#define EAI_INPROGRESS -100
#define EAI_NOTCANCELED -102
struct sigevent;
struct timespec;
static inline int getaddrinfo_a(int mode, struct gaicb** list, int n, struct sigevent* sev) {
  (void)mode, (void)list, (void)n, (void)sev;
  return -1;
}
static inline int gai_error(struct gaicb* req) { (void)req; return -1; }
static inline int gai_suspend(const struct gaicb* const* list, int n, const struct timespec* t) {
  (void)list, (void)n, (void)t;
  return -1;
}
static inline int gai_cancel(struct gaicb* req) { (void)req; return -1; }

#ifdef __cplusplus
}
#endif
