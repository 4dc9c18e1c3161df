#pragma once
// Heap bytes the process holds now, for memory figures that must not depend
// on what ran before. glibc serves big blocks (a chunk of the record, a batch
// buffer) by mmap, which uordblks leaves out: hblkhd has them. Under
// AddressSanitizer mallinfo2 sees nothing; the sanitizer's allocator counts
// instead (freed blocks waiting in quarantine excluded).
#include <cstddef>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC installs no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace calorix::test {

inline std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

}  // namespace calorix::test
