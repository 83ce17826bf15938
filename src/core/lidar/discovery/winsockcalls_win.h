#pragma once
// The Winsock calls of the device look-up, gathered so that a test can put scripted answers
// in their place. Windows-only; include it before windows.h.
#include <winsock2.h>

namespace velomark::win {

struct WinsockCalls
{
    int(WSAAPI *startup)(WORD version, LPWSADATA data);
    INT(WSAAPI *lookupServiceBegin)(LPWSAQUERYSETW query, DWORD flags, LPHANDLE lookup);
    INT(WSAAPI *lookupServiceNext)(HANDLE lookup, DWORD flags, LPDWORD bytes, LPWSAQUERYSETW results);
    INT(WSAAPI *lookupServiceEnd)(HANDLE lookup);
    INT(WSAAPI *addressToString)(LPSOCKADDR address, DWORD addressLength, LPWSAPROTOCOL_INFOW protocol,
                                 LPWSTR text, LPDWORD textLength);
    int(WSAAPI *lastError)();
    int(WSAAPI *cleanup)();
};

// For tests: replaces the Winsock calls of lookUpDevices (nullptr restores the system's).
// The table must outlive every look-up made with it.
void setWinsockCallsForTesting(const WinsockCalls *calls);

}  // namespace velomark::win
