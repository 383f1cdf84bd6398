// Area-average (box) reduction of an opaque 32-bit picture: each output pixel is the mean of
// the source area it covers, as a high-quality shrink computes it, with integer weights worked
// out once per pair of sizes and loops the compiler turns into vector code, or AVX2 code where the
// processor has it (the same pixels). A single pass over the source, on the calling thread only.
#pragma once

#include <QImage>
#include <QSize>

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

} // namespace lk
