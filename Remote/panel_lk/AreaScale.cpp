#include "AreaScale.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#define KLR_AREA_AVX2 1
#include <immintrin.h>
#endif

namespace lk {

namespace {

// At most 2:1, an output pixel covers at most three source pixels in each direction.
constexpr int kMaxTaps = 3;

// Fixed-point steps. Down the picture, weights sum to 256 per output row, so the weighted sum
// of bytes is a 16-bit value with 8 fraction bits. Across it, weights sum to 65535 per output
// pixel and each product keeps its high 16 bits, so that sum stays within 16 bits as well and
// a plain area keeps its value after the final rounding.
constexpr int kRowTotal = 256;
constexpr int kColumnTotal = 65535;

// Output rows made together. Their sums are interleaved per source pixel, so that the taps of
// one output column are contiguous runs of 4 rows x 4 channels, which vector code reads
// without gathering.
constexpr int kBand = 4;
constexpr int kLanes = 4 * kBand;

// Fixed loop lengths: whole vectors, which the compiler's cheapest vectorisation takes.
constexpr int kBlock = 16;

// Which source pixels each output pixel of one direction covers, and by how much.
struct Axis
{
    int taps = 0;                      // the most source pixels one output pixel covers
    std::vector<int> first;            // first source pixel of each output pixel
    std::vector<std::uint16_t> weight; // kMaxTaps per output pixel, zero past those covered
};

// Output pixel i spans [i * source, (i + 1) * source) and source pixel k spans
// [k * dest, (k + 1) * dest) on one scale of source * dest units. A weight is the rounded share
// of the covered length up to the end of a pixel less that up to its start, so the weights of
// each output pixel add up to `total` exactly.
Axis MakeAxis(int source, int dest, int total)
{
    Axis axis;
    axis.first.resize(std::size_t(dest));
    axis.weight.assign(std::size_t(dest) * kMaxTaps, 0);
    const std::int64_t s = source, d = dest;
    for (std::int64_t i = 0; i < d; ++i) {
        const std::int64_t start = i * s;
        const std::int64_t k0 = start / d;
        const std::int64_t k1 = (start + s - 1) / d;
        axis.first[std::size_t(i)] = int(k0);
        axis.taps = std::max(axis.taps, int(k1 - k0 + 1));
        std::int64_t before = 0;
        for (std::int64_t k = k0; k <= k1; ++k) {
            const std::int64_t covered = std::min((k + 1) * d, start + s) - start;
            const std::int64_t upTo = (covered * total + s / 2) / s;
            axis.weight[std::size_t(i * kMaxTaps + (k - k0))] = std::uint16_t(upTo - before);
            before = upTo;
        }
    }
    return axis;
}

// One band: the source rows each of its output rows covers with their weights (past the rows
// covered, weight 0 on the last row covered), and where its output rows go.
struct BandRows
{
    const std::uint8_t *src[kBand][kMaxTaps];
    std::uint16_t weight[kBand][kMaxTaps];
    std::uint8_t *out[kBand];
};

// sum[j] = a[j] * wa + b[j] * wb + c[j] * wc for j < n: one output row's sums over the
// source rows it covers; SumRows2 for a row that covers only two.
void SumRows(std::uint16_t *__restrict sum, const std::uint8_t *__restrict a,
             const std::uint8_t *__restrict b, const std::uint8_t *__restrict c, std::uint16_t wa,
             std::uint16_t wb, std::uint16_t wc, int n)
{
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int l = 0; l < kBlock; ++l)
            sum[j + l] = std::uint16_t(a[j + l] * wa + b[j + l] * wb + c[j + l] * wc);
    for (; j < n; ++j)
        sum[j] = std::uint16_t(a[j] * wa + b[j] * wb + c[j] * wc);
}

void SumRows2(std::uint16_t *__restrict sum, const std::uint8_t *__restrict a,
              const std::uint8_t *__restrict b, std::uint16_t wa, std::uint16_t wb, int n)
{
    int j = 0;
    for (; j + kBlock <= n; j += kBlock)
        for (int l = 0; l < kBlock; ++l)
            sum[j + l] = std::uint16_t(a[j + l] * wa + b[j + l] * wb);
    for (; j < n; ++j)
        sum[j] = std::uint16_t(a[j] * wa + b[j] * wb);
}

// band[16 k + 4 r + ch] = rows[r][4 k + ch]: the band's sums side by side per source pixel.
void Interleave(std::uint16_t *__restrict band, const std::uint16_t *__restrict r0,
                const std::uint16_t *__restrict r1, const std::uint16_t *__restrict r2,
                const std::uint16_t *__restrict r3, int pixels)
{
    for (int k = 0; k < pixels; ++k) {
        for (int ch = 0; ch < 4; ++ch) {
            band[kLanes * k + ch] = r0[4 * k + ch];
            band[kLanes * k + 4 + ch] = r1[4 * k + ch];
            band[kLanes * k + 8 + ch] = r2[4 * k + ch];
            band[kLanes * k + 12 + ch] = r3[4 * k + ch];
        }
    }
}

// The band's sums of all four output rows, side by side per source pixel; `sums` has room for
// four rows of them.
void BandSums(const BandRows &rows, std::uint16_t *sums, std::uint16_t *band, int pixels)
{
    const std::size_t rowBytes = std::size_t(4) * std::size_t(pixels);
    for (int r = 0; r < kBand; ++r) {
        std::uint16_t *sum = sums + std::size_t(r) * rowBytes;
        const std::uint8_t *const *src = rows.src[r];
        const std::uint16_t *w = rows.weight[r];
        if (w[2] == 0) // most rows at either scale
            SumRows2(sum, src[0], src[1], w[0], w[1], int(rowBytes));
        else
            SumRows(sum, src[0], src[1], src[2], w[0], w[1], w[2], int(rowBytes));
    }
    Interleave(band, sums, sums + rowBytes, sums + 2 * rowBytes, sums + 3 * rowBytes, pixels);
}

// The band's output pixels: for each output column, `Taps` contiguous runs of 16 sums, each
// weighted with the column's weight repeated over the lanes.
template <int Taps>
void BandColumns(std::uint8_t *const *rows, const std::uint16_t *__restrict band, const int *first,
                 const std::uint16_t *__restrict laneWeight, int width)
{
    // The row pointers in locals: a byte store through one of them could otherwise, as far as
    // the compiler knows, change the pointers themselves, and they would be loaded again for
    // every pixel.
    std::uint8_t *__restrict row0 = rows[0];
    std::uint8_t *__restrict row1 = rows[1];
    std::uint8_t *__restrict row2 = rows[2];
    std::uint8_t *__restrict row3 = rows[3];
    for (int x = 0; x < width; ++x) {
        const std::uint16_t *p = band + kLanes * first[x];
        const std::uint16_t *w = laneWeight + std::size_t(kLanes * kMaxTaps) * std::size_t(x);
        std::uint16_t acc[kLanes];
        for (int l = 0; l < kLanes; ++l)
            acc[l] = 128;
        for (int t = 0; t < Taps; ++t)
            for (int l = 0; l < kLanes; ++l)
                acc[l] = std::uint16_t(
                    acc[l] +
                    std::uint16_t((std::uint32_t(p[kLanes * t + l]) * w[kLanes * t + l]) >> 16));
        std::uint8_t bytes[kLanes];
        for (int l = 0; l < kLanes; ++l)
            bytes[l] = std::uint8_t(acc[l] >> 8);
        std::uint32_t pixels[kBand];
        std::memcpy(pixels, bytes, sizeof pixels);
        // The picture is opaque, whatever the decoder left in the unused byte.
        for (std::uint32_t &pixel : pixels)
            pixel |= 0xFF000000u;
        std::memcpy(row0 + 4 * x, &pixels[0], 4);
        std::memcpy(row1 + 4 * x, &pixels[1], 4);
        std::memcpy(row2 + 4 * x, &pixels[2], 4);
        std::memcpy(row3 + 4 * x, &pixels[3], 4);
    }
}

#ifdef KLR_AREA_AVX2
// The same band with AVX2, where the processor has it: the same integer steps as the loops
// above, so the same pixels, sixteen lanes at a time. The row sums go straight into the band's
// interleaved layout, a third row only where it has weight, and four output pixels of each row
// leave in one store.
#define KLR_AVX2_CODE __attribute__((target("avx2")))

// Sixteen bytes from p as sixteen 16-bit lanes.
KLR_AVX2_CODE inline __m256i Widened(const std::uint8_t *p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// Pixels k .. k + 3 of one output row: its source rows weighted and added.
KLR_AVX2_CODE inline __m256i RowSum(const std::uint8_t *const *src, const __m256i *weight,
                                    bool third, int k)
{
    __m256i s = _mm256_add_epi16(_mm256_mullo_epi16(Widened(src[0] + 4 * k), weight[0]),
                                 _mm256_mullo_epi16(Widened(src[1] + 4 * k), weight[1]));
    if (third)
        s = _mm256_add_epi16(s, _mm256_mullo_epi16(Widened(src[2] + 4 * k), weight[2]));
    return s;
}

// Output column x of the band, 16 lanes of [row 0, row 1 | row 2, row 3] before packing.
template <int Taps>
KLR_AVX2_CODE inline __m256i Column(const std::uint16_t *band, const int *first,
                                    const std::uint16_t *laneWeight, int x)
{
    const auto *p =
        reinterpret_cast<const __m256i *>(band + std::size_t(kLanes) * std::size_t(first[x]));
    const auto *w = reinterpret_cast<const __m256i *>(laneWeight) + std::size_t(kMaxTaps) * x;
    __m256i acc = _mm256_set1_epi16(128);
    for (int t = 0; t < Taps; ++t)
        acc = _mm256_add_epi16(
            acc, _mm256_mulhi_epu16(_mm256_loadu_si256(p + t), _mm256_loadu_si256(w + t)));
    return _mm256_srli_epi16(acc, 8);
}

KLR_AVX2_CODE void BandSumsAvx2(const BandRows &rows, std::uint16_t *__restrict band, int pixels)
{
    __m256i weight[kBand][kMaxTaps];
    bool third[kBand];
    for (int r = 0; r < kBand; ++r) {
        for (int t = 0; t < kMaxTaps; ++t)
            weight[r][t] = _mm256_set1_epi16(short(rows.weight[r][t]));
        third[r] = rows.weight[r][2] != 0;
    }
    // Four source pixels per step, one register per row.
    int k = 0;
    for (; k + 4 <= pixels; k += 4) {
        // Row by row in straight code, so that the four sums stay in registers.
        const __m256i sum[kBand] = {RowSum(rows.src[0], weight[0], third[0], k),
                                    RowSum(rows.src[1], weight[1], third[1], k),
                                    RowSum(rows.src[2], weight[2], third[2], k),
                                    RowSum(rows.src[3], weight[3], third[3], k)};
        // sum[r] holds pixels [0, 1 | 2, 3] of row r; the band wants rows 0-3 of each pixel.
        const __m256i a = _mm256_unpacklo_epi64(sum[0], sum[1]); // r0p0 r1p0 | r0p2 r1p2
        const __m256i b = _mm256_unpacklo_epi64(sum[2], sum[3]); // r2p0 r3p0 | r2p2 r3p2
        const __m256i c = _mm256_unpackhi_epi64(sum[0], sum[1]); // r0p1 r1p1 | r0p3 r1p3
        const __m256i d = _mm256_unpackhi_epi64(sum[2], sum[3]); // r2p1 r3p1 | r2p3 r3p3
        auto *out = reinterpret_cast<__m256i *>(band + std::size_t(kLanes) * std::size_t(k));
        _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(a, b, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(c, d, 0x20));
        _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(a, b, 0x31));
        _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(c, d, 0x31));
    }
    for (; k < pixels; ++k)
        for (int r = 0; r < kBand; ++r)
            for (int ch = 0; ch < 4; ++ch) {
                const int j = 4 * k + ch;
                const std::uint8_t *const *src = rows.src[r];
                const std::uint16_t *w = rows.weight[r];
                band[kLanes * k + 4 * r + ch] =
                    std::uint16_t(src[0][j] * w[0] + src[1][j] * w[1] + src[2][j] * w[2]);
            }
}

