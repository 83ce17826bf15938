#pragma once
// One growable byte buffer of the encryption component.
#include "crypto/component.h"
#include "crypto/derwriter.h"

namespace velomark {

class BinaryData : public ComponentObject
{
public:
    // On failure (memory refused) the bytes stay as they were and LastMethodSuccess is false.
    void AppendData(const void *data, std::size_t size);
    // Moves bytes in without a copy (large inputs).
    void Assign(Bytes &&bytes);
    Bytes GetData() const;
    std::size_t Size() const;
    void Clear();

private:
    friend class Encryptor;
    Bytes m_bytes;
};

}  // namespace velomark
