#include "CRecordingWriter.h"

#include "LibavSetup.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char *kMuxer = "matroska";
constexpr int kIoBufferBytes = 64 * 1024;
constexpr AVRational kMillisecond{1, 1000};

constexpr const char *kErrNoMuxer = "this FFmpeg has no Matroska writer";
constexpr const char *kErrHeader = "the file header cannot be written: %1";
constexpr const char *kErrFrame = "a frame cannot be written: %1";
constexpr const char *kErrTrailer = "the end of the file cannot be written: %1";
constexpr const char *kErrNoMemory = "out of memory";
constexpr const char *kErrNotJpeg = "the frame is not a JPEG picture";
constexpr const char *kErrLowSpace = "less than 50 MB free on the disk";

// FFmpeg 6.1 made the written buffer const.
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 16, 100)
using WrittenBytes = const std::uint8_t *;
#else
using WrittenBytes = std::uint8_t *;
#endif

QString AvText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

} // namespace

// The FFmpeg side: the muxer writes through our own I/O callbacks into the device, so that
// every byte, every seek and every failure passes here.
struct CRecordingWriter::Av
{
    QIODevice *device = nullptr;
    AVFormatContext *format = nullptr;
    AVIOContext *io = nullptr;
    AVStream *stream = nullptr;
    qint64 end = 0;  // one past the last byte written
    QString ioError; // the device's words for the first failed write or seek

    ~Av()
    {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (format)
            avformat_free_context(format);
    }

    static int Write(void *opaque, WrittenBytes data, int size)
    {
        auto *self = static_cast<Av *>(opaque);
        const qint64 written = self->device->write(reinterpret_cast<const char *>(data), size);
        if (written != size) {
            if (self->ioError.isEmpty())
                self->ioError = self->device->errorString();
            return AVERROR(EIO);
        }
        self->end = std::max(self->end, self->device->pos());
        return size;
    }

    static std::int64_t Seek(void *opaque, std::int64_t offset, int whence)
    {
        auto *self = static_cast<Av *>(opaque);
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE)
            return std::max(self->end, self->device->size());
        qint64 target = offset;
        if (whence == SEEK_CUR)
            target += self->device->pos();
        else if (whence == SEEK_END)
            target += std::max(self->end, self->device->size());
        else if (whence != SEEK_SET)
            return AVERROR(EINVAL);
        if (target < 0 || !self->device->seek(target)) {
            if (self->ioError.isEmpty())
                self->ioError = self->device->errorString();
            return AVERROR(EIO);
        }
        return target;
    }
};

CRecordingWriter::CRecordingWriter()
{
    capture::SetUpLibav();
}

CRecordingWriter::~CRecordingWriter()
{
    Close();
}

void CRecordingWriter::Open(std::unique_ptr<QIODevice> device, const capture::RecordingInfo &tags)
{
    Close();
    m_device = std::move(device);
    m_tags = tags;
    m_open = m_device && m_device->isOpen() && m_device->isWritable();
    m_failed = false;
    m_frames = 0;
    m_lastMs = 0;
    m_bytes = 0;
    m_error.clear();
}

bool CRecordingWriter::IsOpen() const
{
    return m_open;
}

void CRecordingWriter::SetFreeSpaceProbe(std::function<qint64()> probe)
{
    m_freeSpace = std::move(probe);
}

int CRecordingWriter::Frames() const
{
    return m_frames;
}

qint64 CRecordingWriter::Bytes() const
{
    return m_bytes;
}

QString CRecordingWriter::Error() const
{
    return m_error;
}

QString CRecordingWriter::FileName() const
{
    const auto *file = qobject_cast<const QFileDevice *>(m_device.get());
    return file ? file->fileName() : QString();
}

CRecordingWriter::Result CRecordingWriter::Fail(const QString &error)
{
    m_error = error;
    m_failed = true;
    return Result::WriteFailed;
}

