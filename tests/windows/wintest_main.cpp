// The Windows platform tests. They write to the registry (HKEY_LOCAL_MACHINE) and to the
// current user's certificate store, so they belong in a throw-away Wine prefix or a throw-away
// Windows account run as administrator; scripts/check-windows.sh makes the prefix.
// Arguments: the DER files of three certificates for the store tests, then the signer's
// certificate and key; or "--read-version", which prints what ReadVersionInfo reads and nothing
// else (the version tests run a copy of this program without resources so).
#include "wintest.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace velomark::wintest {

namespace {
int passedChecks = 0, failedChecks = 0;
}  // namespace

bool check(bool ok, const std::string &where, const std::string &what)
{
    if (ok) {
        ++passedChecks;
    } else {
        ++failedChecks;
        std::printf("FAIL %s: %s\n", where.c_str(), what.c_str());
    }
    return ok;
}

std::string utf8(const std::wstring &text)
{
    // An empty text converts to nothing: both calls fail and the size is 0.
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::vector<std::uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace velomark::wintest

int main(int argc, char **argv)
{
    using namespace velomark::wintest;
    if (argc == 2 && std::string(argv[1]) == "--read-version") {
        std::printf("%s\n", versionLine().c_str());
        return 0;
    }
    // Three certificates' DER files, then the signer's certificate (DER) and key (a private-key blob).
    const std::vector<std::string> files(argv + 1, argv + argc);
    const auto group = [](const char *name, const auto &run) {
        const int passedBefore = passedChecks, failedBefore = failedChecks;
        run();
        std::printf("%-24s %d passed, %d failed\n", name, passedChecks - passedBefore, failedChecks - failedBefore);
        std::fflush(stdout);
    };
    group("registry walk", testRegistryWalk);
    group("system device look-up", testSystemDeviceLookup);
    group("scripted device look-up", testScriptedDeviceLookup);
    group("certificate store", [&] { testCertificateStore(files); });
    group("random seed", testRandomSeed);
    group("version information", testVersionInfo);
    group("serial port", testSerialPort);
    if (files.size() == 5)
        group("record signer", [&] { testRecordSigner(files[3], files[4]); });
    std::printf("%d passed, %d failed\n", passedChecks, failedChecks);
    return failedChecks == 0 ? 0 : 1;
}
