#include "crypto/derwriter.h"

#include <cstring>
#include <limits>

namespace velomark {

struct DerWriter::Node
{
    DerClass cls = DerClass::Universal;
    bool constructed = true;
    std::uint32_t tag = 0;
    bool encoded = false;  // content is a complete TLV, written as it stands
    bool reserved = false;
    std::size_t reservedLength = 0;
    Bytes content;
    std::vector<std::unique_ptr<Node>> children;
    std::size_t cachedLength = 0;  // content length, set by measure()
};

namespace {

constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagOctetString = 4;
constexpr std::uint32_t kTagNull = 5;
constexpr std::uint32_t kTagOid = 6;
constexpr std::uint32_t kTagSequence = 16;
constexpr std::uint32_t kTagSet = 17;

void appendBase128(Bytes &out, std::uint64_t value)
{
    std::uint8_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 0) {
        --count;
        out.push_back(static_cast<std::uint8_t>(digits[count] | (count > 0 ? 0x80 : 0)));
    }
}

std::size_t lengthOctets(std::size_t length)
{
    if (length < 0x80)
        return 1;
    std::size_t count = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8)
        ++count;
    return 1 + count;
}

std::size_t tagOctets(std::uint32_t tag)
{
    if (tag < 31)
        return 1;
    std::size_t count = 1;
    for (std::uint32_t rest = tag; rest != 0; rest >>= 7)
        ++count;
    return count;
}

}  // namespace

std::size_t derHeaderSize(std::uint32_t tag, std::size_t length)
{
    return tagOctets(tag) + lengthOctets(length);
}

void appendDerHeader(Bytes &out, DerClass cls, bool constructed, std::uint32_t tag, std::size_t length)
{
    const std::uint8_t first = static_cast<std::uint8_t>(static_cast<std::uint8_t>(cls) | (constructed ? 0x20 : 0));
    if (tag < 31) {
        out.push_back(static_cast<std::uint8_t>(first | tag));
    } else {
        out.push_back(static_cast<std::uint8_t>(first | 0x1F));
        appendBase128(out, tag);
    }
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    const std::size_t count = lengthOctets(length) - 1;
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    for (std::size_t i = count; i > 0; --i)
        out.push_back(static_cast<std::uint8_t>(length >> (8 * (i - 1))));
}

DerWriter::DerWriter() : m_root(new Node)
{
    m_stack.push_back(m_root.get());
}

DerWriter::~DerWriter() = default;

void DerWriter::fail(const std::string &text)
{
    if (m_error.empty())
        m_error = text;
}

void DerWriter::add(std::unique_ptr<Node> node)
{
    m_stack.back()->children.push_back(std::move(node));
}

void DerWriter::startSequence()
{
    startConstructed(DerClass::Universal, kTagSequence);
}

void DerWriter::startSet()
{
    startConstructed(DerClass::Universal, kTagSet);
}

void DerWriter::startContext(std::uint32_t tag)
{
    startConstructed(DerClass::Context, tag);
}

void DerWriter::startConstructed(DerClass cls, std::uint32_t tag)
{
    std::unique_ptr<Node> node(new Node);
    node->cls = cls;
    node->tag = tag;
    Node *raw = node.get();
    add(std::move(node));
    m_stack.push_back(raw);
}

void DerWriter::end()
{
    if (m_stack.size() <= 1) {
        fail("end() without an open constructed value");
        return;
    }
    m_stack.pop_back();
}

void DerWriter::addPrimitive(DerClass cls, std::uint32_t tag, const Bytes &content)
{
    std::unique_ptr<Node> node(new Node);
    node->cls = cls;
    node->constructed = false;
    node->tag = tag;
    node->content = content;
    add(std::move(node));
}

void DerWriter::addIntegerContent(const Bytes &content)
{
    addPrimitive(DerClass::Universal, kTagInteger, content.empty() ? Bytes{0x00} : content);
}

void DerWriter::addUnsigned(const Bytes &magnitude)
{
    std::size_t first = 0;
    while (first < magnitude.size() && magnitude[first] == 0)
        ++first;
    Bytes content;
    if (first == magnitude.size()) {
        content.push_back(0x00);
    } else {
        if (magnitude[first] & 0x80)
            content.push_back(0x00);
        content.insert(content.end(), magnitude.begin() + static_cast<std::ptrdiff_t>(first), magnitude.end());
    }
    addPrimitive(DerClass::Universal, kTagInteger, content);
}

void DerWriter::addSmallUnsigned(std::uint64_t value)
{
    Bytes magnitude;
    for (int shift = 56; shift >= 0; shift -= 8)
        magnitude.push_back(static_cast<std::uint8_t>(value >> shift));
    addUnsigned(magnitude);
}

