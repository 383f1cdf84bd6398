// Area-average (box) reduction of an opaque 32-bit picture: each output pixel is the mean of
// the source area it covers, as a high-quality shrink computes it, with integer weights worked
// out once per pair of sizes and loops the compiler turns into vector code, or AVX2 code where the
// processor has it (the same pixels). A single pass over the source, on the calling thread only.
#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <vector>

namespace lk {

// Which code does the work: the fastest this processor runs, or the plain loops every processor
// runs (to compare against).
enum class AreaCode
{
    Fastest,
    Portable,
};

// The picture `source` (Format_RGB32) reduced to `draw`, of which the top-left `keep` pixels
// are returned as a Format_RGB32 picture. `draw` must be no larger than the source and at
// least half of it in each direction, and `keep` no larger than `draw`. Null when these do
// not hold or memory runs out.
QImage AreaScaleDown(const QImage &source, QSize draw, QSize keep,
                     AreaCode code = AreaCode::Fastest);

// The same reduction in bands of four output rows, for callers that have the source rows in
// more than one place or make the bands on more than one thread. Band b writes output rows
// 4b .. 4b + 3 and reads source rows FirstRow(b) .. EndRow(b) - 1 only; Run may be called on
// several threads at once for different bands. The constructor throws std::bad_alloc.
class AreaPlan
{
public:
    using RowAt = std::function<const std::uint8_t *(int y)>;

    static bool Fits(QSize source, QSize draw, QSize keep);
    AreaPlan(QSize source, QSize draw, QSize keep);

    bool IsValid() const { return m_valid; }
    int Bands() const;
    int FirstRow(int band) const;
    int EndRow(int band) const;
    // Bands [bandBegin, bandEnd) into the Format_RGB32 rows at outBits; rowAt(y) is source
    // row y (Format_RGB32).
    void Run(int bandBegin, int bandEnd, const RowAt &rowAt, std::uint8_t *outBits,
             qsizetype outStride, AreaCode code = AreaCode::Fastest) const;

private:
    QSize m_source;
    QSize m_keep;
    bool m_valid = false;
    int m_columnTaps = 0;
    std::vector<int> m_columnFirst;
    std::vector<std::uint16_t> m_laneWeight;
    std::vector<int> m_rowFirst;
    std::vector<std::uint16_t> m_rowWeight;
};

} // namespace lk
