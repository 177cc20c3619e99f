// Windows: the DNS host name, and SHA-1 from the system's cryptography
// (BCrypt), which every supported Windows has, in place of libuuid.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>

#include "host_identity.h"

namespace ombrix_bridge {
namespace {

constexpr size_t kSha1Bytes = 20;

// SHA-1 of the two parts one after the other. A system that cannot hash
// is broken beyond what the bridge can work around: it says so and ends.
std::array<uint8_t, kSha1Bytes> Sha1(const uint8_t* first, size_t firstSize, const std::string& second) {
  std::array<uint8_t, kSha1Bytes> digest{};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
              BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(first), static_cast<ULONG>(firstSize), 0)) &&
              BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(second.data())),
                                            static_cast<ULONG>(second.size()), 0)) &&
              BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) {
    fputs("ombrix: The system's SHA-1 (BCrypt) is not available, so no sACN CID can be made.\n", stderr);
    std::exit(1);
  }
  return digest;
}

}  // namespace

std::string HostName() {
  char name[256] = {};
  DWORD size = sizeof(name);
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size) || name[0] == '\0') return "localhost";
  return name;
}

// RFC 4122, 4.3: the first 16 bytes of SHA-1(namespace, name) with the
// version (5) in the high nibble of byte 6 and the variant (10) in the top
// bits of byte 8, exactly what libuuid's uuid_generate_sha1 does.
Uuid NameBasedUuid(const Uuid& space, const std::string& name) {
  std::array<uint8_t, kSha1Bytes> digest = Sha1(space.data(), space.size(), name);
  Uuid uuid;
  for (size_t i = 0; i < uuid.size(); ++i) uuid[i] = digest[i];
  uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0F) | 0x50);
  uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);
  return uuid;
}

}  // namespace ombrix_bridge
