#pragma once
// The generator of Ferguson and Schneier: AES-256 in counter mode whose key is replaced by
// fresh output after every request, so earlier output cannot be recomputed from a later state.
#include <cstddef>
#include <cstdint>

namespace velomark {

class FortunaGenerator
{
public:
    FortunaGenerator();
    ~FortunaGenerator();
    FortunaGenerator(const FortunaGenerator &) = delete;
    FortunaGenerator &operator=(const FortunaGenerator &) = delete;

    // Mixes seed material into the key: key = SHA-256(SHA-256(key || seed)); the counter
    // advances, and a non-zero counter marks the generator as seeded.
    bool reseed(const std::uint8_t *seed, std::size_t size);
    bool isSeeded() const;
    // Fills `out`; false when unseeded or when the cipher fails. The key is replaced after
    // every request and at least every 2^20 bytes.
    bool generate(std::uint8_t *out, std::size_t size);

private:
    bool generateBlocks(std::uint8_t *out, std::size_t blocks);
    void incrementCounter(std::uint64_t by);

    std::uint8_t m_key[32];
    std::uint8_t m_counter[16];  // big-endian block counter
};

}  // namespace velomark
