#include "AreaScale.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

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

} // namespace

QImage AreaScaleDown(const QImage &source, QSize draw, QSize keep)
{
    if (source.isNull() || source.format() != QImage::Format_RGB32 || draw.isEmpty() ||
        keep.isEmpty() || draw.width() > source.width() || draw.height() > source.height() ||
        2 * draw.width() < source.width() || 2 * draw.height() < source.height() ||
        keep.width() > draw.width() || keep.height() > draw.height())
        return {};
    try {
        const Axis across = MakeAxis(source.width(), draw.width(), kColumnTotal);
        const Axis down = MakeAxis(source.height(), draw.height(), kRowTotal);
        QImage out(keep, QImage::Format_RGB32);
        if (out.isNull())
            return {};

        const int width = keep.width();
        std::vector<std::uint16_t> laneWeight(std::size_t(width) * kMaxTaps * kLanes);
        for (std::size_t i = 0; i < std::size_t(width) * kMaxTaps; ++i)
            std::fill_n(laneWeight.begin() + std::ptrdiff_t(i * kLanes), kLanes, across.weight[i]);

        const int pixels = source.width();
        const int rowBytes = 4 * pixels;
        std::vector<std::uint16_t> sums(std::size_t(kBand) * std::size_t(rowBytes));
        // Room past the right edge for the zero-weighted taps of the last columns.
        std::vector<std::uint16_t> band(std::size_t(pixels + kMaxTaps) * kLanes, 0);
        // Where the rows of a band past the last output row go.
        std::vector<std::uint8_t> spare(std::size_t(4) * std::size_t(width));
        const std::uint8_t *bits = source.constBits();
        const qsizetype stride = source.bytesPerLine();
        const int lastRow = source.height() - 1;
        std::uint8_t *outBits = out.bits();
        const qsizetype outStride = out.bytesPerLine();

        for (int y0 = 0; y0 < keep.height(); y0 += kBand) {
            const std::uint16_t *rowSums[kBand];
            std::uint8_t *rows[kBand];
            for (int r = 0; r < kBand; ++r) {
                const int y = y0 + r;
                if (y >= keep.height()) {
                    rowSums[r] = rowSums[r - 1];
                    rows[r] = spare.data();
                    continue;
                }
                std::uint16_t *sum = sums.data() + std::size_t(r) * std::size_t(rowBytes);
                const int top = down.first[std::size_t(y)];
                const std::uint16_t *w = down.weight.data() + std::size_t(y) * kMaxTaps;
                // A row past the last one has weight 0; the last row stands in for it.
                auto row = [&](int k) { return bits + stride * std::min(top + k, lastRow); };
                if (w[2] == 0) // most rows at either scale
                    SumRows2(sum, row(0), row(1), w[0], w[1], rowBytes);
                else
                    SumRows(sum, row(0), row(1), row(2), w[0], w[1], w[2], rowBytes);
                rowSums[r] = sum;
                rows[r] = outBits + outStride * y;
            }
            Interleave(band.data(), rowSums[0], rowSums[1], rowSums[2], rowSums[3], pixels);
            const int *first = across.first.data();
            switch (across.taps) {
            case 1:
                BandColumns<1>(rows, band.data(), first, laneWeight.data(), width);
                break;
            case 2:
                BandColumns<2>(rows, band.data(), first, laneWeight.data(), width);
                break;
            default:
                BandColumns<3>(rows, band.data(), first, laneWeight.data(), width);
                break;
            }
        }
        return out;
    } catch (const std::bad_alloc &) {
        return {};
    }
}

} // namespace lk
