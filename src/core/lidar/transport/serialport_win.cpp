#include "lidar/transport/serialport_win.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "lidar/discovery/discovery_win.h"

namespace velomark::win {

namespace {

// The link's speed; the lidar has no other.
constexpr DWORD kBaudRate = 57600;

// Read time-outs that return at once with what the driver holds.
constexpr DWORD kImmediateInterval = MAXDWORD;

// The longest a wait reads without looking whether the port is still there.
constexpr DWORD kSliceMs = 50;

}  // namespace

std::wstring SerialPort::deviceName(const std::wstring &portName)
{
    if (portName.rfind(L"\\\\.\\", 0) == 0)
        return portName;
    return L"\\\\.\\" + portName;
}

bool SerialPort::meansDeviceGone(unsigned long code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

void SerialPort::noteError(unsigned long code)
{
    m_lastError = code;
    m_errorText = systemErrorText(code);
    if (meansDeviceGone(code))
        m_failed = true;
}

bool SerialPort::open(const std::wstring &portName)
{
    if (isOpen()) {
        noteError(ERROR_BUSY);
        return false;
    }
    m_portName = portName;
    m_input.clear();
    m_timeoutsKnown = false;
    m_failed = false;
    m_lastError = 0;
    m_errorText.clear();
    // Synchronous handle: one thread uses the port at a time, and every wait is bounded by the
    // port's own time-outs.
    UniqueHandle handle(CreateFileW(deviceName(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!handle.valid()) {
        noteError(GetLastError());
        return false;
    }
    // A byte with a framing or parity error must not stall every later read until the error
    // is cleared, and every byte value passes as it is.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle.get(), &dcb)) {
        noteError(GetLastError());
        return false;
    }
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    if (!SetCommState(handle.get(), &dcb)) {
        noteError(GetLastError());
        return false;
    }
    m_handle = std::move(handle);
    return true;
}

SerialSettingsResult SerialPort::configure()
{
    SerialSettingsResult result;
    const auto failed = [&](const char *setter) {
        result.failedSetter = setter;
        result.code = GetLastError();
        result.systemText = systemErrorText(result.code);
        noteError(result.code);
        return result;
    };
    // Each setting in a call of its own, so that a driver that refuses one is named by it.
    const auto apply = [&](auto change) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_handle.get(), &dcb))
            return false;
        change(dcb);
        return SetCommState(m_handle.get(), &dcb) != FALSE;
    };
    if (!apply([](DCB &dcb) { dcb.ByteSize = 8; }))
        return failed("setDataBits");
    if (!apply([](DCB &dcb) {
            dcb.Parity = NOPARITY;
            dcb.fParity = FALSE;
        }))
        return failed("setParity");
    if (!apply([](DCB &dcb) { dcb.StopBits = ONESTOPBIT; }))
        return failed("setStopBits");
    if (!apply([](DCB &dcb) {
            dcb.fOutxCtsFlow = FALSE;
            dcb.fOutxDsrFlow = FALSE;
            dcb.fDsrSensitivity = FALSE;
            dcb.fOutX = FALSE;
            dcb.fInX = FALSE;
            if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
                dcb.fRtsControl = RTS_CONTROL_ENABLE;
            if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
                dcb.fDtrControl = DTR_CONTROL_ENABLE;
        }))
        return failed("setFlowControl");
    if (!apply([](DCB &dcb) { dcb.BaudRate = kBaudRate; }))
        return failed("setBaudRate");
    // Reads start out returning at once; every wait sets its own limit.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kImmediateInterval;
    if (!setTimeouts(timeouts))
        return failed("SetCommTimeouts");
    return result;
}

void SerialPort::close()
{
    m_handle.reset();
    m_input.clear();
    m_timeoutsKnown = false;
}

bool SerialPort::setTimeouts(const COMMTIMEOUTS &timeouts)
{
    if (m_timeoutsKnown && std::memcmp(&timeouts, &m_timeouts, sizeof timeouts) == 0)
        return true;
    if (!SetCommTimeouts(m_handle.get(), const_cast<COMMTIMEOUTS *>(&timeouts))) {
        m_timeoutsKnown = false;
        return false;
    }
    m_timeouts = timeouts;
    m_timeoutsKnown = true;
    return true;
}

