// The Win32 serial port against a lidar played on a pseudo-terminal from the Linux side
// (tests/windows/serial_peer.py); the environment variable VELOMARK_TEST_SERIAL_PORT names the
// COM port mapped to it. Commands to the peer go over the same line.
#include "lidar/transport/serialport_win.h"
#include "wintest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velomark::wintest {

namespace {

using win::SerialPort;
using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A count or a time in milliseconds as the peer reads it: four decimal digits.
std::string digits(std::size_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04zu", value);
    return text;
}

std::string errorOf(const SerialPort &port)
{
    return show(port.lastError()) + " " + show(port.errorText());
}

// Sends a command to the peer; true when all of it went.
bool tell(SerialPort &port, const std::string &command, const std::string &where)
{
    const long long written = port.write(command.data(), command.size(), 2000);
    return checkEqual(written, static_cast<long long>(command.size()), where,
                      "command written (" + errorOf(port) + ")");
}

void testNames()
{
    const std::string where = "serial port/names";
    checkEqual(SerialPort::deviceName(L"COM12"), std::wstring(L"\\\\.\\COM12"), where, "COM12");
    checkEqual(SerialPort::deviceName(L"\\\\.\\COM3"), std::wstring(L"\\\\.\\COM3"), where, "a device name");

    // A time-out or a refused setting is no lost device; a vanished one is.
    const unsigned long stays[] = {ERROR_SUCCESS, WAIT_TIMEOUT, ERROR_SEM_TIMEOUT, ERROR_INVALID_PARAMETER,
                                   ERROR_FILE_NOT_FOUND};
    const unsigned long gone[] = {ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED,
                                  ERROR_INVALID_HANDLE, ERROR_GEN_FAILURE, ERROR_IO_DEVICE, ERROR_NOT_READY};
    for (const unsigned long code : stays)
        check(!SerialPort::meansDeviceGone(code), where, "error " + show(code) + " leaves the device");
    for (const unsigned long code : gone)
        check(SerialPort::meansDeviceGone(code), where, "error " + show(code) + " means the device is gone");
}

void testMissingPort()
{
    const std::string where = "serial port/missing port";
    SerialPort port;
    check(!port.open(L"COM41"), where, "a port that does not exist does not open");
    check(!port.isOpen(), where, "not open");
    checkEqual(port.lastError(), static_cast<unsigned long>(ERROR_FILE_NOT_FOUND), where, "error code");
    check(!port.errorText().empty(), where, "the system's words");
    check(!port.waitForData(100), where, "a closed port has no data");
    checkEqual(port.read(nullptr, 0), -1LL, where, "a closed port reads nothing");
    char byte = 'x';
    checkEqual(port.write(&byte, 1, 100), -1LL, where, "a closed port takes nothing");
}

void testSettings(SerialPort &port)
{
    const std::string where = "serial port/settings";
    // Other settings first, so that each one read back was set by configure().
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool built = GetCommState(port.handle(), &dcb)
                       && BuildCommDCBW(L"baud=9600 parity=e data=7 stop=2 xon=on octs=on", &dcb);
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;  // Wine's BuildCommDCB does not take "rts=hs"
    check(built && SetCommState(port.handle(), &dcb), where, "other settings first");
    const win::SerialSettingsResult result = port.configure();
    check(result.ok(), where, "configure: " + result.failedSetter + " " + show(result.systemText));
    // Read back into the same structure: a setting that did not take keeps the other value.
    if (!check(GetCommState(port.handle(), &dcb) != FALSE, where, "GetCommState"))
        return;
    checkEqual(dcb.BaudRate, 57600UL, where, "baud rate");
    checkEqual(static_cast<int>(dcb.ByteSize), 8, where, "data bits");
    checkEqual(static_cast<int>(dcb.Parity), NOPARITY, where, "parity");
    checkEqual(static_cast<int>(dcb.StopBits), ONESTOPBIT, where, "stop bits");
    check(!dcb.fOutX && !dcb.fInX, where, "no software flow control");
    check(!dcb.fOutxCtsFlow && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE, where, "no hardware flow control");
    check(dcb.fBinary && !dcb.fAbortOnError, where, "binary, and errors do not stop reads");
}

void testSilence(SerialPort &port)
{
    const std::string where = "serial port/silent lidar";
    // The live reader's pause and the exchange's first wait; each waited out, not cut short.
    // The exchange's gap, between the two, runs the same wait.
    for (const int msecs : {40, 500}) {
        const std::string row = where + "/" + show(msecs) + " ms";
        const Clock::time_point start = Clock::now();
        const bool got = port.waitForData(msecs);
        const long long took = millisecondsSince(start);
        check(!got, row, "no data");
        check(took >= msecs * 9 / 10 && took <= msecs + 1000, row, "waited " + show(took) + " ms");
        check(!port.hasFailed(), row, "a time-out is no failure (" + errorOf(port) + ")");
    }
}

void testAnswer(SerialPort &port)
{
    const std::string where = "serial port/answer after 50 ms";
    // Line ends, XON and XOFF, the terminal's interrupt and end-of-file characters, NUL and
    // 0xFF: each passes untouched, both ways, only on a raw, flow-control-free line.
    const std::string frame("\x02\x00\x0a\x0d\x11\x13\x03\x04\x1a\x1c\x7f\xff\x80\x10\x03", 15);
    if (!tell(port, "D" + digits(50) + digits(frame.size()) + frame, where))
        return;
    // When nothing comes, the frame below does not come back either.
    const Clock::time_point start = Clock::now();
    port.waitForData(1000);
    const long long took = millisecondsSince(start);
    check(took <= 400, where, "the wait ends when the bytes come: " + show(took) + " ms");
    // Read until the whole frame came or a wait passes without any.
    std::string got;
    while (got.size() < frame.size() && port.waitForData(500)) {
        char chunk[64];
        const long long n = port.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    checkEqual(got, frame, where, "the frame came back");
}

void testPurge(SerialPort &port)
{
    const std::string where = "serial port/purge";
    if (!tell(port, "D" + digits(0) + digits(64) + std::string(64, 'x'), where))
        return;
    // The bytes are in once the driver counts them all.
    const Clock::time_point start = Clock::now();
    while (port.available() < 64 && millisecondsSince(start) < 2000)
        Sleep(10);
    checkEqual(port.available(), std::size_t(64), where, "bytes pending before");
    check(port.purge(win::SerialPurge::Input), where, "purge input (" + errorOf(port) + ")");
    checkEqual(port.available(), std::size_t(0), where, "nothing pending after");
    check(!port.waitForData(300), where, "no data after");

    // A wait leaves bytes buffered in the port; a purge drops those too.
    if (!tell(port, "D" + digits(0) + digits(16) + std::string(16, 'x'), where))
        return;
    check(port.waitForData(1000), where, "the second bytes came");
    Sleep(100);
    check(port.purge(win::SerialPurge::Both), where, "purge both (" + errorOf(port) + ")");
    checkEqual(port.available(), std::size_t(0), where, "nothing buffered after");
    char byte = 0;
    checkEqual(port.read(&byte, 1), 0LL, where, "nothing read after");
    check(port.purge(win::SerialPurge::Output), where, "purge output");
}

void testHangUp(SerialPort &port)
{
    const std::string where = "serial port/peer hangs up";
    if (!tell(port, "H" + digits(100), where))
        return;
    const Clock::time_point start = Clock::now();
    const bool got = port.waitForData(3000);
    const long long took = millisecondsSince(start);
    check(!got, where, "no data");
    check(port.hasFailed(), where, "the port failed (" + errorOf(port) + ") after " + show(took) + " ms");
    check(took < 2500, where, "noticed before the time-out: " + show(took) + " ms");
    char byte = 'x';
    checkEqual(port.write(&byte, 1, 500), -1LL, where, "a write fails (" + errorOf(port) + ")");
    // The failure stays until cleared, and comes back at the next use of a dead port.
    port.clearError();
    check(!port.hasFailed(), where, "cleared");
    port.waitForData(500);
    check(port.hasFailed(), where, "failed again at the next wait (" + errorOf(port) + ")");
}

}  // namespace

void testSerialPort()
{
    testNames();
    testMissingPort();
    const char *name = std::getenv("VELOMARK_TEST_SERIAL_PORT");
    if (name == nullptr || *name == '\0') {
        std::printf("serial port: no peer (VELOMARK_TEST_SERIAL_PORT is not set), line tests skipped\n");
        return;
    }
    const std::wstring portName(name, name + std::strlen(name));
    SerialPort port;
    if (!check(port.open(portName), "serial port/open", std::string(name) + ": " + errorOf(port)))
        return;
    check(!port.open(portName), "serial port/open", "a second open of the same object is refused");
    port.clearError();
    testSettings(port);
    testSilence(port);
    testAnswer(port);
    testPurge(port);
    testHangUp(port);
    port.close();
    check(!port.isOpen(), "serial port/close", "closed");
}

}  // namespace velomark::wintest
