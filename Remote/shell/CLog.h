// The process-wide diagnostic log: one time-stamped line per event.
#pragma once

#include <QString>
#include <mutex>
#include <string_view>

class QFile;

class CLog {
public:
    static CLog &Instance();

    // Opens "log/YYYYMMDD_HHMMSS_log.txt" beside the executable (the folder is created when
    // missing; where it cannot be written, the per-user app-data "log" folder is used).
    // Returns false when no log could be opened; Write then does nothing.
    bool Open();
    // Same, in a given folder (tests).
    bool OpenIn(const QString &folder);
    void Close();

    // "YYYY-MM-DD HH:MM:SS   " + message + "\r\n", written at once. Any thread.
    void Write(std::string_view message);
    void Write(const QString &message);

    QString Path() const;

private:
    CLog() = default;
    mutable std::mutex m_lock;
    QFile *m_file = nullptr;
    QString m_path;
    qint64 m_lastTime = 0;
};
