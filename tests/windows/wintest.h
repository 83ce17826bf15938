#pragma once
// A small harness for the Windows platform files, which run without Qt: every check is
// counted, every mismatch printed with its group and row, and main() closes with the line
// "N passed, M failed".
#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace velomark::wintest {

// Counts one check; a failure prints "FAIL where: what".
bool check(bool ok, const std::string &where, const std::string &what);

std::string utf8(const std::wstring &text);
// The bytes of a file; none when it cannot be read.
std::vector<std::uint8_t> readFile(const std::string &path);

inline std::string show(const std::string &value) { return '"' + value + '"'; }
inline std::string show(const std::wstring &value) { return '"' + utf8(value) + '"'; }
template <typename T>
std::string show(const T &value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}
template <typename T>
std::string show(const std::vector<T> &values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + show(values[i]);
    return out + "]";
}

// Counts one comparison; a failure prints both values.
template <typename A, typename E>
bool checkEqual(const A &actual, const E &expected, const std::string &where, const std::string &what)
{
    return check(actual == expected, where, what + ": got " + show(actual) + ", expected " + show(expected));
}

// The groups, one or two per Windows file.
void testRegistryWalk();
void testSystemDeviceLookup();
void testScriptedDeviceLookup();
// The first three of the program's arguments are the certificates' DER files.
void testCertificateStore(const std::vector<std::string> &arguments);
void testRandomSeed();
void testVersionInfo();
void testSerialPort();
void testRecordSigner(const std::string &certificateFile, const std::string &keyFile);
// The three values ReadVersionInfo gives this program, on one line.
std::string versionLine();

}  // namespace velomark::wintest
