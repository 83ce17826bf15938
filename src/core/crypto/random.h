#pragma once
// The process-wide random source of the encryption component: one FortunaGenerator, seeded
// lazily from the operating system and guarded by its own lock. Content-encryption keys, IVs
// and key-transport padding all come from here. There is no weaker fallback: when the
// operating system cannot seed it, every request fails.
#include <cstddef>
#include <cstdint>

namespace velomark {

// Fills `out` with random bytes; false when the generator cannot be seeded or fails.
bool randomBytes(std::uint8_t *out, std::size_t size);
// The same, with every byte non-zero (PKCS #1 version 1.5 padding).
bool nonZeroRandomBytes(std::uint8_t *out, std::size_t size);

// 32 bytes of seed from the operating system's generator (getrandom, BCryptGenRandom).
bool operatingSystemSeed(std::uint8_t *out, std::size_t size);

// For tests: replaces the seed source (nullptr restores the operating system's) and drops
// the current generator, so the next request seeds afresh.
using SeedSource = bool (*)(std::uint8_t *out, std::size_t size);
void setSeedSourceForTesting(SeedSource source);

}  // namespace velomark