bool DerWriter::encodeOid(const std::string &dotted, Bytes &content)
{
    std::vector<std::uint64_t> arcs;
    std::uint64_t current = 0;
    bool digits = false;
    for (std::size_t i = 0; i <= dotted.size(); ++i) {
        if (i == dotted.size() || dotted[i] == '.') {
            if (!digits)
                return false;
            arcs.push_back(current);
            current = 0;
            digits = false;
        } else if (dotted[i] >= '0' && dotted[i] <= '9') {
            const std::uint64_t digit = static_cast<std::uint64_t>(dotted[i] - '0');
            if (current > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
                return false;
            current = current * 10 + digit;
            digits = true;
        } else {
            return false;
        }
    }
    // The first two arcs share one number, so they have to fit its rules.
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)
        || arcs[1] > std::numeric_limits<std::uint64_t>::max() - 80)
        return false;
    content.clear();
    appendBase128(content, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        appendBase128(content, arcs[i]);
    return true;
}

void DerWriter::addOid(const std::string &dotted)
{
    Bytes content;
    if (!encodeOid(dotted, content)) {
        fail("invalid OBJECT IDENTIFIER '" + dotted + "'");
        return;
    }
    addPrimitive(DerClass::Universal, kTagOid, content);
}

void DerWriter::addNull()
{
    addPrimitive(DerClass::Universal, kTagNull, {});
}

void DerWriter::addOctetString(const Bytes &content)
{
    addPrimitive(DerClass::Universal, kTagOctetString, content);
}

std::size_t DerWriter::encodedValueSize(const std::uint8_t *der, std::size_t size)
{
    if (size < 2)
        return 0;
    std::size_t pos = 1;
    if ((der[0] & 0x1F) == 0x1F) {
        // Long-form tag: base-128 digits, the last without the top bit.
        while (pos < size && (der[pos] & 0x80))
            ++pos;
        ++pos;
        if (pos >= size)
            return 0;
    }
    const std::uint8_t first = der[pos++];
    std::size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else {
        const std::size_t count = first & 0x7F;
        // 0x80 is the indefinite form, which DER does not allow.
        if (count == 0 || count > sizeof(std::size_t) || pos + count > size)
            return 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | der[pos++];
    }
    if (length > size - pos)
        return 0;
    return pos + length;
}

void DerWriter::addEncoded(const Bytes &der)
{
    if (der.empty() || encodedValueSize(der.data(), der.size()) != der.size()) {
        fail("the pre-encoded value is not one complete DER value");
        return;
    }
    std::unique_ptr<Node> node(new Node);
    node->encoded = true;
    node->content = der;
    add(std::move(node));
}

void DerWriter::addReserved(DerClass cls, std::uint32_t tag, std::size_t length)
{
    if (m_hasReserved) {
        fail("only one reserved value per message");
        return;
    }
    m_hasReserved = true;
    std::unique_ptr<Node> node(new Node);
    node->cls = cls;
    node->constructed = false;
    node->tag = tag;
    node->reserved = true;
    node->reservedLength = length;
    add(std::move(node));
}

std::size_t DerWriter::measure(Node &node)
{
    if (node.encoded)
        return node.content.size();
    if (node.reserved)
        node.cachedLength = node.reservedLength;
    else if (!node.constructed)
        node.cachedLength = node.content.size();
    else {
        std::size_t total = 0;
        for (auto &child : node.children)
            total += measure(*child);
        node.cachedLength = total;
    }
    return derHeaderSize(node.tag, node.cachedLength) + node.cachedLength;
}

struct DerWriter::Output
{
    Bytes &out;
    std::size_t *reservedOffset = nullptr;
    bool headOnly = false;
    bool reservedSeen = false;
    bool afterReserved = false;
};

void DerWriter::write(const Node &node, Output &output)
{
    if (output.headOnly && output.reservedSeen) {
        output.afterReserved = true;
        return;
    }
    Bytes &out = output.out;
    if (node.encoded) {
        out.insert(out.end(), node.content.begin(), node.content.end());
        return;
    }
    appendDerHeader(out, node.cls, node.constructed, node.tag, node.cachedLength);
    if (node.reserved) {
        if (output.reservedOffset)
            *output.reservedOffset = out.size();
        output.reservedSeen = true;
        if (!output.headOnly)
            out.resize(out.size() + node.reservedLength);
    } else if (!node.constructed) {
        out.insert(out.end(), node.content.begin(), node.content.end());
    } else {
        for (const auto &child : node.children)
            write(*child, output);
    }
}

bool DerWriter::encode(Output &output)
{
    if (m_stack.size() != 1)
        fail("finish() with an open constructed value");
    if (!m_error.empty())
        return false;
    std::size_t total = 0;
    for (auto &child : m_root->children)
        total += measure(*child);
    output.out.clear();
    if (!output.headOnly)
        output.out.reserve(total);
    for (const auto &child : m_root->children)
        write(*child, output);
    return true;
}

bool DerWriter::finish(Bytes &out, std::size_t *reservedOffset)
{
    Output output{out, reservedOffset};
    return encode(output);
}

bool DerWriter::finishHead(Bytes &out)
{
    Output output{out, nullptr, true};
    if (!m_hasReserved)
        fail("finishHead() without a reserved value");
    if (!encode(output))
        return false;
    if (output.afterReserved) {
        fail("a value follows the reserved content");
        out.clear();
        return false;
    }
    return true;
}

}  // namespace velomark
