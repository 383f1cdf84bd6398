// A replay's reader over any file: the whole input is the recording. Whatever it holds, the
// reader either refuses it with a reason or hands out frames that are JPEG pictures of at most
// the frame limit, numbered in order, at times that never go back and never jump by more than
// the longest pause. Inputs up to 1 MB, so that a few real frames fit.
#include "CRecordingReader.h"
#include "JpegCodec.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxInput = 1024 * 1024;
// More frames than any input of this size can hold whole; a reader that made up frames
// would pass it.
constexpr int kMaxFrames = 100000;

// Names the broken promise before aborting, so that a finding says which one it is.
void Check(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_recording: check at line %d failed\n", line);
        std::abort();
    }
}

} // namespace

#define CHECK(condition) Check((condition), __LINE__)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > kMaxInput)
        return 0;
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(reinterpret_cast<const char *>(data), qsizetype(size));
    buffer->open(QIODevice::ReadOnly);
    CRecordingReader reader;
    if (!reader.Open(std::move(buffer))) {
        CHECK(!reader.Error().isEmpty());
        return 0;
    }
    const capture::RecordingInfo &info = reader.Info();
    CHECK(info.family >= 0 && info.family < capture::kFamilyCount);
    CHECK(info.model.size() <= 64);
    RecordedFrame frame;
    qint64 last = 0;
    int count = 0;
    CRecordingReader::Step step;
    while ((step = reader.Next(frame)) == CRecordingReader::Step::Frame) {
        CHECK(frame.index == count);
        CHECK(frame.ms >= last && frame.ms - last <= capture::kMaxGapMs);
        CHECK(!frame.jpeg.isEmpty() && frame.jpeg.size() <= capture::kMaxFrameBytes);
        const jpeg::Layout layout =
            jpeg::ReadLayout(reinterpret_cast<const std::uint8_t *>(frame.jpeg.constData()),
                             std::size_t(frame.jpeg.size()), 64);
        CHECK(layout.soi && layout.frame);
        last = frame.ms;
        CHECK(++count <= kMaxFrames);
    }
    CHECK(step == CRecordingReader::Step::End || !reader.Error().isEmpty());
    return 0;
}
