#pragma once
// A small DER writer: constructed values are opened, filled and closed, and every length is
// definite. Children are written in the order they were added (a SET is not sorted). Misuse
// (closing what is not open, an invalid OBJECT IDENTIFIER, a malformed pre-encoded value,
// finishing with open values) is recorded and makes finish() fail instead of being encoded.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velomark {

using Bytes = std::vector<std::uint8_t>;

enum class DerClass : std::uint8_t { Universal = 0x00, Application = 0x40, Context = 0x80, Private = 0xC0 };

class DerWriter
{
public:
    DerWriter();
    ~DerWriter();
    DerWriter(const DerWriter &) = delete;
    DerWriter &operator=(const DerWriter &) = delete;

    void startSequence();
    void startSet();
    // A constructed context-specific value, [tag] (EXPLICIT tagging).
    void startContext(std::uint32_t tag);
    void startConstructed(DerClass cls, std::uint32_t tag);
    void end();

    // INTEGER from its two's-complement content bytes, as they stand (an empty content is 0).
    void addIntegerContent(const Bytes &content);
    // A non-negative INTEGER from big-endian magnitude bytes: leading zero bytes are dropped
    // and one 00 is put in front when the first byte's top bit is set.
    void addUnsigned(const Bytes &magnitude);
    void addSmallUnsigned(std::uint64_t value);
    void addOid(const std::string &dotted);
    void addNull();
    void addOctetString(const Bytes &content);
    void addPrimitive(DerClass cls, std::uint32_t tag, const Bytes &content);
    // A complete DER value encoded elsewhere (an issuer Name), copied unchanged.
    void addEncoded(const Bytes &der);
    // A primitive value whose content of `length` bytes is written into the output later;
    // finish() reports where. Only one per message.
    void addReserved(DerClass cls, std::uint32_t tag, std::size_t length);

    bool ok() const { return m_error.empty(); }
    const std::string &error() const { return m_error; }

    // Encodes everything added into `out` (replacing its content). The top level may hold
    // several values. With a reserved value, *reservedOffset is where its content starts
    // and those bytes are left zero.
    bool finish(Bytes &out, std::size_t *reservedOffset = nullptr);
    // Encodes only what comes before the reserved content, which has to be the last byte of
    // the encoding: a message whose content is written elsewhere, piece by piece.
    bool finishHead(Bytes &out);

    // The encoded OBJECT IDENTIFIER content of a dotted text, or false.
    static bool encodeOid(const std::string &dotted, Bytes &content);
    // The total size of a complete TLV at the start of `der`, or 0 when it is not one.
    static std::size_t encodedValueSize(const std::uint8_t *der, std::size_t size);

    struct Node;

private:
    struct Output;
    static std::size_t measure(Node &node);
    static void write(const Node &node, Output &output);
    bool encode(Output &output);
    void add(std::unique_ptr<Node> node);
    void fail(const std::string &text);

    std::unique_ptr<Node> m_root;
    std::vector<Node *> m_stack;
    bool m_hasReserved = false;
    std::string m_error;
};

// Identifier and length octets of one value.
void appendDerHeader(Bytes &out, DerClass cls, bool constructed, std::uint32_t tag, std::size_t length);
std::size_t derHeaderSize(std::uint32_t tag, std::size_t length);

}  // namespace velomark
