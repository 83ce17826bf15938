// The random seed from BCryptGenRandom and the version resource of the running program.
#include "common/versioninfo.h"
#include "crypto/random.h"
#include "wintest.h"

#include <algorithm>
#include <cstdio>

namespace velomark::wintest {

void testRandomSeed()
{
    const std::string where = "random seed";
    const std::uint8_t fill = 0xA5;
    std::vector<std::uint8_t> first(32, fill), second(32, fill);
    check(operatingSystemSeed(first.data(), first.size()), where, "first seed");
    check(operatingSystemSeed(second.data(), second.size()), where, "second seed");
    // Bytes the call left alone keep the fill; a few may match it by chance, not 32.
    check(std::count(first.begin(), first.end(), fill) < 8, where, "the seed fills all 32 bytes");
    check(first != second, where, "two seeds differ");
}

std::string versionLine()
{
    std::string version = "old", company = "old", product = "old";
    ReadVersionInfo(version, company, product);
    return "ProductVersion=" + show(version) + " CompanyName=" + show(company) + " ProductName=" + show(product);
}

void testVersionInfo()
{
    const std::string where = "version information";
    checkEqual(versionLine(),
               std::string("ProductVersion=\"1.3 Build 96\" CompanyName=\"Veltrazon Technology\" "
                           "ProductName=\"Velomark\""),
               where, "the values of resources/velomark.rc");

    // A copy of this program with its resources taken out reads nothing and says why.
    const std::string row = where + "/without a version resource";
    // A path that cannot be had fails the copy below.
    wchar_t self[MAX_PATH] = {}, temporary[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring copy = std::wstring(temporary) + L"velomark-unversioned.exe";
    HANDLE update = nullptr;
    const bool stripped = CopyFileW(self, copy.c_str(), FALSE)
                          && (update = BeginUpdateResourceW(copy.c_str(), TRUE)) != nullptr
                          && EndUpdateResourceW(update, FALSE);
    // The copy runs through the command processor, its standard error joined to its output.
    FILE *pipe = stripped ? _wpopen((L"\"" + copy + L"\" --read-version 2>&1").c_str(), L"r") : nullptr;
    if (check(stripped, row, "a copy without resources") && check(pipe != nullptr, row, "the copy runs")) {
        std::string output;
        char chunk[512];
        while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
            output.append(chunk, got);
        checkEqual(_pclose(pipe), 0, row, "exit code");
        check(output.find("ProductVersion=\"\" CompanyName=\"\" ProductName=\"\"") != std::string::npos, row,
              "all three values empty: " + show(output));
        check(output.find("GetFileVersionInfoSize failed with error ") != std::string::npos, row,
              "the failure traced: " + show(output));
    }
    DeleteFileW(copy.c_str());
}

}  // namespace velomark::wintest
