// The LK panel's screen picture at its display scale, as a pure step the refresh worker runs
// between the decode and the hand-over to the window, and the scaled copy written after it.
#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace lk {

// At 100 %: the decoded picture stretched (plain copy) to 800 x 600, or the picture itself
// when it has that size. At 85 % and 70 %: a picture of ScreenPictureSize(scale) holding the
// decoded picture scaled with high quality (the mean of the covered area, when shrinking) to
// ScaledDrawSize(scale) at (0, 0); at 70 % the draw is one column wider than the picture, so
// its last column falls outside. Null when the decoded picture is null or the scaling fails.
QImage ScaleScreenPicture(const QImage &decoded, int scale);

// The scaled copy as JPEG at `path`, written without following a link there. False when it
// cannot be encoded or written.
bool SaveScaledCopy(const QImage &scaled, const QString &path);

// The instrument's JPEG decoded and scaled at once, on two threads: the upper rows here and the
// lower ones on a second thread, each half reduced to its part of ScaleScreenPicture(decoded,
// scale) as soon as it is decoded. The same pixels as the decode and ScaleScreenPicture one after
// the other. Only for an 800 x 600 baseline colour picture at 85 % or 70 % that decodes without
// any warning; false for anything else, and the caller takes the usual path, which also says
// what is wrong with a picture.
bool DecodeScaledInHalves(const std::uint8_t *data, std::size_t size, int scale, QImage &decoded,
                          QImage &shown);

} // namespace lk
