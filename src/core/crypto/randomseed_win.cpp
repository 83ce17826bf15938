// The Windows seed source: the system's preferred generator through BCryptGenRandom,
// loaded by name so the program needs no import library for it.
#include "crypto/random.h"

#include <windows.h>

namespace velomark {

namespace {

using BCryptGenRandomFn = LONG(WINAPI *)(void *algorithm, unsigned char *buffer, ULONG size, ULONG flags);
constexpr ULONG kUseSystemPreferredRng = 0x00000002;

}  // namespace

bool operatingSystemSeed(std::uint8_t *out, std::size_t size)
{
    static HMODULE library = LoadLibraryW(L"bcrypt.dll");
    if (!library)
        return false;
    static const auto generate = reinterpret_cast<BCryptGenRandomFn>(
        reinterpret_cast<void *>(GetProcAddress(library, "BCryptGenRandom")));
    if (!generate || size > 0xFFFFFFFFu)
        return false;
    // A negative NTSTATUS is a failure.
    return generate(nullptr, out, static_cast<ULONG>(size), kUseSystemPreferredRng) >= 0;
}

}  // namespace velomark
