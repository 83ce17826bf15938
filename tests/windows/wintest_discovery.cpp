// The two Windows look-ups of discovery: the registry walk over the Bluetooth enumeration,
// and the Winsock device look-up, first as the system answers it, then with scripted answers.
#include <winsock2.h>
#include <ws2bth.h>
#include <windows.h>

#include "lidar/discovery/discovery_win.h"
#include "lidar/discovery/winsockcalls_win.h"
#include "wintest.h"

#include <cstring>

namespace velomark::wintest {

namespace {

using win::DeviceLookupResult;
using win::InstanceLookupResult;

const wchar_t kEnumerationKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\BTHENUM";
const wchar_t kSerialService[] = L"{00001101-0000-1000-8000-00805f9b34fb}_VID&0002000a_PID&0001";
const wchar_t kUnopenableSerialService[] = L"{00001101-0000-1000-8000-00805f9b34fb}_VID&0002000a_PID&0002";
const wchar_t kLocalSerialService[] = L"{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0000";
const wchar_t kAudioService[] = L"{0000110b-0000-1000-8000-00805f9b34fb}_VID&0001004c_PID&0000";

// How an instance's "PortName" is stored: absent (the instance has another value), a
// zero-terminated text, a text of that many characters without terminator, or a number.
enum class PortValue { None, Text, Unterminated, Number };

struct InstanceRow
{
    const wchar_t *service;
    const wchar_t *instance;
    PortValue kind;
    std::wstring stored;
    std::wstring expected;  // what the look-up reads
};

// Writes one instance, "Device Parameters" included.
bool writeInstance(const InstanceRow &row)
{
    const std::wstring path = std::wstring(kEnumerationKey) + L"\\" + row.service + L"\\" + row.instance
                              + L"\\Device Parameters";
    const DWORD number = 4;
    const bool text = row.kind != PortValue::Number;
    const void *data = text ? static_cast<const void *>(row.stored.c_str()) : &number;
    const DWORD size = text ? static_cast<DWORD>((row.stored.size() + (row.kind == PortValue::Text)) * sizeof(wchar_t))
                            : sizeof number;
    // RegSetKeyValueW creates the keys on the way.
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), row.kind == PortValue::None ? L"Address" : L"PortName",
                           text ? REG_SZ : REG_DWORD, data, size)
           == ERROR_SUCCESS;
}

// A key that links to itself: it is listed among its parent's subkeys, but opening it fails
// with an error other than "not found".
bool writeLoopKey(const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    const std::wstring target = L"\\Registry\\Machine\\" + path;
    const LONG written = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                        reinterpret_cast<const BYTE *>(target.data()),
                                        static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

void deleteLoopKey(const std::wstring &path)
{
    HKEY link = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link)
        == ERROR_SUCCESS) {
        RegDeleteKeyW(link, L"");
        RegCloseKey(link);
    }
}

}  // namespace

