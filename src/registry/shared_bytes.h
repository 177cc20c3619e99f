// Access to the application's universe buffers.
//
// The application writes its output buffer and reads its input buffer
// whenever it likes, while the I/O thread reads and writes them. Each DMX
// channel is an independent byte, so the library moves them with relaxed
// single-byte atomic accesses: a channel is never torn, and an application
// that also uses atomic byte accesses is free of data races.
#ifndef OMBRIX_REGISTRY_SHARED_BYTES_H
#define OMBRIX_REGISTRY_SHARED_BYTES_H

#include <cstddef>
#include <cstdint>

namespace ombrix {

inline void LoadSharedBytes(uint8_t* destination, const uint8_t* shared, size_t count) {
  for (size_t i = 0; i < count; ++i) destination[i] = __atomic_load_n(shared + i, __ATOMIC_RELAXED);
}

inline void StoreSharedBytes(uint8_t* shared, const uint8_t* source, size_t count) {
  for (size_t i = 0; i < count; ++i) __atomic_store_n(shared + i, source[i], __ATOMIC_RELAXED);
}

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_SHARED_BYTES_H
