// The files the operator keeps: names, no earlier file ever lost, and recordings as any player
// sees them (read back with libavformat itself, and with ffprobe where it is installed).
#include "CRecordingReader.h"
#include "CRecordingWriter.h"
#include "CaptureFiles.h"
#include "CaptureNames.h"
#include "RecordingProbe.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

std::unique_ptr<QFile> NewFile(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    return file->open(QIODevice::WriteOnly | QIODevice::Truncate) ? std::move(file) : nullptr;
}

const QColor kColours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan};

} // namespace

TEST(CaptureNames, ModelsBecomeSafeFileNamesAndTheStampIsTheLocalSecond)
{
    EXPECT_EQ(capture::ModelForFileName("KL561B"), "KL561B");
    EXPECT_EQ(capture::ModelForFileName(""), "unknown");
    EXPECT_EQ(capture::ModelForFileName("  \t "), "unknown");
    EXPECT_EQ(capture::ModelForFileName("../../etc/pass wd"), "etc_pass_wd");
    EXPECT_EQ(capture::ModelForFileName("..."), "unknown");
    EXPECT_EQ(capture::ModelForFileName("MW5000 C:\\x*?<>|\"y"), "MW5000_C_x_y");
    EXPECT_EQ(capture::ModelForFileName(QString(100, QLatin1Char('K'))).size(), 32);

    EXPECT_EQ(capture::ModelOfIdentification(QByteArray("KL535C\0garbage", 14)), "KL535C");
    EXPECT_EQ(capture::ModelOfIdentification(QByteArray(" KL\x1b[2J561B \r\n")), "KL[2J561B");

    const QDateTime at(QDate(2025, 3, 5), QTime(14, 3, 7, 250));
    EXPECT_EQ(capture::CaptureBaseName("KL561B", at), "KLRemote_KL561B_20250305_140307");
    EXPECT_EQ(capture::CandidateName("KLRemote_x_1", 1, "png"), "KLRemote_x_1.png");
    EXPECT_EQ(capture::CandidateName("KLRemote_x_1", 2, "png"), "KLRemote_x_1_2.png");
}

TEST(CaptureFiles, ASecondSaveInTheSameSecondGetsASuffixAndNothingIsReplaced)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("Pictures/new"); // created on demand
    auto write = [](const QByteArray &bytes) {
        return [bytes](QIODevice &device) { return capture::WriteBytes(device, bytes); };
    };
    const capture::SavedFile first =
        capture::SaveNewFile(folder, "KLRemote_M_1", "png", write("one"));
    ASSERT_TRUE(first.ok) << first.error.toStdString();
    EXPECT_EQ(QFileInfo(first.path).fileName(), "KLRemote_M_1.png");
    const capture::SavedFile second =
        capture::SaveNewFile(folder, "KLRemote_M_1", "png", write("two"));
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(QFileInfo(second.path).fileName(), "KLRemote_M_1_2.png");
    EXPECT_EQ(ReadAll(first.path), "one");

    // A link planted at the next name is neither followed nor replaced.
    const QString target = dir.filePath("elsewhere");
    WriteAll(target, "keep");
    ASSERT_TRUE(QFile::link(target, QDir(folder).filePath("KLRemote_M_1_3.png")));
    const capture::SavedFile third =
        capture::SaveNewFile(folder, "KLRemote_M_1", "png", write("three"));
    ASSERT_TRUE(third.ok);
    EXPECT_EQ(QFileInfo(third.path).fileName(), "KLRemote_M_1_4.png");
    EXPECT_EQ(ReadAll(target), "keep");

    // A write that fails leaves nothing half-written behind.
    const capture::SavedFile failed =
        capture::SaveNewFile(folder, "KLRemote_M_1", "png", [](QIODevice &) { return false; });
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(QFile::exists(failed.path));

    // A folder that cannot be made says so.
    WriteAll(dir.filePath("file"), "x");
    const capture::SavedFile nofolder =
        capture::SaveNewFile(dir.filePath("file/sub"), "KLRemote_M_1", "png", write("x"));
    EXPECT_FALSE(nofolder.ok);
    EXPECT_TRUE(nofolder.error.contains("cannot be created")) << nofolder.error.toStdString();
}

TEST(CaptureFiles, ReplacingKeepsTheEarlierFileUnlessTheNewOneIsComplete)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shot.jpg");
    WriteAll(path, "earlier");
    const capture::SavedFile failed = capture::SaveReplacing(path, [](QIODevice &device) {
        device.write("half");
        return false;
    });
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(ReadAll(path), "earlier");
    const capture::SavedFile ok = capture::SaveReplacing(
        path, [](QIODevice &device) { return capture::WriteBytes(device, "later"); });
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(ReadAll(path), "later");
}