void testRegistryWalk()
{
    const std::string where = "registry walk";
    // No enumeration key, then one that cannot be opened: the failure with the system's text.
    for (const bool unopenable : {false, true}) {
        const std::string row = where + (unopenable ? "/enumeration that cannot be opened" : "/no enumeration");
        if (unopenable && !check(writeLoopKey(kEnumerationKey), row, "writing it"))
            break;
        HKEY key = nullptr;
        const LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnumerationKey, 0, KEY_READ, &key);
        if (!unopenable && !check(error != ERROR_SUCCESS, row, "these cases need a registry without Bluetooth"))
            return;
        const InstanceLookupResult found = win::lookUpSerialInstances();
        checkEqual(int(found.failure),
                   int(unopenable ? InstanceLookupResult::OpenFailed : InstanceLookupResult::NoEnumeration), row,
                   "failure for error " + std::to_string(error));
        checkEqual(found.systemText, win::systemErrorText(static_cast<unsigned long>(error)), row, "system text");
        if (unopenable)
            deleteLoopKey(kEnumerationKey);
    }

    // Rows in the order the enumeration lists them: keys are created in name order, which is
    // also the order Windows and Wine enumerate them in.
    const std::wstring longName = L"COM" + std::wstring(40, L'9');  // 86 bytes with its terminator
    const std::wstring fullName(32, L'8');                             // 64 bytes, no room for a terminator
    const std::wstring nearlyFull(31, L'7');                           // 62 bytes
    const InstanceRow rows[] = {
        {kLocalSerialService, L"7&10a1&0&000000000000_00000000", PortValue::None, L"", L""},
        {kSerialService, L"8&2a&0&001A2B3C4D5E_C00000000", PortValue::Text, L"COM4", L"COM4"},
        {kSerialService, L"8&2c&0&001A2B3C4D60_C00000000", PortValue::Text, longName, L""},
        {kSerialService, L"8&2e&0&001A2B3C4D61_C00000000", PortValue::Number, L"", L""},
        {kSerialService, L"8&2f&0&001A2B3C4D62_C00000000", PortValue::Unterminated, fullName, L""},
        {kSerialService, L"8&30&0&001A2B3C4D63_C00000000", PortValue::Unterminated, nearlyFull, nearlyFull},
        {kAudioService, L"8&40&0&001A2B3C4D5E_C00000000", PortValue::Text, L"COM9", L"(not a serial port)"},
    };
    for (const InstanceRow &row : rows)
        check(writeInstance(row), where, "writing " + utf8(row.instance));
    // A serial-port service whose key cannot be opened is listed and skipped.
    const std::wstring loopService = std::wstring(kEnumerationKey) + L"\\" + kUnopenableSerialService;
    check(writeLoopKey(loopService), where, "writing a service key that cannot be opened");

    const InstanceLookupResult found = win::lookUpSerialInstances();
    // A service key that cannot be opened is skipped, not a failure of the walk.
    checkEqual(int(found.failure), int(InstanceLookupResult::None), where, "failure");
    checkEqual(found.serviceKeys,
               std::vector<std::wstring>{kLocalSerialService, kSerialService, kUnopenableSerialService, kAudioService},
               where, "service keys");
    std::vector<std::wstring> expected, listed;
    for (const InstanceRow &row : rows) {
        if (row.service != kAudioService)
            expected.push_back(row.instance + std::wstring(L" port ") + row.expected);
    }
    for (const win::Instance &instance : found.instances)
        listed.push_back(instance.identifier + L" port " + instance.portName);
    checkEqual(listed, expected, where, "instances of the serial-port services, in order, with their ports");

    deleteLoopKey(loopService);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEnumerationKey);
}

void testSystemDeviceLookup()
{
    const std::string where = "system device look-up";
    // The look-up through the system's own calls. What the system answers is its own (Wine
    // fails every Bluetooth look-up with error 8), and the scripted rows check how each answer
    // is taken; what shows here is the wiring: the socket library starts, and a failed begin
    // carries the system's last error, not that of 0.
    const DeviceLookupResult found = win::lookUpDevices();
    check(found.failure != DeviceLookupResult::SocketLibrary && found.systemText != win::systemErrorText(0), where,
          "through the system's calls: failure " + show(int(found.failure)) + " " + show(found.systemText));

    // The reasons the discovery messages carry: the system's text, or the number where the
    // system has none (no system has one for 0x20001234).
    const std::wstring text = win::systemErrorText(ERROR_FILE_NOT_FOUND);
    check(!text.empty() && text.back() != L'\n' && text.back() != L'\r' && text.back() != L' ', where + "/text of 2",
          "a reason, no line break at the end: " + show(text));
    checkEqual(win::systemErrorText(0x20001234ul), std::wstring(L"error 536875572"), where, "text of an unknown code");
}

