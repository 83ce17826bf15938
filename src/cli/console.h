#pragma once
// The terminal, where it differs between the systems: interrupts that end a run through the
// event loop, and a line typed without echo.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cli {

// For as long as it lives, SIGINT and SIGTERM (on Windows: Ctrl+C, Ctrl+Break and the console
// closing) call `onInterrupt` on the event loop's thread instead of ending the program.
class InterruptWatch
{
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;
    // False when the interrupts could not be routed; they then end the program as usual.
    bool ok() const;

private:
    struct Routing;
    std::unique_ptr<Routing> m_routing;
};

// One line from the terminal with echo off; nothing when there is no terminal or it is closed.
std::optional<std::string> readHiddenLine(const std::string &question);

}  // namespace cli
