// What a recording holds, as the writer and the reader agree on it: a Matroska file with one
// Motion-JPEG video track whose frames are the instrument's JPEG bytes exactly as received,
// time-stamped in milliseconds from the first frame, and the instrument's family and model as
// file tags.
#pragma once

#include "CImage.h"
#include "JpegCodec.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace capture {

// File tags (Matroska keeps tag names in capitals).
inline constexpr const char *kFamilyTag = "KLREMOTE_FAMILY";
inline constexpr const char *kModelTag = "KLREMOTE_MODEL";

// Below this much free space a recording stops rather than fill the disk.
inline constexpr qint64 kMinFreeBytes = 50LL * 1024 * 1024;
// No screen comes near this; a frame this large is not one of ours.
inline constexpr int kMaxFrameBytes = 8 * 1024 * 1024;
// A pause in a recording longer than this is replayed as this long.
inline constexpr qint64 kMaxGapMs = 60LL * 60 * 1000;
// Family numbers run from 0 to this, less one.
inline constexpr int kFamilyCount = 3;

// The marker walk of a frame a recording may hold: a JPEG picture with a frame header and a
// size, of at most kMaxFrameBytes. Empty for anything else.
inline std::optional<jpeg::Layout> RecordableLayout(const QByteArray &frame)
{
    if (frame.isEmpty() || frame.size() > kMaxFrameBytes)
        return std::nullopt;
    const jpeg::Layout layout =
        jpeg::ReadLayout(reinterpret_cast<const std::uint8_t *>(frame.constData()),
                         std::size_t(frame.size()), CImage::kMaxScans);
    if (!layout.soi || !layout.frame || layout.malformed || layout.width <= 0 || layout.height <= 0)
        return std::nullopt;
    return layout;
}

struct RecordingInfo
{
    int family = -1;   // 0 .. kFamilyCount - 1; -1 when the file does not say
    QString model;     // as identified; may be empty
    QDateTime created; // when the first frame arrived (invalid when the file does not say)
    int width = 0;     // the track's picture size
    int height = 0;
    qint64 durationMs = -1; // -1 when the file does not say (a recording cut short)
};

} // namespace capture
