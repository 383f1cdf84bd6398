#include "CRecordingReader.h"

#include "CaptureNames.h"
#include "LibavSetup.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>

namespace {

constexpr const char *kDemuxer = "matroska";
constexpr int kIoBufferBytes = 32 * 1024;
constexpr AVRational kMillisecond{1, 1000};
// Timestamps are held within this many milliseconds of zero (far beyond any real recording),
// so that no arithmetic on them can overflow.
constexpr qint64 kTimeLimitMs = qint64(1) << 50;

constexpr const char *kErrCannotRead = "it cannot be read (%1)";
constexpr const char *kErrNotMatroska = "it is not a Matroska file";
constexpr const char *kErrBadMatroska = "it is a damaged Matroska file, or one without pictures";
constexpr char kEbmlMagic[] = "\x1A\x45\xDF\xA3";
constexpr const char *kErrNoTrack = "it holds no Motion-JPEG track";
constexpr const char *kErrNoFamily =
    "it is not a KLRemote recording (it names no instrument family)";
constexpr const char *kErrNoFrames = "it holds no pictures";
constexpr const char *kErrNotJpeg = "its frames are not JPEG pictures";
constexpr const char *kErrNoMemory = "out of memory";
constexpr const char *kErrDamaged = "the file is damaged after frame %1";

} // namespace

QString capture::CannotReplay(const QString &fileName, const QString &reason)
{
    return QStringLiteral("Cannot replay %1: %2").arg(fileName, reason);
}

struct CRecordingReader::Av
{
    QIODevice *device = nullptr;
    AVFormatContext *format = nullptr;
    AVIOContext *io = nullptr;
    AVPacket *packet = nullptr;
    AVStream *stream = nullptr;

    ~Av()
    {
        av_packet_free(&packet);
        if (format)
            avformat_close_input(&format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    static int Read(void *opaque, std::uint8_t *data, int size)
    {
        auto *self = static_cast<Av *>(opaque);
        const qint64 got = self->device->read(reinterpret_cast<char *>(data), size);
        if (got < 0)
            return AVERROR(EIO);
        return got == 0 ? AVERROR_EOF : int(got);
    }

    static std::int64_t Seek(void *opaque, std::int64_t offset, int whence)
    {
        auto *self = static_cast<Av *>(opaque);
        whence &= ~AVSEEK_FORCE;
        const qint64 size = self->device->size();
        if (whence == AVSEEK_SIZE)
            return size;
        qint64 target = offset;
        if (whence == SEEK_CUR)
            target += self->device->pos();
        else if (whence == SEEK_END)
            target += size;
        else if (whence != SEEK_SET)
            return AVERROR(EINVAL);
        if (target < 0 || target > size || !self->device->seek(target))
            return AVERROR(EIO);
        return target;
    }
};

CRecordingReader::CRecordingReader()
{
    capture::SetUpLibav();
}

CRecordingReader::~CRecordingReader() = default;

bool CRecordingReader::Refuse(const QString &reason)
{
    m_error = reason;
    m_av.reset();
    m_device.reset();
    return false;
}

bool CRecordingReader::Open(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        m_error = QString::fromLatin1(kErrCannotRead).arg(file->errorString());
        return false;
    }
    return Open(std::move(file));
}

bool CRecordingReader::Open(std::unique_ptr<QIODevice> device)
{
    m_av.reset();
    m_info = {};
    m_error.clear();
    m_hasPending = false;
    m_nextIndex = 0;
    m_skipped = 0;
    m_haveOrigin = false;
    m_originMs = 0;
    m_lastMs = 0;
    m_device = std::move(device);
    if (!m_device || !m_device->isReadable())
        return Refuse(QString::fromLatin1(kErrCannotRead).arg(QStringLiteral("not readable")));

    m_av = std::make_unique<Av>();
    m_av->device = m_device.get();
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    m_av->io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 0, m_av.get(), &Av::Read,
                                           nullptr, &Av::Seek)
                      : nullptr;
    m_av->format = m_av->io ? avformat_alloc_context() : nullptr;
    m_av->packet = m_av->format ? av_packet_alloc() : nullptr;
    if (!m_av->packet) {
        if (!m_av->io)
            av_free(buffer);
        return Refuse(QString::fromLatin1(kErrNoMemory));
    }
    m_av->format->pb = m_av->io;
    // Only the Matroska reader looks at the file: nothing is guessed from its content.
    const AVInputFormat *demuxer = av_find_input_format(kDemuxer);
    if (!demuxer || avformat_open_input(&m_av->format, nullptr, demuxer, nullptr) < 0) {
        m_av->format = nullptr; // freed by the failed open
        char magic[4] = {};
        const bool ebml = m_device->seek(0) && m_device->read(magic, 4) == 4 &&
                          std::equal(magic, magic + 4, kEbmlMagic);
        return Refuse(QString::fromLatin1(ebml ? kErrBadMatroska : kErrNotMatroska));
    }

