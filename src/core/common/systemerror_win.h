#pragma once
// A Windows error code and the system's words for it, as messages show them: "error N: text", or
// "error N" where the system has no text. Qt-free.
#include <windows.h>

#include <string>

namespace velomark::win {

inline std::string codeAndSystemText(DWORD code)
{
    char buffer[512] = {0};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
}

}  // namespace velomark::win