namespace {

// One answer of the scripted WSALookupServiceNextW: a device, which needs `bytes` of buffer,
// or an error, with the size the call reports.
struct Fetch
{
    int error;
    DWORD bytes;
    const wchar_t *name;
    BTH_ADDR address;
};

// Where a scripted device lies in the caller's buffer: the query set first, the address and
// the name after it, as Winsock writes them.
struct DeviceLayout
{
    WSAQUERYSETW query;
    CSADDR_INFO addressInfo;
    SOCKADDR_BTH address;
    wchar_t name[32];
};
constexpr DWORD kDeviceBytes = 300;
static_assert(sizeof(DeviceLayout) <= kDeviceBytes, "a device fits the bytes it asks for");

Fetch device(const wchar_t *name, BTH_ADDR address, DWORD bytes = kDeviceBytes)
{
    return {0, bytes < kDeviceBytes ? kDeviceBytes : bytes, name, address};
}
Fetch failure(int error, DWORD reportedBytes = 0) { return {error, reportedBytes, nullptr, 0}; }
const Fetch kNoMore = failure(WSA_E_NO_MORE);
// Devices whose answer carries no address, and whose address Winsock cannot write as text.
constexpr BTH_ADDR kNoAddress = 0;
constexpr BTH_ADDR kUnwritableAddress = 0xFFFFFFFFFFFFULL;

struct LookupRow
{
    const char *name;
    int startupError;
    int beginError;
    std::vector<Fetch> fetches;
    DeviceLookupResult::Failure failure;  // carrying the system text of the error that stopped the look-up
    std::vector<std::wstring> devices;  // "name address"
    std::vector<int> fetchErrors;
    std::vector<DWORD> offeredBytes;
};

// A row as the scripted calls play it, and what the look-up did.
struct Script
{
    const LookupRow &row;
    std::size_t fetched = 0;
    int lastError = 0;
    int begins = 0, ends = 0, cleanups = 0;
    bool askedAsWindowsExpects = true;
    std::vector<DWORD> offeredBytes = {};
};

Script *g_script = nullptr;
const HANDLE kLookupHandle = reinterpret_cast<HANDLE>(0x5eed);

int WSAAPI scriptedStartup(WORD version, LPWSADATA)
{
    g_script->askedAsWindowsExpects &= version == MAKEWORD(2, 2);
    return g_script->row.startupError;
}

INT WSAAPI scriptedBegin(LPWSAQUERYSETW query, DWORD flags, LPHANDLE lookup)
{
    ++g_script->begins;
    g_script->askedAsWindowsExpects &= query->dwSize == 120 && query->dwNameSpace == NS_BTH && flags == 0x1112;
    if (g_script->row.beginError != 0) {
        g_script->lastError = g_script->row.beginError;
        return SOCKET_ERROR;
    }
    *lookup = kLookupHandle;
    return 0;
}

void writeDevice(const Fetch &fetch, WSAQUERYSETW *results)
{
    auto *layout = reinterpret_cast<DeviceLayout *>(results);
    std::memset(layout, 0, sizeof(DeviceLayout));
    layout->address.addressFamily = AF_BTH;
    layout->address.btAddr = fetch.address;
    layout->addressInfo.RemoteAddr.lpSockaddr = reinterpret_cast<LPSOCKADDR>(&layout->address);
    layout->addressInfo.RemoteAddr.iSockaddrLength = sizeof(SOCKADDR_BTH);
    wcsncpy(layout->name, fetch.name, 31);
    layout->query.dwSize = sizeof(WSAQUERYSETW);
    layout->query.dwNameSpace = NS_BTH;
    layout->query.lpszServiceInstanceName = layout->name;
    if (fetch.address != kNoAddress) {
        layout->query.dwNumberOfCsAddrs = 1;
        layout->query.lpcsaBuffer = &layout->addressInfo;
    }
}

INT WSAAPI scriptedNext(HANDLE lookup, DWORD flags, LPDWORD bytes, LPWSAQUERYSETW results)
{
    Script &script = *g_script;
    script.askedAsWindowsExpects &= lookup == kLookupHandle && flags == 0x1112;
    script.offeredBytes.push_back(*bytes);
    // Past the script's end there are no more; the buffer sizes offered show such a call.
    const Fetch &fetch = script.fetched < script.row.fetches.size() ? script.row.fetches[script.fetched] : kNoMore;
    if (fetch.error != 0) {
        ++script.fetched;
        *bytes = fetch.bytes;
        script.lastError = fetch.error;
        return SOCKET_ERROR;
    }
    if (*bytes < fetch.bytes) {
        *bytes = fetch.bytes;
        script.lastError = WSAEFAULT;
        return SOCKET_ERROR;
    }
    ++script.fetched;
    writeDevice(fetch, results);
    return 0;
}

INT WSAAPI scriptedEnd(HANDLE lookup)
{
    g_script->askedAsWindowsExpects &= lookup == kLookupHandle;
    ++g_script->ends;
    return 0;
}

// "(00:1A:2B:3C:4D:5E)", as Windows writes a Bluetooth address.
INT WSAAPI scriptedAddressToString(LPSOCKADDR address, DWORD length, LPWSAPROTOCOL_INFOW, LPWSTR text,
                                   LPDWORD textLength)
{
    g_script->askedAsWindowsExpects &= length == 30 && *textLength == 80;
    const BTH_ADDR value = reinterpret_cast<const SOCKADDR_BTH *>(address)->btAddr;
    if (value == kUnwritableAddress) {
        g_script->lastError = WSAEINVAL;
        return SOCKET_ERROR;
    }
    const int size = swprintf(text, *textLength, L"(%02X:%02X:%02X:%02X:%02X:%02X)", unsigned(value >> 40) & 0xFF,
                              unsigned(value >> 32) & 0xFF, unsigned(value >> 24) & 0xFF,
                              unsigned(value >> 16) & 0xFF, unsigned(value >> 8) & 0xFF, unsigned(value) & 0xFF);
    *textLength = static_cast<DWORD>(size + 1);
    return 0;
}

int WSAAPI scriptedLastError() { return g_script->lastError; }

int WSAAPI scriptedCleanup()
{
    ++g_script->cleanups;
    return 0;
}

const win::WinsockCalls kScriptedWinsock = {scriptedStartup, scriptedBegin, scriptedNext, scriptedEnd,
                                            scriptedAddressToString, scriptedLastError, scriptedCleanup};

}  // namespace