    for (unsigned i = 0; i < m_av->format->nb_streams; ++i) {
        AVStream *stream = m_av->format->streams[i];
        const AVCodecParameters *par = stream->codecpar;
        if (!m_av->stream && par->codec_type == AVMEDIA_TYPE_VIDEO &&
            par->codec_id == AV_CODEC_ID_MJPEG)
            m_av->stream = stream;
        else
            stream->discard = AVDISCARD_ALL;
    }
    if (!m_av->stream)
        return Refuse(QString::fromLatin1(kErrNoTrack));

    const AVDictionary *meta = m_av->format->metadata;
    const AVDictionaryEntry *family = av_dict_get(meta, capture::kFamilyTag, nullptr, 0);
    bool numeric = false;
    const QString familyText = family ? QString::fromLatin1(family->value) : QString();
    const int familyIndex = familyText.toInt(&numeric);
    if (!numeric || familyText.size() != 1 || familyIndex < 0 ||
        familyIndex >= capture::kFamilyCount)
        return Refuse(QString::fromLatin1(kErrNoFamily));
    m_info.family = familyIndex;
    if (const AVDictionaryEntry *model = av_dict_get(meta, capture::kModelTag, nullptr, 0))
        m_info.model = capture::PrintableText(model->value, 64);
    if (const AVDictionaryEntry *created = av_dict_get(meta, "creation_time", nullptr, 0))
        m_info.created =
            QDateTime::fromString(capture::PrintableText(created->value, 40), Qt::ISODateWithMs);
    m_info.width = m_av->stream->codecpar->width;
    m_info.height = m_av->stream->codecpar->height;
    const std::int64_t duration = m_av->format->duration;
    if (duration != AV_NOPTS_VALUE && duration > 0 && duration / 1000 < kTimeLimitMs)
        m_info.durationMs = duration / 1000;

    // The first frame decides whether the track holds pictures at all.
    QByteArray first;
    qint64 rawMs = 0;
    bool timed = false;
    if (ReadPacket(first, rawMs, timed) != Step::Frame)
        return Refuse(QString::fromLatin1(kErrNoFrames));
    if (!capture::RecordableLayout(first))
        return Refuse(QString::fromLatin1(kErrNotJpeg));
    m_pending.jpeg = first;
    m_pending.ms = PlaceInTime(rawMs, timed);
    m_pending.index = m_nextIndex++;
    m_hasPending = true;
    return true;
}

CRecordingReader::Step CRecordingReader::ReadPacket(QByteArray &bytes, qint64 &rawMs, bool &timed)
{
    if (!m_av || !m_av->format)
        return Step::End;
    AVPacket *packet = m_av->packet;
    for (;;) {
        const int read = av_read_frame(m_av->format, packet);
        if (read < 0) {
            if (read == AVERROR_EOF)
                return Step::End;
            m_error = QString::fromLatin1(kErrDamaged).arg(m_nextIndex);
            return Step::Damaged;
        }
        if (packet->stream_index != m_av->stream->index) {
            av_packet_unref(packet);
            continue;
        }
        std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        timed = ts != AV_NOPTS_VALUE;
        if (timed) {
            ts = av_rescale_q(ts, m_av->stream->time_base, kMillisecond);
            timed = ts != AV_NOPTS_VALUE;
        }
        rawMs = timed ? std::clamp<qint64>(ts, -kTimeLimitMs, kTimeLimitMs) : 0;
        if (packet->size > 0 && packet->size <= capture::kMaxFrameBytes)
            bytes = QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
        else
            bytes.clear();
        av_packet_unref(packet);
        return Step::Frame;
    }
}

qint64 CRecordingReader::PlaceInTime(qint64 rawMs, bool timed)
{
    if (!timed)
        return m_lastMs;
    if (!m_haveOrigin) {
        m_haveOrigin = true;
        m_originMs = rawMs - m_lastMs;
    }
    const qint64 ms = rawMs - m_originMs;
    m_lastMs = std::clamp(ms, m_lastMs, m_lastMs + capture::kMaxGapMs);
    return m_lastMs;
}

CRecordingReader::Step CRecordingReader::Next(RecordedFrame &frame)
{
    if (m_hasPending) {
        m_hasPending = false;
        frame = m_pending;
        m_pending = {};
        return Step::Frame;
    }
    for (;;) {
        QByteArray bytes;
        qint64 rawMs = 0;
        bool timed = false;
        const Step step = ReadPacket(bytes, rawMs, timed);
        if (step != Step::Frame)
            return step;
        if (!capture::RecordableLayout(bytes)) {
            // A frame left out does not move the clock: otherwise a run of stray frames could
            // each add a longest pause and the next picture would wait for all of them.
            ++m_skipped;
            continue;
        }
        const qint64 ms = PlaceInTime(rawMs, timed);
        frame.jpeg = bytes;
        frame.ms = ms;
        frame.index = m_nextIndex++;
        return Step::Frame;
    }
}
