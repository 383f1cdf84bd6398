// Files that are not our recordings, or no longer whole ones, given to the replay's reader:
// a clear reason or as much of the recording as is there, never a crash.
#include "CRecordingReader.h"
#include "CRecordingWriter.h"
#include "RecordingProbe.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QMap<QString, QString> kOurTags{{"KLREMOTE_FAMILY", "0"}, {"KLREMOTE_MODEL", "KL561B"}};

QString OpenError(const QByteArray &bytes)
{
    CRecordingReader reader;
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return reader.Open(std::move(buffer)) ? QString() : reader.Error();
}

QString OpenError(const QString &path)
{
    CRecordingReader reader;
    return reader.Open(path) ? QString() : reader.Error();
}

std::vector<RecordedFrame> ReadAllFrames(CRecordingReader &reader, CRecordingReader::Step &end)
{
    std::vector<RecordedFrame> frames;
    RecordedFrame frame;
    while ((end = reader.Next(frame)) == CRecordingReader::Step::Frame)
        frames.push_back(frame);
    return frames;
}

QByteArray Recording(int frames, std::vector<QByteArray> *jpegs = nullptr)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("r.mkv");
    CRecordingWriter writer;
    auto file = std::make_unique<QFile>(path);
    file->open(QIODevice::WriteOnly);
    capture::RecordingInfo tags;
    tags.family = 0;
    writer.Open(std::move(file), tags);
    for (int i = 0; i < frames; ++i) {
        const QByteArray jpeg = probe::SolidJpeg(QColor::fromHsv(i * 40 % 360, 255, 255));
        if (jpegs)
            jpegs->push_back(jpeg);
        writer.WriteFrame(jpeg, i * 500);
    }
    writer.Close();
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    return in.readAll();
}

} // namespace

TEST(ReplayRefuses, ForeignAndEmptyFilesWithTheReason)
{
    QTemporaryDir dir;
    EXPECT_TRUE(OpenError(dir.filePath("missing.mkv")).startsWith("it cannot be read"));
    EXPECT_EQ(OpenError(QByteArray()), "it is not a Matroska file");
    EXPECT_EQ(OpenError(probe::SolidJpeg(Qt::red)), "it is not a Matroska file");
    EXPECT_EQ(OpenError(QByteArray("\x1A\x45\xDF\xA3", 4)),
              "it is a damaged Matroska file, or one without pictures");

    const QByteArray jpeg = probe::SolidJpeg(Qt::red);
    const QString png = dir.filePath("png.mkv");
    ASSERT_TRUE(probe::Write(png, AV_CODEC_ID_PNG, {{0, jpeg}}, kOurTags));
    EXPECT_EQ(OpenError(png), "it holds no Motion-JPEG track");

    const QString untagged = dir.filePath("untagged.mkv");
    ASSERT_TRUE(probe::Write(untagged, AV_CODEC_ID_MJPEG, {{0, jpeg}}));
    EXPECT_TRUE(OpenError(untagged).startsWith("it is not a KLRemote recording"));
    const QString badFamily = dir.filePath("family.mkv");
    ASSERT_TRUE(
        probe::Write(badFamily, AV_CODEC_ID_MJPEG, {{0, jpeg}}, {{"KLREMOTE_FAMILY", "7"}}));
    EXPECT_TRUE(OpenError(badFamily).startsWith("it is not a KLRemote recording"));

    const QString noFrames = dir.filePath("none.mkv");
    ASSERT_TRUE(probe::Write(noFrames, AV_CODEC_ID_MJPEG, {}, kOurTags));
    const QString none = OpenError(noFrames);
    EXPECT_TRUE(none == "it holds no pictures" ||
                none == "it is a damaged Matroska file, or one without pictures")
        << none.toStdString();

    const QString notJpeg = dir.filePath("notjpeg.mkv");
    ASSERT_TRUE(probe::Write(notJpeg, AV_CODEC_ID_MJPEG,
                             {{0, "PK\x03\x04 not a picture"}, {500, jpeg}}, kOurTags));
    EXPECT_EQ(OpenError(notJpeg), "its frames are not JPEG pictures");
}

