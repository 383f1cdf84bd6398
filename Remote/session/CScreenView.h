// The screen rectangle of a panel: the placeholder until the first picture, then the latest
// picture stretched to the rectangle, smoothed only when the panel is zoomed. Clicks pass
// through to the panel.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QPainter;

class CScreenView : public QWidget
{
    Q_OBJECT
public:
    CScreenView(const QImage &placeholder, QWidget *parent);

    void SetPicture(const QImage &picture);
    void SetPlaceholder(const QImage &placeholder);
    // A non-empty text marks the picture as stale and is shown over it.
    void SetStale(const QString &text);
    QString StaleText() const { return m_stale; }
    // Lines shown in a corner over the picture, painted here only; empty hides them.
    void SetOverlay(const QString &text);
    QString Overlay() const { return m_overlay; }
    bool HasPicture() const { return !m_picture.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void PaintOverlay(QPainter &painter);

    QImage m_placeholder;
    QImage m_picture;
    QString m_stale;
    QString m_overlay;
};
