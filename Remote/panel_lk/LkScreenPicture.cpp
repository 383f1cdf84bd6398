#include "LkScreenPicture.h"

#include "AreaScale.h"
#include "CImage.h"
#include "JpegCodec.h"
#include "LkScale.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace lk {

bool DecodeScaledInHalves(const std::uint8_t *data, std::size_t size, int scale, QImage &decoded,
                          QImage &shown)
{
    if (!data || ScaledSuffix(scale) == nullptr)
        return false;
    // Only the instrument's own kind of picture; the marker walk reads no pixel.
    const jpeg::Layout layout = jpeg::ReadLayout(data, size, 1);
    if (!layout.soi || !layout.frame || layout.progressive || layout.malformed ||
        layout.components != 3 || layout.width != kScreenWidth || layout.height != kScreenHeight ||
        layout.scans != 1 || layout.end != jpeg::Layout::End::Eoi)
        return false;
    const QSize screen(kScreenWidth, kScreenHeight);
    try {
        const AreaPlan plan(screen, ScaledDrawSize(scale), ScreenPictureSize(scale));
        if (!plan.IsValid())
            return false;
        QImage picture(kScreenWidth, kScreenHeight, QImage::Format_RGB32);
        QImage out(ScreenPictureSize(scale), QImage::Format_RGB32);
        if (picture.isNull() || out.isNull())
            return false;
        std::uint8_t *bits = picture.bits();
        const qsizetype stride = picture.bytesPerLine();
        std::uint8_t *outBits = out.bits();
        const qsizetype outStride = out.bytesPerLine();

        // The lower half also has to read through the upper half's data, so it gets fewer bands
        // (measured best of 1/2, 9/16 and 5/8).
        const int split = plan.Bands() * 5 / 8;
        const int upperEnd = plan.EndRow(split - 1); // rows the upper bands read
        const int lowerFirst = plan.FirstRow(split); // the first row the lower bands read
        // Rows both halves read are decoded twice: the lower half keeps its own copy of them,
        // so that no row is written by one thread while the other reads it.
        const int lowerFrom = std::min(lowerFirst, upperEnd);
        std::vector<std::uint8_t> copy(std::size_t(upperEnd - lowerFrom) * std::size_t(stride));
        auto upperRow = [bits, stride](int y) { return bits + stride * y; };
        auto lowerRow = [&](int y) {
            return y < upperEnd ? copy.data() + stride * (y - lowerFrom) : bits + stride * y;
        };

        bool lowerDone = false;
        std::thread lower([&] {
            try {
                lowerDone = jpeg::DecodeRows(data, layout.length, screen, lowerFrom, kScreenHeight,
                                             lowerRow);
                if (lowerDone)
                    plan.Run(split, plan.Bands(), lowerRow, outBits, outStride);
            } catch (const std::bad_alloc &) {
                lowerDone = false;
            }
        });
        bool upperDone = false;
        try { // the lower thread is joined whatever happens here
            upperDone = jpeg::DecodeRows(data, layout.length, screen, 0, upperEnd, upperRow);
            if (upperDone)
                plan.Run(0, split, upperRow, outBits, outStride);
        } catch (const std::bad_alloc &) {
            upperDone = false;
        }
        lower.join();
        if (!upperDone || !lowerDone)
            return false;
        decoded = std::move(picture);
        shown = std::move(out);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    } catch (const std::system_error &) { // no thread to be had
        return false;
    }
}

QImage ScaleScreenPicture(const QImage &decoded, int scale)
{
    if (decoded.isNull())
        return {};
    if (ScaledSuffix(scale) == nullptr) {
        if (decoded.size() == QSize(kScreenWidth, kScreenHeight))
            return decoded;
        return decoded.scaled(kScreenWidth, kScreenHeight, Qt::IgnoreAspectRatio,
                              Qt::FastTransformation);
    }
    const QSize pictureSize = ScreenPictureSize(scale);
    const QSize drawSize = ScaledDrawSize(scale);
    // A shrink to no less than half in both directions, the instrument's own case, averages
    // the covered areas straight into a picture of pictureSize.
    if (QImage shrunk = AreaScaleDown(decoded, drawSize, pictureSize); !shrunk.isNull())
        return shrunk;
    // The same pixels as scaling into a blank 32-bit picture of pictureSize, without the blank
    // picture and the copy into it: the draw covers all of it (as high, at least as wide).
    QImage scaled = decoded.scaled(drawSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return {};
    if (scaled.format() != QImage::Format_RGB32)
        scaled = scaled.convertToFormat(QImage::Format_RGB32);
    if (scaled.size() != pictureSize)
        scaled = scaled.copy(QRect(QPoint(0, 0), pictureSize));
    return scaled;
}

bool SaveScaledCopy(const QImage &scaled, const QString &path)
{
    return CImage::SaveJpeg(scaled, path) == 0;
}

} // namespace lk
