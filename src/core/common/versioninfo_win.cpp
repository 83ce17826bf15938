#include "common/versioninfo.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace velomark {
namespace {

// Version-resource failures go to the debug output printf-style, without a time stamp.
void traceVersion(const char *format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
    std::fprintf(stderr, "%s\n", line);
}

std::string toUtf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

// One value of the US-English, UTF-16 string table; empty when it is missing.
std::string queryValue(std::vector<unsigned char> &block, const wchar_t *key)
{
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), key, &value, &length) || value == nullptr || length == 0)
        return std::string();
    return toUtf8(static_cast<const wchar_t *>(value));
}

}  // namespace

void ReadVersionInfo(std::string &productVersion, std::string &companyName, std::string &productName)
{
    productVersion.clear();
    companyName.clear();
    productName.clear();

    wchar_t path[256];
    const DWORD pathLength = GetModuleFileNameW(nullptr, path, 256);
    // A full buffer means the path was cut short, which the version functions would not find.
    if (pathLength == 0 || pathLength >= 256) {
        traceVersion("GetModuleFileName failed with error %d", static_cast<int>(GetLastError()));
        return;
    }

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) {
        traceVersion("GetFileVersionInfoSize failed with error %d", static_cast<int>(GetLastError()));
        return;
    }

    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) {
        traceVersion("GetFileVersionInfo failed with error %d", static_cast<int>(GetLastError()));
        return;
    }

    productVersion = queryValue(block, L"\\StringFileInfo\\040904b0\\ProductVersion");
    companyName = queryValue(block, L"\\StringFileInfo\\040904b0\\CompanyName");
    productName = queryValue(block, L"\\StringFileInfo\\040904b0\\ProductName");
}

}  // namespace velomark