TEST(ReplayReads, BackwardTimesAreHeldAndStrayFramesLeftOut)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("odd.mkv");
    const QByteArray a = probe::SolidJpeg(Qt::red), b = probe::SolidJpeg(Qt::green),
                     c = probe::SolidJpeg(Qt::blue), d = probe::SolidJpeg(Qt::white);
    // Times going back, a frame that is no picture, a pause of days, and a stray frame inside
    // the next pause, which must not carry the clock on by a pause of its own.
    constexpr qint64 kDay = 24LL * 3600 * 1000;
    ASSERT_TRUE(probe::Write(path, AV_CODEC_ID_MJPEG,
                             {{1000, a},
                              {3000, b},
                              {2000, c},
                              {2500, "garbage"},
                              {4000, d},
                              {4000 + 5 * kDay, a},
                              {4000 + 10 * kDay, "garbage"},
                              {4000 + 15 * kDay, b}},
                             kOurTags));
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    CRecordingReader::Step end;
    const std::vector<RecordedFrame> frames = ReadAllFrames(reader, end);
    EXPECT_EQ(end, CRecordingReader::Step::End);
    ASSERT_EQ(frames.size(), 6u);
    const qint64 expected[] = {
        0, 2000, 2000, 3000, 3000 + capture::kMaxGapMs, 3000 + 2 * capture::kMaxGapMs};
    const QByteArray bytes[] = {a, b, c, d, a, b};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(frames[i].ms, expected[i]) << i;
        EXPECT_EQ(frames[i].jpeg, bytes[i]) << i;
        EXPECT_EQ(frames[i].index, i);
    }
    EXPECT_EQ(reader.Skipped(), 2);
}

TEST(ReplayReads, ACutFilePlaysUpToWhereItWasCut)
{
    std::vector<QByteArray> jpegs;
    const QByteArray whole = Recording(6, &jpegs);
    int lastCount = 0;
    bool sawFewer = false;
    // Every cut from just past the first frame to the whole file, in coarse steps.
    for (qsizetype cut = whole.size() / 4; cut <= whole.size(); cut += whole.size() / 23 + 1) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(whole.left(cut));
        buffer->open(QIODevice::ReadOnly);
        CRecordingReader reader;
        if (!reader.Open(std::move(buffer)))
            continue;
        CRecordingReader::Step end;
        const std::vector<RecordedFrame> frames = ReadAllFrames(reader, end);
        ASSERT_LE(frames.size(), jpegs.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            // A frame cut in two may come out short; every other is whole.
            if (i + 1 < frames.size())
                EXPECT_EQ(frames[i].jpeg, jpegs[i]) << cut << " " << i;
            else
                EXPECT_TRUE(jpegs[i].startsWith(frames[i].jpeg)) << cut << " " << i;
            EXPECT_EQ(frames[i].ms, qint64(i) * 500);
        }
        EXPECT_GE(int(frames.size()), lastCount - 1) << cut;
        lastCount = int(frames.size());
        sawFewer = sawFewer || frames.size() < jpegs.size();
    }
    EXPECT_TRUE(sawFewer);
    EXPECT_EQ(lastCount, 6);
}

TEST(ReplayReads, FlippedBytesNeverCrash)
{
    const QByteArray whole = Recording(3);
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = whole;
        for (int flips = 0; flips < 8; ++flips) {
            seed = seed * 1664525u + 1013904223u;
            bytes[qsizetype(seed % std::uint32_t(bytes.size()))] = char(seed >> 24);
        }
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(bytes);
        buffer->open(QIODevice::ReadOnly);
        CRecordingReader reader;
        if (!reader.Open(std::move(buffer))) {
            EXPECT_FALSE(reader.Error().isEmpty());
            continue;
        }
        CRecordingReader::Step end;
        const std::vector<RecordedFrame> frames = ReadAllFrames(reader, end);
        for (std::size_t i = 1; i < frames.size(); ++i)
            EXPECT_GE(frames[i].ms, frames[i - 1].ms);
    }
}
