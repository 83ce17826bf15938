#include "crypto/component.h"

#include <algorithm>
#include <atomic>

namespace velomark {

namespace {
std::atomic<std::size_t> allocationLimit{0};
}  // namespace

void checkAllocation(std::size_t size)
{
    const std::size_t limit = allocationLimit.load();
    if (limit != 0 && size > limit)
        throw std::bad_alloc();
}

void setAllocationLimitForTesting(std::size_t limit)
{
    allocationLimit.store(limit);
}

void CallLog::begin(const std::string &operation, bool verbose)
{
    m_lines.clear();
    m_open.clear();
    m_errors.clear();
    open(operation);
    value("componentVersion", kComponentVersion);
    value("verbose", verbose ? "1" : "0");
}

void CallLog::finish(bool success)
{
    // Nested contexts still open close first, so the outcome stands in the outermost one.
    while (m_open.size() > 1)
        close();
    line(success ? "Success." : "Failed.");
    close();
}

void CallLog::open(const std::string &context)
{
    line(context + ":");
    m_open.push_back(context);
}

void CallLog::close()
{
    if (m_open.empty())
        return;
    const std::string name = m_open.back();
    m_open.pop_back();
    line("--" + name);
}

void CallLog::value(const std::string &name, const std::string &text)
{
    line(name + ": " + text);
}

void CallLog::error(const std::string &text)
{
    m_errors.push_back(text);
    line(text);
}

void CallLog::info(const std::string &text)
{
    line(text);
}

void CallLog::line(const std::string &text)
{
    m_lines.push_back(std::string(m_open.size() * 2, ' ') + text);
}

std::string CallLog::text() const
{
    std::string all;
    for (const std::string &l : m_lines)
        all += l + '\n';
    return all;
}

bool CallLog::hasError(const std::string &text) const
{
    return std::find(m_errors.begin(), m_errors.end(), text) != m_errors.end();
}

std::string CallLog::lastError() const
{
    return m_errors.empty() ? std::string() : m_errors.back();
}

bool ComponentObject::LastMethodSuccess() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_lastSuccess;
}

std::string ComponentObject::LastLog() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_log.text();
}

std::string ComponentObject::LastError() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_log.lastError();
}

bool ComponentObject::Verbose() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_verbose;
}

void ComponentObject::SetVerbose(bool verbose)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_verbose = verbose;
}

void ComponentObject::beginCall(const std::string &operation)
{
    m_lastSuccess = false;
    m_log.begin(operation, m_verbose);
}

bool ComponentObject::endCall(bool success)
{
    m_log.finish(success);
    m_lastSuccess = success;
    return success;
}

}  // namespace velomark
