#include "aac-frame-padding.h"

namespace {

constexpr unsigned ID_FIL = 6;
constexpr unsigned ID_END = 7;
constexpr unsigned EXT_FILL = 0;
// A fill element holds at most 15 + 255 - 1 bytes after its count.
constexpr size_t MAX_FILL = 269;

class BitWriter
{
public:
    explicit BitWriter(std::vector<uint8_t> &out)
        : m_out(out)
    { }
    void put(unsigned value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            putBit((value >> i) & 1u);
    }
    void putBit(unsigned bit)
    {
        if (m_used == 0)
            m_out.push_back(0);
        if (bit)
            m_out.back() |= uint8_t(0x80u >> m_used);
        m_used = (m_used + 1) % 8;
    }
    size_t bits() const { return m_out.size() * 8 - (m_used ? 8 - m_used : 0); }

private:
    std::vector<uint8_t> &m_out;
    int m_used = 0;
};

// Header bits of a fill element with `count` payload bytes.
size_t fillHeaderBits(size_t count)
{
    return count >= 15 ? 3 + 4 + 8 : 3 + 4;
}

} // namespace

bool padAacFrame(std::vector<uint8_t> &frame, size_t target)
{
    if (frame.empty() || frame.size() >= target)
        return false;
    // Only zero bits follow the end element, to the byte: its last bit is the last one set.
    size_t last = frame.size();
    while (last > 0 && frame[last - 1] == 0)
        --last;
    if (last == 0)
        return false;
    const uint8_t tail = frame[last - 1];
    int lowest = 0;
    while (!((tail >> lowest) & 1u))
        ++lowest;
    const size_t endBit = (last - 1) * 8 + (7 - lowest); // index of the element's last bit
    if (endBit < 2)
        return false;
    const size_t endStart = endBit - 2;
    for (size_t bit = endStart; bit <= endBit; ++bit) {
        if (!((frame[bit / 8] >> (7 - bit % 8)) & 1u))
            return false;
    }

    std::vector<uint8_t> out;
    out.reserve(target);
    BitWriter writer(out);
    for (size_t bit = 0; bit < endStart; ++bit)
        writer.putBit((frame[bit / 8] >> (7 - bit % 8)) & 1u);
    const size_t targetBits = target * 8;
    // Fill elements until the end element and its alignment close the frame at its target.
    for (;;) {
        const size_t room = targetBits - writer.bits() - 3;
        if (room < fillHeaderBits(1) + 8)
            break;
        size_t count = (room - fillHeaderBits(1)) / 8;
        if (count >= 15)
            count = std::min<size_t>((room - fillHeaderBits(15)) / 8, MAX_FILL);
        if (count == 0)
            break;
        writer.put(ID_FIL, 3);
        if (count >= 15) {
            writer.put(15, 4);
            writer.put(unsigned(count - 15 + 1), 8);
        } else {
            writer.put(unsigned(count), 4);
        }
        // extension_payload: a fill type, its nibble, then fill bytes
        writer.put(EXT_FILL, 4);
        writer.put(0, 4);
        for (size_t i = 1; i < count; ++i)
            writer.put(0xA5, 8);
    }
    writer.put(ID_END, 3);
    while (writer.bits() % 8)
        writer.putBit(0);
    frame.swap(out);
    return true;
}