bool CRecordingWriter::StartFile(int width, int height)
{
    m_av = std::make_unique<Av>();
    m_av->device = m_device.get();
    const AVOutputFormat *muxer = av_guess_format(kMuxer, nullptr, nullptr);
    if (!muxer) {
        Fail(QString::fromLatin1(kErrNoMuxer));
        return false;
    }
    if (avformat_alloc_output_context2(&m_av->format, muxer, nullptr, nullptr) < 0 ||
        !m_av->format) {
        Fail(QString::fromLatin1(kErrNoMemory));
        return false;
    }
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    m_av->io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, m_av.get(), nullptr,
                                           &Av::Write, &Av::Seek)
                      : nullptr;
    if (!m_av->io) {
        av_free(buffer);
        Fail(QString::fromLatin1(kErrNoMemory));
        return false;
    }
    m_av->format->pb = m_av->io;
    m_av->format->flags |= AVFMT_FLAG_CUSTOM_IO;

    m_av->stream = avformat_new_stream(m_av->format, nullptr);
    if (!m_av->stream) {
        Fail(QString::fromLatin1(kErrNoMemory));
        return false;
    }
    AVCodecParameters *par = m_av->stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_MJPEG;
    par->width = width;
    par->height = height;
    m_av->stream->time_base = kMillisecond;

    AVDictionary **meta = &m_av->format->metadata;
    if (m_tags.family >= 0)
        av_dict_set_int(meta, capture::kFamilyTag, m_tags.family, 0);
    if (!m_tags.model.isEmpty()) {
        av_dict_set(meta, capture::kModelTag, m_tags.model.toUtf8().constData(), 0);
        av_dict_set(meta, "title", ("KLRemote " + m_tags.model).toUtf8().constData(), 0);
    }
    if (m_tags.created.isValid()) {
        const QString utc = m_tags.created.toUTC().toString(Qt::ISODateWithMs);
        av_dict_set(meta, "creation_time", utc.toUtf8().constData(), 0);
    }

    const int header = avformat_write_header(m_av->format, nullptr);
    if (header < 0) {
        Fail(QString::fromLatin1(kErrHeader)
                 .arg(m_av->ioError.isEmpty() ? AvText(header) : m_av->ioError));
        return false;
    }
    return true;
}

// A frame leaves the muxer (which would otherwise gather frames into larger clusters); then
// everything leaves FFmpeg's buffer and the device's.
bool CRecordingWriter::PushOut(bool frame)
{
    if (frame)
        av_write_frame(m_av->format, nullptr);
    avio_flush(m_av->io);
    if (auto *file = qobject_cast<QFileDevice *>(m_device.get())) {
        if (!file->flush() && m_av->ioError.isEmpty())
            m_av->ioError = file->errorString();
    }
    return m_av->io->error == 0 && m_av->ioError.isEmpty();
}

CRecordingWriter::Result CRecordingWriter::WriteFrame(const QByteArray &jpeg, qint64 ms)
{
    if (!m_open || m_failed)
        return Result::NotOpen;
    const std::optional<jpeg::Layout> layout = capture::RecordableLayout(jpeg);
    if (!layout) {
        m_error = QString::fromLatin1(kErrNotJpeg);
        return Result::NotJpeg;
    }

    qint64 freeBytes = -1;
    if (m_freeSpace) {
        freeBytes = m_freeSpace();
    } else if (const QString name = FileName(); !name.isEmpty()) {
        const QStorageInfo storage(QFileInfo(name).absolutePath());
        if (storage.isValid())
            freeBytes = storage.bytesAvailable();
    }
    if (freeBytes >= 0 && freeBytes < capture::kMinFreeBytes) {
        m_error = QString::fromLatin1(kErrLowSpace);
        return Result::LowSpace;
    }

    if (m_frames == 0 && !StartFile(layout->width, layout->height))
        return Result::WriteFailed;
    const qint64 at = m_frames == 0 ? std::max<qint64>(0, ms) : std::max(ms, m_lastMs + 1);

    AVPacket *packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, int(jpeg.size())) < 0) {
        av_packet_free(&packet);
        return Fail(QString::fromLatin1(kErrNoMemory));
    }
    std::copy(jpeg.begin(), jpeg.end(), packet->data);
    packet->stream_index = m_av->stream->index;
    packet->pts = packet->dts = av_rescale_q(at, kMillisecond, m_av->stream->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    const int written = av_write_frame(m_av->format, packet);
    av_packet_free(&packet);
    const bool out = PushOut(true);
    m_bytes = m_av->end;
    if (written < 0 || !out)
        return Fail(QString::fromLatin1(kErrFrame).arg(
            m_av->ioError.isEmpty() ? AvText(written < 0 ? written : AVERROR(EIO))
                                    : m_av->ioError));
    ++m_frames;
    m_lastMs = at;
    return Result::Ok;
}

bool CRecordingWriter::Close()
{
    if (!m_device)
        return true;
    bool ok = true;
    // After a failed write the file is left as it stands, like one whose writer was killed:
    // what was written plays; a half-written end could spoil that.
    if (m_av && m_av->format && m_frames > 0 && !m_failed) {
        const int trailer = av_write_trailer(m_av->format);
        const bool out = PushOut(false);
        m_bytes = m_av->end;
        if (trailer < 0 || !out) {
            m_error =
                QString::fromLatin1(kErrTrailer)
                    .arg(m_av->ioError.isEmpty() ? AvText(trailer < 0 ? trailer : AVERROR(EIO))
                                                 : m_av->ioError);
            ok = false;
        }
    }
    m_av.reset();
    auto *file = qobject_cast<QFile *>(m_device.get());
    m_device->close();
    if (file && m_frames == 0)
        file->remove();
    m_device.reset();
    m_open = false;
    return ok && !m_failed;
}
