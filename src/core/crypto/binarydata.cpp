#include "crypto/binarydata.h"

namespace velomark {

void BinaryData::AppendData(const void *data, std::size_t size)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    // Memory refused leaves the bytes as they were and the call failed.
    guardedCall("AppendData", [&] {
        if (size == 0)
            return true;
        checkAllocation(m_bytes.size() + size);
        const auto *bytes = static_cast<const std::uint8_t *>(data);
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
        return true;
    });
}

void BinaryData::Assign(Bytes &&bytes)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_bytes = std::move(bytes);
}

Bytes BinaryData::GetData() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_bytes;
}

std::size_t BinaryData::Size() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_bytes.size();
}

void BinaryData::Clear()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_bytes.clear();
    m_bytes.shrink_to_fit();
}

}  // namespace velomark