template <int Taps>
KLR_AVX2_CODE void BandColumnsAvx2(const BandRows &rows, const std::uint16_t *__restrict band,
                                   const int *first, const std::uint16_t *__restrict laneWeight,
                                   int width)
{
    const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        // Per 128-bit half: x r0, x r1, x+1 r0, x+1 r1 | x r2, x r3, x+1 r2, x+1 r3.
        const __m256i p01 = _mm256_packus_epi16(Column<Taps>(band, first, laneWeight, x),
                                                Column<Taps>(band, first, laneWeight, x + 1));
        const __m256i p23 = _mm256_packus_epi16(Column<Taps>(band, first, laneWeight, x + 2),
                                                Column<Taps>(band, first, laneWeight, x + 3));
        // x r0, x+1 r0, x r1, x+1 r1 | the same for rows 2 and 3.
        const __m256i q01 = _mm256_shuffle_epi32(p01, 0xD8);
        const __m256i q23 = _mm256_shuffle_epi32(p23, 0xD8);
        const __m256i rows02 = _mm256_or_si256(_mm256_unpacklo_epi64(q01, q23), opaque);
        const __m256i rows13 = _mm256_or_si256(_mm256_unpackhi_epi64(q01, q23), opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows.out[0] + 4 * x),
                         _mm256_castsi256_si128(rows02));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows.out[1] + 4 * x),
                         _mm256_castsi256_si128(rows13));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows.out[2] + 4 * x),
                         _mm256_extracti128_si256(rows02, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows.out[3] + 4 * x),
                         _mm256_extracti128_si256(rows13, 1));
    }
    for (; x < width; ++x) {
        // x r0, x r1, (again) | x r2, x r3, (again)
        std::uint32_t lane[8];
        _mm256_storeu_si256(
            reinterpret_cast<__m256i *>(lane),
            _mm256_or_si256(_mm256_packus_epi16(Column<Taps>(band, first, laneWeight, x),
                                                Column<Taps>(band, first, laneWeight, x)),
                            opaque));
        std::memcpy(rows.out[0] + 4 * x, &lane[0], 4);
        std::memcpy(rows.out[1] + 4 * x, &lane[1], 4);
        std::memcpy(rows.out[2] + 4 * x, &lane[4], 4);
        std::memcpy(rows.out[3] + 4 * x, &lane[5], 4);
    }
}

