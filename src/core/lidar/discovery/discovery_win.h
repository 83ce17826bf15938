#pragma once
// The Windows look-ups: the Bluetooth devices the system remembers (Winsock) and the
// serial-port-profile instances of the Bluetooth enumeration (registry). No Qt header here,
// so that the file compiles with the cross compiler.
#include <string>
#include <vector>

namespace velomark::win {

struct Device
{
    std::wstring name;
    std::wstring address;  // 12 hex digits as the system writes them
};

struct DeviceLookupResult
{
    // Same values as DeviceLookup::Failure.
    enum Failure { None, SocketLibrary, NoService, LookupBegin };
    Failure failure = None;
    std::wstring systemText;
    std::vector<Device> devices;
    std::vector<std::wstring> fetchErrors;  // texts of the fetch errors the look-up went on after
};

struct Instance
{
    std::wstring identifier;
    std::wstring portName;  // empty when "PortName" could not be read
};

struct InstanceLookupResult
{
    // Same values as InstanceLookup::Failure.
    enum Failure { None, NoEnumeration, OpenFailed };
    Failure failure = None;
    std::wstring systemText;
    std::vector<std::wstring> serviceKeys;  // every subkey of the enumeration, in order
    std::vector<Instance> instances;
};

// Fetch errors in a row after which the device look-up ends with what it has.
constexpr int kMaxFetchErrorsInARow = 3;

DeviceLookupResult lookUpDevices();
InstanceLookupResult lookUpSerialInstances();

// The system's text for an error code, without the trailing line break; "error N" where the
// system has no text for it.
std::wstring systemErrorText(unsigned long code);

// The 12 digits of an address text "(aa:bb:cc:dd:ee:ff)"; empty when it is too short.
std::wstring compactAddress(const std::wstring &text);

}  // namespace velomark::win
