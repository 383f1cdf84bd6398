// Hand-built JPEG streams for tests and benchmarks: pictures no ordinary encoder writes.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace forge {

namespace detail {

// Bits into bytes, most significant first, with the 0x00 stuffed after every 0xFF that
// entropy-coded data needs; the last byte is padded with ones.
class BitWriter
{
public:
    void Put(std::uint32_t bits, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_byte = std::uint8_t(m_byte << 1 | ((bits >> i) & 1));
            if (++m_filled == 8)
                Flush();
        }
    }
    QByteArray Finish()
    {
        if (m_filled > 0)
            Put(0xFF, 8 - m_filled);
        return m_out;
    }

private:
    void Flush()
    {
        m_out.append(char(m_byte));
        if (m_byte == 0xFF)
            m_out.append('\0');
        m_byte = 0;
        m_filled = 0;
    }
    QByteArray m_out;
    std::uint8_t m_byte = 0;
    int m_filled = 0;
};

inline void Segment(QByteArray &out, std::uint8_t code, const std::vector<std::uint8_t> &body)
{
    out.append(char(0xFF));
    out.append(char(code));
    const int length = int(body.size()) + 2;
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(reinterpret_cast<const char *>(body.data()), qsizetype(body.size()));
}

// A Huffman table with one symbol whose code is the single bit 0.
inline std::vector<std::uint8_t> OneSymbolTable(std::uint8_t tableClass, std::uint8_t symbol)
{
    std::vector<std::uint8_t> body{std::uint8_t(tableClass << 4), 1};
    body.insert(body.end(), 15, 0);
    body.push_back(symbol);
    return body;
}

} // namespace detail

// A progressive JPEG whose scans carry almost no data: a DC scan of zero differences, then AC
// scans that end every block at once with the longest end-of-band runs. Each scan is valid,
// so libjpeg decodes all of them without a warning, and visits every block of the picture in
// each one.
//
// Grey, `scans` in all: one DC scan and `scans` - 1 identical first AC scans.
// With `components` above 1 (4:4:4, at most 4) and `refine`: per component a DC scan, a first
// AC scan of bit 13 and then 13 refinement scans down to bit 0, the dearest kind of scan
// (every coefficient of every block is looked at); `scans` is then ignored.
inline QByteArray ProgressiveScanBomb(int width, int height, int scans, int components = 1,
                                      bool refine = false)
{
    using detail::Segment;
    QByteArray out("\xFF\xD8", 2);
    std::vector<std::uint8_t> quant{0};
    quant.insert(quant.end(), 64, 1);
    Segment(out, 0xDB, quant);
    std::vector<std::uint8_t> frame{8,
                                    std::uint8_t(height >> 8),
                                    std::uint8_t(height),
                                    std::uint8_t(width >> 8),
                                    std::uint8_t(width),
                                    std::uint8_t(components)};
    for (int c = 1; c <= components; ++c)
        frame.insert(frame.end(), {std::uint8_t(c), 0x11, 0});
    Segment(out, 0xC2, frame);
    Segment(out, 0xC4, detail::OneSymbolTable(0, 0x00)); // DC: difference category 0
    Segment(out, 0xC4, detail::OneSymbolTable(1, 0xE0)); // AC: end-of-band run, 14 more bits

    const long long blocks = (long long)((width + 7) / 8) * ((height + 7) / 8);
    detail::BitWriter dc;
    for (long long i = 0; i < blocks; ++i)
        dc.Put(0, 1);
    const QByteArray dcData = dc.Finish();
    // Each run code ends 2^14 + (2^14 - 1) blocks; a run past the last block is dropped.
    constexpr long long kRun = 32767;
    detail::BitWriter ac;
    for (long long done = 0; done < blocks; done += kRun) {
        ac.Put(0, 1);
        ac.Put(0x3FFF, 14);
    }
    const QByteArray acData = ac.Finish();
    auto scan = [&](int component, int first, int last, int high, int low, const QByteArray &data) {
        Segment(out, 0xDA,
                {1, std::uint8_t(component), 0x00, std::uint8_t(first), std::uint8_t(last),
                 std::uint8_t(high << 4 | low)});
        out.append(data);
    };
    if (!refine) {
        for (int c = 1; c <= components; ++c)
            scan(c, 0, 0, 0, 0, dcData);
        for (int i = components; i < scans; ++i)
            scan(1 + i % components, 1, 63, 0, 0, acData);
    } else {
        for (int c = 1; c <= components; ++c) {
            scan(c, 0, 0, 0, 0, dcData);
            scan(c, 1, 63, 0, 13, acData);
            for (int bit = 13; bit > 0; --bit)
                scan(c, 1, 63, bit, bit - 1, acData);
        }
    }
    out.append("\xFF\xD9", 2);
    return out;
}

} // namespace forge
