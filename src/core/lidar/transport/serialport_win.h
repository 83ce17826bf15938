#pragma once
// A lidar's serial port on Windows through the Win32 communications API, with the blocking,
// time-limited semantics the exchange and the readers expect of a device: wait up to a time
// for the first bytes, take what is there, write with a time limit, and tell a port whose
// device is gone from one that is merely silent. No Qt header here, so that the file compiles
// with the cross compiler; a QIODevice over it makes the serial transport on Windows.
#include <windows.h>

#include <string>
#include <vector>

namespace velomark::win {

// Owns one kernel handle and closes it once.
class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&other) noexcept : m_handle(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release()
    {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (valid())
            CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Which pending bytes a purge drops.
enum class SerialPurge { Input, Output, Both };

// The first setting that did not take: the setter's name ("setDataBits", "setParity",
// "setStopBits", "setFlowControl", "setBaudRate", or "SetCommTimeouts") and the system's text.
// An empty setter means every setting took.
struct SerialSettingsResult
{
    std::string failedSetter;
    unsigned long code = 0;
    std::wstring systemText;
    bool ok() const { return failedSetter.empty(); }
};

class SerialPort
{
public:
    SerialPort() = default;
    ~SerialPort() = default;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // The device name CreateFile takes for a port: "COM5" becomes "\\.\COM5"; a name already
    // in device form is kept.
    static std::wstring deviceName(const std::wstring &portName);

    // Opens the port for reading and writing, exclusively. False with errorText() set (the
    // system's words) when it cannot be had or is open already.
    bool open(const std::wstring &portName);
    // 8 data bits, no parity, one stop bit, no flow control, 57600 baud, in this order, each
    // through its own SetCommState; then the time-outs the reads start from.
    SerialSettingsResult configure();
    // Closes the port; pending bytes are dropped.
    void close();
    bool isOpen() const { return m_handle.valid(); }
    HANDLE handle() const { return m_handle.get(); }
    const std::wstring &portName() const { return m_portName; }

    // Drops pending bytes in the driver and, for input, what this object has buffered; a
    // transfer under way is aborted. False with errorText() set when the system refused.
    bool purge(SerialPurge which);

    // True once bytes are ready to be read: at once when some are buffered, otherwise as soon
    // as the first arrive within msecs (-1: no limit). False on a time-out, which is no
    // failure, and when the port failed (hasFailed()).
    bool waitForData(int msecs);
    // The bytes ready to be read now: those buffered and those the driver holds.
    std::size_t available();
    // Takes up to maxSize ready bytes without waiting; the number taken, or -1 when none could
    // be taken because the port failed.
    long long read(char *data, std::size_t maxSize);
    // Writes the bytes, waiting up to msecs for the driver to take them all; the number
    // written (fewer on a time-out), or -1 when the write failed.
    long long write(const char *data, std::size_t size, int msecs);

    // The device is gone (unplugged, the link dropped, the port closed); a silent port is not.
    bool hasFailed() const { return m_failed; }
    // Forgets a failure; a port whose device is gone fails again at its next use.
    void clearError()
    {
        m_failed = false;
        m_lastError = 0;
    }
    // The system's words for the last error, and its code; empty and 0 when there was none.
    const std::wstring &errorText() const { return m_errorText; }
    unsigned long lastError() const { return m_lastError; }

    // True for the errors that mean the device behind a port is gone, as opposed to one call
    // that went wrong.
    static bool meansDeviceGone(unsigned long code);

private:
    // Sets the time-outs, skipping the call when they are those in force.
    bool setTimeouts(const COMMTIMEOUTS &timeouts);
    // Reads what the driver holds without waiting, into the buffer; false on an error.
    bool drain();
    // Notes an error by its code; one that means the device is gone marks the port failed.
    void noteError(unsigned long code);

    UniqueHandle m_handle;
    std::wstring m_portName;
    std::vector<char> m_input;
    COMMTIMEOUTS m_timeouts{};
    bool m_timeoutsKnown = false;
    bool m_failed = false;
    unsigned long m_lastError = 0;
    std::wstring m_errorText;
};

}  // namespace velomark::win
