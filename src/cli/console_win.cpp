#include "console.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace cli {

namespace {

// The handler runs on a thread of its own that the system starts; the call is posted to the
// event loop from there.
std::function<void()> *g_onInterrupt = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (!g_onInterrupt || !QCoreApplication::instance())
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        QMetaObject::invokeMethod(QCoreApplication::instance(), *g_onInterrupt, Qt::QueuedConnection);
        return TRUE;
    default:
        return FALSE;
    }
}

class Handle
{
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

}  // namespace

struct InterruptWatch::Routing
{
    std::function<void()> onInterrupt;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
{
    if (g_onInterrupt)
        return;
    auto routing = std::make_unique<Routing>();
    routing->onInterrupt = std::move(onInterrupt);
    g_onInterrupt = &routing->onInterrupt;
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        g_onInterrupt = nullptr;
        return;
    }
    m_routing = std::move(routing);
}

InterruptWatch::~InterruptWatch()
{
    if (!m_routing)
        return;
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_onInterrupt = nullptr;
}

bool InterruptWatch::ok() const
{
    return m_routing != nullptr;
}

std::optional<std::string> readHiddenLine(const std::string &question)
{
    const Handle input(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    const Handle output(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!input.valid() || !output.valid())
        return std::nullopt;
    DWORD saved = 0;
    const bool hidden = GetConsoleMode(input.get(), &saved) != FALSE;
    if (hidden)
        SetConsoleMode(input.get(), (saved & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    DWORD written = 0;
    bool ok = WriteConsoleA(output.get(), question.data(), DWORD(question.size()), &written, nullptr) != FALSE;
    std::string line;
    while (ok) {
        char c = 0;
        DWORD got = 0;
        if (!ReadConsoleA(input.get(), &c, 1, &got, nullptr) || got == 0)
            ok = false;
        else if (c == '\n')
            break;
        else if (c != '\r')
            line += c;
    }
    if (hidden) {
        SetConsoleMode(input.get(), saved);
        WriteConsoleA(output.get(), "\r\n", 2, &written, nullptr);
    }
    if (!ok)
        return std::nullopt;
    return line;
}

}  // namespace cli