TEST(Recording, FramesGoInUnchangedWithIncreasingTimesAndTheTags)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("rec.mkv");
    std::vector<QByteArray> frames;
    for (const QColor &c : kColours)
        frames.push_back(probe::SolidJpeg(c));
    // Arrival times as a clock might give them: two in the same millisecond, one going back.
    const qint64 times[] = {0, 500, 500, 400, 1700};
    {
        CRecordingWriter writer;
        capture::RecordingInfo tags;
        tags.family = 1;
        tags.model = "KL535C";
        tags.created = QDateTime(QDate(2025, 3, 5), QTime(14, 3, 7), Qt::UTC);
        writer.Open(NewFile(path), tags);
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_EQ(writer.WriteFrame(frames[i], times[i]), CRecordingWriter::Result::Ok);
        // Not a picture: left out, and the recording goes on.
        EXPECT_EQ(writer.WriteFrame("not a jpeg", 1800), CRecordingWriter::Result::NotJpeg);
        EXPECT_EQ(writer.Frames(), 5);
        ASSERT_TRUE(writer.Close()) << writer.Error().toStdString();
    }

    const probe::File file = probe::Read(path);
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.codec, "mjpeg");
    EXPECT_EQ(file.width, 80);
    EXPECT_EQ(file.height, 48);
    EXPECT_EQ(file.tags.value("KLREMOTE_FAMILY"), "1");
    EXPECT_EQ(file.tags.value("KLREMOTE_MODEL"), "KL535C");
    ASSERT_EQ(file.packets.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(file.packets[i].bytes, frames[i]) << i;
        if (i > 0) {
            EXPECT_GT(file.packets[i].ms, file.packets[i - 1].ms) << i;
        }
    }
    EXPECT_EQ(file.packets[1].ms, 500);
    EXPECT_EQ(file.packets[4].ms, 1700);

    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    EXPECT_EQ(reader.Info().family, 1);
    EXPECT_EQ(reader.Info().model, "KL535C");
    EXPECT_EQ(reader.Info().created, QDateTime(QDate(2025, 3, 5), QTime(14, 3, 7), Qt::UTC));
    EXPECT_EQ(reader.Info().durationMs, 1700);
    RecordedFrame frame;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(reader.Next(frame), CRecordingReader::Step::Frame);
        EXPECT_EQ(frame.jpeg, frames[i]);
        EXPECT_EQ(frame.ms, file.packets[i].ms);
        EXPECT_EQ(frame.index, int(i));
    }
    EXPECT_EQ(reader.Next(frame), CRecordingReader::Step::End);

    if (!probe::HaveFfprobe())
        GTEST_SKIP() << "ffprobe not installed";
    probe::ExpectFfprobeFindsMjpeg(path, 5);
}

TEST(Recording, AFullDiskOrAFailedWriteStopsItAndWhatWasWrittenStillPlays)
{
    QTemporaryDir dir;
    const QByteArray jpeg = probe::SolidJpeg(Qt::red);

    // Free space below 50 MB: nothing more is written, the file gets its proper end.
    const QString low = dir.filePath("low.mkv");
    {
        qint64 freeBytes = capture::kMinFreeBytes;
        CRecordingWriter writer;
        writer.Open(NewFile(low), {});
        writer.SetFreeSpaceProbe([&freeBytes] { return freeBytes; });
        ASSERT_EQ(writer.WriteFrame(jpeg, 0), CRecordingWriter::Result::Ok);
        ASSERT_EQ(writer.WriteFrame(jpeg, 500), CRecordingWriter::Result::Ok);
        freeBytes = capture::kMinFreeBytes - 1;
        EXPECT_EQ(writer.WriteFrame(jpeg, 1000), CRecordingWriter::Result::LowSpace);
        EXPECT_TRUE(writer.Error().contains("50 MB"));
        EXPECT_TRUE(writer.Close());
    }
    EXPECT_EQ(probe::Read(low).packets.size(), 2u);

    // The disk refuses a write: the frames before it stay readable.
    const QString failing = dir.filePath("failing.mkv");
    {
        CRecordingWriter writer;
        writer.Open(std::make_unique<probe::FailingFile>(NewFile(failing), 3 * jpeg.size()), {});
        writer.SetFreeSpaceProbe([] { return qint64(1) << 40; });
        CRecordingWriter::Result result = CRecordingWriter::Result::Ok;
        int written = 0;
        for (int i = 0; i < 10 && result == CRecordingWriter::Result::Ok; ++i) {
            result = writer.WriteFrame(jpeg, i * 500);
            written += result == CRecordingWriter::Result::Ok;
        }
        EXPECT_EQ(result, CRecordingWriter::Result::WriteFailed);
        EXPECT_TRUE(writer.Error().contains("No space left on device"))
            << writer.Error().toStdString();
        EXPECT_GE(written, 1);
        EXPECT_EQ(writer.WriteFrame(jpeg, 9000), CRecordingWriter::Result::NotOpen);
        EXPECT_FALSE(writer.Close());
        EXPECT_EQ(int(probe::Read(failing).packets.size()), written);
    }

    // A recording that never got a frame leaves no file.
    const QString empty = dir.filePath("empty.mkv");
    {
        CRecordingWriter writer;
        writer.Open(NewFile(empty), {});
        EXPECT_TRUE(writer.Close());
    }
    EXPECT_FALSE(QFile::exists(empty));
}
