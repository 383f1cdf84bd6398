#include "CliRecord.h"

#include "CRecordingWriter.h"
#include "CaptureNames.h"

#include <QFile>

#include <optional>

namespace {

// The panel a recording is replayed in follows from its family. The client knows no family:
// an 800 x 600 screen is the first family's, the MW models are the third, the rest the second.
int FamilyOf(const std::string &model, int screenHeight)
{
    if (screenHeight == 600)
        return 0;
    return model.rfind("MW", 0) == 0 ? 2 : 1;
}

class CQtRecording : public CCliRecording
{
public:
    CQtRecording(std::unique_ptr<QFile> file, const std::string &model)
        : m_file(std::move(file)), m_model(model)
    {}

    Added Add(const std::vector<std::uint8_t> &jpeg, std::int64_t ms, std::string &error) override
    {
        const QByteArray bytes(reinterpret_cast<const char *>(jpeg.data()), qsizetype(jpeg.size()));
        // The family goes into the file's header, which the size of the first frame the
        // recording keeps decides; a frame it leaves out decides nothing.
        const std::optional<jpeg::Layout> layout = capture::RecordableLayout(bytes);
        if (m_file && layout) {
            capture::RecordingInfo tags;
            tags.model = capture::ModelOfIdentification(QByteArray::fromStdString(m_model));
            tags.family = FamilyOf(tags.model.toStdString(), layout->height);
            tags.created = QDateTime::currentDateTime();
            m_writer.Open(std::move(m_file), tags);
        }
        switch (m_writer.WriteFrame(bytes, ms)) {
        case CRecordingWriter::Result::Ok:
            return Added::Ok;
        case CRecordingWriter::Result::NotJpeg:
        case CRecordingWriter::Result::NotOpen: // no picture yet to open the file with
            error = "the screen reply is not a JPEG picture";
            return Added::Skipped;
        default:
            error = m_writer.Error().toStdString();
            return Added::Stop;
        }
    }

    bool Finish(std::string &error) override
    {
        if (m_file) {
            // Not a single picture: no file is left behind.
            m_file->remove();
            m_file.reset();
            return true;
        }
        if (!m_writer.Close()) {
            error = m_writer.Error().toStdString();
            return false;
        }
        return true;
    }

    std::int64_t Bytes() const override { return m_writer.Bytes(); }

private:
    std::unique_ptr<QFile> m_file; // until the first frame
    std::string m_model;
    CRecordingWriter m_writer;
};

} // namespace

std::unique_ptr<CCliRecording> StartCliRecording(const std::string &path, const std::string &model,
                                                 std::string &error)
{
    auto file = std::make_unique<QFile>(QString::fromLocal8Bit(path.c_str()));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = "cannot write " + path + ": " + file->errorString().toStdString();
        return nullptr;
    }
    return std::make_unique<CQtRecording>(std::move(file), model);
}