bool SerialPort::purge(SerialPurge which)
{
    if (!isOpen()) {
        noteError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD flags = 0;
    if (which != SerialPurge::Output) {
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        m_input.clear();
    }
    if (which != SerialPurge::Input)
        flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (!PurgeComm(m_handle.get(), flags)) {
        noteError(GetLastError());
        return false;
    }
    return true;
}

bool SerialPort::drain()
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_handle.get(), &errors, &status)) {
        noteError(GetLastError());
        return false;
    }
    if (status.cbInQue == 0)
        return true;
    COMMTIMEOUTS timeouts = m_timeouts;
    timeouts.ReadIntervalTimeout = kImmediateInterval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!setTimeouts(timeouts)) {
        noteError(GetLastError());
        return false;
    }
    // The count asked for is what the driver holds, so the read returns at once even where
    // the immediate mode is not honoured.
    const std::size_t before = m_input.size();
    m_input.resize(before + status.cbInQue);
    DWORD got = 0;
    const BOOL ok = ReadFile(m_handle.get(), m_input.data() + before, status.cbInQue, &got, nullptr);
    m_input.resize(before + got);
    if (!ok) {
        noteError(GetLastError());
        return false;
    }
    return true;
}

bool SerialPort::waitForData(int msecs)
{
    if (!isOpen()) {
        noteError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!m_input.empty())
        return true;
    if (!drain())
        return false;
    if (!m_input.empty() || msecs == 0)
        return !m_input.empty();
    // A read of one byte ends as soon as that byte is in, whatever the time-out mode; a read
    // of a larger block would need the "return on the first byte" mode (interval and
    // multiplier MAXDWORD), and Wine waits out the whole constant in that mode.
    // The wait goes in slices with a look at the port's state between them, because a read
    // under Wine goes on waiting when the other end of the line hangs up; only the state
    // query fails then. The deadline is kept by the steady clock, as the tick count moves in
    // steps of about 16 ms on Windows, too coarse for a 40 ms wait.
    using Clock = std::chrono::steady_clock;
    const bool forever = msecs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : msecs);
    for (;;) {
        DWORD slice = kSliceMs;
        if (!forever) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            slice = static_cast<DWORD>(std::min<long long>(left, kSliceMs));
        }
        COMMTIMEOUTS timeouts = m_timeouts;
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = slice;
        if (!setTimeouts(timeouts)) {
            noteError(GetLastError());
            return false;
        }
        char first = 0;
        DWORD got = 0;
        if (!ReadFile(m_handle.get(), &first, 1, &got, nullptr)) {
            noteError(GetLastError());
            return false;
        }
        if (got == 1) {
            m_input.push_back(first);
            // The rest of what came with the first byte is taken now; a failure here shows
            // at the next use.
            drain();
            return true;
        }
        if (!drain())
            return false;
        if (!m_input.empty())
            return true;
    }
}

std::size_t SerialPort::available()
{
    if (!isOpen())
        return m_input.size();
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_handle.get(), &errors, &status)) {
        noteError(GetLastError());
        return m_input.size();
    }
    return m_input.size() + status.cbInQue;
}

long long SerialPort::read(char *data, std::size_t maxSize)
{
    if (m_input.size() < maxSize && isOpen())
        drain();
    const std::size_t take = std::min(maxSize, m_input.size());
    if (take == 0 && (m_failed || !isOpen()))
        return -1;
    std::copy(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(take), data);
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(take));
    return static_cast<long long>(take);
}

long long SerialPort::write(const char *data, std::size_t size, int msecs)
{
    if (!isOpen()) {
        noteError(ERROR_INVALID_HANDLE);
        return -1;
    }
    COMMTIMEOUTS timeouts = m_timeouts;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = msecs < 0 ? 0 : static_cast<DWORD>(msecs);
    if (!setTimeouts(timeouts)) {
        noteError(GetLastError());
        return -1;
    }
    DWORD written = 0;
    if (!WriteFile(m_handle.get(), data, static_cast<DWORD>(size), &written, nullptr)) {
        noteError(GetLastError());
        return -1;
    }
    return static_cast<long long>(written);
}

}  // namespace velomark::win
