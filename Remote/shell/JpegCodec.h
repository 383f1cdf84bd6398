// The screen picture codec: a walk over a JPEG's markers that decides, before any pixel is
// decoded, whether the picture is one an instrument could have sent, then the decode itself
// through libjpeg-turbo straight into the pixel format the screen view paints (whole, or in row
// ranges), and the JPEG encode of a picture into memory. Pure functions: each call uses a codec
// handle of its own.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace jpeg {

// What the marker walk found. Only segment lengths and the frame header are read; the
// entropy-coded data after each scan header is skipped with a byte search.
struct Layout
{
    enum class End
    {
        Eoi,  // an end-of-image marker closes the picture
        Open, // the bytes ran out where an end marker could follow: inside a scan's
              // entropy-coded data or between two segments
        Cut,  // the bytes ran out inside a marker or a marker segment
    };

    bool soi = false;   // starts with a start-of-image marker
    bool frame = false; // a frame header was read
    bool progressive = false;
    bool malformed = false; // a segment length below 2, a second image start, ...
    int width = 0;
    int height = 0;
    int components = 0;
    int scans = 0; // stops counting one past the limit the walk was given
    End end = End::Cut;
    // Bytes that make up the picture: up to and including the end-of-image marker, or all of
    // them when there is none. Whatever follows the marker is not part of the picture.
    std::size_t length = 0;
};

Layout ReadLayout(const std::uint8_t *data, std::size_t size, int maxScans);

enum class Status
{
    Ok,
    NotJpeg,
    TooLarge,     // declared size beyond the limits
    TooManyScans, // more scans than the limit
    Truncated,    // the picture stops before its last pixel row
    Corrupt,      // libjpeg cannot decode it, or reports damaged data
};

struct Limits
{
    qint64 maxPixels = 0;
    int maxSide = 0;
    int maxScans = 0;
};

struct Decoded
{
    Status status = Status::NotJpeg;
    QImage image;   // Format_RGB32 on success, null otherwise
    QString detail; // libjpeg's own message for a refused picture, when it gave one
    int width = 0;  // the declared size, also for a picture refused as too large
    int height = 0;
    int scans = 0;
};

// Decodes the picture when the walk accepts it. A picture that lacks only its end-of-image
// marker is decoded as complete; one that libjpeg finds short of data or damaged is refused.
Decoded Decode(const std::uint8_t *data, std::size_t size, const Limits &limits);

// Rows [from, to) of a picture of size `expected`, decoded through libjpeg's own interface into
// Format_RGB32 rows at rowAt(y); the rows above `from` are skipped (their data is read, their
// pixels are not made). Any error or warning, or another size, gives false. Each call uses a
// decoder of its own, so two calls may decode parts of one picture on two threads. The caller
// has checked the picture with ReadLayout; the limits of Decode are not applied here.
bool DecodeRows(const std::uint8_t *data, std::size_t size, QSize expected, int from, int to,
                const std::function<std::uint8_t *(int y)> &rowAt);

// Baseline JPEG of an RGB32 picture at libjpeg's default quality (75, 4:2:0): what a JPEG
// writer without parameters produces. Empty on failure.
QByteArray Encode(const QImage &image);

} // namespace jpeg
