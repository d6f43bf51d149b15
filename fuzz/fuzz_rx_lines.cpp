// libFuzzer target for the received-line cutter. The input is fed in reads
// whose size the first byte chooses. Checked after every call: nothing over
// the tail limit is left; every record matches a well-formed line of the
// input, in order; and for inputs too short to lose a tail, the records are
// exactly those of a plain reference scan of the whole input.

#include "rx_line_cutter.h"

#include <QByteArray>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct record
{
    uint32_t id;
    uint32_t data[8];
    bool operator==(const record& o) const
    {
        if (id != o.id)
            return false;
        for (int k = 0; k < 8; ++k)
            if (data[k] != o.data[k])
                return false;
        return true;
    }
};

uint32_t hex_field(const std::string& s, size_t pos, size_t len)
{
    return uint32_t(std::strtoul(s.substr(pos, len).c_str(), nullptr, 16));
}

// Straightforward scan of the whole stream, written independently.
std::vector<record> reference(const std::string& s)
{
    std::vector<record> out;
    size_t pos = 0;
    for (;;) {
        const size_t t = s.find('t', pos);
        if (t == std::string::npos)
            break;
        const size_t cr = s.find('\r', t);
        if (cr == std::string::npos)
            break;
        const std::string line = s.substr(t, cr - t);
        bool ok = line.size() >= 21 && line[4] == '8';
        for (size_t k = 1; ok && k <= 20; ++k)
            if (k != 4 && !std::isxdigit(static_cast<unsigned char>(line[k])))
                ok = false;
        if (ok) {
            record r{hex_field(line, 1, 3), {}};
            for (int k = 0; k < 8; ++k)
                r.data[k] = hex_field(line, 5 + 2 * size_t(k), 2);
            out.push_back(r);
        }
        pos = cr + 1;
    }
    return out;
}

std::string upper_hex(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'f')
            c = char(c - 'a' + 'A');
    return s;
}

std::string render(const record& r)
{
    static const char digit[] = "0123456789ABCDEF";
    std::string s = "t";
    for (int shift = 8; shift >= 0; shift -= 4)
        s += digit[(r.id >> shift) & 0xF];
    s += '8';
    for (uint32_t b : r.data) {
        s += digit[b >> 4];
        s += digit[b & 0xF];
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = size_t(bytes[0]) * 8 + 1;
    const std::string stream(reinterpret_cast<const char*>(bytes) + 1, size - 1);

    std::vector<record> got;
    QByteArray buffer;
    for (size_t pos = 0; pos < stream.size(); pos += chunk) {
        const std::string piece = stream.substr(pos, chunk);
        buffer.append(piece.data(), int(piece.size()));
        cut_rx_lines(buffer, [&](const serial_message_struct& sm) {
            record r{sm.id, {}};
            for (int k = 0; k < 8; ++k) {
                if (sm.data[k] > 0xFF)
                    std::abort();
                r.data[k] = sm.data[k];
            }
            if (sm.id > 0xFFF)
                std::abort();
            got.push_back(r);
        });
        if (buffer.size() > rx_tail_limit)
            std::abort();
    }

    // Each record is the text of a line in the input, found in order.
    const std::string upper = upper_hex(stream);
    size_t from = 0;
    for (const record& r : got) {
        const size_t at = upper.find(render(r), from);
        if (at == std::string::npos)
            std::abort();
        from = at + 1;
    }
    // Short inputs cannot lose a tail: the result must match the reference.
    if (stream.size() <= size_t(rx_tail_limit) && got != reference(stream))
        std::abort();
    return 0;
}
