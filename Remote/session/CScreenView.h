// The screen rectangle of a panel: the placeholder until the first picture, then the latest
// picture stretched to the rectangle without smoothing. Clicks pass through to the panel.
#pragma once

#include <QImage>
#include <QWidget>

class CScreenView : public QWidget
{
    Q_OBJECT
public:
    CScreenView(const QImage &placeholder, QWidget *parent);

    void SetPicture(const QImage &picture);
    void SetPlaceholder(const QImage &placeholder);
    bool HasPicture() const { return !m_picture.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_placeholder;
    QImage m_picture;
};
