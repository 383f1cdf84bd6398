#include "LkScreenPicture.h"

#include "AreaScale.h"
#include "CImage.h"
#include "JpegCodec.h"
#include "LkScale.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace lk {

namespace {

// libjpeg reports through these: an error ends the decode by a jump back to DecodeRows, and so
// does any warning, which libjpeg would otherwise pass over, filling what it could not read
// with grey.
struct ErrorJump
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorJump *>(info->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        OnJpegError(info);
}

// Rows [from, to) of the picture, each to rowAt(y); the rows above `from` are skipped (their
// data is still read, their pixels are not made). Only plain locals: an error arrives by a jump
// back to the setjmp below.
template <class RowAt>
bool DecodeRows(const std::uint8_t *data, std::size_t size, int from, int to, const RowAt &rowAt)
{
    jpeg_decompress_struct info;
    ErrorJump errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnJpegError;
    errors.pub.emit_message = OnJpegMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    // QImage::Format_RGB32 is 0xffRRGGBB in native byte order.
    info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_start_decompress(&info);
    if (int(info.output_width) != kScreenWidth || int(info.output_height) != kScreenHeight) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (from > 0 && int(jpeg_skip_scanlines(&info, JDIMENSION(from))) != from) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    constexpr int kBatch = 16;
    while (int(info.output_scanline) < to) {
        const int first = int(info.output_scanline);
        const int want = std::min(kBatch, to - first);
        JSAMPROW rows[kBatch];
        for (int r = 0; r < want; ++r)
            rows[r] = rowAt(first + r);
        if (jpeg_read_scanlines(&info, rows, JDIMENSION(want)) == 0) {
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    // The half that reaches the last row also reads up to the end marker, as a whole decode
    // does, so that anything wrong there stops it too.
    if (to == kScreenHeight)
        jpeg_finish_decompress(&info);
    else
        jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

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
    try {
        const AreaPlan plan(QSize(kScreenWidth, kScreenHeight), ScaledDrawSize(scale),
                            ScreenPictureSize(scale));
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
                lowerDone = DecodeRows(data, layout.length, lowerFrom, kScreenHeight, lowerRow);
                if (lowerDone)
                    plan.Run(split, plan.Bands(), lowerRow, outBits, outStride);
            } catch (const std::bad_alloc &) {
                lowerDone = false;
            }
        });
        bool upperDone = false;
        try { // the lower thread is joined whatever happens here
            upperDone = DecodeRows(data, layout.length, 0, upperEnd, upperRow);
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
