#include "CLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

namespace {

constexpr const char *kLogFolder = "log";
// Enough for any number of copies started within one second.
constexpr int kMaxCopiesPerSecond = 100;

struct CalendarFields
{
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
};

CalendarFields FieldsOf(const QDateTime &t)
{
    CalendarFields f;
    if (t.date().isValid()) {
        f.year = t.date().year();
        f.month = t.date().month();
        f.day = t.date().day();
    }
    if (t.time().isValid()) {
        f.hour = t.time().hour();
        f.minute = t.time().minute();
        f.second = t.time().second();
    }
    return f;
}

} // namespace

CLog &CLog::Instance()
{
    // Deliberately never destroyed: worker threads may still write during static teardown.
    static CLog *const log = new CLog;
    return *log;
}

QString CLog::FileNameFor(const QDateTime &localTime, int copy)
{
    const CalendarFields f = FieldsOf(localTime);
    QString name = QString::asprintf("%04d%02d%02d_%02d%02d%02d_log", f.year, f.month, f.day,
                                     f.hour, f.minute, f.second);
    if (copy > 1)
        name += QString::asprintf("_%d", copy);
    return name + QStringLiteral(".txt");
}

QByteArray CLog::LinePrefix(const QDateTime &localTime)
{
    const CalendarFields f = FieldsOf(localTime);
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d   ", f.year,
                                f.month, f.day, f.hour, f.minute, f.second);
    return QByteArray(buf, n > 0 ? std::min<int>(n, sizeof buf - 1) : 0);
}

void CLog::SetTimeSource(TimeSource source)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeSource = std::move(source);
}

QDateTime CLog::Now()
{
    const QDateTime t = m_timeSource ? m_timeSource() : QDateTime::currentDateTime();
    m_lastTime = t.isValid() ? t.toSecsSinceEpoch() : 0;
    return t;
}

bool CLog::Open()
{
    // Without an application object the executable's folder is unknown (an empty text here
    // would put the log under the file-system root).
    const QString exeDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    std::lock_guard<std::mutex> guard(m_lock);
    if (!exeDir.isEmpty() && OpenInLocked(exeDir + QLatin1Char('/') + QLatin1String(kLogFolder)))
        return true;
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (appData.isEmpty())
        return false;
    return OpenInLocked(appData + QLatin1Char('/') + QLatin1String(kLogFolder));
}

bool CLog::OpenIn(const QString &folder)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return OpenInLocked(folder);
}

bool CLog::OpenInLocked(const QString &folder)
{
    CloseLocked();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QDateTime now = Now();
    for (int copy = 1; copy <= kMaxCopiesPerSecond; ++copy) {
        const QString path = QDir(folder).filePath(FileNameFor(now, copy));
        auto *file = new QFile(path);
        // NewOnly: a second copy started in the same second must not truncate the first's log.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_file = file;
            m_path = path;
            return true;
        }
        const bool taken = file->exists();
        delete file;
        if (!taken)
            return false; // the folder refuses new files; another name will not help
    }
    return false;
}

void CLog::Close()
{
    std::lock_guard<std::mutex> guard(m_lock);
    CloseLocked();
}

void CLog::CloseLocked()
{
    delete m_file;
    m_file = nullptr;
    m_path.clear();
}

void CLog::Write(std::string_view message)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_file)
        return;
    QByteArray line = LinePrefix(Now());
    line.append(message.data(), static_cast<qsizetype>(message.size()));
    line.append("\r\n");
    // A failed write is not reported: the log must never disturb the program.
    if (m_file->write(line) == line.size())
        m_file->flush();
}

void CLog::Write(const QString &message)
{
    const QByteArray bytes = message.toLocal8Bit();
    Write(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString CLog::Path() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_path;
}

bool CLog::IsOpen() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file != nullptr;
}
