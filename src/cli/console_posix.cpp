#include "console.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

// SIGINT and SIGTERM only write a byte here; the event loop reads it.
int g_signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const char byte = 1;
    // Nothing can be done about a full pipe inside a handler; one byte already waits then.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

struct InterruptWatch::Routing
{
    struct sigaction oldInt = {};
    struct sigaction oldTerm = {};
    std::unique_ptr<QSocketNotifier> notifier;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto routing = std::make_unique<Routing>();
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &routing->oldInt);
    ::sigaction(SIGTERM, &action, &routing->oldTerm);
    routing->notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(routing->notifier.get(), &QSocketNotifier::activated, routing->notifier.get(),
                     [onInterrupt = std::move(onInterrupt)] { onInterrupt(); });
    m_routing = std::move(routing);
}

InterruptWatch::~InterruptWatch()
{
    if (!m_routing)
        return;
    m_routing->notifier.reset();
    ::sigaction(SIGINT, &m_routing->oldInt, nullptr);
    ::sigaction(SIGTERM, &m_routing->oldTerm, nullptr);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

bool InterruptWatch::ok() const
{
    return m_routing != nullptr;
}

std::optional<std::string> readHiddenLine(const std::string &question)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios saved;
    const bool hidden = ::tcgetattr(tty, &saved) == 0;
    if (hidden) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    bool ok = ::write(tty, question.data(), question.size()) == ssize_t(question.size());
    std::string line;
    char c = 0;
    while (ok) {
        const ssize_t n = ::read(tty, &c, 1);
        if (n <= 0) {
            ok = false;
        } else if (c == '\n') {
            break;
        } else {
            line += c;
        }
    }
    if (hidden)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    ::close(tty);
    if (!ok)
        return std::nullopt;
    return line;
}

}  // namespace cli
