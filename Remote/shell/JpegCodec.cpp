#include "JpegCodec.h"

#include <turbojpeg.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace jpeg {

namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kTem = 0x01;
constexpr std::uint8_t kStuffed = 0x00;

// libjpeg's default, which a JPEG writer given no quality uses.
constexpr int kDefaultQuality = 75;

bool IsRestart(std::uint8_t code)
{
    return code >= 0xD0 && code <= 0xD7;
}

// SOF0 to SOF15 less DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeader(std::uint8_t code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool IsProgressive(std::uint8_t code)
{
    return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
}

// A fresh codec handle for every picture. A handle keeps state from one picture to the next:
// after a header that failed to parse, libjpeg-turbo 2.1 refuses every later picture on it,
// and tables a picture left behind would serve a later one that lacks its own. Creating a
// handle costs far less than a microsecond.
class Handle
{
public:
    explicit Handle(tjhandle handle) : m_handle(handle) {}
    ~Handle()
    {
        if (m_handle)
            tjDestroy(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    tjhandle get() const { return m_handle; }

private:
    tjhandle m_handle;
};

// QImage::Format_RGB32 is 0xffRRGGBB in native byte order.
constexpr int kRgb32Format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;

QString ErrorText(tjhandle handle)
{
    return QString::fromLocal8Bit(tjGetErrorStr2(handle));
}

// libjpeg hands CMYK and YCCK pictures out as stored, with the inverted CMYK of Adobe's
// encoders; each channel is multiplied by K as other JPEG readers do.
bool DecodeCmyk(tjhandle handle, const std::uint8_t *data, unsigned long size, QImage &image,
                int flags)
{
    const int width = image.width();
    const int height = image.height();
    std::vector<std::uint8_t> cmyk(std::size_t(width) * std::size_t(height) * 4);
    if (tjDecompress2(handle, data, size, cmyk.data(), width, width * 4, height, TJPF_CMYK,
                      flags) != 0)
        return false;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = cmyk.data() + std::size_t(y) * std::size_t(width) * 4;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, in += 4) {
            const int k = in[3];
            out[x] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
        }
    }
    return true;
}

// libjpeg reports through these: an error ends a row decode by a jump back to DecodeRows, and so
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

} // namespace

Layout ReadLayout(const std::uint8_t *data, std::size_t size, int maxScans)
{
    Layout layout;
    layout.length = size;
    if (!data || size < 2 || data[0] != kMarker || data[1] != kSoi)
        return layout;
    layout.soi = true;
    std::size_t pos = 2;
    for (;;) {
        // Up to the next marker: libjpeg skips stray bytes before it and fill bytes in it.
        if (pos >= size) {
            layout.end = Layout::End::Open;
            return layout;
        }
        if (data[pos] != kMarker) {
            const void *next = std::memchr(data + pos, kMarker, size - pos);
            if (!next) {
                layout.end = Layout::End::Open;
                return layout;
            }
            pos = std::size_t(static_cast<const std::uint8_t *>(next) - data);
        }
        while (pos < size && data[pos] == kMarker)
            ++pos;
        if (pos >= size) {
            layout.end = Layout::End::Open;
            return layout;
        }
        const std::uint8_t code = data[pos++];
        if (code == kEoi) {
            layout.end = Layout::End::Eoi;
            layout.length = pos;
            return layout;
        }
        if (code == kSoi) {
            layout.malformed = true;
            return layout;
        }
        if (code == kStuffed || code == kTem || IsRestart(code))
            continue;

        if (size - pos < 2) {
            layout.end = Layout::End::Cut;
            return layout;
        }
        const std::size_t length = std::size_t(data[pos]) << 8 | data[pos + 1];
        if (length < 2) {
            layout.malformed = true;
            return layout;
        }
        if (size - pos < length) {
            layout.end = Layout::End::Cut;
            return layout;
        }
        if (IsFrameHeader(code) && !layout.frame) {
            // Precision, height, width, component count.
            const std::uint8_t *frame = data + pos + 2;
            if (length < 8) {
                layout.malformed = true;
                return layout;
            }
            layout.frame = true;
            layout.progressive = IsProgressive(code);
            layout.height = frame[1] << 8 | frame[2];
            layout.width = frame[3] << 8 | frame[4];
            layout.components = frame[5];
        }
        pos += length;
        if (code != kSos)
            continue;

        if (++layout.scans > maxScans)
            return layout;
        // Entropy-coded data runs to the first marker other than a stuffed zero or a restart.
        for (;;) {
            const void *next = std::memchr(data + pos, kMarker, size - pos);
            if (!next) {
                layout.end = Layout::End::Open;
                return layout;
            }
            const std::size_t at = std::size_t(static_cast<const std::uint8_t *>(next) - data);
            std::size_t after = at + 1;
            while (after < size && data[after] == kMarker)
                ++after;
            if (after >= size) {
                layout.end = Layout::End::Open;
                return layout;
            }
            if (data[after] == kStuffed || IsRestart(data[after])) {
                pos = after + 1;
                continue;
            }
            pos = at;
            break;
        }
    }
}

