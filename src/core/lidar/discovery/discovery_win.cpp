// winsock2.h must come before ws2bth.h and windows.h.
#include <winsock2.h>
#include <ws2bth.h>
#include <windows.h>

#include "lidar/discovery/discovery_win.h"
#include "lidar/discovery/winsockcalls_win.h"

#include <cstdint>

namespace velomark::win {

namespace {

constexpr DWORD kQuerySetSize = 120;
// LUP_CONTAINERS | LUP_RETURN_NAME | LUP_RETURN_ADDR | LUP_FLUSHCACHE
constexpr DWORD kLookupFlags = 0x1112;
constexpr int kNoBluetoothService = 10108;  // WSASERVICE_NOT_FOUND
constexpr int kBufferTooSmall = 10014;      // WSAEFAULT
constexpr int kNoMoreDevices = 10110;       // WSA_E_NO_MORE
constexpr DWORD kAddressLength = 30;
constexpr DWORD kAddressTextRoom = 80;
constexpr DWORD kPortNameBytes = 64;

const wchar_t kEnumerationKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\BTHENUM";
const wchar_t kSerialPortService[] = L"{00001101-0000-1000-8000-00805f9b34fb}";

static_assert(sizeof(WSAQUERYSETW) <= kQuerySetSize, "the query set must fit its buffer");
static_assert((LUP_CONTAINERS | LUP_RETURN_NAME | LUP_RETURN_ADDR | LUP_FLUSHCACHE) == kLookupFlags,
              "look-up flags");

const WinsockCalls kSystemWinsock = {WSAStartup, WSALookupServiceBeginW, WSALookupServiceNextW,
                                     WSALookupServiceEnd, WSAAddressToStringW, WSAGetLastError, WSACleanup};
const WinsockCalls *g_winsock = &kSystemWinsock;

// A query buffer aligned for WSAQUERYSETW, of any size the look-up asks for.
class QueryBuffer
{
public:
    explicit QueryBuffer(DWORD bytes) { resize(bytes); }
    void resize(DWORD bytes)
    {
        m_bytes = bytes;
        m_words.assign((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    }
    WSAQUERYSETW *querySet() { return reinterpret_cast<WSAQUERYSETW *>(m_words.data()); }
    DWORD size() const { return m_bytes; }

private:
    std::vector<std::uint64_t> m_words;
    DWORD m_bytes = 0;
};

// Closes a registry key on every path out.
class RegistryKey
{
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    HKEY *out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Subkey names of an open key, from index 0 until the enumeration fails.
std::vector<std::wstring> subkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = sizeof(name) / sizeof(name[0]);
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

}  // namespace

void setWinsockCallsForTesting(const WinsockCalls *calls)
{
    g_winsock = calls != nullptr ? calls : &kSystemWinsock;
}

std::wstring systemErrorText(unsigned long code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr)
        text.assign(buffer, length);
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    // A message with nothing after its colon says nothing; the code at least can be looked up.
    if (text.empty())
        text = L"error " + std::to_wstring(code);
    return text;
}

std::wstring compactAddress(const std::wstring &text)
{
    const std::size_t open = text.find(L'(');
    if (open == std::wstring::npos || text.size() < open + 1 + 17)
        return std::wstring();
    std::wstring address;
    for (wchar_t c : text.substr(open + 1, 17)) {
        if (c != L':')
            address.push_back(c);
    }
    return address;
}

DeviceLookupResult lookUpDevices()
{
    DeviceLookupResult result;
    WSADATA data;
    const int started = g_winsock->startup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        // WSAStartup returns its error; WSAGetLastError cannot be used before it succeeds.
        result.failure = DeviceLookupResult::SocketLibrary;
        result.systemText = systemErrorText(static_cast<unsigned long>(started));
        return result;
    }

    QueryBuffer buffer(kQuerySetSize);
    WSAQUERYSETW *query = buffer.querySet();
    query->dwSize = kQuerySetSize;
    query->dwNameSpace = NS_BTH;
    HANDLE lookup = nullptr;
    if (g_winsock->lookupServiceBegin(query, kLookupFlags, &lookup) != 0) {
        const int error = g_winsock->lastError();
        result.failure = error == kNoBluetoothService ? DeviceLookupResult::NoService
                                                      : DeviceLookupResult::LookupBegin;
        result.systemText = systemErrorText(static_cast<unsigned long>(error));
        g_winsock->cleanup();
        return result;
    }

    int errorsInARow = 0;
    for (;;) {
        DWORD size = buffer.size();
        if (g_winsock->lookupServiceNext(lookup, kLookupFlags, &size, buffer.querySet()) == 0) {
            errorsInARow = 0;
            const WSAQUERYSETW *found = buffer.querySet();
            wchar_t text[kAddressTextRoom] = {};
            DWORD textLength = kAddressTextRoom;
            std::wstring address;
            if (found->lpcsaBuffer != nullptr && found->lpcsaBuffer->RemoteAddr.lpSockaddr != nullptr
                && g_winsock->addressToString(found->lpcsaBuffer->RemoteAddr.lpSockaddr, kAddressLength,
                                              nullptr, text, &textLength) == 0)
                address = compactAddress(text);
            const wchar_t *name = found->lpszServiceInstanceName;
            result.devices.push_back({name != nullptr ? std::wstring(name) : std::wstring(), address});
            continue;
        }
        const int error = g_winsock->lastError();
        if (error == kNoMoreDevices)
            break;
        // The call reports the size it needs; a size that does not grow would loop forever.
        if (error == kBufferTooSmall && size > buffer.size()) {
            buffer.resize(size);
            continue;
        }
        result.fetchErrors.push_back(systemErrorText(static_cast<unsigned long>(error)));
        // A look-up that keeps failing would otherwise report without end.
        if (++errorsInARow >= kMaxFetchErrorsInARow)
            break;
    }
    g_winsock->lookupServiceEnd(lookup);
    g_winsock->cleanup();
    return result;
}

InstanceLookupResult lookUpSerialInstances()
{
    InstanceLookupResult result;
    RegistryKey enumeration;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnumerationKey, 0,
                                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, enumeration.out());
    if (opened != ERROR_SUCCESS) {
        result.failure = opened == ERROR_FILE_NOT_FOUND ? InstanceLookupResult::NoEnumeration
                                                        : InstanceLookupResult::OpenFailed;
        result.systemText = systemErrorText(static_cast<unsigned long>(opened));
        return result;
    }

    for (const std::wstring &service : subkeyNames(enumeration.get())) {
        result.serviceKeys.push_back(service);
        if (service.find(kSerialPortService) == std::wstring::npos)
            continue;
        RegistryKey serviceKey;
        const std::wstring servicePath = std::wstring(kEnumerationKey) + L"\\" + service;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, servicePath.c_str(), 0,
                          KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, serviceKey.out()) != ERROR_SUCCESS)
            continue;
        for (const std::wstring &instance : subkeyNames(serviceKey.get())) {
            const std::wstring parameters = instance + L"\\Device Parameters";
            wchar_t portName[kPortNameBytes / sizeof(wchar_t)] = {};
            DWORD bytes = kPortNameBytes;
            std::wstring port;
            if (RegGetValueW(serviceKey.get(), parameters.c_str(), L"PortName", RRF_RT_REG_SZ,
                             nullptr, portName, &bytes) == ERROR_SUCCESS)
                port = portName;
            result.instances.push_back({instance, port});
        }
    }
    return result;
}

}  // namespace velomark::win
