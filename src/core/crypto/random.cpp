#include "crypto/random.h"

#include "crypto/fortuna.h"

#include <openssl/crypto.h>

#include <memory>
#include <mutex>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velomark {

namespace {

std::mutex &generatorLock()
{
    static std::mutex lock;
    return lock;
}

struct GeneratorState
{
    std::unique_ptr<FortunaGenerator> generator;
    SeedSource source = nullptr;
    long ownerProcess = 0;
};

GeneratorState &state()
{
    static GeneratorState s;
    return s;
}

long currentProcess()
{
#ifdef _WIN32
    return 0;
#else
    return static_cast<long>(getpid());
#endif
}

// Called with the lock held. A forked child must not repeat its parent's output, so a
// change of process id seeds a new generator.
FortunaGenerator *readyGenerator()
{
    GeneratorState &s = state();
    if (s.generator && s.ownerProcess == currentProcess())
        return s.generator.get();
    s.generator.reset();
    std::uint8_t seed[32];
    const SeedSource source = s.source ? s.source : &operatingSystemSeed;
    if (!source(seed, sizeof seed)) {
        OPENSSL_cleanse(seed, sizeof seed);
        return nullptr;
    }
    std::unique_ptr<FortunaGenerator> generator(new FortunaGenerator);
    const bool seeded = generator->reseed(seed, sizeof seed);
    OPENSSL_cleanse(seed, sizeof seed);
    if (!seeded)
        return nullptr;
    s.generator = std::move(generator);
    s.ownerProcess = currentProcess();
    return s.generator.get();
}

}  // namespace

bool randomBytes(std::uint8_t *out, std::size_t size)
{
    std::lock_guard<std::mutex> lock(generatorLock());
    FortunaGenerator *generator = readyGenerator();
    return generator && generator->generate(out, size);
}

bool nonZeroRandomBytes(std::uint8_t *out, std::size_t size)
{
    std::lock_guard<std::mutex> lock(generatorLock());
    FortunaGenerator *generator = readyGenerator();
    if (!generator)
        return false;
    std::uint8_t chunk[64];
    std::size_t filled = 0;
    // A working generator gives a zero byte one time in 256; a thousand rounds without a
    // single usable byte means it is broken.
    for (int idleRounds = 0; filled < size && idleRounds < 1000;) {
        if (!generator->generate(chunk, sizeof chunk))
            break;
        const std::size_t before = filled;
        for (std::uint8_t b : chunk) {
            if (b != 0 && filled < size)
                out[filled++] = b;
        }
        idleRounds = filled == before ? idleRounds + 1 : 0;
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    return filled == size;
}

void setSeedSourceForTesting(SeedSource source)
{
    std::lock_guard<std::mutex> lock(generatorLock());
    state().source = source;
    state().generator.reset();
}

}  // namespace velomark