Decoded Decode(const std::uint8_t *data, std::size_t size, const Limits &limits)
{
    Decoded out;
    // A JPEG starts with a start-of-image marker and a second marker straight after it.
    if (!data || size < 3 || data[0] != kMarker || data[1] != kSoi || data[2] != kMarker)
        return out;
    const Layout layout = ReadLayout(data, size, limits.maxScans);
    out.width = layout.width;
    out.height = layout.height;
    out.scans = layout.scans;
    if (layout.malformed) {
        out.status = Status::Corrupt;
        return out;
    }
    if (layout.frame) {
        if (layout.width > limits.maxSide || layout.height > limits.maxSide ||
            qint64(layout.width) * layout.height > limits.maxPixels) {
            out.status = Status::TooLarge;
            return out;
        }
    }
    if (layout.scans > limits.maxScans) {
        out.status = Status::TooManyScans;
        return out;
    }
    if (layout.end == Layout::End::Cut) {
        out.status = Status::Truncated;
        return out;
    }
    if (!layout.frame || layout.scans == 0) {
        out.status = layout.end == Layout::End::Eoi ? Status::Corrupt : Status::Truncated;
        return out;
    }

    // Only the picture's own bytes go to the decoder. Without an end marker one is added: a
    // picture lacking only that decodes as complete, while a picture cut inside its data
    // now meets the marker early, which libjpeg reports as damaged data.
    std::vector<std::uint8_t> closed;
    const std::uint8_t *bytes = data;
    std::size_t count = layout.length;
    const bool ended = layout.end == Layout::End::Eoi;
    if (!ended) {
        closed.reserve(size + 2);
        closed.assign(data, data + size);
        closed.push_back(kMarker);
        closed.push_back(kEoi);
        bytes = closed.data();
        count = closed.size();
    }

    const Handle decompressor(tjInitDecompress());
    tjhandle handle = decompressor.get();
    if (!handle) {
        out.status = Status::Corrupt;
        return out;
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle, bytes, static_cast<unsigned long>(count), &width, &height,
                            &subsampling, &colourspace) != 0) {
        out.status = Status::Corrupt;
        out.detail = ErrorText(handle);
        return out;
    }
    if (width != layout.width || height != layout.height || width <= 0 || height <= 0) {
        out.status = Status::Corrupt;
        return out;
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        out.status = Status::TooLarge;
        return out;
    }
    // Any warning stops the decode: libjpeg would otherwise fill what it could not read with
    // grey and call the picture a success.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const bool decoded =
        cmyk ? DecodeCmyk(handle, bytes, static_cast<unsigned long>(count), image, flags)
             : tjDecompress2(handle, bytes, static_cast<unsigned long>(count), image.bits(), width,
                             int(image.bytesPerLine()), height, kRgb32Format, flags) == 0;
    if (!decoded) {
        out.status = ended ? Status::Corrupt : Status::Truncated;
        out.detail = ErrorText(handle);
        return out;
    }
    out.status = Status::Ok;
    out.image = std::move(image);
    return out;
}

QByteArray Encode(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage rgb32 = image.format() == QImage::Format_RGB32
                             ? image
                             : image.convertToFormat(QImage::Format_RGB32);
    const Handle compressor(tjInitCompress());
    tjhandle handle = compressor.get();
    if (!handle || rgb32.isNull())
        return {};
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    const int result =
        tjCompress2(handle, rgb32.constBits(), rgb32.width(), int(rgb32.bytesPerLine()),
                    rgb32.height(), kRgb32Format, &buffer, &size, TJSAMP_420, kDefaultQuality, 0);
    QByteArray bytes;
    if (result == 0 && buffer)
        bytes = QByteArray(reinterpret_cast<const char *>(buffer), qsizetype(size));
    tjFree(buffer);
    return bytes;
}

bool DecodeRows(const std::uint8_t *data, std::size_t size, QSize expected, int from, int to,
                const std::function<std::uint8_t *(int y)> &rowAt)
{
    // Only plain locals here: an error arrives by a jump back to the setjmp below.
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
    if (int(info.output_width) != expected.width() ||
        int(info.output_height) != expected.height() || from < 0 || to > expected.height()) {
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
    // A call that reaches the last row also reads up to the end marker, as a whole decode does,
    // so that anything wrong there stops it too.
    if (to == expected.height())
        jpeg_finish_decompress(&info);
    else
        jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace jpeg
