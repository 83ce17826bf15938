// The random seed from BCryptGenRandom and the version resource of the running program.
#include "common/versioninfo.h"
#include "crypto/random.h"
#include "wintest.h"

#include <algorithm>

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

namespace {

// Runs `program` with `argument`; its exit code and what it wrote to stdout and stderr.
bool runProgram(const std::wstring &program, const std::wstring &argument, DWORD &exitCode, std::string &output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + program + L"\" " + argument;
    const bool started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char chunk[512];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
            output.append(chunk, got);
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return started;
}

}  // namespace

void testVersionInfo()
{
    const std::string where = "version information";
    checkEqual(versionLine(),
               std::string("ProductVersion=\"1.3 Build 96\" CompanyName=\"Veltrazon Technology\" "
                           "ProductName=\"Velomark\""),
               where, "the values of resources/velomark.rc");

    // A copy of this program with its resources taken out reads nothing and says why.
    const std::string row = where + "/without a version resource";
    wchar_t self[MAX_PATH], temporary[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!check(selfLength > 0 && selfLength < MAX_PATH && GetTempPathW(MAX_PATH, temporary) > 0, row,
               "this program's path and the temporary folder"))
        return;
    const std::wstring copy = std::wstring(temporary) + L"velomark-unversioned.exe";
    HANDLE update = nullptr;
    const bool stripped = CopyFileW(self, copy.c_str(), FALSE)
                          && (update = BeginUpdateResourceW(copy.c_str(), TRUE)) != nullptr
                          && EndUpdateResourceW(update, FALSE);
    if (check(stripped, row, "a copy without resources")) {
        DWORD exitCode = 1;
        std::string output;
        if (check(runProgram(copy, L"--read-version", exitCode, output), row, "the copy runs")) {
            checkEqual(exitCode, DWORD(0), row, "exit code");
            check(output.find("ProductVersion=\"\" CompanyName=\"\" ProductName=\"\"") != std::string::npos, row,
                  "all three values empty: " + show(output));
            check(output.find("GetFileVersionInfoSize failed with error ") != std::string::npos, row,
                  "the failure traced: " + show(output));
        }
    }
    DeleteFileW(copy.c_str());
}

}  // namespace velomark::wintest
