// Shown in the status bar while a recording runs: a red dot, the time recorded and the size
// of the file so far.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

class CRecordIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit CRecordIndicator(QWidget *parent);

    void SetFigures(qint64 elapsedMs, qint64 bytes);
    QString Text() const;

    // "00:01:23  1.2 MB": hours, minutes, seconds and the size in KB, MB or GB.
    static QString Figures(qint64 elapsedMs, qint64 bytes);

private:
    QLabel *m_dot = nullptr;
    QLabel *m_text = nullptr;
};
