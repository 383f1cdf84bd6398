// Recordings looked at and made with libavformat directly, past our own reader and writer:
// what any player would see in a file, and files no writer of ours would make.
#pragma once

#include "JpegCodec.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QIODevice>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace probe {

struct Packet
{
    qint64 ms = 0;
    QByteArray bytes;
};

struct File
{
    bool opened = false;
    QString codec;
    int width = 0;
    int height = 0;
    QMap<QString, QString> tags;
    std::vector<Packet> packets;
};

inline File Read(const QString &path)
{
    File file;
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return file;
    file.opened = true;
    int video = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) {
            video = int(i);
            file.codec =
                QString::fromLatin1(avcodec_get_name(format->streams[i]->codecpar->codec_id));
            file.width = format->streams[i]->codecpar->width;
            file.height = format->streams[i]->codecpar->height;
        }
    }
    const AVDictionaryEntry *tag = nullptr;
    while ((tag = av_dict_get(format->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        file.tags.insert(QString::fromUtf8(tag->key), QString::fromUtf8(tag->value));
    AVPacket *packet = av_packet_alloc();
    while (video >= 0 && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            const AVRational tb = format->streams[video]->time_base;
            file.packets.push_back(
                {av_rescale_q(packet->pts, tb, AVRational{1, 1000}),
                 QByteArray(reinterpret_cast<const char *>(packet->data), packet->size)});
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return file;
}

// A Matroska file with one video track of `codec` holding the packets exactly as given
// (timestamps included: decoding order is kept increasing, presentation times are not).
inline bool Write(const QString &path, AVCodecID codec, const std::vector<Packet> &packets,
                  const QMap<QString, QString> &tags = {})
{
    AVFormatContext *format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, "matroska", nullptr) < 0)
        return false;
    AVStream *stream = avformat_new_stream(format, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = codec;
    stream->codecpar->width = 80;
    stream->codecpar->height = 48;
    stream->time_base = AVRational{1, 1000};
    for (auto it = tags.begin(); it != tags.end(); ++it)
        av_dict_set(&format->metadata, it.key().toUtf8().constData(),
                    it.value().toUtf8().constData(), 0);
    bool ok = avio_open(&format->pb, path.toLocal8Bit().constData(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(format, nullptr) >= 0;
    qint64 dts = 0;
    for (const Packet &p : packets) {
        if (!ok)
            break;
        AVPacket *packet = av_packet_alloc();
        av_new_packet(packet, int(p.bytes.size()));
        std::copy(p.bytes.begin(), p.bytes.end(), reinterpret_cast<char *>(packet->data));
        packet->pts = p.ms;
        packet->dts = dts++;
        packet->flags |= AV_PKT_FLAG_KEY;
        ok = av_write_frame(format, packet) >= 0;
        av_packet_free(&packet);
    }
    ok = ok && av_write_trailer(format) >= 0;
    avio_closep(&format->pb);
    avformat_free_context(format);
    return ok;
}

// Whether ffprobe is installed: without it, what another player makes of a file goes unchecked.
inline bool HaveFfprobe()
{
    return !QStandardPaths::findExecutable("ffprobe").isEmpty();
}

// ffprobe decodes every frame of the file's first stream, as a player would, and finds a
// Motion-JPEG track of `frames` pictures.
inline void ExpectFfprobeFindsMjpeg(const QString &path, int frames)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-count_frames", "-show_streams", "-of", "json", path});
    ASSERT_TRUE(ffprobe.waitForFinished(30000));
    const QJsonObject stream =
        QJsonDocument::fromJson(ffprobe.readAllStandardOutput())["streams"][0].toObject();
    EXPECT_EQ(stream["codec_name"].toString(), "mjpeg");
    EXPECT_EQ(stream["nb_read_frames"].toString(), QString::number(frames));
}

// A file that takes `limit` bytes and then refuses, as a full disk does.
class FailingFile : public QIODevice
{
public:
    FailingFile(std::unique_ptr<QFile> file, qint64 limit) : m_file(std::move(file)), m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_file->size(); }
    bool seek(qint64 pos) override { return QIODevice::seek(pos) && m_file->seek(pos); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        if (m_file->pos() + length > m_limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = m_file->write(data, length);
        m_file->flush();
        return n;
    }

private:
    std::unique_ptr<QFile> m_file;
    qint64 m_limit;
};

// A small JPEG of one colour.
inline QByteArray SolidJpeg(QColor colour, QSize size = QSize(80, 48))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return jpeg::Encode(image);
}

} // namespace probe
