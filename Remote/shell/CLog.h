// The process-wide diagnostic log: one time-stamped line per event.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <mutex>
#include <string_view>

class QFile;

class CLog
{
public:
    static CLog &Instance();

    // Opens "log/YYYYMMDD_HHMMSS_log.txt" beside the executable (the folder is created when
    // missing; where it cannot be written, the per-user app-data "log" folder is used).
    // Returns false when no log could be opened; Write then does nothing.
    // A file of the same name (another copy started in the same second) is never reused:
    // "_log_2.txt", "_log_3.txt" ... are tried instead.
    bool Open();
    // Same, in a given folder (tests).
    bool OpenIn(const QString &folder);
    void Close();

    // "YYYY-MM-DD HH:MM:SS   " + message + "\r\n", written at once. Any thread.
    void Write(std::string_view message);
    void Write(const QString &message);

    QString Path() const;
    bool IsOpen() const;

    // Local time of the file name and of each line; the system clock unless replaced (tests).
    using TimeSource = std::function<QDateTime()>;
    void SetTimeSource(TimeSource source);

    // "%04d%02d%02d_%02d%02d%02d_log.txt", or "..._log_<n>.txt" for n > 1.
    static QString FileNameFor(const QDateTime &localTime, int copy = 1);
    // "%04d-%02d-%02d %02d:%02d:%02d   "; a component that cannot be had is -1.
    static QByteArray LinePrefix(const QDateTime &localTime);

private:
    CLog() = default;
    QDateTime Now();
    bool OpenInLocked(const QString &folder);
    void CloseLocked();

    mutable std::mutex m_lock;
    QFile *m_file = nullptr;
    QString m_path;
    qint64 m_lastTime = 0;
    TimeSource m_timeSource;
};
