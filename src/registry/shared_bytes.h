// Access to the application's universe buffers.
//
// The application writes its output buffer and reads its input buffer
// whenever it likes, while the I/O thread reads and writes them. Each DMX
// channel is an independent byte, so the library moves them with relaxed
// atomic accesses: a channel is never torn, and an application that also
// uses atomic byte accesses is free of data races.
//
// The accesses go a machine word at a time where the buffer is aligned for
// it: the polled output scan compares up to 16 blocks per link on every
// pass of the I/O thread, and byte-wide atomic loads were most of that
// thread's work with idle links. A word access still reads or writes each
// of its bytes whole; the channels were never promised to move together.
#ifndef OMBRIX_REGISTRY_SHARED_BYTES_H
#define OMBRIX_REGISTRY_SHARED_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ombrix {

// A pointer-sized word is atomic without help on every target (an 8-byte
// atomic on 32-bit x86 would need a runtime library), and may alias the
// byte buffer it is read from.
typedef uintptr_t __attribute__((may_alias)) SharedWord;

// One channel, as the application side should touch it too (the tests and
// the benchmarks do so through these).
inline uint8_t LoadSharedByte(const uint8_t* shared) { return __atomic_load_n(shared, __ATOMIC_RELAXED); }
inline void StoreSharedByte(uint8_t* shared, uint8_t value) { __atomic_store_n(shared, value, __ATOMIC_RELAXED); }

inline void LoadSharedBytes(uint8_t* destination, const uint8_t* shared, size_t count) {
  size_t i = 0;
  for (; i < count && reinterpret_cast<uintptr_t>(shared + i) % sizeof(SharedWord) != 0; ++i) {
    destination[i] = LoadSharedByte(shared + i);
  }
  for (; i + sizeof(SharedWord) <= count; i += sizeof(SharedWord)) {
    SharedWord word = __atomic_load_n(reinterpret_cast<const SharedWord*>(shared + i), __ATOMIC_RELAXED);
    std::memcpy(destination + i, &word, sizeof word);
  }
  for (; i < count; ++i) destination[i] = LoadSharedByte(shared + i);
}

// LoadSharedBytes for a fixed count, the form the polled output scan uses
// on every pass: with the usual aligned buffer it is a few word loads.
template <size_t kCount>
inline void LoadSharedBlock(uint8_t* destination, const uint8_t* shared) {
  static_assert(kCount % sizeof(SharedWord) == 0, "whole words");
  if (reinterpret_cast<uintptr_t>(shared) % sizeof(SharedWord) != 0) {
    LoadSharedBytes(destination, shared, kCount);
    return;
  }
  for (size_t i = 0; i < kCount; i += sizeof(SharedWord)) {
    SharedWord word = __atomic_load_n(reinterpret_cast<const SharedWord*>(shared + i), __ATOMIC_RELAXED);
    std::memcpy(destination + i, &word, sizeof word);
  }
}

// Whether kCount shared bytes equal known ones, without copying them out:
// the test the polled scan makes on every clean block.
template <size_t kCount>
inline bool SharedBlockEquals(const uint8_t* shared, const uint8_t* known) {
  if (reinterpret_cast<uintptr_t>(shared) % sizeof(SharedWord) != 0) {
    uint8_t copy[kCount];
    LoadSharedBytes(copy, shared, kCount);
    return std::memcmp(copy, known, kCount) == 0;
  }
  for (size_t i = 0; i < kCount; i += sizeof(SharedWord)) {
    SharedWord word = __atomic_load_n(reinterpret_cast<const SharedWord*>(shared + i), __ATOMIC_RELAXED);
    SharedWord expected;
    std::memcpy(&expected, known + i, sizeof expected);
    if (word != expected) return false;
  }
  return true;
}

inline void StoreSharedBytes(uint8_t* shared, const uint8_t* source, size_t count) {
  size_t i = 0;
  for (; i < count && reinterpret_cast<uintptr_t>(shared + i) % sizeof(SharedWord) != 0; ++i) {
    StoreSharedByte(shared + i, source[i]);
  }
  for (; i + sizeof(SharedWord) <= count; i += sizeof(SharedWord)) {
    SharedWord word;
    std::memcpy(&word, source + i, sizeof word);
    __atomic_store_n(reinterpret_cast<SharedWord*>(shared + i), word, __ATOMIC_RELAXED);
  }
  for (; i < count; ++i) StoreSharedByte(shared + i, source[i]);
}

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_SHARED_BYTES_H