#endif

bool HasAvx2()
{
#ifdef KLR_AREA_AVX2
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

} // namespace

bool AreaPlan::Fits(QSize source, QSize draw, QSize keep)
{
    return !draw.isEmpty() && !keep.isEmpty() && draw.width() <= source.width() &&
           draw.height() <= source.height() && 2 * draw.width() >= source.width() &&
           2 * draw.height() >= source.height() && keep.width() <= draw.width() &&
           keep.height() <= draw.height();
}

AreaPlan::AreaPlan(QSize source, QSize draw, QSize keep) : m_source(source), m_keep(keep)
{
    if (!Fits(source, draw, keep))
        return;
    const Axis across = MakeAxis(source.width(), draw.width(), kColumnTotal);
    Axis down = MakeAxis(source.height(), draw.height(), kRowTotal);
    const int width = keep.width();
    m_laneWeight.resize(std::size_t(width) * kMaxTaps * kLanes);
    for (std::size_t i = 0; i < std::size_t(width) * kMaxTaps; ++i)
        std::fill_n(m_laneWeight.begin() + std::ptrdiff_t(i * kLanes), kLanes, across.weight[i]);
    m_columnFirst = across.first;
    m_columnTaps = across.taps;
    m_rowFirst = std::move(down.first);
    m_rowWeight = std::move(down.weight);
    m_valid = true;
}

