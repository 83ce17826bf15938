#pragma once
// The state every object of the encryption component shares: a re-entrant lock, the result of
// the last operation that reports one, a verbose flag, and the per-call log. Qt-free, so the
// Windows platform files can use it.
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace velomark {

// Version text recorded at the start of every per-call log.
inline constexpr const char *kComponentVersion = "Velomark crypto 1.0";

// The record of one operation: nested named contexts, named values and error lines.
class CallLog
{
public:
    // Empties the log and opens the outermost context of an operation.
    void begin(const std::string &operation, bool verbose);
    // Closes every open context with "Success." or "Failed.".
    void finish(bool success);

    void open(const std::string &context);
    void close();
    void value(const std::string &name, const std::string &text);
    void error(const std::string &text);
    void info(const std::string &text);

    std::string text() const;
    // True when some error line holds exactly this text.
    bool hasError(const std::string &text) const;
    // The last error line recorded, or empty text.
    std::string lastError() const;

    // Opens a context for the lifetime of the scope, so it is closed on every path.
    class Scope
    {
    public:
        Scope(CallLog &log, const std::string &context) : m_log(log) { m_log.open(context); }
        ~Scope() { m_log.close(); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        CallLog &m_log;
    };

private:
    void line(const std::string &text);

    std::vector<std::string> m_lines;
    std::vector<std::string> m_open;
    std::vector<std::string> m_errors;
};

// Every large buffer of the component is checked here before it is allocated. With a limit set
// (tests only; 0 is none) a larger buffer fails as an allocation the system refuses does.
void checkAllocation(std::size_t size);
void setAllocationLimitForTesting(std::size_t limit);

class ComponentObject
{
public:
    ComponentObject() = default;
    ComponentObject(const ComponentObject &) = delete;
    ComponentObject &operator=(const ComponentObject &) = delete;
    virtual ~ComponentObject() = default;

    bool LastMethodSuccess() const;
    // The log of the last operation, as text.
    std::string LastLog() const;
    // The last error line of the last operation (the reason it failed), or empty text.
    std::string LastError() const;
    bool Verbose() const;
    void SetVerbose(bool verbose);

protected:
    // Starts an operation that reports a result: the result turns false, the log restarts.
    void beginCall(const std::string &operation);
    // Ends it: "Success." or "Failed.", stores and returns the result.
    bool endCall(bool success);
    // Runs one reporting operation from begin to end. Whatever it throws (a failed allocation
    // above all) ends in a failure result with the reason in the log: nothing leaves the
    // component as an exception.
    template <typename Operation>
    bool guardedCall(const std::string &operation, Operation &&run)
    {
        beginCall(operation);
        bool ok = false;
        try {
            ok = run();
        } catch (const std::bad_alloc &) {
            m_log.error("Out of memory");
        } catch (const std::exception &e) {
            m_log.error(std::string("Unexpected failure: ") + e.what());
        }
        return endCall(ok);
    }

    mutable std::recursive_mutex m_lock;
    bool m_lastSuccess = true;
    bool m_verbose = false;
    CallLog m_log;
};

}  // namespace velomark