void testScriptedDeviceLookup()
{
    const BTH_ADDR first = 0x001A2B3C4D5EULL;
    const BTH_ADDR second = 0x00A0B1C2D3E4ULL;
    const LookupRow rows[] = {
        {"socket library does not start", WSASYSNOTREADY, 0, {}, DeviceLookupResult::SocketLibrary, {}, {}, {}},
        {"no Bluetooth service", 0, WSASERVICE_NOT_FOUND, {}, DeviceLookupResult::NoService, {}, {}, {}},
        {"other begin error", 0, WSAEINVAL, {}, DeviceLookupResult::LookupBegin, {}, {}, {}},
        {"buffer grows on 10014", 0, 0, {device(L"VZQ 2100", first, 400), device(L"Phone", second), kNoMore},
         DeviceLookupResult::None, {L"VZQ 2100 001A2B3C4D5E", L"Phone 00A0B1C2D3E4"}, {}, {120, 400, 400, 400}},
        {"three errors in a row end it", 0, 0,
         {failure(WSAETIMEDOUT), failure(WSAETIMEDOUT), failure(WSAENETDOWN), device(L"VZQ 2100", first)},
         DeviceLookupResult::None, {}, {WSAETIMEDOUT, WSAETIMEDOUT, WSAENETDOWN}, {120, 120, 120}},
        {"errors apart do not end it", 0, 0,
         {failure(WSAETIMEDOUT), failure(WSAETIMEDOUT), device(L"VZQ 2100", first), failure(WSAETIMEDOUT),
          failure(WSAETIMEDOUT), device(L"VZQ 2200", second), kNoMore},
         DeviceLookupResult::None, {L"VZQ 2100 001A2B3C4D5E", L"VZQ 2200 00A0B1C2D3E4"},
         {WSAETIMEDOUT, WSAETIMEDOUT, WSAETIMEDOUT, WSAETIMEDOUT}, {120, 120, 120, 300, 300, 300, 300, 300}},
        {"10014 that does not grow the buffer", 0, 0,
         {failure(WSAEFAULT, 120), failure(WSAEFAULT, 0), device(L"VZQ 2100", first), kNoMore},
         DeviceLookupResult::None, {L"VZQ 2100 001A2B3C4D5E"}, {WSAEFAULT, WSAEFAULT}, {120, 120, 120, 300, 300}},
        {"devices without a readable address are kept", 0, 0,
         {device(L"VZQ 2100", kNoAddress), device(L"VZQ 2200", kUnwritableAddress), kNoMore},
         DeviceLookupResult::None, {L"VZQ 2100 ", L"VZQ 2200 "}, {}, {120, 300, 300, 300}},
    };

    for (const LookupRow &row : rows) {
        const std::string where = std::string("scripted device look-up/") + row.name;
        Script script{row};
        g_script = &script;
        win::setWinsockCallsForTesting(&kScriptedWinsock);
        const DeviceLookupResult found = win::lookUpDevices();
        win::setWinsockCallsForTesting(nullptr);

        checkEqual(int(found.failure), int(row.failure), where, "failure");
        const int stoppedBy = row.startupError != 0 ? row.startupError : row.beginError;
        checkEqual(found.systemText, stoppedBy != 0 ? win::systemErrorText(static_cast<unsigned long>(stoppedBy)) : L"",
                   where, "system text");
        std::vector<std::wstring> devices;
        for (const win::Device &d : found.devices)
            devices.push_back(d.name + L" " + d.address);
        checkEqual(devices, row.devices, where, "devices");
        std::vector<std::wstring> fetchErrors;
        for (const int code : row.fetchErrors)
            fetchErrors.push_back(win::systemErrorText(static_cast<unsigned long>(code)));
        checkEqual(found.fetchErrors, fetchErrors, where, "fetch errors");
        // Also shows a look-up that goes on past the script's end.
        checkEqual(script.offeredBytes, row.offeredBytes, where, "buffer sizes offered");
        check(script.askedAsWindowsExpects, where, "version, query set, flags, handle and address room");
        // Every look-up begun is ended; every successful start is cleaned up.
        const int started = row.startupError == 0, begun = started && row.beginError == 0;
        checkEqual(std::vector<int>{script.begins, script.ends, script.cleanups},
                   std::vector<int>{started, begun, started}, where,
                   "calls of WSALookupServiceBeginW, WSALookupServiceEnd and WSACleanup");
    }
}

}  // namespace velomark::wintest