int AreaPlan::Bands() const
{
    return m_valid ? (m_keep.height() + kBand - 1) / kBand : 0;
}

int AreaPlan::FirstRow(int band) const
{
    return m_rowFirst[std::size_t(band) * kBand];
}

int AreaPlan::EndRow(int band) const
{
    // Both passes read two source rows per output row, and a third where it has weight; a
    // row past the last one is read as the last.
    const int y = std::min((band + 1) * kBand, m_keep.height()) - 1;
    const std::uint16_t *w = m_rowWeight.data() + std::size_t(y) * kMaxTaps;
    return std::min(m_rowFirst[std::size_t(y)] + (w[2] == 0 ? 2 : 3), m_source.height());
}

void AreaPlan::Run(int bandBegin, int bandEnd, const RowAt &rowAt, std::uint8_t *outBits,
                   qsizetype outStride, AreaCode code) const
{
    const int width = m_keep.width();
    const int pixels = m_source.width();
    const int rowBytes = 4 * pixels;
    std::vector<std::uint16_t> sums(std::size_t(kBand) * std::size_t(rowBytes));
    // Room past the right edge for the zero-weighted taps of the last columns.
    std::vector<std::uint16_t> band(std::size_t(pixels + kMaxTaps) * kLanes, 0);
    // Where the rows of a band past the last output row go.
    std::vector<std::uint8_t> spare(std::size_t(4) * std::size_t(width));
    const int lastRow = m_source.height() - 1;
    const int *first = m_columnFirst.data();
    const std::uint16_t *laneWeight = m_laneWeight.data();
    const bool avx2 = code == AreaCode::Fastest && HasAvx2();

    for (int b = bandBegin; b < bandEnd; ++b) {
        const int y0 = b * kBand;
        BandRows rows;
        for (int r = 0; r < kBand; ++r) {
            const int y = y0 + r;
            if (y >= m_keep.height()) {
                // Rows past the last one repeat it into the spare row.
                std::copy_n(rows.src[r - 1], kMaxTaps, rows.src[r]);
                std::copy_n(rows.weight[r - 1], kMaxTaps, rows.weight[r]);
                rows.out[r] = spare.data();
                continue;
            }
            const int top = m_rowFirst[std::size_t(y)];
            for (int t = 0; t < kMaxTaps; ++t) {
                rows.weight[r][t] = m_rowWeight[std::size_t(y) * kMaxTaps + std::size_t(t)];
                // A row past the last one has weight 0; the last row stands in for it. A
                // third row without weight is never read.
                rows.src[r][t] = t == 2 && rows.weight[r][t] == 0
                                     ? rows.src[r][1]
                                     : rowAt(std::min(top + t, lastRow));
            }
            rows.out[r] = outBits + outStride * y;
        }
        // The columns of the band, with the tap count fixed at compile time.
        auto columns = [&](auto taps) {
            constexpr int kTaps = decltype(taps)::value;
#ifdef KLR_AREA_AVX2
            if (avx2) {
                BandColumnsAvx2<kTaps>(rows, band.data(), first, laneWeight, width);
                return;
            }
#endif
            BandColumns<kTaps>(rows.out, band.data(), first, laneWeight, width);
        };
#ifdef KLR_AREA_AVX2
        if (avx2)
            BandSumsAvx2(rows, band.data(), pixels);
        else
#endif
            BandSums(rows, sums.data(), band.data(), pixels);
        switch (m_columnTaps) {
        case 1:
            columns(std::integral_constant<int, 1>());
            break;
        case 2:
            columns(std::integral_constant<int, 2>());
            break;
        default:
            columns(std::integral_constant<int, 3>());
            break;
        }
    }
}

QImage AreaScaleDown(const QImage &source, QSize draw, QSize keep, AreaCode code)
{
    if (source.isNull() || source.format() != QImage::Format_RGB32 ||
        !AreaPlan::Fits(source.size(), draw, keep))
        return {};
    try {
        const AreaPlan plan(source.size(), draw, keep);
        QImage out(keep, QImage::Format_RGB32);
        if (out.isNull())
            return {};
        const std::uint8_t *bits = source.constBits();
        const qsizetype stride = source.bytesPerLine();
        plan.Run(
            0, plan.Bands(), [bits, stride](int y) { return bits + stride * y; }, out.bits(),
            out.bytesPerLine(), code);
        return out;
    } catch (const std::bad_alloc &) {
        return {};
    }
}

} // namespace lk
